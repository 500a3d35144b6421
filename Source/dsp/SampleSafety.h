#pragma once

#include "dsp/FastMath.h"

#include <algorithm>
#include <cmath>

namespace tolmar {

// Magnitude to which incoming samples are limited.
constexpr float inputSampleLimit = 8.0f;
// Magnitude within which every written sample stays (about -0.3 dBFS).
constexpr float outputSampleLimit = 0.97f;

// NaN and infinities become 0, the rest is clamped to [-limit, limit]. Pure; any thread.
inline float cleanSample(float sample, float limit) noexcept
{
    return std::isfinite(sample) ? std::clamp(sample, -limit, limit) : 0.0f;
}

// Makes one incoming sample safe: NaN and infinities become 0, the rest is clamped to [-8, 8]. Pure; any thread.
inline float cleanSample(float sample) noexcept
{
    return cleanSample(sample, inputSampleLimit);
}

// The last step before a sample is written: NaN and infinities become 0, the rest is clamped to +-0.97.
// Branch-free, so loops over it vectorise. Pure; any thread.
inline float guardOutput(float sample) noexcept
{
    const float finite = pick(std::fabs(sample) <= 3.4028235e38f, sample, 0.0f);
    const float raised = pick(finite < -outputSampleLimit, -outputSampleLimit, finite);
    return pick(outputSampleLimit < raised, outputSampleLimit, raised);
}

// Restores the floating-point mode on leaving scope; while alive, denormal results and inputs are
// flushed to zero, so decaying recursive filters and delay lines never enter the slow denormal range.
class ScopedFlushDenormals {
public:
    ScopedFlushDenormals() noexcept;
    ~ScopedFlushDenormals();
    ScopedFlushDenormals(const ScopedFlushDenormals&) = delete;
    ScopedFlushDenormals& operator=(const ScopedFlushDenormals&) = delete;

private:
    unsigned long long savedMode;
};

} // namespace tolmar
