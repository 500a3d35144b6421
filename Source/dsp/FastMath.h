#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

// Branch-free float kernels for the per-sample loops. Each states its accuracy against the C library over its
// whole input range; the tests sweep that range. None depends on compiler fast-math (which the core never uses).
namespace tolmar {

// condition ? a : b through the bit patterns. A plain conditional on floats keeps GCC (which must assume that
// float operations may trap) from vectorising the loop around it; a mask on integers does not.
inline float pick(bool condition, float a, float b) noexcept
{
    std::int32_t bitsA = 0;
    std::int32_t bitsB = 0;
    std::memcpy(&bitsA, &a, sizeof(a));
    std::memcpy(&bitsB, &b, sizeof(b));
    const std::int32_t mask = -static_cast<std::int32_t>(condition);
    const std::int32_t bits = (bitsA & mask) | (bitsB & ~mask);
    float result = 0.0f;
    std::memcpy(&result, &bits, sizeof(result));
    return result;
}

// e^r for |r| <= ln 2 / 2 by its Taylor polynomial to degree 7 (truncation below 1e-8).
inline float expReduced(float r) noexcept
{
    return 1.0f + r * (1.0f + r * (0.5f + r * (1.0f / 6.0f +
                                               r * (1.0f / 24.0f + r * (1.0f / 120.0f +
                                                                        r * (1.0f / 720.0f + r * (1.0f / 5040.0f)))))));
}

// p * 2^n for n in -126 .. 127, through the exponent bits.
inline float scaleByPowerOfTwo(float p, std::int32_t n) noexcept
{
    const std::int32_t bits = (n + 127) << 23;
    float scale = 0.0f;
    std::memcpy(&scale, &bits, sizeof(scale));
    return p * scale;
}

// e^x by Cody-Waite reduction: x = n ln 2 + r with |r| <= ln 2 / 2 (ln 2 split in two so that n ln 2 is exact).
// Within about 2 float ulps of expf for x in [-80, 80] (clamped there). Branch-free, so loops over it vectorise.
inline float expFast(float x) noexcept
{
    constexpr float log2e = 1.44269504f;
    constexpr float ln2High = 0.693359375f; // 355 / 512: its products with n stay exact
    constexpr float ln2Low = -2.12194440e-4f;
    const float raised = pick(x > -80.0f, x, -80.0f); // NaN goes to -80
    const float clamped = pick(raised < 80.0f, raised, 80.0f);
    const auto n = static_cast<std::int32_t>(clamped * log2e + 128.5f) - 128; // nearest integer, from a positive
    const float nf = static_cast<float>(n);
    return scaleByPowerOfTwo(expReduced((clamped - nf * ln2High) - nf * ln2Low), n);
}

// 2^x for x in [-126, 126] (clamped there): x = n + f with |f| <= 1/2 (f exact), 2^f = e^(f ln 2). Within 2 float
// ulps of the exact power. Branch-free.
inline float exp2Fast(float x) noexcept
{
    const float raised = pick(x > -126.0f, x, -126.0f);
    const float clamped = pick(raised < 126.0f, raised, 126.0f);
    const auto n = static_cast<std::int32_t>(clamped + 128.5f) - 128;
    return scaleByPowerOfTwo(expReduced((clamped - static_cast<float>(n)) * 0.693147181f), n);
}

// log2 x for positive normal x: exponent plus log2 of the mantissa taken to [sqrt(1/2), sqrt(2)), the latter as
// (2 / ln 2) atanh(t) with t = (m - 1) / (m + 1), |t| < 0.172, series to t^9 (truncation below 1e-9). Within 2 float
// ulps of the exact logarithm, and within 2^-22 where it is near 0. Branch-free.
inline float log2Fast(float x) noexcept
{
    std::int32_t bits = 0;
    std::memcpy(&bits, &x, sizeof(bits));
    std::int32_t exponent = (bits >> 23) - 127;
    bits = (bits & 0x007FFFFF) | 0x3F800000;
    float m = 0.0f;
    std::memcpy(&m, &bits, sizeof(m));
    const bool high = m > 1.41421356f;
    m = pick(high, 0.5f * m, m);
    exponent += static_cast<std::int32_t>(high);
    const float t = (m - 1.0f) / (m + 1.0f);
    const float t2 = t * t;
    const float series =
        t * (2.88539008f + t2 * (0.961796694f + t2 * (0.577078016f + t2 * (0.412198583f + t2 * 0.320598898f))));
    return static_cast<float>(exponent) + series;
}

// Hyperbolic tangent within 1e-7 of tanh: a Taylor polynomial near 0, 1 - 2 / (e^2|x| + 1) elsewhere; exactly ±1
// beyond |x| = 9, so a clipper's ceiling is never passed. Branch-free.
inline float tanhFast(float x) noexcept
{
    const float a = std::fabs(x);
    const float x2 = x * x;
    const float near = x * (1.0f + x2 * (-1.0f / 3.0f + x2 * (2.0f / 15.0f + x2 * (-17.0f / 315.0f))));
    const float far = 1.0f - 2.0f / (expFast(2.0f * a) + 1.0f);
    return pick(a < 0.125f, near, std::copysign(pick(a > 9.0f, 1.0f, far), x));
}

} // namespace tolmar
