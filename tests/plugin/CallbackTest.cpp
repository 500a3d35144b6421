#include "ProcessorFixture.h"

#include "AllocationCounter.h"
#include "ModeRule.h"
#include "Signals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

using tolmar::Mode;
using tolmar::Scale;

namespace {

// Loads the processor's own state with `key` as the saved beat key; the next block restores it.
void loadSavedKey(PreparedProcessor& host, int key)
{
    juce::MemoryBlock state;
    host.processor->getStateInformation(state);
    auto xml = juce::AudioProcessor::getXmlFromBinary(state.getData(), static_cast<int>(state.getSize()));
    ASSERT_NE(xml, nullptr);
    xml->setAttribute("beatKey", key);
    juce::AudioProcessor::copyXmlToBinary(*xml, state);
    host.processor->setStateInformation(state.getData(), static_cast<int>(state.getSize()));
}

} // namespace

TEST(BlockSettings, TakeRootAndScaleFromTheBeatKeyOnlyWhenTheBeatIsTheSource)
{
    struct Case {
        bool beatIsSource;
        int key;
        int rootChoice;
        int expectedRoot;
        Scale expectedScale;
    };
    const Case cases[] = {
        {true, 14, 5, 2, Scale::major},   // D major
        {true, 9, 5, 9, Scale::minor},    // A minor
        {true, 23, 0, 11, Scale::major},  // B major
        {true, -1, 5, 5, Scale::minor},   // no key: the manual note, minor
        {false, 14, 7, 7, Scale::minor},  // manual source ignores a known major key
    };
    for (const auto& c : cases) {
        const auto settings = TolmarProcessor::blockSettings(Mode::cumbia, true, c.beatIsSource, c.key, c.rootChoice);
        EXPECT_EQ(settings.mode, Mode::cumbia);
        EXPECT_TRUE(settings.bypass);
        EXPECT_EQ(settings.root, c.expectedRoot) << "key " << c.key;
        EXPECT_EQ(settings.scale, c.expectedScale) << "key " << c.key;
    }
}

TEST(Callback, AFreshProcessorPublishesNothingFound)
{
    TolmarProcessor processor;
    EXPECT_EQ(processor.beatKey.load(), -1);
    EXPECT_EQ(processor.beatStage.load(), 0);
    EXPECT_EQ(processor.beatProgress.load(), 0.0f);
    EXPECT_EQ(processor.inputLevel.load(), 0.0f);
    EXPECT_EQ(processor.outputLevel.load(), 0.0f);
}

TEST(Callback, ReportsTheEngineLatencyForEachRate)
{
    struct Case {
        double rate;
        int latency;
    };
    for (const Case c : {Case{22050.0, 1024}, Case{44100.0, 2048}, Case{48000.0, 2048}, Case{96000.0, 4096},
                         Case{192000.0, 8192}}) {
        PreparedProcessor host(c.rate, 256);
        EXPECT_EQ(host.processor->getLatencySamples(), c.latency) << c.rate;
    }
}

TEST(Callback, AnUnsupportedRatePassesAudioThroughUntilASupportedPrepare)
{
    for (const double rate : {4000.0, 500000.0, std::numeric_limits<double>::quiet_NaN()}) {
        PreparedProcessor host(rate, 512);
        EXPECT_FALSE(host.processor->isConfigurationSupported());
        juce::AudioBuffer<float> buffer(host.totalChannels(), 512);
        const auto tone = testing_support::sine(440.0, 48000.0, 512);
        for (int channel = 0; channel < buffer.getNumChannels(); ++channel)
            buffer.copyFrom(channel, 0, tone.data(), 512);
        host.run(buffer);
        for (int i = 0; i < 512; ++i)
            ASSERT_EQ(buffer.getSample(0, i), tone[static_cast<std::size_t>(i)]);
        EXPECT_EQ(host.processor->beatKey.load(), -1);

        host.processor->prepareToPlay(48000.0, 512);
        EXPECT_TRUE(host.processor->isConfigurationSupported());
        EXPECT_EQ(host.processor->getLatencySamples(), 2048);
    }
}

