#include "dsp/Decimator.h"
#include "dsp/LowpassDecimator.h"
#include "dsp/OnePole.h"
#include "dsp/RingBuffer.h"
#include "dsp/SampleRate.h"
#include "dsp/WindowFunctions.h"

#include "Signals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

TEST(Decimator, FactorBringsTheRateDownToAboutTheTarget)
{
    struct Case {
        double rate;
        int factor;
    };
    const Case cases[] = {{8000.0, 1},  {12000.0, 1}, {22050.0, 1},  {44100.0, 3},
                          {48000.0, 4}, {96000.0, 8}, {384000.0, 32}};
    for (const auto& c : cases)
        EXPECT_EQ(tolmar::decimationFactor(c.rate, 12000.0), c.factor) << c.rate;
}

TEST(Decimator, EachGroupGivesItsMeanAndChannelsStayInStep)
{
    tolmar::BoxcarDecimator<double, 2> decimator;
    decimator.setFactor(3);
    const float frames[7][2] = {{1, 10}, {2, 20}, {6, 60}, {-3, 0}, {3, 0}, {0.5f, 0}, {4, 4}};
    std::vector<std::vector<float>> means;
    for (const auto& frame : frames) {
        float out[2] = {-1.0f, -1.0f};
        if (decimator.push(frame, 2, out))
            means.push_back({out[0], out[1]});
    }
    ASSERT_EQ(means.size(), 2u);
    EXPECT_EQ(means[0], (std::vector<float>{3.0f, 30.0f}));
    EXPECT_EQ(means[1], (std::vector<float>{0.5f / 3.0f, 0.0f}));

    // A mono frame adds nothing to the second channel; reset starts a new group.
    decimator.reset();
    float out[2] = {-1.0f, -1.0f};
    const float mono = 3.0f;
    EXPECT_FALSE(decimator.push(&mono, 1, out));
    EXPECT_FALSE(decimator.push(frames[0], 2, out));
    EXPECT_TRUE(decimator.push(frames[0], 2, out));
    EXPECT_FLOAT_EQ(out[0], 5.0f / 3.0f);
    EXPECT_FLOAT_EQ(out[1], 20.0f / 3.0f);

    tolmar::BoxcarDecimator<float> single;
    single.setFactor(0);
    EXPECT_EQ(single.decimation(), 1) << "a factor below 1 passes every sample";
    float mean = 0.0f;
    EXPECT_TRUE(single.push(0.25f, mean));
    EXPECT_EQ(mean, 0.25f);
}

// Level in dB of a tone after the low-pass decimator, relative to the tone's own level, measured once the
// filter has filled.
double decimatedGainDb(double rate, int factor, double toneHz)
{
    tolmar::LowpassDecimator decimator;
    decimator.setFactor(factor);
    const int length = 64 * 1024;
    const auto tone = testing_support::sine(toneHz, rate, length, 0.5f);
    double sumSquares = 0.0;
    int counted = 0;
    for (int i = 0; i < length; ++i) {
        float out = 0.0f;
        if (decimator.push(&tone[static_cast<std::size_t>(i)], 1, &out) && i >= 32 * 1024) {
            sumSquares += static_cast<double>(out) * out;
            ++counted;
        }
    }
    return 10.0 * std::log10(sumSquares / counted / 0.125);
}

