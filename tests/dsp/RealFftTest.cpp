#include "dsp/RealFft.h"

#include "Signals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>
#include <vector>

namespace {

using tolmar::Complex;
using tolmar::RealFft;

// Direct DFT in double precision: the reference the transform must match.
std::vector<Complex> directDft(const std::vector<float>& x)
{
    const auto n = x.size();
    std::vector<Complex> bins(n / 2 + 1);
    for (std::size_t k = 0; k < bins.size(); ++k) {
        double re = 0.0;
        double im = 0.0;
        for (std::size_t t = 0; t < n; ++t) {
            const double angle = testing_support::twoPi * static_cast<double>((k * t) % n) / static_cast<double>(n);
            re += x[t] * std::cos(angle);
            im -= x[t] * std::sin(angle);
        }
        bins[k] = Complex{static_cast<float>(re), static_cast<float>(im)};
    }
    return bins;
}

struct SizeCase {
    int requested;
    int size;
};

class RealFftSizes : public testing::TestWithParam<SizeCase> {};

TEST_P(RealFftSizes, ForwardMatchesTheDftAndInverseReturnsNTimesTheInput)
{
    const auto c = GetParam();
    RealFft fft;
    fft.prepare(c.requested, true);
    ASSERT_EQ(fft.size(), c.size);
    ASSERT_EQ(fft.bins(), c.size / 2 + 1);

    const auto input = testing_support::noise(c.size, 0.8f, 3);
    std::copy(input.begin(), input.end(), fft.time());
    fft.forward();
    for (int t = 0; t < c.size; ++t)
        ASSERT_EQ(fft.time()[t], input[static_cast<std::size_t>(t)]) << "forward leaves its input alone";
    const auto expected = directDft(input);
    const float tolerance = 1e-4f * std::sqrt(static_cast<float>(c.size));
    for (int k = 0; k < fft.bins(); ++k) {
        EXPECT_NEAR(fft.spectrum()[k].re, expected[static_cast<std::size_t>(k)].re, tolerance) << "bin " << k;
        EXPECT_NEAR(fft.spectrum()[k].im, expected[static_cast<std::size_t>(k)].im, tolerance) << "bin " << k;
    }

    std::copy(fft.spectrum(), fft.spectrum() + fft.bins(), fft.inverseInput());
    fft.inverse();
    for (int t = 0; t < c.size; ++t)
        EXPECT_NEAR(fft.time()[t] / static_cast<float>(c.size), input[static_cast<std::size_t>(t)], 1e-5f) << t;
}

INSTANTIATE_TEST_SUITE_P(Sizes, RealFftSizes,
                         testing::Values(SizeCase{16, 16}, SizeCase{15, 16}, SizeCase{1, 2}, SizeCase{1000, 1000},
                                         SizeCase{2048, 2048}));

TEST(RealFft, PreparingAgainResizesAndDropsTheInverseWhenNotAsked)
{
    RealFft fft;
    fft.prepare(64, true);
    EXPECT_NE(fft.inverseInput(), nullptr);
    fft.prepare(32, false);
    EXPECT_EQ(fft.size(), 32);
    EXPECT_EQ(fft.inverseInput(), nullptr);
    fft.time()[1] = 1.0f;
    fft.forward();
    EXPECT_NEAR(fft.spectrum()[8].re, 0.0f, 1e-6f) << "a one-sample delay turns bin n/4 by a quarter turn";
    EXPECT_NEAR(fft.spectrum()[8].im, -1.0f, 1e-6f);
}

TEST(RealFft, TransformsPreparedOnManyThreadsAtOnceAllWork)
{
    // The planner is shared by the whole process; preparing and destroying on several threads at once must
    // neither crash nor yield a broken transform.
    constexpr int threadCount = 6;
    std::vector<int> correct(threadCount, 0);
    std::vector<std::thread> threads;
    for (int i = 0; i < threadCount; ++i)
        threads.emplace_back([i, &correct] {
            for (int round = 0; round < 20; ++round) {
                RealFft fft;
                const int n = 64 << (round % 4);
                fft.prepare(n, true);
                std::fill(fft.time(), fft.time() + n, 0.0f);
                fft.time()[0] = 1.0f;
                fft.forward();
                bool flat = true;
                for (int k = 0; k < fft.bins(); ++k)
                    flat = flat && fft.spectrum()[k].re == 1.0f && fft.spectrum()[k].im == 0.0f;
                correct[static_cast<std::size_t>(i)] += flat;
            }
        });
    for (auto& thread : threads)
        thread.join();
    for (int i = 0; i < threadCount; ++i)
        EXPECT_EQ(correct[static_cast<std::size_t>(i)], 20) << "thread " << i;
}

} // namespace
