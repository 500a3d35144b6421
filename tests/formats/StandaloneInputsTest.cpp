// The standalone app's processor: the audio device's input channels reach the plug-in's voice and "Beat" buses, and
// the sound is the plug-in's own.
#include "standalone/StandaloneInputs.h"
#include "AllocationCounter.h"
#include "plugin/Processor.h"
#include "Signals.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using Set = juce::AudioChannelSet;
constexpr double sampleRate = 48000.0;
constexpr int blockSize = 512;
constexpr int blocks = 200; // about two seconds

void selectTrapDefault(TolmarProcessor& processor)
{
    processor.parameters.getParameter("effect")->setValueNotifyingHost(1.0f); // a tuned mode: it listens to the beat
}

// Runs `device` like the framework's standalone player with these device channels: prepares it with the layout the
// player asks for, hands over max(inputs, outputs) channels (outputs-only channels zeroed) and returns channel 0 and 1.
std::vector<std::vector<float>> playThrough(juce::AudioProcessor& device, const std::vector<std::vector<float>>& inputs,
                                            int outputs, std::size_t* allocations = nullptr)
{
    const int ins = static_cast<int>(inputs.size());
    device.setPlayConfigDetails(ins, outputs, sampleRate, blockSize);
    device.prepareToPlay(sampleRate, blockSize);
    juce::AudioBuffer<float> buffer(std::max(ins, outputs), blockSize);
    juce::MidiBuffer midi;
    std::vector<std::vector<float>> out(2, std::vector<float>(static_cast<std::size_t>(blocks * blockSize)));
    for (int block = 0; block < blocks; ++block) {
        buffer.clear();
        for (int channel = 0; channel < ins; ++channel)
            buffer.copyFrom(channel, 0, inputs[static_cast<std::size_t>(channel)].data() + block * blockSize,
                            blockSize);
        {
            testing_support::ScopedAllocationCounter counter;
            device.processBlock(buffer, midi);
            if (allocations != nullptr && block > 0)
                *allocations += counter.allocations();
        }
        for (int channel = 0; channel < std::min(outputs, 2); ++channel)
            std::copy(buffer.getReadPointer(channel), buffer.getReadPointer(channel) + blockSize,
                      out[static_cast<std::size_t>(channel)].data() + block * blockSize);
    }
    return out;
}

// The plug-in's processor on its own, its voice and beat buses laid out as given.
std::vector<std::vector<float>> pluginAlone(Set voice, Set beat, const std::vector<std::vector<float>>& channels)
{
    TolmarProcessor processor;
    selectTrapDefault(processor);
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add(voice);
    layout.inputBuses.add(beat);
    layout.outputBuses.add(voice);
    EXPECT_TRUE(processor.setBusesLayout(layout));
    processor.setRateAndBufferSizeDetails(sampleRate, blockSize);
    processor.prepareToPlay(sampleRate, blockSize);
    juce::AudioBuffer<float> buffer(static_cast<int>(channels.size()), blockSize);
    juce::MidiBuffer midi;
    std::vector<std::vector<float>> out(2, std::vector<float>(static_cast<std::size_t>(blocks * blockSize)));
    for (int block = 0; block < blocks; ++block) {
        for (int channel = 0; channel < buffer.getNumChannels(); ++channel)
            buffer.copyFrom(channel, 0, channels[static_cast<std::size_t>(channel)].data() + block * blockSize,
                            blockSize);
        processor.processBlock(buffer, midi);
        for (int channel = 0; channel < voice.size(); ++channel)
            std::copy(buffer.getReadPointer(channel), buffer.getReadPointer(channel) + blockSize,
                      out[static_cast<std::size_t>(channel)].data() + block * blockSize);
    }
    return out;
}

struct Device {
    std::unique_ptr<StandaloneInputs> inputs;
    TolmarProcessor* plugin;
};

Device makeDevice()
{
    auto processor = std::make_unique<TolmarProcessor>();
    auto* plugin = processor.get();
    selectTrapDefault(*plugin);
    return {std::make_unique<StandaloneInputs>(std::move(processor)), plugin};
}

const int samples = blocks * blockSize;
const auto voice = testing_support::harmonicTone(233.0, sampleRate, samples, 0.3f);
const auto beat = testing_support::harmonicTone(110.0, sampleRate, samples, 0.3f, 8);

} // namespace

