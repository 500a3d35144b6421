#include "dsp/PeakProfile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

namespace {

using tolmar::SpectralPeak;

double cents(double hz, double amount)
{
    return hz * std::exp2(amount / 1200.0);
}

TEST(PeakProfile, OvertoneIsALowHarmonicOfALowerPeakAtLeastAsStrong)
{
    // A 110 Hz peak of magnitude 1 below the candidate, sometimes with other peaks around it.
    struct Case {
        const char* name;
        std::vector<SpectralPeak> lower;
        SpectralPeak candidate;
        bool overtone;
    };
    const std::vector<Case> cases{
        {"2nd harmonic", {{110.0, 1.0f}}, {220.0, 0.5f}, true},
        {"3rd harmonic (the fifth)", {{110.0, 1.0f}}, {330.0, 0.5f}, true},
        {"5th harmonic (the major third)", {{110.0, 1.0f}}, {550.0, 0.5f}, true},
        {"6th harmonic", {{110.0, 1.0f}}, {660.0, 0.5f}, true},
        {"7th harmonic is beyond the low ones", {{110.0, 1.0f}}, {770.0, 0.5f}, false},
        {"as strong as its fundamental", {{110.0, 1.0f}}, {330.0, 1.0f}, true},
        {"stronger than its fundamental", {{110.0, 1.0f}}, {330.0, 1.2f}, false},
        {"20 cents sharp of the ratio", {{110.0, 1.0f}}, {cents(330.0, 20.0), 0.5f}, true},
        {"20 cents flat of the ratio", {{110.0, 1.0f}}, {cents(330.0, -20.0), 0.5f}, true},
        {"30 cents off the ratio", {{110.0, 1.0f}}, {cents(330.0, 30.0), 0.5f}, false},
        {"a fifth above: no integer ratio", {{110.0, 1.0f}}, {165.0, 0.5f}, false},
        {"the lowest peak", {}, {110.0, 0.5f}, false},
        {"a weak peak on the ratio, a strong one off it",
         {{cents(110.0, -60.0), 1.0f}, {110.0, 0.2f}, {cents(110.0, 60.0), 1.0f}},
         {330.0, 0.5f},
         false},
        {"the strong one among several near the ratio",
         {{cents(110.0, -20.0), 0.2f}, {110.0, 0.2f}, {cents(110.0, 20.0), 1.0f}, {200.0, 3.0f}},
         {330.0, 0.5f},
         true},
    };
    for (const auto& c : cases) {
        std::vector<SpectralPeak> peaks = c.lower;
        peaks.push_back(c.candidate);
        EXPECT_EQ(tolmar::isOvertone(peaks.data(), static_cast<int>(peaks.size()) - 1), c.overtone) << c.name;
    }
}

TEST(PeakProfile, OvertonesOfAChordWeighLittleAgainstItsNotes)
{
    // A3, C4 and E4, each with partials 1 to 6 falling as 1/sqrt(n). The 3rd, 5th and 6th partials land on
    // C#, G, G# and B, none of them a note of the chord. As overtones these weigh together less than a third
    // of the weakest chord tone; counted as notes (each peak on its own) they weighed nearly as much as it.
    const double fundamentals[] = {220.0, 261.63, 329.63};
    std::vector<SpectralPeak> peaks;
    for (const double f : fundamentals)
        for (int n = 1; n <= 6; ++n)
            peaks.push_back({n * f, 1.0f / std::sqrt(static_cast<float>(n))});
    std::sort(peaks.begin(), peaks.end(),
              [](const SpectralPeak& x, const SpectralPeak& y) { return x.frequencyHz < y.frequencyHz; });

    std::array<float, 12> weights{};
    const float total = tolmar::addPitchClassWeights(peaks.data(), static_cast<int>(peaks.size()), weights);
    std::array<float, 12> asNotes{};
    for (const auto& peak : peaks)
        tolmar::addPitchClassWeights(&peak, 1, asNotes); // a lone peak is never an overtone

    const auto weakestNote = [](const std::array<float, 12>& w) { return std::min({w[9], w[0], w[4]}); };
    const auto overtonesOnly = [](const std::array<float, 12>& w) { return w[1] + w[7] + w[8] + w[11]; };
    EXPECT_LT(overtonesOnly(weights), weakestNote(weights) / 3.0f);
    EXPECT_GT(overtonesOnly(asNotes), 0.8f * weakestNote(asNotes));

    float sum = 0.0f;
    for (const float w : weights)
        sum += w;
    EXPECT_FLOAT_EQ(total, sum);
}

} // namespace
