#include "dsp/NoteSalience.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace tolmar {

namespace {

// The constants were chosen on rendered loops of several genres (scripts/key-corpus; figures in the README).
// 40 cents holds the 5th partial (14 cents flat of the equal-tempered third), stretched piano partials and
// slightly detuned samples while neighbouring semitones stay apart.
const double toleranceRatio = std::exp2(40.0 / 1200.0);
// Magnitudes are compressed before they are summed, so that a loud bass does not drown the chords.
constexpr float magnitudePower = 0.5f;
// A partial may be at most this many times the (compressed) fundamental: bright reeds and brass reach about
// twice; a candidate without a fundamental claims nothing.
constexpr float partialOverFundamental = 2.0f;
// The search stops at a note weaker than this share of the frame's strongest note from B2 up: a loud bass sets
// no bar for the quieter voices above it, which are what tell minor from major. A note on the harmonic series
// of a note taken before it must reach the same share of that note, since it may be no more than the
// left-over of its partials (the odd partials of a square-like or saturated bass); and every note must reach
// a small share of the strongest of all.
constexpr float weakestNote = 0.2f;
constexpr double lowestBarSettingHz = 120.0;
constexpr float weakestOfAll = 0.03f;
// A note votes with the partials it has from 60 Hz up, compressed again: a kick drum's pure low thump is
// heard as a note, so it explains nothing else away, but does not vote.
constexpr double lowestVotingHz = 60.0;
constexpr float votePower = 0.3f;

// Harmonic weights h^-0.3: falling slowly enough that a bright tone's upper partials add up to its note.
const std::array<float, NoteSalience::maxHarmonics> harmonicWeights = [] {
    std::array<float, NoteSalience::maxHarmonics> weights{};
    for (std::size_t h = 0; h < weights.size(); ++h)
        weights[h] = static_cast<float>(std::pow(static_cast<double>(h + 1), -0.3));
    return weights;
}();

// True when `hz` lies within the tolerance of the 2nd or a higher harmonic of `lowerHz`.
bool onHarmonicSeriesOf(double hz, double lowerHz) noexcept
{
    const double ratio = hz / lowerHz;
    const double harmonic = std::round(ratio);
    return harmonic >= 2.0 && ratio <= harmonic * toleranceRatio && ratio >= harmonic / toleranceRatio;
}

} // namespace

NoteSalience::NoteSalience() noexcept
{
    for (int n = 0; n < noteCount; ++n)
        candidateHz[static_cast<std::size_t>(n)] = 440.0 * std::exp2((lowestNote + n - 69) / 12.0);
}

void NoteSalience::matchPartials(const SpectralPeak* peaks, int count, double highestPartialHz) noexcept
{
    const auto byFrequency = [](const SpectralPeak& peak, double hz) { return peak.frequencyHz < hz; };
    for (int n = 0; n < noteCount; ++n) {
        auto& partials = partialPeak[static_cast<std::size_t>(n)];
        int harmonics = 0;
        for (; harmonics < maxHarmonics; ++harmonics) {
            const double target = (harmonics + 1) * candidateHz[static_cast<std::size_t>(n)];
            if (target > highestPartialHz)
                break;
            // The strongest peak within the tolerance of the harmonic.
            int best = -1;
            for (const SpectralPeak* p = std::lower_bound(peaks, peaks + count, target / toleranceRatio, byFrequency);
                 p < peaks + count && p->frequencyHz <= target * toleranceRatio; ++p)
                if (best < 0 || p->magnitude > peaks[best].magnitude)
                    best = static_cast<int>(p - peaks);
            partials[static_cast<std::size_t>(harmonics)] = static_cast<std::int16_t>(best);
        }
        harmonicCount[static_cast<std::size_t>(n)] = static_cast<std::int8_t>(harmonics);
    }
}

