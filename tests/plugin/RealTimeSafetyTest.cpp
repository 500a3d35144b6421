// The audio thread neither allocates nor locks, from the very first block: after prepare, after every mode
// change, after a re-analysis request, after a state load, and in every mode, rate and layout.
#include "ProcessorFixture.h"

#include "AllocationCounter.h"
#include "LockCounter.h"
#include "ModeRule.h"
#include "Signals.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

using tolmar::Mode;

namespace {

void selectMode(PreparedProcessor& host, int mode)
{
    testing_support::setModeRow(host, mode);
}

// A host's audio thread: a sung A minor line on the main bus and an A minor chord with a pulse on the
// side-chain, fed block after block, each processBlock call inside the allocation and lock counters.
class CountedAudioThread {
public:
    explicit CountedAudioThread(PreparedProcessor& hostToDrive, double rate)
        : host(hostToDrive),
          voice(testing_support::harmonicTone(220.0, rate, signalLength, 0.6f)),
          beat(testing_support::noise(signalLength, 0.1f, 3))
    {
        for (const double hz : {110.0, 130.81, 164.81, 220.0}) {
            const auto tone = testing_support::harmonicTone(hz, rate, signalLength, 0.12f, 6);
            for (std::size_t i = 0; i < beat.size(); ++i)
                beat[i] += tone[i];
        }
    }

    // One block of `samples` samples; fails on any allocation, lock or unsafe output sample.
    testing::AssertionResult block(int samples, const std::string& context)
    {
        const int channels = host.totalChannels();
        buffer.setSize(channels, samples, false, false, true);
        for (int channel = 0; channel < channels; ++channel) {
            const bool isBeat = channel >= host.processor->getMainBusNumInputChannels();
            for (int i = 0; i < samples; ++i)
                buffer.setSample(channel, i, (isBeat ? beat : voice)[(position + i) % signalLength]);
        }
        position = (position + static_cast<std::size_t>(samples)) % signalLength;

        std::size_t allocations = 0;
        std::size_t locks = 0;
        {
            testing_support::ScopedAllocationCounter allocationCounter;
            testing_support::ScopedLockCounter lockCounter;
            host.run(buffer);
            allocations = allocationCounter.allocations();
            locks = lockCounter.locks();
        }
        if (allocations != 0 || locks != 0)
            return testing::AssertionFailure() << context << ": " << allocations << " allocations, " << locks
                                               << " locks on the audio thread";
        for (int channel = 0; channel < host.processor->getMainBusNumOutputChannels(); ++channel) {
            const float* samplesOut = buffer.getReadPointer(channel);
            if (!testing_support::allFiniteAndNormal(samplesOut, static_cast<std::size_t>(samples)))
                return testing::AssertionFailure() << context << ": non-finite or denormal output";
            // An unsupported rate passes the input through untouched, above the guard or not.
            if (samples > 0 && host.processor->isConfigurationSupported()
                && buffer.getMagnitude(channel, 0, samples) > 0.97f)
                return testing::AssertionFailure() << context << ": output above the guard";
        }
        return testing::AssertionSuccess();
    }

private:
    static constexpr std::size_t signalLength = 1 << 15;
    PreparedProcessor& host;
    std::vector<float> voice;
    std::vector<float> beat;
    std::size_t position = 0;
    // Large enough for every block below, so that resizing it never allocates inside the counters.
    juce::AudioBuffer<float> buffer{4, 8192};
};

std::string modeName(int mode) { return "mode " + std::to_string(mode); }

} // namespace

// Without this the checks below could pass because the wrappers were never linked in.
TEST(RealTimeSafety, TheLockCounterSeesLocksOfTheCallingThreadOnly)
{
    if (!testing_support::ScopedLockCounter::isCounting())
        GTEST_SKIP() << "locks are not counted under ThreadSanitizer or on Windows";
    juce::CriticalSection section;
    testing_support::ScopedLockCounter locks;
    {
        const juce::ScopedLock hold(section);
    }
    EXPECT_EQ(locks.locks(), 1u);
    std::thread other([&] {
        const juce::ScopedLock hold(section);
    });
    other.join();
    EXPECT_EQ(locks.locks(), 1u);
    EXPECT_TRUE(section.tryEnter());
    section.exit();
    EXPECT_EQ(locks.locks(), 2u);
}

TEST(RealTimeSafety, FirstBlocksAfterEveryModeChange)
{
    PreparedProcessor host(48000.0, 512);
    CountedAudioThread audio(host, 48000.0);
    ASSERT_TRUE(audio.block(512, "first block after prepare"));
    for (int from = 0; from < 8; ++from)
        for (int to = 0; to < 8; ++to) {
            if (from == to)
                continue;
            selectMode(host, from);
            ASSERT_TRUE(audio.block(512, modeName(from)));
            selectMode(host, to);
            ASSERT_EQ(static_cast<int>(host.processor->effectiveMode()), to);
            for (int block = 0; block < 3; ++block)
                ASSERT_TRUE(audio.block(512, modeName(from) + " to " + modeName(to) + " block "
                                                 + std::to_string(block)));
        }
}

