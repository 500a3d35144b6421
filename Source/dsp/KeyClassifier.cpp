#include "dsp/KeyClassifier.h"

#include <algorithm>
#include <cmath>

namespace tolmar {

namespace {

constexpr double minimumEnergy = 1e-8;
constexpr double maximumDominance = 0.8;
constexpr double spreadFraction = 0.18;
constexpr int minimumSpread = 3;
constexpr double minimumVariance = 1e-12;
constexpr double minimumStrength = 0.6;
constexpr double minimumMargin = 0.045;

// Correlation of the centred chroma with `profile` rotated so that its tonic sits on `tonic`.
double correlate(const std::array<double, 12>& centred, double centredSquares, const std::array<float, 12>& profile,
                 int tonic)
{
    double mean = 0.0;
    for (const float value : profile)
        mean += static_cast<double>(value) / 12.0;

    double cross = 0.0;
    double profileSquares = 0.0;
    for (int i = 0; i < 12; ++i) {
        const double p = static_cast<double>(profile[static_cast<std::size_t>((i - tonic + 12) % 12)]) - mean;
        cross += centred[static_cast<std::size_t>(i)] * p;
        profileSquares += p * p;
    }
    return cross / std::sqrt(centredSquares * profileSquares);
}

} // namespace

KeyEstimate classifyChroma(const std::array<float, 12>& chroma) noexcept
{
    std::array<double, 12> values{};
    double sum = 0.0;
    double largest = 0.0;
    for (std::size_t i = 0; i < 12; ++i) {
        const float value = chroma[i];
        values[i] = std::isfinite(value) && value > 0.0f ? static_cast<double>(value) : 0.0;
        sum += values[i];
        largest = std::max(largest, values[i]);
    }

    if (sum < minimumEnergy || largest > maximumDominance * sum)
        return {};
    int spread = 0;
    for (const double value : values)
        if (value > spreadFraction * largest)
            ++spread;
    if (spread < minimumSpread)
        return {};

    const double mean = sum / 12.0;
    double centredSquares = 0.0;
    for (double& value : values) {
        value -= mean;
        centredSquares += value * value;
    }
    if (centredSquares < minimumVariance)
        return {};

    // Minor keys first, then major; on an exact tie the earlier index keeps the lead.
    double best = -2.0;
    double runnerUp = -2.0;
    std::int32_t key = -1;
    for (int index = 0; index < 24; ++index) {
        const double corr = correlate(values, centredSquares, index < 12 ? minorProfile : majorProfile, index % 12);
        if (corr > best) {
            runnerUp = best;
            best = corr;
            key = index;
        } else {
            runnerUp = std::max(runnerUp, corr);
        }
    }

    if (best >= minimumStrength && best - runnerUp >= minimumMargin)
        return {key, static_cast<float>(best)};
    return {};
}

} // namespace tolmar
