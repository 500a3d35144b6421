#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>

// The standalone app's processor around the plug-in's: the audio device's inputs arrive as one bus, the first
// channels the voice and the next pair, where the device has one, the beat for the plug-in's "Beat" side-chain.
// The framework's standalone player drives a processor through its main buses only and switches every other bus off,
// so without this the side-chain would be out of reach of a singer's audio interface.
class StandaloneInputs : public juce::AudioProcessor {
public:
    explicit StandaloneInputs(std::unique_ptr<juce::AudioProcessor> pluginToWrap);
    ~StandaloneInputs() override;

    // The plug-in's layout for a device with these channel counts: as many voice channels as outputs (1 or 2), taken
    // from the first inputs (a single input feeds both), then up to two more inputs as the beat. Pure; any thread.
    static BusesLayout pluginLayout(int deviceInputs, int deviceOutputs);

    juce::AudioProcessor& plugin() { return *wrapped; }

    const juce::String getName() const override;
    void prepareToPlay(double sampleRate, int maximumExpectedSamplesPerBlock) override;
    void releaseResources() override;
    void processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;
    bool isBusesLayoutSupported(const BusesLayout& layouts) const override;

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

private:
    class Editor;

    std::unique_ptr<juce::AudioProcessor> wrapped;
    int voiceChannels = 2;
    int beatChannels = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(StandaloneInputs)
};
