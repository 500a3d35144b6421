#include "dsp/SampleSafety.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using tolmar::cleanSample;
using tolmar::guardOutput;

constexpr float inf = std::numeric_limits<float>::infinity();
constexpr float nan = std::numeric_limits<float>::quiet_NaN();
constexpr float largest = std::numeric_limits<float>::max();
constexpr float tiny = std::numeric_limits<float>::denorm_min();

struct SafetyCase {
    float in;
    float cleaned; // cleanSample
    float guarded; // guardOutput
};

TEST(SampleSafety, CleaningAndTheOutputGuardMapNonFiniteToSilenceAndClamp)
{
    const SafetyCase cases[] = {
        {nan, 0.0f, 0.0f},         {-nan, 0.0f, 0.0f},
        {inf, 0.0f, 0.0f},         {-inf, 0.0f, 0.0f},
        {9.5f, 8.0f, 0.97f},       {-100.0f, -8.0f, -0.97f},
        {8.0f, 8.0f, 0.97f},       {-8.0f, -8.0f, -0.97f},
        {0.97f, 0.97f, 0.97f},     {-0.9700001f, -0.9700001f, -0.97f},
        {0.25f, 0.25f, 0.25f},     {largest, 8.0f, 0.97f},
        {-largest, -8.0f, -0.97f}, {tiny, tiny, tiny},
        {-0.0f, -0.0f, -0.0f},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cleanSample(c.in), c.cleaned) << "input " << c.in;
        EXPECT_EQ(guardOutput(c.in), c.guarded) << "input " << c.in;
        EXPECT_EQ(std::signbit(guardOutput(c.in)), std::signbit(c.guarded)) << "input " << c.in;
    }
    EXPECT_EQ(cleanSample(2.0e6f, 1.0e6f), 1.0e6f) << "a limit of the caller's";
    EXPECT_EQ(cleanSample(-nan, 1.0e6f), 0.0f);
}

// Volatile keeps the compiler from folding the arithmetic at build time.
float halve(float x)
{
    volatile float value = x;
    return value * 0.5f;
}

TEST(SampleSafety, DenormalScopeFlushesWhileAliveAndRestoresTheModeAfterwards)
{
    const float smallestNormal = std::numeric_limits<float>::min();
    ASSERT_GT(halve(smallestNormal), 0.0f) << "denormals are kept outside the scope";
    {
        const tolmar::ScopedFlushDenormals flush;
#if defined(__SSE__) || defined(_M_X64) || defined(__aarch64__)
        EXPECT_EQ(halve(smallestNormal), 0.0f);
#endif
        {
            const tolmar::ScopedFlushDenormals nested;
        }
#if defined(__SSE__) || defined(_M_X64) || defined(__aarch64__)
        EXPECT_EQ(halve(smallestNormal), 0.0f) << "a nested scope restores the flushing mode it found";
#endif
    }
    EXPECT_GT(halve(smallestNormal), 0.0f);
}

} // namespace
