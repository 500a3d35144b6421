#pragma once

#include "dsp/Mode.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>

// The host-facing shell of the plug-in: buses, parameters, the audio callback and the saved state.
// Thin over the core: everything audible is tolmar::Engine, the beat's key is tolmar::KeyAnalyzer.
class TolmarProcessor final : public juce::AudioProcessor {
public:
    TolmarProcessor();
    ~TolmarProcessor() override;

    const juce::String getName() const override;

    void prepareToPlay(double sampleRate, int maximumExpectedSamplesPerBlock) override;
    void releaseResources() override;
    void processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;
    using juce::AudioProcessor::processBlock;

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

    // The eight parameters in the order the host lists them.
    static juce::AudioProcessorValueTreeState::ParameterLayout layout();

    // The mode selected by "mastering", "effect", "wobble" and "vocalStyle". Any thread; reads atomics only.
    tolmar::Mode effectiveMode() const;

    juce::AudioProcessorValueTreeState parameters;

private:
    std::atomic<float>* rawValue(const char* parameterId);

    std::atomic<float>* effectValue = nullptr;
    std::atomic<float>* rootValue = nullptr;
    std::atomic<float>* bypassValue = nullptr;
    std::atomic<float>* tuningSourceValue = nullptr;
    std::atomic<float>* wobbleValue = nullptr;
    std::atomic<float>* vocalStyleValue = nullptr;
    std::atomic<float>* masteringValue = nullptr;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(TolmarProcessor)
};
