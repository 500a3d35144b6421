#pragma once

#include <cmath>

namespace tolmar {

constexpr double minSampleRateHz = 8000.0;
constexpr double maxSampleRateHz = 384000.0;

// True for the sample rates the core processes: 8 kHz .. 384 kHz. Pure; any thread.
inline bool isSupportedSampleRate(double sampleRateHz) noexcept
{
    return std::isfinite(sampleRateHz) && sampleRateHz >= minSampleRateHz && sampleRateHz <= maxSampleRateHz;
}

} // namespace tolmar
