#pragma once

#include <cstddef>
#include <cstdint>

namespace tolmar {

// Vertex of the parabola through (position - 1, before), (position, at), (position + 1, after):
// the refined position of a minimum or maximum. Returns position itself for a flat curve. Pure; any thread.
double refinePeriod(std::int32_t position, double before, double at, double after) noexcept;

// Fundamental frequency in Hz of `count` mono samples at `sampleRateHz`, or 0 when none is found.
// YIN (cumulative-mean-normalised difference) with an absolute threshold of 0.16, lags from 1 ms
// to 1/65 s and at most 1022. Reads exactly `count` samples; allocates nothing. Pure; any thread.
float estimatePitch(const float* samples, std::size_t count, double sampleRateHz) noexcept;

} // namespace tolmar
