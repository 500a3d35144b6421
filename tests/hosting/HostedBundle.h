#pragma once

// What the hosting suites share: where the built bundle is, the message loop, and a layout in our bus shape.
#include <juce_audio_processors/juce_audio_processors.h>

namespace hosting {

inline juce::File bundle() { return juce::File{juce::String(TOLMAR_VST3_BUNDLE)}; }

// Lets the framework's VST3 host deliver what it learns through the message loop (latency, parameter changes).
inline void pumpMessages(int milliseconds = 50)
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil(milliseconds);
}

// Main input and output `main`, side-chain `beat`.
inline juce::AudioProcessor::BusesLayout layoutOf(juce::AudioChannelSet main, juce::AudioChannelSet beat)
{
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add(main);
    layout.inputBuses.add(beat);
    layout.outputBuses.add(main);
    return layout;
}

} // namespace hosting