TEST(StandaloneInputs, LaysTheDeviceChannelsOutAsVoiceThenBeat)
{
    struct Case {
        int inputs, outputs;
        Set voice, beat;
    };
    const Case cases[] = {
        {1, 2, Set::stereo(), Set::disabled()}, {2, 2, Set::stereo(), Set::disabled()},
        {3, 2, Set::stereo(), Set::mono()},     {4, 2, Set::stereo(), Set::stereo()},
        {8, 2, Set::stereo(), Set::stereo()},   {1, 1, Set::mono(), Set::disabled()},
        {2, 1, Set::mono(), Set::mono()},       {4, 1, Set::mono(), Set::stereo()},
    };
    for (const auto& c : cases) {
        const auto layout = StandaloneInputs::pluginLayout(c.inputs, c.outputs);
        EXPECT_EQ(layout.getMainInputChannelSet(), c.voice) << c.inputs << " in, " << c.outputs << " out";
        EXPECT_EQ(layout.getMainOutputChannelSet(), c.voice) << c.inputs << " in, " << c.outputs << " out";
        EXPECT_EQ(layout.getChannelSet(true, 1), c.beat) << c.inputs << " in, " << c.outputs << " out";
    }
}

TEST(StandaloneInputs, TheDevicesSecondPairIsTheBeatOnTheSideChain)
{
    auto device = makeDevice();
    std::size_t allocations = 0;
    const auto out = playThrough(*device.inputs, {voice, voice, beat, beat}, 2, &allocations);
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(device.plugin->getChannelCountOfBus(true, 1), 2);
    EXPECT_GT(device.plugin->beatProgress.load(), 0.0f) << "the key analyser heard no beat";
    EXPECT_EQ(device.inputs->getLatencySamples(), 2048);
    EXPECT_EQ(out, pluginAlone(Set::stereo(), Set::stereo(), {voice, voice, beat, beat}));
}

TEST(StandaloneInputs, AStereoDeviceFeedsTheVoiceAndLeavesTheSideChainOff)
{
    auto device = makeDevice();
    const auto out = playThrough(*device.inputs, {voice, beat}, 2);
    EXPECT_TRUE(device.plugin->getBus(true, 1)->getCurrentLayout().isDisabled());
    EXPECT_EQ(device.plugin->beatProgress.load(), 0.0f);
    EXPECT_EQ(out, pluginAlone(Set::stereo(), Set::disabled(), {voice, beat}));
}

TEST(StandaloneInputs, ASingleMicrophoneFeedsBothVoiceChannels)
{
    auto device = makeDevice();
    const auto out = playThrough(*device.inputs, {voice}, 2);
    EXPECT_GT(testing_support::rms(out[1].data(), out[1].size()), 0.01);
    EXPECT_EQ(out, pluginAlone(Set::stereo(), Set::disabled(), {voice, voice}));
}

TEST(StandaloneInputs, ShowsThePluginsEditorAndFollowsItsSize)
{
    auto device = makeDevice();
    std::unique_ptr<juce::AudioProcessorEditor> editor(device.inputs->createEditorIfNeeded());
    ASSERT_NE(editor, nullptr);
    ASSERT_NE(device.plugin->getActiveEditor(), nullptr);
    EXPECT_EQ(editor->getWidth(), 920);
    EXPECT_EQ(editor->getHeight(), 670);
    EXPECT_TRUE(editor->isResizable());

    device.plugin->getActiveEditor()->setSize(800, 640);
    EXPECT_EQ(editor->getWidth(), 800);
    editor->setSize(1000, 700);
    EXPECT_EQ(device.plugin->getActiveEditor()->getWidth(), 1000);

    editor.reset();
    EXPECT_EQ(device.plugin->getActiveEditor(), nullptr);
}

TEST(StandaloneInputs, KeepsThePluginsStateAndName)
{
    auto device = makeDevice();
    device.plugin->parameters.getParameter("root")->setValueNotifyingHost(7.0f / 11.0f);
    juce::MemoryBlock state;
    device.inputs->getStateInformation(state);

    auto restored = makeDevice();
    restored.inputs->setStateInformation(state.getData(), static_cast<int>(state.getSize()));
    EXPECT_FLOAT_EQ(restored.plugin->parameters.getParameter("root")->getValue(), 7.0f / 11.0f);
    EXPECT_EQ(restored.inputs->getName(), "Tolmar Vez");
}