TEST(Callback, AnUnsupportedRateAfterASupportedOneReportsNoLatencyAndStopsTheAnalyser)
{
    PreparedProcessor host(48000.0, 512);
    host.set("effect", 2.0f); // Trap default, following the beat
    const int channels = host.totalChannels();
    juce::AudioBuffer<float> buffer(channels, 512);
    const auto beat = testing_support::harmonicTone(110.0, 48000.0, 512 * 160, 0.4f);
    const auto listen = [&](int blocks) {
        for (int block = 0; block < blocks; ++block) {
            buffer.clear();
            for (int channel = 2; channel < channels; ++channel)
                buffer.copyFrom(channel, 0, beat.data() + block * 512, 512);
            host.run(buffer);
        }
    };
    listen(80);
    const float progressAt48k = host.processor->beatProgress.load();
    ASSERT_GT(progressAt48k, 0.0f);
    ASSERT_EQ(host.processor->getLatencySamples(), 2048);

    host.processor->prepareToPlay(4000.0, 512);
    EXPECT_FALSE(host.processor->isConfigurationSupported());
    EXPECT_EQ(host.processor->getLatencySamples(), 0);
    listen(80);
    EXPECT_EQ(host.processor->beatProgress.load(), progressAt48k); // not fed, still published
    EXPECT_EQ(host.processor->beatStage.load(), 1);
    EXPECT_EQ(host.processor->beatKey.load(), -1);

    host.processor->prepareToPlay(48000.0, 512);
    EXPECT_TRUE(host.processor->isConfigurationSupported());
    EXPECT_EQ(host.processor->getLatencySamples(), 2048);
    listen(160); // listening again: further than before the unsupported rate
    EXPECT_GT(host.processor->beatProgress.load(), progressAt48k);
}

TEST(Callback, ClearsMidiAndAcceptsEmptyBlocks)
{
    PreparedProcessor host;
    juce::AudioBuffer<float> buffer(host.totalChannels(), 64);
    buffer.clear();
    juce::MidiBuffer midi;
    midi.addEvent(juce::MidiMessage::noteOn(1, 60, 0.5f), 3);
    host.processor->processBlock(buffer, midi);
    EXPECT_TRUE(midi.isEmpty());

    juce::AudioBuffer<float> empty(host.totalChannels(), 0);
    host.run(empty);
    EXPECT_EQ(host.processor->beatStage.load(), 0);
}

TEST(Callback, AnEmptyBlockTakesAPendingRestoreOrReanalysis)
{
    PreparedProcessor host;
    loadSavedKey(host, 16);

    juce::AudioBuffer<float> empty(host.totalChannels(), 0);
    host.run(empty);
    EXPECT_EQ(host.processor->beatKey.load(), 16);
    EXPECT_EQ(host.processor->beatStage.load(), 3);
    host.processor->reanalyzeBeat();
    host.processor->beatKey.store(16); // as a stale display would show it; the block must republish
    host.run(empty);
    EXPECT_EQ(host.processor->beatKey.load(), -1);
    EXPECT_EQ(host.processor->beatStage.load(), 0);
}

TEST(Callback, ReanalyzeClearsThePublishedKeyAndTheNextBlockListensAgain)
{
    PreparedProcessor host;
    host.set("effect", 2.0f);
    // A restored key is fixed at the next block: stage 3, progress 0.
    loadSavedKey(host, 14);
    EXPECT_EQ(host.processor->beatKey.load(), 14);

    juce::AudioBuffer<float> buffer(host.totalChannels(), 256);
    buffer.clear();
    host.run(buffer);
    EXPECT_EQ(host.processor->beatKey.load(), 14);
    EXPECT_EQ(host.processor->beatStage.load(), 3);
    EXPECT_EQ(host.processor->beatProgress.load(), 0.0f);

    host.processor->reanalyzeBeat();
    EXPECT_EQ(host.processor->beatKey.load(), -1);
    EXPECT_EQ(host.processor->beatStage.load(), 0);
    EXPECT_EQ(host.processor->beatProgress.load(), 0.0f);
    host.run(buffer);
    EXPECT_EQ(host.processor->beatKey.load(), -1);
    EXPECT_NE(host.processor->beatStage.load(), 3);
}

