#include "dsp/LowpassDecimator.h"

#include "dsp/MathConstants.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace tolmar {

void LowpassDecimator::setFactor(std::int32_t newFactor) noexcept
{
    factor = std::clamp(newFactor, 1, maxFactor);
    tapCount = factor == 1 ? 0 : tapsPerFactor * factor;
    // Blackman-windowed sinc with its cut-off at half the output rate, normalised to unity gain at DC.
    const double cutoff = 0.5 / factor; // cycles per input sample
    const double centre = 0.5 * (tapCount - 1);
    double sum = 0.0;
    for (int i = 0; i < tapCount; ++i) {
        const double t = i - centre;
        const double sinc = t == 0.0 ? 2.0 * cutoff : 2.0 * std::sin(twoPi * cutoff * t) / (twoPi * t);
        const double phase = twoPi * i / (tapCount - 1);
        const double blackman = 0.42 - 0.5 * std::cos(phase) + 0.08 * std::cos(2.0 * phase);
        taps[static_cast<std::size_t>(i)] = static_cast<float>(sinc * blackman);
        sum += sinc * blackman;
    }
    for (int i = 0; i < tapCount; ++i)
        taps[static_cast<std::size_t>(i)] = static_cast<float>(taps[static_cast<std::size_t>(i)] / sum);
    reset();
}

void LowpassDecimator::reset() noexcept
{
    for (auto& channel : history)
        channel.fill(0.0f);
    writeIndex = 0;
    groupCount = 0;
}

bool LowpassDecimator::push(const float* frame, int channels, float* outputs) noexcept
{
    if (tapCount == 0) {
        for (int c = 0; c < channels; ++c)
            outputs[c] = frame[c];
        return true;
    }
    for (int c = 0; c < channels; ++c) {
        auto& ring = history[static_cast<std::size_t>(c)];
        ring[static_cast<std::size_t>(writeIndex)] = frame[c];
        ring[static_cast<std::size_t>(writeIndex + tapCount)] = frame[c];
    }
    writeIndex = writeIndex + 1 == tapCount ? 0 : writeIndex + 1;
    if (++groupCount < factor)
        return false;
    groupCount = 0;

    // The oldest of the last tapCount inputs sits at writeIndex; the filter is symmetric, so the taps may
    // run in either direction.
    for (int c = 0; c < channels; ++c) {
        const float* run = history[static_cast<std::size_t>(c)].data() + writeIndex;
        // Eight running sums (the tap count is a multiple of eight) let the compiler keep them in vector
        // registers instead of waiting on one sum per tap.
        float sums[8] = {};
        for (int i = 0; i < tapCount; i += 8)
            for (int lane = 0; lane < 8; ++lane)
                sums[lane] += taps[static_cast<std::size_t>(i + lane)] * run[i + lane];
        outputs[c] = ((sums[0] + sums[4]) + (sums[1] + sums[5])) + ((sums[2] + sums[6]) + (sums[3] + sums[7]));
    }
    return true;
}

} // namespace tolmar