TEST(LowpassDecimator, PassesTheBandAndStopsWhatWouldFoldIntoIt)
{
    struct Case {
        double rate;
        int factor;
        double toneHz;
        double lowestDb;
        double highestDb;
    };
    // Output rates 12000, 14700 and 12000 Hz. Tones up to 0.37 of the output rate pass; tones from 0.63 of it
    // up (hi-hats at 9-11 kHz that a box-car average would fold to 1-3 kHz) are gone.
    const Case cases[] = {
        {48000.0, 4, 1000.0, -0.02, 0.02},    {48000.0, 4, 4400.0, -0.05, 0.02},
        {48000.0, 4, 7600.0, -300.0, -70.0},  {48000.0, 4, 10000.0, -300.0, -70.0},
        {48000.0, 4, 21000.0, -300.0, -70.0}, {44100.0, 3, 5400.0, -0.05, 0.02},
        {44100.0, 3, 9300.0, -300.0, -70.0},  {44100.0, 3, 12000.0, -300.0, -70.0},
        {384000.0, 32, 3000.0, -0.02, 0.02},  {384000.0, 32, 20000.0, -300.0, -70.0},
    };
    for (const auto& c : cases) {
        const double gain = decimatedGainDb(c.rate, c.factor, c.toneHz);
        EXPECT_GE(gain, c.lowestDb) << c.rate << " Hz / " << c.factor << ", tone " << c.toneHz;
        EXPECT_LE(gain, c.highestDb) << c.rate << " Hz / " << c.factor << ", tone " << c.toneHz;
    }
}

TEST(LowpassDecimator, OneOutputPerGroupWithChannelsInStep)
{
    tolmar::LowpassDecimator decimator;
    decimator.setFactor(3);
    const auto left = testing_support::noise(3000, 0.5f, 3);
    const auto right = testing_support::noise(3000, 0.5f, 9);
    tolmar::LowpassDecimator leftAlone;
    leftAlone.setFactor(3);
    for (int i = 0; i < 3000; ++i) {
        const float frame[2] = {left[static_cast<std::size_t>(i)], right[static_cast<std::size_t>(i)]};
        float out[2] = {};
        float alone = 0.0f;
        const bool emitted = decimator.push(frame, 2, out);
        ASSERT_EQ(emitted, i % 3 == 2) << i;
        ASSERT_EQ(leftAlone.push(frame, 1, &alone), emitted);
        if (emitted) {
            ASSERT_EQ(out[0], alone) << "the second channel leaves the first alone, sample " << i;
        }
    }

    // After a reset the filter starts from silence, exactly as a new one.
    decimator.reset();
    tolmar::LowpassDecimator fresh;
    fresh.setFactor(3);
    for (int i = 0; i < 300; ++i) {
        float a = 0.0f, b = 0.0f;
        ASSERT_EQ(decimator.push(&left[static_cast<std::size_t>(i)], 1, &a),
                  fresh.push(&left[static_cast<std::size_t>(i)], 1, &b));
        ASSERT_EQ(a, b);
    }

    // A factor of 1 passes samples unchanged; factors are clamped to 1..32.
    tolmar::LowpassDecimator through;
    through.setFactor(0);
    EXPECT_EQ(through.decimation(), 1);
    float out = 0.0f;
    EXPECT_TRUE(through.push(&left[7], 1, &out));
    EXPECT_EQ(out, left[7]);
    through.setFactor(1000);
    EXPECT_EQ(through.decimation(), tolmar::LowpassDecimator::maxFactor);
}

TEST(RingBuffer, PositionsWrapAndRunsStopAtTheEnd)
{
    EXPECT_EQ(tolmar::ringNext(3, 5), 4);
    EXPECT_EQ(tolmar::ringNext(4, 5), 0);
    EXPECT_EQ(tolmar::ringPrevious(0, 5), 4);
    EXPECT_EQ(tolmar::ringPrevious(2, 5), 1);
    EXPECT_EQ(tolmar::ringAfter(3, 2, 5), 0);
    EXPECT_EQ(tolmar::ringAfter(3, 5, 5), 3);
    EXPECT_EQ(tolmar::ringAfter(0, 4, 5), 4);
    EXPECT_EQ(tolmar::ringBefore(1, 2, 5), 4);
    EXPECT_EQ(tolmar::ringBefore(3, 5, 5), 3);
    EXPECT_EQ(tolmar::ringBefore(3, 1, 5), 2);
    EXPECT_EQ(tolmar::ringRun(3, 10, 5), 2);
    EXPECT_EQ(tolmar::ringRun(3, 1, 5), 1);
    EXPECT_EQ(tolmar::ringRun(0, 5, 5), 5);
}