TEST(Callback, FeedsTheAnalyserOnlyForTunedModesFollowingAnEnabledBeat)
{
    struct Case {
        float effect;
        float tuningSource;
        bool beatEnabled;
        bool expectListening;
    };
    const Case cases[] = {
        {2.0f, 1.0f, true, true},   // Trap default following the beat
        {0.0f, 1.0f, true, false},  // Mosquito is not tuned
        {2.0f, 0.0f, true, false},  // manual tuning source
        {2.0f, 1.0f, false, false}, // side-chain disabled
    };
    for (const auto& c : cases) {
        PreparedProcessor host(48000.0, 512, c.beatEnabled);
        host.set("effect", c.effect);
        host.set("tuningSource", c.tuningSource);
        // The beat sits in channels 2 and 3 even when its bus is disabled (a host may hand over spare
        // channels): only the bus decides whether the analyser hears it.
        const int channels = 4;
        juce::AudioBuffer<float> buffer(channels, 512);
        const auto beat = testing_support::harmonicTone(110.0, 48000.0, 512 * 80, 0.4f);
        for (int block = 0; block < 80; ++block) {
            buffer.clear();
            for (int channel = 2; channel < channels; ++channel)
                buffer.copyFrom(channel, 0, beat.data() + block * 512, 512);
            host.run(buffer);
        }
        EXPECT_EQ(host.processor->beatProgress.load() > 0.0f, c.expectListening)
            << "effect " << c.effect << " source " << c.tuningSource << " beat " << c.beatEnabled;
    }
}

TEST(Callback, ProcessesEveryModeWithoutAllocatingAndWithSafeOutput)
{
    PreparedProcessor host(48000.0, 512);
    const int channels = host.totalChannels();
    juce::AudioBuffer<float> buffer(channels, 512);
    const auto voice = testing_support::harmonicTone(220.0, 48000.0, 512, 0.8f);
    const auto beat = testing_support::noise(512, 0.5f, 7);

    for (int modeIndex = 0; modeIndex < 8; ++modeIndex) {
        testing_support::setModeRow(host, modeIndex);
        ASSERT_EQ(static_cast<int>(host.processor->effectiveMode()), modeIndex);
        for (int block = 0; block < 24; ++block) {
            for (int channel = 0; channel < 2; ++channel)
                buffer.copyFrom(channel, 0, voice.data(), 512);
            for (int channel = 2; channel < channels; ++channel)
                buffer.copyFrom(channel, 0, beat.data(), 512);
            std::size_t allocations = 0;
            {
                testing_support::ScopedAllocationCounter counter;
                host.run(buffer);
                allocations = counter.allocations();
            }
            if (block > 2) { // the first blocks after a mode change may not allocate either, but warm-up is allowed
                ASSERT_EQ(allocations, 0u) << "mode " << modeIndex << " block " << block;
            }
            for (int channel = 0; channel < 2; ++channel) {
                ASSERT_TRUE(testing_support::allFiniteAndNormal(buffer.getReadPointer(channel), 512));
                ASSERT_LE(buffer.getMagnitude(channel, 0, 512), 0.97f);
            }
        }
        EXPECT_GT(host.processor->outputLevel.load(), 0.0f) << "mode " << modeIndex;
        EXPECT_GT(host.processor->inputLevel.load(), 0.0f) << "mode " << modeIndex;
    }
}

