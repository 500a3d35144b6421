#include "dsp/PitchDetector.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace tolmar {

float cleanSample(float sample) noexcept
{
    if (!std::isfinite(sample))
        return 0.0f;
    return std::clamp(sample, -8.0f, 8.0f);
}

double refinePeriod(std::int32_t position, double before, double at, double after) noexcept
{
    const double divisor = 2.0 * (2.0 * at - before - after);
    // The negated comparison also sends a NaN divisor to the unrefined position.
    if (!(std::abs(divisor) > 1e-12))
        return position;
    return position + (after - before) / divisor;
}

float estimatePitch(const float* samples, std::size_t count, double sampleRateHz) noexcept
{
    if (count == 0 || samples == nullptr)
        return 0.0f;

    double energy = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        const double value = samples[i];
        energy += value * value;
    }
    // The negated comparison also rejects a NaN energy (non-finite samples).
    if (count < 64 || !(energy >= static_cast<double>(count) * 2e-6))
        return 0.0f;
    if (!std::isfinite(sampleRateHz) || sampleRateHz <= 0.0)
        return 0.0f;

    constexpr std::int32_t tableSize = 1024;
    // Bounds are computed in double first so that absurd rates cannot overflow the integer casts.
    const auto minLag = static_cast<std::int32_t>(std::clamp(sampleRateHz / 1000.0, 2.0, 1.0e6));
    const double halfCount = static_cast<double>(count / 2);
    const auto maxLag = static_cast<std::int32_t>(
        std::min({halfCount - 1.0, static_cast<double>(tableSize - 2), std::floor(sampleRateHz / 65.0)}));
    const std::size_t window = count / 2;

    std::array<double, tableSize> normalised{};
    double runningSum = 0.0;
    for (std::int32_t lag = 1; lag <= maxLag; ++lag) {
        const float* shifted = samples + lag;
        // Four independent partial sums let the compiler pipeline (and vectorise) the products.
        double partial[4] = {0.0, 0.0, 0.0, 0.0};
        std::size_t j = 0;
        for (; j + 4 <= window; j += 4)
            for (std::size_t k = 0; k < 4; ++k) {
                const double delta = samples[j + k] - shifted[j + k];
                partial[k] += delta * delta;
            }
        for (; j < window; ++j) {
            const double delta = samples[j] - shifted[j];
            partial[0] += delta * delta;
        }
        const double difference = (partial[0] + partial[1]) + (partial[2] + partial[3]);
        runningSum += difference;
        normalised[static_cast<std::size_t>(lag)] = runningSum > 0.0 ? difference * lag / runningSum : 1.0;
    }

    if (minLag >= maxLag)
        return 0.0f;

    std::int32_t lag = minLag;
    while (lag < maxLag && !(normalised[static_cast<std::size_t>(lag)] < 0.16))
        ++lag;
    if (lag >= maxLag)
        return 0.0f;

    while (lag < maxLag && normalised[static_cast<std::size_t>(lag + 1)] < normalised[static_cast<std::size_t>(lag)])
        ++lag;

    const auto at = [&normalised](std::int32_t index) { return normalised[static_cast<std::size_t>(index)]; };
    const double period = refinePeriod(lag, at(lag - 1), at(lag), at(std::min(lag + 1, maxLag)));
    return static_cast<float>(sampleRateHz / period);
}

} // namespace tolmar
