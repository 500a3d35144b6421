#pragma once

#include "dsp/MathConstants.h"

#include <cmath>

namespace tolmar {

// Coefficient k of the one-pole smoother y += k (x - y) whose corner lies at cornerHz. Pure; any thread.
inline float onePoleCoefficient(double cornerHz, double sampleRateHz) noexcept
{
    return static_cast<float>(1.0 - std::exp(-twoPi * cornerHz / sampleRateHz));
}

// Coefficient k of a one-pole smoother that covers 1 - 1/e of the distance to its target in
// timeConstantSamples, applied once per step of stepSamples. Pure; any thread.
inline float timeConstantCoefficient(double stepSamples, double timeConstantSamples) noexcept
{
    return static_cast<float>(1.0 - std::exp(-stepSamples / timeConstantSamples));
}

} // namespace tolmar