TEST(RealTimeSafety, FirstBlocksAfterEachHostActionInEveryMode)
{
    struct Action {
        const char* name;
        std::function<void(PreparedProcessor&)> apply;
        int blockSamples;
    };
    // A state saved with the beat's key known and in another mode, and one from before the newer parameters.
    const auto stateWith = [](PreparedProcessor& host, int key, int mode, bool oldVersion) {
        juce::MemoryBlock state;
        host.processor->getStateInformation(state);
        auto xml = juce::AudioProcessor::getXmlFromBinary(state.getData(), static_cast<int>(state.getSize()));
        xml->setAttribute("beatKey", key);
        for (auto* param : xml->getChildIterator())
            if (param->getStringAttribute("id") == "effect")
                param->setAttribute("value", testing_support::modeRule[mode].effect);
        if (oldVersion)
            for (const char* id : {"tuningSource", "wobble", "vocalStyle", "mastering"})
                xml->removeChildElement(xml->getChildByAttribute("id", id), true);
        juce::AudioProcessor::copyXmlToBinary(*xml, state);
        host.processor->setStateInformation(state.getData(), static_cast<int>(state.getSize()));
    };
    const Action actions[] = {
        {"re-analysis request", [](PreparedProcessor& host) { host.processor->reanalyzeBeat(); }, 512},
        {"state load with a known key", [&](PreparedProcessor& host) { stateWith(host, 14, 1, false); }, 512},
        {"state load without a key", [&](PreparedProcessor& host) { stateWith(host, -1, 2, false); }, 512},
        {"state load of an older version", [&](PreparedProcessor& host) { stateWith(host, 9, 0, true); }, 512},
        {"bypass on", [](PreparedProcessor& host) { host.set("bypass", 1.0f); }, 512},
        {"bypass off", [](PreparedProcessor& host) { host.set("bypass", 0.0f); }, 512},
        {"manual tuning source", [](PreparedProcessor& host) { host.set("tuningSource", 0.0f); }, 512},
        {"beat tuning source", [](PreparedProcessor& host) { host.set("tuningSource", 1.0f); }, 512},
        {"root change", [](PreparedProcessor& host) { host.set("root", 7.0f); }, 512},
        {"one-sample blocks", [](PreparedProcessor&) {}, 1},
        {"odd blocks", [](PreparedProcessor&) {}, 250},
        {"empty blocks", [](PreparedProcessor&) {}, 0},
        {"blocks longer than announced", [](PreparedProcessor&) {}, 4097},
        {"release and prepare",
         [](PreparedProcessor& host) {
             host.processor->releaseResources();
             host.processor->prepareToPlay(48000.0, 512);
         },
         512},
    };
    for (int mode = 0; mode < 8; ++mode) {
        PreparedProcessor host(48000.0, 512);
        CountedAudioThread audio(host, 48000.0);
        for (const auto& action : actions) {
            selectMode(host, mode);
            ASSERT_TRUE(audio.block(512, modeName(mode)));
            action.apply(host);
            selectMode(host, mode); // a loaded state may have changed it
            for (int block = 0; block < 3; ++block)
                ASSERT_TRUE(audio.block(action.blockSamples, modeName(mode) + ", " + action.name + ", block "
                                                                 + std::to_string(block)));
        }
    }
}

TEST(RealTimeSafety, ListeningToTheBeatUntilItsKeyIsDecided)
{
    PreparedProcessor host(44100.0, 512);
    CountedAudioThread audio(host, 44100.0);
    selectMode(host, static_cast<int>(Mode::trapDefault));
    for (int round = 0; round < 2; ++round) {
        int blocks = 0;
        while (host.processor->beatStage.load() < 2 && blocks < 44100 * 60 / 512)
            ASSERT_TRUE(audio.block(512, "listening, block " + std::to_string(blocks++)));
        ASSERT_GE(host.processor->beatStage.load(), 2) << "round " << round;
        ASSERT_TRUE(audio.block(512, "after the decision"));
        host.processor->reanalyzeBeat();
    }
}

TEST(RealTimeSafety, EveryRateAndLayoutFromTheFirstBlock)
{
    struct Layout {
        int mainChannels;
        bool beat;
    };
    for (const double rate : {8000.0, 22050.0, 44100.0, 96000.0, 192000.0, 384000.0, 4000.0})
        for (const Layout layout : {Layout{2, true}, Layout{1, true}, Layout{2, false}}) {
            PreparedProcessor host(rate, 1024, layout.beat, layout.mainChannels);
            CountedAudioThread audio(host, rate);
            const std::string context = std::to_string(rate) + " Hz, " + std::to_string(layout.mainChannels)
                                        + " channels" + (layout.beat ? " with the beat, " : ", ");
            for (int mode = 0; mode < 8; ++mode) {
                selectMode(host, mode);
                for (int block = 0; block < 2; ++block)
                    ASSERT_TRUE(audio.block(1024, context + modeName(mode)));
            }
        }
}
