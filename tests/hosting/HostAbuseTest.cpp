// Drives the built bundle the way a demanding host or a plug-in validator does: changing rates and block
// sizes, odd calls, automation and state traffic from other threads while audio runs, the editor opened and
// closed during playback, and many instances at once.
#include "HostedBundle.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#ifdef TOLMAR_FOREIGN_FFT_PLANNER
#include <fftw3.h>
#endif

namespace {

using hosting::layoutOf;
using hosting::pumpMessages;


// Smallest power of two of at least 1024 samples and at least 35 ms.
int expectedLatency(double rate)
{
    int block = 1024;
    while (block < 0.035 * rate)
        block *= 2;
    return block;
}

struct Loader {
    Loader()
    {
        formats.addFormat(new juce::VST3PluginFormat());
        juce::OwnedArray<juce::PluginDescription> found;
        formats.getFormat(0)->findAllTypesForFile(found, hosting::pluginFile().getFullPathName());
        if (found.size() == 1)
            description = *found[0];
    }

    std::unique_ptr<juce::AudioPluginInstance> create()
    {
        juce::String error;
        return formats.createPluginInstance(description, 48000.0, 512, error);
    }

    juce::AudioPluginFormatManager formats;
    juce::PluginDescription description;
};

// What every processed block must satisfy: finite, no denormals, within the output guard.
::testing::AssertionResult outputIsSafe(const juce::AudioBuffer<float>& buffer, int mainChannels)
{
    for (int channel = 0; channel < mainChannels; ++channel)
        for (int i = 0; i < buffer.getNumSamples(); ++i) {
            const float value = buffer.getSample(channel, i);
            if (!std::isfinite(value) || std::abs(value) > 0.97f
                || (value != 0.0f && std::fpclassify(value) == FP_SUBNORMAL))
                return ::testing::AssertionFailure() << "sample " << value << " at channel " << channel << ", " << i;
        }
    return ::testing::AssertionSuccess();
}

void fillBlock(juce::AudioBuffer<float>& buffer, std::mt19937& random, long& clock, double rate)
{
    std::uniform_real_distribution<float> noise(-0.3f, 0.3f);
    for (int i = 0; i < buffer.getNumSamples(); ++i, ++clock) {
        const auto voice = static_cast<float>(0.9 * std::sin(6.283185307179586 * 220.0 * static_cast<double>(clock) / rate));
        for (int channel = 0; channel < buffer.getNumChannels(); ++channel)
            buffer.setSample(channel, i, channel < 2 ? voice + noise(random) : noise(random));
    }
}

int channelsFor(const juce::AudioPluginInstance& plugin)
{
    return std::max(plugin.getTotalNumInputChannels(), plugin.getTotalNumOutputChannels());
}

// Normalised values for a tuned mode ("Trap default") that follows the beat, so the analyser runs too.
void selectTunedModeFollowingTheBeat(juce::AudioPluginInstance& plugin)
{
    plugin.getParameters()[0]->setValueNotifyingHost(1.0f);
    plugin.getParameters()[4]->setValueNotifyingHost(1.0f);
}

// The beat key stored in the plug-in's state: the published key as a host can observe it. The framework's
// VST3 host keeps the component's state as base64 inside its own XML; the plug-in's XML is within.
int savedBeatKey(juce::AudioPluginInstance& plugin)
{
    juce::MemoryBlock state;
    plugin.getStateInformation(state);
    const auto hostXml = juce::AudioPluginInstance::getXmlFromBinary(state.getData(), static_cast<int>(state.getSize()));
    if (hostXml == nullptr || hostXml->getChildByName("IComponent") == nullptr)
        return -100;
    juce::MemoryBlock component;
    component.fromBase64Encoding(hostXml->getChildByName("IComponent")->getAllSubText());
    // The plug-in's own block starts at its magic number somewhere inside the wrapper's component state.
    const auto* bytes = static_cast<const char*>(component.getData());
    for (std::size_t offset = 0; offset + 8 < component.getSize(); ++offset)
        if (std::memcmp(bytes + offset, "VC2!", 4) == 0)
            if (const auto xml = juce::AudioPluginInstance::getXmlFromBinary(
                    bytes + offset, static_cast<int>(component.getSize() - offset)))
                return xml->getIntAttribute("beatKey", -100);
    return -100;
}

} // namespace