float NoteSalience::salience(int candidate, float* claimed) const noexcept
{
    const auto& partials = partialPeak[static_cast<std::size_t>(candidate)];
    const int harmonics = harmonicCount[static_cast<std::size_t>(candidate)];
    float left[maxHarmonics]; // what earlier notes have not explained
    for (int h = 0; h < harmonics; ++h) {
        const int peak = partials[static_cast<std::size_t>(h)];
        left[h] = peak < 0 ? 0.0f : remaining[static_cast<std::size_t>(peak)];
    }
    float sum = 0.0f;
    for (int h = 0; h < harmonics; ++h) {
        claimed[h] = left[h];
        if (h > 0) {
            // Spectral smoothness: a partial standing out above both neighbours belongs partly to another
            // note (a chord tone on the bass's harmonic series), and none may outgrow the fundamental much.
            const float below = left[h - 1];
            const float above = h + 1 < harmonics ? left[h + 1] : 0.0f;
            claimed[h] = std::min({left[h], std::max(below, above), partialOverFundamental * left[0]});
        }
        sum += harmonicWeights[static_cast<std::size_t>(h)] * claimed[h];
    }
    return sum;
}

float NoteSalience::addPitchClassWeights(const SpectralPeak* peaks, int count, double highestPartialHz,
                                         std::array<float, 12>& weights) noexcept
{
    count = std::clamp(count, 0, maxPeaks);
    for (int i = 0; i < count; ++i)
        remaining[static_cast<std::size_t>(i)] = std::pow(std::max(peaks[i].magnitude, 0.0f), magnitudePower);
    matchPartials(peaks, count, highestPartialHz);

    // Each pitch class votes once per frame, with its strongest note: octave doublings and a note taken twice
    // (its first pick left some of it) do not count twice.
    std::array<float, 12> votes{};
    float strongestAboveBass = 0.0f;
    float strongest = 0.0f;
    std::array<double, maxNotes> takenHz{};
    std::array<float, maxNotes> takenSaliences{};
    for (int found = 0; found < maxNotes; ++found) {
        int best = -1;
        float bestSalience = 0.0f;
        float claimed[maxHarmonics];
        for (int n = 0; n < noteCount; ++n) {
            const float s = salience(n, claimed);
            if (s > bestSalience) {
                bestSalience = s;
                best = n;
            }
        }
        if (best < 0 || bestSalience < weakestNote * strongestAboveBass || bestSalience < weakestOfAll * strongest)
            break;
        const double fundamentalHz = candidateHz[static_cast<std::size_t>(best)];
        bool leftOverPartial = false;
        for (std::size_t t = 0; t < static_cast<std::size_t>(found); ++t)
            leftOverPartial |=
                bestSalience < weakestNote * takenSaliences[t] && onHarmonicSeriesOf(fundamentalHz, takenHz[t]);
        if (leftOverPartial)
            break;
        takenHz[static_cast<std::size_t>(found)] = fundamentalHz;
        takenSaliences[static_cast<std::size_t>(found)] = bestSalience;
        strongest = std::max(strongest, bestSalience);
        if (fundamentalHz >= lowestBarSettingHz)
            strongestAboveBass = std::max(strongestAboveBass, bestSalience);

        salience(best, claimed);
        const auto& partials = partialPeak[static_cast<std::size_t>(best)];
        float audible = 0.0f;
        for (int h = 0; h < harmonicCount[static_cast<std::size_t>(best)]; ++h) {
            if ((h + 1) * fundamentalHz >= lowestVotingHz)
                audible += harmonicWeights[static_cast<std::size_t>(h)] * claimed[h];
            const int peak = partials[static_cast<std::size_t>(h)];
            if (peak >= 0)
                remaining[static_cast<std::size_t>(peak)] =
                    std::max(0.0f, remaining[static_cast<std::size_t>(peak)] - claimed[h]);
        }
        auto& vote = votes[static_cast<std::size_t>((lowestNote + best) % 12)];
        vote = std::max(vote, std::pow(audible, votePower));
    }

    float total = 0.0f;
    for (std::size_t pc = 0; pc < 12; ++pc) {
        weights[pc] += votes[pc];
        total += votes[pc];
    }
    return total;
}

} // namespace tolmar