TEST(Callback, HostBlocksLongerThanAnnouncedAndShortChannelBuffersAreSafe)
{
    PreparedProcessor host(44100.0, 64);
    juce::AudioBuffer<float> longBlock(host.totalChannels(), 4097);
    const auto tone = testing_support::sine(330.0, 44100.0, 4097, 2.0f);
    for (int channel = 0; channel < longBlock.getNumChannels(); ++channel)
        longBlock.copyFrom(channel, 0, tone.data(), 4097);
    host.run(longBlock);
    for (int channel = 0; channel < 2; ++channel)
        EXPECT_LE(longBlock.getMagnitude(channel, 0, 4097), 0.97f);

    // Fewer channels than the layout announces: left untouched rather than read out of range.
    juce::AudioBuffer<float> narrow(1, 128);
    narrow.clear();
    narrow.setSample(0, 5, 0.25f);
    host.run(narrow);
    EXPECT_EQ(narrow.getSample(0, 5), 0.25f);
}

TEST(Callback, AFailedAllocationWhilePreparingPassesAudioThroughUntilTheNextPrepare)
{
    // A host prepares again for longer blocks and memory runs out part-way, at the first, a later or (when
    // preparing needs fewer allocations) no allocation at all.
    for (const int failingAllocation : {1, 2, 5, 20, 100, 100000}) {
        SCOPED_TRACE(testing::Message() << "allocation " << failingAllocation);
        PreparedProcessor host(48000.0, 512);
        bool failed = false;
        {
            testing_support::ScopedAllocationFailure failure(failingAllocation);
            EXPECT_NO_THROW(host.processor->prepareToPlay(48000.0, 4096));
            failed = failure.triggered();
        }
        EXPECT_EQ(host.processor->isConfigurationSupported(), !failed);
        EXPECT_EQ(host.processor->getLatencySamples(), failed ? 0 : 2048);

        juce::AudioBuffer<float> buffer(host.totalChannels(), 4096);
        const auto tone = testing_support::sine(440.0, 48000.0, 4096);
        buffer.clear();
        for (int channel = 0; channel < 2; ++channel)
            buffer.copyFrom(channel, 0, tone.data(), 4096);
        host.run(buffer);
        for (int i = 0; failed && i < 4096; ++i)
            ASSERT_EQ(buffer.getSample(0, i), tone[static_cast<std::size_t>(i)]) << i;

        // The next prepare works as if nothing had happened.
        host.processor->prepareToPlay(48000.0, 4096);
        EXPECT_TRUE(host.processor->isConfigurationSupported());
        EXPECT_EQ(host.processor->getLatencySamples(), 2048);
        for (int block = 0; block < 3; ++block) {
            for (int channel = 0; channel < 2; ++channel)
                buffer.copyFrom(channel, 0, tone.data(), 4096);
            host.run(buffer);
        }
        EXPECT_TRUE(testing_support::allFiniteAndNormal(buffer.getReadPointer(0), 4096));
        EXPECT_GT(host.processor->outputLevel.load(), 0.0f);
    }
}