TEST(HostAbuse, PrepareReleaseCyclesAcrossRatesBlockSizesAndLayouts)
{
    Loader loader;
    auto plugin = loader.create();
    ASSERT_NE(plugin, nullptr);
    selectTunedModeFollowingTheBeat(*plugin);

    const double rates[] = {8000, 22050, 44100, 48000, 88200, 96000, 192000, 384000};
    const int blockSizes[] = {1, 7, 64, 250, 512, 1024, 4097};
    const juce::AudioChannelSet beats[] = {juce::AudioChannelSet::stereo(), juce::AudioChannelSet::disabled(),
                                           juce::AudioChannelSet::mono()};
    std::mt19937 random(11);
    long clock = 0;
    int cycle = 0;
    for (const double rate : rates) {
        for (const int blockSize : blockSizes) {
            const auto main = cycle % 4 == 3 ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo();
            ASSERT_TRUE(plugin->setBusesLayout(layoutOf(main, beats[cycle % 3]))) << "cycle " << cycle;
            ++cycle;
            plugin->setRateAndBufferSizeDetails(rate, blockSize);
            plugin->prepareToPlay(rate, blockSize);
            // The host learns the latency through the message loop, which a busy machine may run late.
            for (int wait = 0; wait < 100 && plugin->getLatencySamples() != expectedLatency(rate); ++wait)
                pumpMessages(20);
            EXPECT_EQ(plugin->getLatencySamples(), expectedLatency(rate)) << rate << " Hz, block " << blockSize;

            // Blocks of the announced size, and a shorter one. Longer blocks than announced are tested on the
            // processor itself: VST3 forbids them, and this framework version's wrapper overruns its own
            // scratch buffer on them whenever it remaps channels (for example with a side-chain).
            juce::MidiBuffer midi;
            const int mainChannels = main.size();
            const int samplesToRun = std::max(4 * blockSize, 3000);
            for (int done = 0; done < samplesToRun; done += blockSize) {
                juce::AudioBuffer<float> buffer(channelsFor(*plugin), blockSize);
                fillBlock(buffer, random, clock, rate);
                plugin->processBlock(buffer, midi);
                ASSERT_TRUE(outputIsSafe(buffer, mainChannels)) << rate << " Hz, block " << blockSize;
            }
            juce::AudioBuffer<float> shorter(channelsFor(*plugin), std::max(1, blockSize / 3));
            fillBlock(shorter, random, clock, rate);
            plugin->processBlock(shorter, midi);
            EXPECT_TRUE(outputIsSafe(shorter, mainChannels)) << rate << " Hz, shorter block";
            plugin->releaseResources();
        }
    }
    const int key = savedBeatKey(*plugin);
    EXPECT_TRUE(key >= -1 && key <= 23) << key;
}

TEST(HostAbuse, ProcessingWithoutPrepareAndEmptyBlocksChangeNothingUnsafe)
{
    Loader loader;
    auto plugin = loader.create();
    ASSERT_NE(plugin, nullptr);
    juce::MidiBuffer midi;
    juce::AudioBuffer<float> buffer(channelsFor(*plugin), 256);
    std::mt19937 random(3);
    long clock = 0;
    fillBlock(buffer, random, clock, 48000.0);
    plugin->processBlock(buffer, midi);
    for (int channel = 0; channel < buffer.getNumChannels(); ++channel)
        for (int i = 0; i < 256; ++i)
            ASSERT_TRUE(std::isfinite(buffer.getSample(channel, i)));

    plugin->setRateAndBufferSizeDetails(48000.0, 512);
    plugin->prepareToPlay(48000.0, 512);
    juce::AudioBuffer<float> empty(channelsFor(*plugin), 0);
    for (int i = 0; i < 10; ++i)
        plugin->processBlock(empty, midi);
    juce::AudioBuffer<float> silence(channelsFor(*plugin), 512);
    silence.clear();
    plugin->processBlock(silence, midi);
    EXPECT_TRUE(outputIsSafe(silence, 2));
    EXPECT_EQ(silence.getMagnitude(0, 512), 0.0f);
    plugin->releaseResources();
}

