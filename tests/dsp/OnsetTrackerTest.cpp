#include "dsp/OnsetTracker.h"

#include "Signals.h"
#include "TransientMaterial.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

using tolmar::OnsetTracker;

namespace {

constexpr int blockLength = 2048;
constexpr int interval = 128;

// Feeds one or two channels to the tracker as the shifter does: circular windows of blockLength samples, one
// update every interval samples. Records, per frame, the split, each channel's own onset, and whether the onset
// left the window.
struct Tracked {
    std::vector<int> splits;
    std::vector<std::array<int, 2>> channelOnsets;
    std::vector<bool> left;
};

Tracked track(const std::vector<std::vector<float>>& input)
{
    OnsetTracker tracker;
    tracker.configure(blockLength, interval);
    std::vector<std::vector<float>> rings(input.size(), std::vector<float>(blockLength, 0.0f));
    const float* ringPointers[] = {rings[0].data(), rings.back().data()};
    const auto channels = static_cast<int>(input.size());
    int position = 0;
    Tracked run;
    for (std::size_t i = 0; i < input[0].size(); ++i) {
        for (std::size_t c = 0; c < input.size(); ++c)
            rings[c][static_cast<std::size_t>(position)] = input[c][i];
        position = (position + 1) % blockLength;
        if ((i + 1) % interval != 0)
            continue;
        tracker.update(ringPointers, channels, position);
        run.splits.push_back(tracker.split());
        run.channelOnsets.push_back({tracker.channelOnset(0), tracker.channelOnset(1)});
        run.left.push_back(tracker.split() >= 0 && tracker.advance());
    }
    return run;
}

// A quiet tone faded in over 100 ms, so that its own start is no hit.
std::vector<float> fadedIn(std::vector<float> x)
{
    for (std::size_t i = 0; i < 4800 && i < x.size(); ++i)
        x[i] *= static_cast<float>(i) / 4800.0f;
    return x;
}

// The input time of the newest split found, from a frame index of frame `frame`.
int inputTime(int frame, int split)
{
    return (frame + 1) * interval - blockLength + split;
}

} // namespace

TEST(OnsetTracker, CutsBothChannelsAtTheFirstOnsetAndKeepsWhereEachStarts)
{
    // A quiet tone with a click at 20000 in one channel or the other, or in both with the right one 12 samples
    // later (a second microphone).
    struct Case {
        const char* name;
        int leftClick, rightClick; // input times, -1 for none
        int expectedSplit;
    };
    const Case cases[] = {
        {"left only", 20000, -1, 20000}, {"right only", -1, 20000, 20000}, {"both, right later", 20000, 20012, 20000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::vector<float>> input(2, fadedIn(testing_support::sine(220.0, 48000.0, 30000, 0.05f)));
        if (c.leftClick >= 0)
            input[0][static_cast<std::size_t>(c.leftClick)] += 0.8f;
        if (c.rightClick >= 0)
            input[1][static_cast<std::size_t>(c.rightClick)] += 0.8f;
        const Tracked run = track(input);
        // The first frame that holds the onset places it.
        std::size_t frame = 0;
        while (frame < run.splits.size() && run.splits[frame] < 0)
            ++frame;
        ASSERT_LT(frame, run.splits.size());
        // Once the whole attack is in view, the split sits on the click; each channel's own onset on its click.
        const auto settled = frame + 2;
        const int split = run.splits[settled];
        EXPECT_NEAR(inputTime(static_cast<int>(settled), split), c.expectedSplit, 1);
        if (c.leftClick >= 0 && c.rightClick >= 0) {
            EXPECT_NEAR(inputTime(static_cast<int>(settled), run.channelOnsets[settled][0]), c.leftClick, 1);
            EXPECT_NEAR(inputTime(static_cast<int>(settled), run.channelOnsets[settled][1]), c.rightClick, 1);
        }
        // It is followed until it leaves the window, once.
        int leaving = 0;
        for (const bool left : run.left)
            leaving += left ? 1 : 0;
        EXPECT_EQ(leaving, 1);
    }
}

TEST(OnsetTracker, AVoicesPulsesAndASteadyToneAreNoOnsets)
{
    // Sound from silence is an onset; once it has left the window, a sung vowel's glottal pulses (with jitter
    // and breath) and a low harmonic tone start none.
    const auto vowel = testing_support::voicedMaterial(48000.0, 1.0, false).signal;
    for (const auto& input : {vowel, testing_support::harmonicTone(110.0, 48000.0, 48000, 0.3f)}) {
        const Tracked run = track({input, input});
        for (std::size_t frame = 2 * blockLength / interval; frame < run.splits.size(); ++frame)
            ASSERT_EQ(run.splits[frame], -1) << frame;
    }
}
