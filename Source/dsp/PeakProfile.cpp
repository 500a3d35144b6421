#include "dsp/PeakProfile.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace tolmar {

namespace {

// Chosen on rendered instrument loops (scripts/key-corpus; figures in the README). The 5th partial, a major
// third, is the one that matters most for minor keys; the 6th adds the fifth again. 25 cents holds the 5th
// partial (14 cents from the equal-tempered third) and a stretched piano partial while refined peak positions
// still err. A tenth rather than nothing keeps a real note standing on a louder note's partial audible.
constexpr int highestHarmonic = 6;
constexpr double toleranceCents = 25.0;
constexpr float overtoneWeight = 0.1f;
// A lower peak explains a higher one as its overtone when it is at least this strong relative to it.
constexpr float fundamentalStrength = 1.0f;
const double toleranceRatio = std::exp2(toleranceCents / 1200.0);

} // namespace

bool isOvertone(const SpectralPeak* peaks, int index) noexcept
{
    const SpectralPeak& candidate = peaks[index];
    const auto byFrequency = [](const SpectralPeak& peak, double hz) { return peak.frequencyHz < hz; };
    for (int harmonic = 2; harmonic <= highestHarmonic; ++harmonic) {
        // Lower peaks whose `harmonic`-th partial falls within the tolerance of the candidate.
        const double low = candidate.frequencyHz / (harmonic * toleranceRatio);
        const double high = candidate.frequencyHz * toleranceRatio / harmonic;
        if (high < peaks[0].frequencyHz)
            break;
        for (const SpectralPeak* p = std::lower_bound(peaks, peaks + index, low, byFrequency);
             p < peaks + index && p->frequencyHz <= high; ++p)
            if (p->magnitude >= fundamentalStrength * candidate.magnitude)
                return true;
    }
    return false;
}

float addPitchClassWeights(const SpectralPeak* peaks, int count, std::array<float, 12>& weights) noexcept
{
    float total = 0.0f;
    for (int i = 0; i < count; ++i) {
        const double frequency = peaks[i].frequencyHz;
        const double note = std::round(69.0 + 12.0 * std::log2(frequency / 440.0));
        const auto pitchClass = static_cast<std::size_t>(((static_cast<long long>(note) % 12) + 12) % 12);
        float weight = std::pow(peaks[i].magnitude, 0.7f) / std::sqrt(static_cast<float>(frequency));
        if (isOvertone(peaks, i))
            weight *= overtoneWeight;
        weights[pitchClass] += weight;
        total += weight;
    }
    return total;
}

} // namespace tolmar