TEST(HostAbuse, AutomationStateTrafficAndTheEditorWhileAudioRuns)
{
    Loader loader;
    auto plugin = loader.create();
    ASSERT_NE(plugin, nullptr);
    plugin->setRateAndBufferSizeDetails(48000.0, 256);
    plugin->prepareToPlay(48000.0, 256);
    juce::MemoryBlock validState;
    plugin->getStateInformation(validState);

    std::atomic<bool> running{true};
    std::atomic<int> unsafeBlocks{0};
    std::atomic<int> blocks{0};
    std::atomic<int> finishedThreads{0};
    const int channels = channelsFor(*plugin);

    std::thread audio([&] {
        std::mt19937 random(5);
        long clock = 0;
        juce::MidiBuffer midi;
        juce::AudioBuffer<float> buffer(channels, 256);
        while (running.load()) {
            fillBlock(buffer, random, clock, 48000.0);
            plugin->processBlock(buffer, midi);
            if (!outputIsSafe(buffer, 2))
                ++unsafeBlocks;
            ++blocks;
        }
        ++finishedThreads;
    });
    std::thread automation([&] {
        std::mt19937 random(6);
        const float odd[] = {-0.5f, 1.5f, 0.0f, 1.0f, 0.49f, 0.51f, std::nanf("")};
        auto& parameters = plugin->getParameters();
        while (running.load()) {
            for (auto* parameter : parameters) {
                // The wrapper's own bypass switch passes the input through untouched by design.
                if (parameter == plugin->getBypassParameter())
                    continue;
                const int pick = std::uniform_int_distribution<int>(0, 9)(random);
                parameter->setValueNotifyingHost(pick < 7 ? odd[pick]
                                                          : std::uniform_real_distribution<float>(0.0f, 1.0f)(random));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ++finishedThreads;
    });
    std::thread state([&] {
        std::mt19937 random(7);
        while (running.load()) {
            juce::MemoryBlock block;
            plugin->getStateInformation(block);
            const int pick = std::uniform_int_distribution<int>(0, 3)(random);
            if (pick == 0) {
                plugin->setStateInformation(validState.getData(), static_cast<int>(validState.getSize()));
            } else if (pick == 1) {
                plugin->setStateInformation(block.getData(), static_cast<int>(block.getSize() / 2));
            } else {
                juce::MemoryBlock noise(static_cast<std::size_t>(std::uniform_int_distribution<int>(0, 400)(random)));
                for (std::size_t i = 0; i < noise.getSize(); ++i)
                    noise[i] = static_cast<char>(random());
                plugin->setStateInformation(noise.getData(), static_cast<int>(noise.getSize()));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
        ++finishedThreads;
    });

    // The editor opens and closes on the message thread while all of that goes on.
    const bool haveDisplay = std::getenv("DISPLAY") != nullptr;
    const auto until = juce::Time::getMillisecondCounter() + 1500;
    while (juce::Time::getMillisecondCounter() < until) {
        if (haveDisplay) {
            std::unique_ptr<juce::AudioProcessorEditor> editor(plugin->createEditorIfNeeded());
            ASSERT_NE(editor, nullptr);
            editor->addToDesktop(0);
            editor->setVisible(true);
            pumpMessages(40);
            editor.reset();
        }
        pumpMessages(20);
    }
    // The framework's host takes the message manager lock for some calls from other threads, so the message
    // loop keeps running until every thread has finished.
    running.store(false);
    while (finishedThreads.load() < 3)
        pumpMessages(5);
    audio.join();
    automation.join();
    state.join();

    EXPECT_GT(blocks.load(), 10);
    EXPECT_EQ(unsafeBlocks.load(), 0);
    const int key = savedBeatKey(*plugin);
    EXPECT_TRUE(key >= -1 && key <= 23) << key;
    // The automation may have left Live on in a tuning style; off, the host hears of the full path's delay.
    plugin->getParameters()[8]->setValueNotifyingHost(0.0f);
    pumpMessages(300);
    EXPECT_EQ(plugin->getLatencySamples(), 2048);
    plugin->releaseResources();
}

// Channel 0 of `blocks` blocks of 512 samples of the input of `seed` through one prepared instance (44.1 kHz);
// counts the unsafe blocks into unsafeBlocks.
std::vector<float> playSeeded(juce::AudioPluginInstance& plugin, unsigned seed, int blocks, int* unsafeBlocks)
{
    std::mt19937 random(seed);
    long clock = 0;
    juce::MidiBuffer midi;
    juce::AudioBuffer<float> buffer(channelsFor(plugin), 512);
    std::vector<float> output;
    for (int block = 0; block < blocks; ++block) {
        fillBlock(buffer, random, clock, 44100.0);
        plugin.processBlock(buffer, midi);
        if (!outputIsSafe(buffer, 2))
            ++*unsafeBlocks;
        output.insert(output.end(), buffer.getReadPointer(0), buffer.getReadPointer(0) + 512);
    }
    return output;
}

// Another plug-in in the host making FFT plans through the shared library (Linux), knowing nothing of ours.
struct ForeignFftPlanner {
    ForeignFftPlanner()
    {
#ifdef TOLMAR_FOREIGN_FFT_PLANNER
        thread = std::thread([this] {
            std::vector<float> in(512);
            std::vector<fftwf_complex> out(257);
            while (running.load())
                for (const int n : {120, 256, 300, 512}) {
                    const fftwf_plan plan = fftwf_plan_dft_r2c_1d(n, in.data(), out.data(), FFTW_ESTIMATE);
                    std::fill(in.begin(), in.end(), 0.0f);
                    in[0] = 1.0f;
                    fftwf_execute(plan);
                    for (int k = 0; k <= n / 2; ++k)
                        wrongBins += out[static_cast<std::size_t>(k)][0] != 1.0f ||
                                     out[static_cast<std::size_t>(k)][1] != 0.0f;
                    fftwf_destroy_plan(plan);
                }
        });
#endif
    }
    ~ForeignFftPlanner() { stop(); }
    void stop()
    {
        running.store(false);
        if (thread.joinable())
            thread.join();
    }

    std::atomic<bool> running{true};
    std::atomic<int> wrongBins{0};
    std::thread thread;
};

TEST(HostAbuse, SixteenInstancesPreparedOnSeveralThreadsBesideAnotherPluginsFftPlanning)
{
    Loader loader;
    constexpr int instances = 16;
    constexpr int blocks = 40;
    const auto effectOf = [](int i) { return static_cast<float>(i % 3) / 2.0f; };

    // What one instance alone gives for each of the three effects.
    std::vector<std::vector<float>> alone;
    int unsafeBlocks = 0;
    for (int effect = 0; effect < 3; ++effect) {
        auto plugin = loader.create();
        ASSERT_NE(plugin, nullptr);
        plugin->getParameters()[0]->setValueNotifyingHost(effectOf(effect));
        plugin->setRateAndBufferSizeDetails(44100.0, 512);
        plugin->prepareToPlay(44100.0, 512);
        alone.push_back(playSeeded(*plugin, static_cast<unsigned>(effect), blocks, &unsafeBlocks));
        plugin->releaseResources();
    }

    ForeignFftPlanner foreign;
    std::vector<std::unique_ptr<juce::AudioPluginInstance>> plugins;
    for (int i = 0; i < instances; ++i) {
        plugins.push_back(loader.create());
        ASSERT_NE(plugins.back(), nullptr);
        plugins.back()->getParameters()[0]->setValueNotifyingHost(effectOf(i));
    }
    // Four host threads prepare four instances each at once; the framework's host takes the message manager
    // lock for some of these calls, so the message loop runs meanwhile.
    std::atomic<int> prepared{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = t; i < instances; i += 4) {
                plugins[static_cast<std::size_t>(i)]->setRateAndBufferSizeDetails(44100.0, 512);
                plugins[static_cast<std::size_t>(i)]->prepareToPlay(44100.0, 512);
                ++prepared;
            }
        });
    while (prepared.load() < instances)
        pumpMessages(5);
    for (auto& thread : threads)
        thread.join();
    threads.clear();

    // Some instances have their editor open while all of them process at once on threads of their own.
    std::vector<std::unique_ptr<juce::AudioProcessorEditor>> editors;
    if (std::getenv("DISPLAY") != nullptr)
        for (int i = 0; i < instances; i += 5) {
            editors.emplace_back(plugins[static_cast<std::size_t>(i)]->createEditorIfNeeded());
            ASSERT_NE(editors.back(), nullptr);
            editors.back()->addToDesktop(0);
            editors.back()->setVisible(true);
        }
    std::vector<std::vector<float>> outputs(instances);
    std::atomic<int> unsafeInCrowd{0};
    std::atomic<int> finished{0};
    for (int i = 0; i < instances; ++i)
        threads.emplace_back([&, i] {
            int unsafe = 0;
            outputs[static_cast<std::size_t>(i)] =
                playSeeded(*plugins[static_cast<std::size_t>(i)], static_cast<unsigned>(i % 3), blocks, &unsafe);
            unsafeInCrowd += unsafe;
            ++finished;
        });
    while (finished.load() < instances)
        pumpMessages(5);
    for (auto& thread : threads)
        thread.join();
    editors.clear();
    foreign.stop();

    EXPECT_EQ(unsafeBlocks + unsafeInCrowd.load(), 0);
    EXPECT_EQ(foreign.wrongBins.load(), 0);
    for (int i = 0; i < instances; ++i) {
        EXPECT_TRUE(outputs[static_cast<std::size_t>(i)] == alone[static_cast<std::size_t>(i % 3)]) << "instance " << i;
        EXPECT_EQ(plugins[static_cast<std::size_t>(i)]->getLatencySamples(), 2048) << "instance " << i;
        plugins[static_cast<std::size_t>(i)]->releaseResources();
    }
    plugins.clear();
    pumpMessages(10);
}
