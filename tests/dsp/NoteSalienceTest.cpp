#include "dsp/NoteSalience.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <string>
#include <vector>

namespace {

using tolmar::SpectralPeak;

double midiToHz(double note)
{
    return 440.0 * std::exp2((note - 69.0) / 12.0);
}

// The peaks of harmonic tones: partial k of a tone at MIDI `note` has `amplitudes`[k - 1] times `level`.
struct Tone {
    double note;
    std::vector<float> amplitudes;
    float level = 1.0f;
};

std::vector<SpectralPeak> peaksOf(const std::vector<Tone>& tones)
{
    std::vector<SpectralPeak> peaks;
    for (const auto& tone : tones)
        for (std::size_t k = 0; k < tone.amplitudes.size(); ++k)
            if (tone.amplitudes[k] > 0.0f)
                peaks.push_back({midiToHz(tone.note) * static_cast<double>(k + 1), tone.amplitudes[k] * tone.level});
    std::sort(peaks.begin(), peaks.end(),
              [](const SpectralPeak& a, const SpectralPeak& b) { return a.frequencyHz < b.frequencyHz; });
    // Partials of two tones that land in one bin are one peak, as a spectrum would show them.
    std::vector<SpectralPeak> merged;
    for (const auto& peak : peaks) {
        if (!merged.empty() && peak.frequencyHz - merged.back().frequencyHz < 1.0)
            merged.back().magnitude = std::hypot(merged.back().magnitude, peak.magnitude);
        else
            merged.push_back(peak);
    }
    return merged;
}

// Pitch-class shares (summing to 1) that the note search gives to the peaks of `tones`.
std::array<float, 12> shares(const std::vector<Tone>& tones)
{
    const auto peaks = peaksOf(tones);
    tolmar::NoteSalience notes;
    std::array<float, 12> weights{};
    const float total = notes.addPitchClassWeights(peaks.data(), static_cast<int>(peaks.size()), 4000.0, weights);
    EXPECT_GT(total, 0.0f);
    EXPECT_NEAR(std::accumulate(weights.begin(), weights.end(), 0.0f), total, 1e-4f * total);
    for (auto& weight : weights)
        weight /= total;
    return weights;
}

// Partial amplitudes, first to last.
const std::vector<float> falling{1.0f, 0.5f, 0.33f, 0.25f, 0.2f, 0.17f, 0.14f, 0.12f, 0.11f, 0.1f};
// A reed- or brass-like tone: a weak fundamental and the 5th partial strongest.
const std::vector<float> bright{0.3f, 0.6f, 0.8f, 0.9f, 1.0f, 0.7f, 0.5f, 0.4f, 0.3f, 0.25f, 0.2f, 0.15f};
// A sub-bass: strong fundamental, some saturation harmonics.
const std::vector<float> sub{1.0f, 0.3f, 0.35f, 0.15f, 0.2f, 0.08f, 0.1f, 0.05f};
const std::vector<float> pure{1.0f};
// A saturated bass: odd partials falling as 1/k, even ones weak.
const std::vector<float> squareLike{1.0f, 0.05f, 0.33f, 0.05f, 0.2f, 0.05f, 0.14f, 0.04f, 0.11f, 0.03f, 0.09f};

constexpr int C = 0, Cs = 1, D = 2, Ds = 3, E = 4, F = 5, G = 7, Gs = 8, A = 9, As = 10, B = 11;

struct NoteCase {
    std::string name;
    std::vector<Tone> tones;
    std::vector<int> heard; // pitch classes that must each get at least minimumShare
    float minimumShare;
    std::vector<int> unheard; // pitch classes that must get at most maximumStray
    float maximumStray;
};

TEST(NoteSalience, PartialsVoteForTheNoteTheyBelongTo)
{
    const std::vector<NoteCase> cases = {
        {"a pure tone is its own note", {{69, pure}}, {A}, 0.99f, {}, 0.0f},
        {"a falling series is one note", {{57, falling}}, {A}, 0.9f, {Cs, E}, 0.05f},
        // The 5th partial (the major third) is over three times as strong as the fundamental.
        {"a bright tone's strong 5th partial is not a major third", {{60, bright}}, {C}, 0.85f, {E, G}, 0.08f},
        // C#2 at 69 Hz, below any 80 Hz band: its 5th partial E#4 (F) must not vote.
        {"a bass below 80 Hz explains its own partials", {{37, falling, 2.0f}}, {Cs}, 0.85f, {F, Gs}, 0.08f},
        {"an 808 at 41 Hz explains its saturation", {{28, sub, 3.0f}}, {E}, 0.85f, {Gs, B}, 0.08f},
        // A G1 bass with odd partials only: its 5th partial (B) and 3rd (D) are its own.
        {"a square-like bass is one note", {{31, squareLike, 3.0f}}, {G}, 0.85f, {B, D}, 0.08f},
        // A minor triad of bright tones: the root and its minor third, not the 5th partials of A and E (C#
        // and G#). The fifth shares its even partials with the root, which may take some of its vote.
        {"a bright minor triad keeps its minor third",
         {{57, bright}, {60, bright}, {64, bright}},
         {A, C},
         0.25f,
         {Cs, Gs},
         0.08f},
        // D5 sits on the 12th partial of a G1 808; the melody note must keep its vote.
        {"a melody note on a bass partial keeps its vote", {{31, sub, 3.0f}, {74, pure}}, {G, D}, 0.25f, {B}, 0.05f},
        // A#4, the minor third, far quieter than a G1 808 and no partial of it: a loud bass sets no bar for
        // the voices above it.
        {"a quiet voice over a loud 808 keeps its vote",
         {{31, sub, 8.0f}, {70, falling, 0.1f}},
         {G, As},
         0.25f,
         {B, D},
         0.05f},
        // A C minor chord over its root: the chord's E-flat is no partial of the bass, and the bass's 5th
        // partial (E) must not outvote it.
        {"a minor chord over its root",
         {{36, falling, 2.0f}, {60, falling}, {63, falling}, {67, falling}},
         {C, Ds, G},
         0.12f,
         {E},
         0.05f},
    };
    for (const auto& c : cases) {
        const auto weights = shares(c.tones);
        for (const int pc : c.heard)
            EXPECT_GE(weights[static_cast<std::size_t>(pc)], c.minimumShare) << c.name << ", pitch class " << pc;
        for (const int pc : c.unheard)
            EXPECT_LE(weights[static_cast<std::size_t>(pc)], c.maximumStray) << c.name << ", pitch class " << pc;
    }
}

TEST(NoteSalience, NoPeaksNoVotesAndHighPartialsAreNotLookedFor)
{
    tolmar::NoteSalience notes;
    std::array<float, 12> weights{};
    EXPECT_EQ(notes.addPitchClassWeights(nullptr, 0, 4000.0, weights), 0.0f);
    const SpectralPeak silent[] = {{220.0, 0.0f}, {440.0, 0.0f}};
    EXPECT_EQ(notes.addPitchClassWeights(silent, 2, 4000.0, weights), 0.0f);
    EXPECT_EQ(weights, (std::array<float, 12>{}));

    // A tone above the highest partial frequency is not heard.
    const SpectralPeak high[] = {{midiToHz(93), 1.0f}};
    EXPECT_EQ(notes.addPitchClassWeights(high, 1, 1000.0, weights), 0.0f);
    EXPECT_GT(notes.addPitchClassWeights(high, 1, 4000.0, weights), 0.0f);
    EXPECT_GT(weights[A], 0.0f);
}

} // namespace
