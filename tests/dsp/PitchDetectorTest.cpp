#include "dsp/PitchDetector.h"

#include "Signals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using tolmar::estimatePitch;
using tolmar::refinePeriod;

TEST(RefinePeriod, PlacesParabolaVertexOrKeepsPositionWhenFlat)
{
    struct Case {
        int position;
        double before, at, after;
        double expected;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {10, 1.0, 0.0, 1.0, 10.0}, // symmetric minimum
        {10, 1.0, 0.0, 0.0, 10.5},
        {7, 3.0, 3.0, 3.0, 7.0},  // flat: divisor 0
        {5, 0.0, 1.0, 0.5, 5.0 + 0.5 / 3.0}, // a maximum uses the same vertex formula
        {3, nan, 0.0, 1.0, 3.0},  // NaN divisor
    };
    for (const auto& c : cases)
        EXPECT_NEAR(refinePeriod(c.position, c.before, c.at, c.after), c.expected, 1e-12) << "position " << c.position;
}

TEST(EstimatePitch, FindsSineFundamentalsWithinTheLagRange)
{
    struct Case {
        double frequency;
        double sampleRate;
        int samples;
        double expected; // 0 = no pitch
        double tolerance;
    };
    const Case cases[] = {
        {220.0, 48000.0, 2048, 220.0, 0.5},
        {440.0, 48000.0, 2048, 440.0, 0.5},
        {66.0, 48000.0, 2048, 66.0, 0.3},
        {1000.0, 48000.0, 2048, 1000.2, 1.0},
        {1500.0, 48000.0, 2048, 750.1, 1.0}, // period below the minimum lag: the second multiple is found
        {50.0, 48000.0, 2048, 0.0, 0.0},     // period beyond the maximum lag
        {220.0, 12000.0, 512, 220.0, 0.5},   // the engine's analysis frame
        {220.0, 48000.0, 64, 0.0, 0.0},      // maximum lag 31 is below the minimum lag 48
    };
    for (const auto& c : cases) {
        const auto x = testing_support::sine(c.frequency, c.sampleRate, c.samples, 0.5f);
        const float found = estimatePitch(x.data(), x.size(), c.sampleRate);
        if (c.expected == 0.0)
            EXPECT_EQ(found, 0.0f) << c.frequency << " Hz";
        else
            EXPECT_NEAR(found, c.expected, c.tolerance) << c.frequency << " Hz at " << c.sampleRate;
    }
}

TEST(EstimatePitch, RejectsShortQuietAndNonFiniteFrames)
{
    const auto loud = testing_support::sine(220.0, 48000.0, 2048, 0.9f);
    EXPECT_EQ(estimatePitch(loud.data(), 63, 48000.0), 0.0f);
    EXPECT_EQ(estimatePitch(loud.data(), 0, 48000.0), 0.0f);
    EXPECT_EQ(estimatePitch(nullptr, 0, 48000.0), 0.0f);

    const std::vector<float> silence(2048, 0.0f);
    EXPECT_EQ(estimatePitch(silence.data(), silence.size(), 48000.0), 0.0f);

    // Mean square just under 2e-6 (RMS about -57 dBFS) is gated.
    const auto quiet = testing_support::sine(220.0, 48000.0, 2048, 0.0019f);
    EXPECT_EQ(estimatePitch(quiet.data(), quiet.size(), 48000.0), 0.0f);

    auto poisoned = loud;
    poisoned[100] = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(estimatePitch(poisoned.data(), poisoned.size(), 48000.0), 0.0f);
    poisoned[100] = std::numeric_limits<float>::infinity();
    EXPECT_EQ(estimatePitch(poisoned.data(), poisoned.size(), 48000.0), 0.0f);
}

TEST(EstimatePitch, ReadsOnlyTheGivenCountAndStaysFiniteOnOddInput)
{
    // Samples past the count are poison: any read beyond it would change the result.
    auto x = testing_support::sine(220.0, 48000.0, 4096, 0.5f);
    const float clean = estimatePitch(x.data(), 2048, 48000.0);
    for (std::size_t i = 2048; i < x.size(); ++i)
        x[i] = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(estimatePitch(x.data(), 2048, 48000.0), clean);

    // A huge frame is capped at the 1022-lag table; extreme rates stay finite.
    const auto huge = testing_support::sine(100.0, 384000.0, 1 << 16, 8.0f);
    EXPECT_TRUE(std::isfinite(estimatePitch(huge.data(), huge.size(), 384000.0)));
    EXPECT_TRUE(std::isfinite(estimatePitch(huge.data(), huge.size(), 1.0e300)));
    EXPECT_EQ(estimatePitch(huge.data(), huge.size(), std::numeric_limits<double>::quiet_NaN()), 0.0f);
}
