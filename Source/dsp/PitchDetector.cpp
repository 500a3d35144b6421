#include "dsp/PitchDetector.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace tolmar {

double refinePeriod(std::int32_t position, double before, double at, double after) noexcept
{
    const double divisor = 2.0 * (2.0 * at - before - after);
    // The negated comparison also sends a NaN divisor to the unrefined position.
    if (!(std::abs(divisor) > 1e-12))
        return position;
    return position + (after - before) / divisor;
}

namespace {

// YIN's cumulative-mean-normalised difference for lags 1 .. maxLag over `window` samples. Four partial sums,
// each taking every fourth product, let the products run in parallel. On x86-64 with GCC or Clang the four sums
// are one vector, and an AVX build (chosen once at load time where the processor has it) holds them in a single
// register. Every build gives the same bits: each difference is a float, so its square is exact in double, and
// a fused multiply-add (in the FMA build) rounds the sum exactly as the separate addition does.
#if defined(__GNUC__) && defined(__x86_64__) && defined(__linux__)
typedef float Float4 __attribute__((vector_size(16)));
typedef double Double4 __attribute__((vector_size(32)));

// Sum of squared differences at `lanes` consecutive lags side by side, so that independent sums hide the latency
// of the additions; each lag's four partial sums are one vector.
template <std::int32_t lanes>
inline void differenceVectors(const float* samples, std::size_t window, std::int32_t first, Double4* partial) noexcept
{
    std::size_t j = 0;
    for (; j + 4 <= window; j += 4) {
        Float4 a;
        std::memcpy(&a, samples + j, sizeof(a));
        for (std::int32_t l = 0; l < lanes; ++l) {
            Float4 b;
            std::memcpy(&b, samples + j + first + l, sizeof(b));
            const Double4 delta = __builtin_convertvector(a - b, Double4);
            partial[l] += delta * delta;
        }
    }
    for (std::int32_t l = 0; l < lanes; ++l)
        for (std::size_t k = j; k < window; ++k) {
            const double delta = samples[k] - samples[k + first + l];
            partial[l][0] += delta * delta;
        }
}

__attribute__((target_clones("fma", "avx", "default")))
void normalisedDifferences(const float* samples, std::size_t window, std::int32_t maxLag, double* normalised) noexcept
{
    constexpr std::int32_t lanes = 4;
    double runningSum = 0.0;
    for (std::int32_t first = 1; first <= maxLag;) {
        Double4 partial[lanes] = {};
        const std::int32_t count = maxLag - first + 1 >= lanes ? lanes : 1;
        if (count == lanes)
            differenceVectors<lanes>(samples, window, first, partial);
        else
            differenceVectors<1>(samples, window, first, partial);
        for (std::int32_t l = 0; l < count; ++l) {
            const double difference = (partial[l][0] + partial[l][1]) + (partial[l][2] + partial[l][3]);
            runningSum += difference;
            const std::int32_t lag = first + l;
            normalised[lag] = runningSum > 0.0 ? difference * lag / runningSum : 1.0;
        }
        first += count;
    }
}
#else
void normalisedDifferences(const float* samples, std::size_t window, std::int32_t maxLag, double* normalised) noexcept
{
    double runningSum = 0.0;
    for (std::int32_t lag = 1; lag <= maxLag; ++lag) {
        const float* shifted = samples + lag;
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
        normalised[lag] = runningSum > 0.0 ? difference * lag / runningSum : 1.0;
    }
}
#endif

} // namespace

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
    normalisedDifferences(samples, window, maxLag, normalised.data());

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
    // The vertex is kept within one lag of the minimum found: on a nearly flat or bent stretch of the curve the
    // parabola's vertex can land anywhere, even at a zero or negative period (an infinite or negative pitch).
    const double refined = refinePeriod(lag, at(lag - 1), at(lag), at(std::min(lag + 1, maxLag)));
    const double period = std::clamp(refined, lag - 1.0, lag + 1.0);
    return static_cast<float>(sampleRateHz / period);
}

} // namespace tolmar