TEST(Callback, MetersShowTheSameLevelsWhateverTheHostsBlockLength)
{
    // One hit every 6144 samples, looked at by the editor between hits: a 1 kHz burst decaying over 20 ms, at
    // 0.5 and 0.45 in turn. A meter that decays per block reads a 32-sample host far lower than a 2048-sample one.
    constexpr double rate = 48000.0;
    constexpr int lookEvery = 6144;
    constexpr int looks = 12;
    std::vector<float> signal(lookEvery * looks, 0.0f);
    for (int look = 0; look < looks; ++look)
        for (int i = 0; i < 2400; ++i) {
            const double t = i / rate;
            signal[static_cast<std::size_t>(look * lookEvery + 1000 + i)] = static_cast<float>(
                (look % 2 == 0 ? 0.5 : 0.45) * std::exp(-t / 0.02) * std::sin(testing_support::twoPi * 1000.0 * t));
        }

    const auto readings = [&](int block) {
        PreparedProcessor host(rate, block);
        host.processor->takeMeterLevels();
        std::vector<TolmarProcessor::MeterLevels> seen;
        juce::AudioBuffer<float> buffer(host.totalChannels(), block);
        for (int at = 0; at < lookEvery * looks; at += block) {
            buffer.clear();
            for (int channel = 0; channel < 2; ++channel)
                buffer.copyFrom(channel, 0, signal.data() + at, block);
            host.run(buffer);
            if ((at + block) % lookEvery == 0)
                seen.push_back(host.processor->takeMeterLevels());
        }
        return seen;
    };
    const auto small = readings(32);
    const auto large = readings(2048);
    ASSERT_EQ(small.size(), static_cast<std::size_t>(looks));
    ASSERT_EQ(large.size(), small.size());
    const auto dB = [](float level) { return 20.0 * std::log10(std::max(level, 1e-6f)); };
    // From the second look on the delayed, shifted output has reached the meter too.
    for (std::size_t look = 1; look < small.size(); ++look) {
        EXPECT_NEAR(dB(small[look].input), dB(large[look].input), 0.5) << "look " << look;
        EXPECT_NEAR(dB(small[look].output), dB(large[look].output), 0.5) << "look " << look;
        EXPECT_GT(small[look].input, 0.4f) << "look " << look;
    }
}

TEST(Callback, TheHostsBypassPassesTheInputExactlyAndThePluginsOwnKeepsTheGuard)
{
    // A floating-point track above 0 dBFS with a not-a-number sample in it.
    const int blocks = 24;
    std::vector<float> input(512 * blocks);
    for (std::size_t i = 0; i < input.size(); ++i)
        input[i] = static_cast<float>(1.6 * std::sin(0.013 * static_cast<double>(i)));
    input[6000] = std::numeric_limits<float>::quiet_NaN();

    // The host bypasses the first hostBypassedBlocks blocks.
    const auto play = [&](int hostBypassedBlocks, bool ownBypass) {
        PreparedProcessor host(48000.0, 512);
        host.set("bypass", ownBypass ? 1.0f : 0.0f);
        std::vector<float> output(input.size());
        juce::AudioBuffer<float> buffer(host.totalChannels(), 512);
        juce::MidiBuffer midi;
        for (int block = 0; block < blocks; ++block) {
            buffer.clear();
            for (int channel = 0; channel < 2; ++channel)
                buffer.copyFrom(channel, 0, input.data() + block * 512, 512);
            if (block < hostBypassedBlocks)
                host.processor->processBlockBypassed(buffer, midi);
            else
                host.processor->processBlock(buffer, midi);
            std::copy(buffer.getReadPointer(0), buffer.getReadPointer(0) + 512, output.data() + block * 512);
        }
        return output;
    };
    constexpr int latency = 2048;
    // Once the fade has settled (about 1150 samples), the host's bypass gives the delayed input exactly.
    const auto bypassed = play(18, false);
    const std::size_t bypassEnds = 512 * 18;
    for (std::size_t i = latency + 2048; i < bypassEnds; ++i) {
        const float expected = i - latency == 6000 ? 0.0f : input[i - latency];
        ASSERT_EQ(bypassed[i], expected) << i;
    }
    // Leaving the host's bypass fades back without first jumping to the guard (the input there is about 1.39).
    ASSERT_GT(std::fabs(input[bypassEnds - latency]), 1.2f);
    for (std::size_t i = bypassEnds; i < bypassEnds + 64; ++i)
        ASSERT_LT(std::fabs(bypassed[i] - bypassed[i - 1]), 0.1f) << i;
    // "Hear original" stays within the output guard.
    const auto heardOriginal = play(0, true);
    for (std::size_t i = latency + 2048; i < input.size(); ++i) {
        ASSERT_LE(std::fabs(heardOriginal[i]), 0.97f) << i;
        ASSERT_EQ(heardOriginal[i], std::clamp(i - latency == 6000 ? 0.0f : input[i - latency], -0.97f, 0.97f)) << i;
    }
}
