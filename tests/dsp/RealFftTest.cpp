#include "dsp/RealFft.h"

#include "Signals.h"

#include <fftw3.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <string>
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

// Prepares a transform of size n and checks that a unit impulse gives exactly 1 in every bin.
bool preparedTransformOfAnImpulseIsFlat(int n)
{
    RealFft fft;
    fft.prepare(n, true);
    std::fill(fft.time(), fft.time() + fft.size(), 0.0f);
    fft.time()[0] = 1.0f;
    fft.forward();
    bool flat = true;
    for (int k = 0; k < fft.bins(); ++k)
        flat = flat && fft.spectrum()[k].re == 1.0f && fft.spectrum()[k].im == 0.0f;
    return flat;
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
                correct[static_cast<std::size_t>(i)] += preparedTransformOfAnImpulseIsFlat(64 << (round % 4));
            }
        });
    for (auto& thread : threads)
        thread.join();
    for (int i = 0; i < threadCount; ++i)
        EXPECT_EQ(correct[static_cast<std::size_t>(i)], 20) << "thread " << i;
}

TEST(RealFft, AnotherPluginPlanningOnItsOwnThreadDoesNotRaceWithUs)
{
    // Another plug-in in the same host plans through the shared FFT library directly, knowing nothing of our
    // lock, while instances of ours prepare: both sides' transforms must stay right. Without the library's
    // planner lock the heap is corrupted within a few hundred plans; a race may still go unseen in one run.
#ifdef _WIN32
    GTEST_SKIP() << "the Windows module links a private copy of the FFT library: no other plug-in reaches its planner";
#endif
    std::atomic<bool> done{false};
    std::atomic<int> foreignWrong{0};
    std::thread foreign([&] {
        std::vector<float> in(256);
        std::vector<fftwf_complex> out(129);
        while (!done.load()) {
            for (int n : {96, 128, 160, 200, 256}) {
                const fftwf_plan plan = fftwf_plan_dft_r2c_1d(n, in.data(), out.data(), FFTW_ESTIMATE);
                std::fill(in.begin(), in.end(), 0.0f);
                in[0] = 1.0f;
                fftwf_execute(plan);
                for (int k = 0; k <= n / 2; ++k)
                    foreignWrong += out[static_cast<std::size_t>(k)][0] != 1.0f ||
                                    out[static_cast<std::size_t>(k)][1] != 0.0f;
                fftwf_destroy_plan(plan);
            }
        }
    });
    int ours = 0;
    for (int round = 0; round < 400; ++round) {
        ours += preparedTransformOfAnImpulseIsFlat(48 * (1 + round % 7) + 2 * (round % 3));
    }
    done = true;
    foreign.join();
    EXPECT_EQ(ours, 400);
    EXPECT_EQ(foreignWrong.load(), 0);
}

TEST(RealFft, PlansUseTheAvxKernelsOnACpuThatHasThem)
{
    // The library picks its vector kernels by CPU at run time; a build without its AVX kernels (the Windows
    // cross build once had only SSE2) runs the shifter's transforms at half the width.
    if (!__builtin_cpu_supports("avx"))
        GTEST_SKIP() << "this CPU has no AVX";
    constexpr int size = 2048;
    auto* time = static_cast<float*>(fftwf_malloc(sizeof(float) * size));
    auto* spectrum = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * (size / 2 + 1)));
    const fftwf_plan forward = fftwf_plan_dft_r2c_1d(size, time, spectrum, FFTW_ESTIMATE);
    const fftwf_plan inverse = fftwf_plan_dft_c2r_1d(size, spectrum, time, FFTW_ESTIMATE);
    for (const fftwf_plan plan : {forward, inverse}) {
        char* description = fftwf_sprint_plan(plan);
        EXPECT_NE(std::string(description).find("_avx"), std::string::npos) << description;
        free(description); // NOLINT: the library allocates the description with malloc
        fftwf_destroy_plan(plan);
    }
    fftwf_free(spectrum);
    fftwf_free(time);
}

} // namespace