TEST(RingBuffer, ReadsOldestFirstInAtMostTwoRuns)
{
    tolmar::RingBuffer ring;
    ring.resize(5);
    std::vector<float> out(5, -1.0f);
    ring.copyOldestFirst(out.data());
    EXPECT_EQ(out, std::vector<float>(5, 0.0f));

    for (int i = 1; i <= 7; ++i)
        ring.push(static_cast<float>(i));
    ring.copyOldestFirst(out.data());
    EXPECT_EQ(out, (std::vector<float>{3, 4, 5, 6, 7}));

    const float data[5] = {10, 11, 12, 13, 14};
    int runs = 0;
    std::vector<float> visited(5, -1.0f);
    tolmar::forEachRunFrom(data, 3, 5, [&](const float* run, int offset, int count) {
        ++runs;
        for (int k = 0; k < count; ++k)
            visited[static_cast<std::size_t>(offset + k)] = run[k];
    });
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(visited, (std::vector<float>{13, 14, 10, 11, 12}));
    runs = 0;
    tolmar::forEachRunFrom(data, 0, 5, [&](const float*, int, int) { ++runs; });
    EXPECT_EQ(runs, 1) << "from the start the whole buffer is one run";

    ring.clear();
    ring.push(9.0f);
    ring.copyOldestFirst(out.data());
    EXPECT_EQ(out, (std::vector<float>{0, 0, 0, 0, 9}));
}

TEST(WindowFunctions, PeriodicHannStartsAtZeroPeaksAtTheMiddleAndOverlapsToAConstant)
{
    constexpr int length = 64;
    std::vector<float> window(length);
    tolmar::fillHannWindow(window.data(), length);
    EXPECT_EQ(window[0], 0.0f);
    EXPECT_EQ(window[length / 2], 1.0f);
    EXPECT_NEAR(window[length / 4], 0.5f, 1e-7f);
    EXPECT_FLOAT_EQ(window[1], window[length - 1]) << "periodic: symmetric about the middle";
    for (int hop : {length / 2, length / 4}) {
        for (int i = 0; i < hop; ++i) {
            double sum = 0.0;
            for (int k = i; k < length; k += hop)
                sum += window[static_cast<std::size_t>(k)];
            EXPECT_NEAR(sum, 0.5 * length / hop, 1e-6) << "hop " << hop << ", offset " << i;
        }
    }
}

TEST(OnePole, CoefficientsMatchTheirCornerAndTimeConstant)
{
    // A smoother whose corner is at f: the coefficient is 1 - e^(-2 pi f / rate).
    EXPECT_NEAR(tolmar::onePoleCoefficient(1000.0, 48000.0), 1.0 - std::exp(-testing_support::twoPi / 48.0), 1e-7);
    EXPECT_EQ(tolmar::onePoleCoefficient(0.0, 48000.0), 0.0f);
    // After timeConstantSamples single steps, 1 - 1/e of a step is covered.
    const float k = tolmar::timeConstantCoefficient(1.0, 480.0);
    float y = 0.0f;
    for (int i = 0; i < 480; ++i)
        y += k * (1.0f - y);
    EXPECT_NEAR(y, 1.0 - std::exp(-1.0), 1e-4);
    // One step of 480 samples covers the same.
    EXPECT_NEAR(tolmar::timeConstantCoefficient(480.0, 480.0), 1.0 - std::exp(-1.0), 1e-7);
}

TEST(SampleRate, SupportedFrom8To384Kilohertz)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (double rate : {8000.0, 44100.0, 48000.0, 384000.0})
        EXPECT_TRUE(tolmar::isSupportedSampleRate(rate)) << rate;
    for (double rate : {7999.99, 384000.5, 0.0, -48000.0, nan, inf})
        EXPECT_FALSE(tolmar::isSupportedSampleRate(rate)) << rate;
}

} // namespace
