#include "dsp/FastMath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>

namespace {

float fromBits(std::uint32_t bits)
{
    float value = 0.0f;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
}

// Spacing of floats at the magnitude of value.
double ulpAt(double value)
{
    const float magnitude = std::fabs(static_cast<float>(value));
    return static_cast<double>(std::nextafter(magnitude, std::numeric_limits<float>::infinity()) - magnitude);
}

struct Sweep {
    double worst = 0.0; // largest error found, in the case's unit
    float at = 0.0f;
    std::uint64_t points = 0;
};

// Every 1021st float bit pattern (a prime stride reaches every exponent and a spread of mantissas) from lowest to
// highest, both included.
Sweep sweep(float lowest, float highest, const std::function<double(float)>& error)
{
    Sweep result;
    auto visit = [&](float x) {
        const double e = error(x);
        ++result.points;
        if (!(e <= result.worst)) { // NaN errors count as the worst
            result.worst = std::isnan(e) ? std::numeric_limits<double>::infinity() : e;
            result.at = x;
        }
    };
    for (std::uint64_t bits = 0; bits < 0x100000000ull; bits += 1021) {
        const float x = fromBits(static_cast<std::uint32_t>(bits));
        if (x >= lowest && x <= highest)
            visit(x);
    }
    visit(lowest);
    visit(highest);
    return result;
}

struct KernelCase {
    const char* name;
    float lowest;
    float highest;
    std::function<double(float)> error; // in ulps of the exact result, or absolute where stated
    double bound;
};

TEST(FastMath, EachKernelKeepsItsStatedAccuracyOverItsWholeInputRange)
{
    const KernelCase cases[] = {
        {"expFast, ulps", -80.0f, 80.0f,
         [](float x) {
             const double exact = std::exp(static_cast<double>(x));
             return std::fabs(tolmar::expFast(x) - exact) / ulpAt(exact);
         },
         2.0},
        {"exp2Fast, ulps", -126.0f, 126.0f,
         [](float x) {
             const double exact = std::exp2(static_cast<double>(x));
             return std::fabs(tolmar::exp2Fast(x) - exact) / ulpAt(exact);
         },
         2.0},
        {"log2Fast, ulps (at least 2^-23)", std::numeric_limits<float>::min(), std::numeric_limits<float>::max(),
         [](float x) {
             const double exact = std::log2(static_cast<double>(x));
             return std::fabs(tolmar::log2Fast(x) - exact) / std::max(ulpAt(exact), std::ldexp(1.0, -23));
         },
         2.0},
        {"tanhFast, absolute", -std::numeric_limits<float>::max(), std::numeric_limits<float>::max(),
         [](float x) { return std::fabs(tolmar::tanhFast(x) - std::tanh(static_cast<double>(x))); }, 1e-7},
    };
    for (const auto& c : cases) {
        const Sweep result = sweep(c.lowest, c.highest, c.error);
        EXPECT_GT(result.points, 1000000u) << c.name;
        EXPECT_LE(result.worst, c.bound) << c.name << ", worst at x = " << result.at;
    }
}

TEST(FastMath, OutsideTheirRangesKernelsClampAndStayFinite)
{
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(tolmar::expFast(1000.0f), tolmar::expFast(80.0f));
    EXPECT_EQ(tolmar::expFast(-inf), tolmar::expFast(-80.0f));
    EXPECT_EQ(tolmar::expFast(nan), tolmar::expFast(-80.0f)) << "NaN goes to the bottom of the range";
    EXPECT_EQ(tolmar::exp2Fast(inf), tolmar::exp2Fast(126.0f));
    EXPECT_EQ(tolmar::exp2Fast(-500.0f), tolmar::exp2Fast(-126.0f));
    EXPECT_TRUE(std::isfinite(tolmar::exp2Fast(nan)));

    // The clipper's ceiling: exactly +-1 from 9 on, never beyond 1 anywhere.
    for (const float x : {9.0001f, 20.0f, 1e30f, inf})
        EXPECT_EQ(tolmar::tanhFast(x), 1.0f) << x;
    for (const float x : {-9.0001f, -1e30f, -inf})
        EXPECT_EQ(tolmar::tanhFast(x), -1.0f) << x;
    const Sweep beyondOne = sweep(-std::numeric_limits<float>::max(), std::numeric_limits<float>::max(),
                                  [](float x) { return std::fabs(tolmar::tanhFast(x)) > 1.0f ? 1.0 : 0.0; });
    EXPECT_EQ(beyondOne.worst, 0.0) << "at x = " << beyondOne.at;
    EXPECT_EQ(tolmar::tanhFast(-0.0f), 0.0f);
    EXPECT_TRUE(std::signbit(tolmar::tanhFast(-0.0f)));
}

TEST(FastMath, PickChoosesByTheConditionWhateverTheValues)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(tolmar::pick(true, 1.5f, nan), 1.5f);
    EXPECT_TRUE(std::isnan(tolmar::pick(false, 1.5f, nan)));
    EXPECT_TRUE(std::signbit(tolmar::pick(true, -0.0f, 0.0f)));
    EXPECT_FALSE(std::signbit(tolmar::pick(false, -0.0f, 0.0f)));
}

} // namespace
