#pragma once

#include "dsp/Engine.h"
#include "dsp/Key.h"
#include "dsp/KeyAnalyzer.h"
#include "dsp/Mode.h"
#include "plugin/Parameters.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>
#include <mutex>

// The host-facing shell of the plug-in: buses, parameters, the audio callback and the saved state.
// Thin over the core: everything audible is tolmar::Engine, the beat's key is tolmar::KeyAnalyzer.
class TolmarProcessor final : public juce::AudioProcessor, private juce::Timer {
public:
    TolmarProcessor();
    ~TolmarProcessor() override;

    const juce::String getName() const override;

    void prepareToPlay(double sampleRate, int maximumExpectedSamplesPerBlock) override;
    void releaseResources() override;
    void processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;
    using juce::AudioProcessor::processBlock;
    // The host's bypass: the input delayed by the reported latency, faded in and out as "Hear original" is,
    // so that the host's delay compensation keeps the track in time. Audio thread.
    void processBlockBypassed(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;
    using juce::AudioProcessor::processBlockBypassed;

    double getTailLengthSeconds() const override;
    bool acceptsMidi() const override;
    bool producesMidi() const override;

    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override;

    int getNumPrograms() override;
    int getCurrentProgram() override;
    void setCurrentProgram(int index) override;
    const juce::String getProgramName(int index) override;
    void changeProgramName(int index, const juce::String& newName) override;

    void getStateInformation(juce::MemoryBlock& destData) override;
    void setStateInformation(const void* data, int sizeInBytes) override;

    bool isBusesLayoutSupported(const BusesLayout& layouts) const override;

    // The parameters of tolmar::parameterTable, in the order the host lists them.
    static juce::AudioProcessorValueTreeState::ParameterLayout layout();

    // The mode selected by "mastering", "effect", "wobble" and "vocalStyle". Any thread; reads atomics only.
    tolmar::Mode effectiveMode() const;

    // Writes the parameters that select `mode`, each inside a change gesture, the way the editor's effect list
    // does: "mastering" first, then the three voice parameters unless the mode is Master Tolmar, which leaves
    // the voice effect to come back to when mastering is switched off. Message thread.
    void selectMode(tolmar::Mode mode);

    // The delay of the path the parameters select (Live in a tuning style is the short one), 0 while the
    // configuration is unsupported. Any thread; reads atomics only.
    int pathLatency() const;
    // Tells the host the latency when the path changed (the framework's latency call, VST3's latency restart;
    // the LV2 latency port reads it). A timer calls it ten times a second; so do loading a state and preparing.
    // Message thread.
    void reportLatency();

    // Forgets the beat's key and asks the audio thread to listen to the beat again. Message thread.
    void reanalyzeBeat();

    // False after the host prepared an unsupported configuration: audio then passes through untouched
    // until a supported prepareToPlay. Any thread.
    bool isConfigurationSupported() const { return configurationSupported.load(); }

    juce::AudioProcessorValueTreeState parameters;
    tolmar::Engine engine;

    // The meters' levels (linear peaks): the highest since the editor last took them, whatever the host's block
    // length. Raised by the audio thread after every block; taken, and so cleared, by the editor's meter timer.
    std::atomic<float> inputLevel{0.0f};
    std::atomic<float> outputLevel{0.0f};
    struct MeterLevels {
        float input = 0.0f;
        float output = 0.0f;
    };
    // What a level reads when no block ran since the last take (a host with blocks longer than the editor's
    // timer period): the editor keeps showing what it had.
    static constexpr float noNewLevel = -1.0f;
    // The levels since the last call (noNewLevel for none), then clears them. Message thread (the editor).
    MeterLevels takeMeterLevels() noexcept;

    // Published by the audio thread after every block (key index as in dsp/Key.h; stage as the integer of
    // tolmar::KeyStage; progress 0..1).
    std::atomic<int> beatKey{tolmar::noKey};
    std::atomic<int> beatStage{tolmar::toInt(tolmar::KeyStage::waiting)};
    std::atomic<float> beatProgress{0.0f};

    // The engine settings of one block: root and scale from the beat's key when the beat is the tuning
    // source and a key is known, else the "root" choice in a minor scale. Pure; any thread.
    static tolmar::Settings blockSettings(tolmar::Mode mode, bool bypass, bool beatIsTuningSource, int key,
                                          int rootChoice);

private:
    // The buses of tolmar::busTable, each in stereo.
    static BusesProperties buses();
    std::atomic<float>* rawValue(const char* parameterId);
    // One block; while the host bypasses the plug-in the engine runs its own bypass and the analyser hears nothing.
    void processVoice(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi, bool hostBypassed);
    void timerCallback() override;

    std::atomic<float>* effectValue = nullptr;
    std::atomic<float>* rootValue = nullptr;
    std::atomic<float>* bypassValue = nullptr;
    std::atomic<float>* tuningSourceValue = nullptr;
    std::atomic<float>* wobbleValue = nullptr;
    std::atomic<float>* vocalStyleValue = nullptr;
    std::atomic<float>* masteringValue = nullptr;
    std::atomic<float>* liveValue = nullptr;

    tolmar::KeyAnalyzer keyAnalyzer;
    // A key index 0..23 to fix, or one of the two requests below; taken by the audio thread at the next block.
    static constexpr int noKeyRequest = -2;
    static constexpr int analyseAgainRequest = -1;
    std::atomic<int> keyRequest{noKeyRequest};
    std::atomic<bool> configurationSupported{true};
    // The engine's two latencies, kept when it is prepared, so the timer never reads the engine while the host
    // prepares it again on another thread.
    std::atomic<int> fullPathLatency{0};
    std::atomic<int> livePathLatency{0};
    std::mutex latencyReport; // reportLatency() one caller at a time

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(TolmarProcessor)
};
