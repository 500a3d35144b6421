#pragma once

#include "dsp/MathConstants.h"

#include <cmath>

namespace tolmar {

// Periodic Hann window of `length` samples: 0.5 - 0.5 cos(2 pi i / length), computed in double. Its
// shifted copies at any hop dividing length / 2 sum to a constant. Pure; any thread.
inline void fillHannWindow(float* window, int length) noexcept
{
    for (int i = 0; i < length; ++i)
        window[i] = static_cast<float>(0.5 - 0.5 * std::cos(twoPi * static_cast<double>(i) / length));
}

} // namespace tolmar
