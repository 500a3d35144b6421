#pragma once

#include <array>
#include <cstdint>

namespace tolmar {

// One spectral peak of an analysis frame: refined frequency in Hz and magnitude (any scale, shared by
// the peaks of the frame).
struct SpectralPeak {
    double frequencyHz = 0.0;
    float magnitude = 0.0f;
};

// Hears the notes behind one frame's spectral peaks and votes for their pitch classes, so that partials
// vote for the note they belong to, whatever their strength relative to its fundamental. Method: harmonic-sum
// pitch salience with iterative estimation and cancellation (after Klapuri), on peaks rather than bins:
//   1. every candidate note (equal-tempered, A4 = 440 Hz, from B0 at 30.9 Hz to C7) collects the peaks within
//      40 cents of its first 16 harmonics up to the highest partial frequency;
//   2. its salience sums those partials' compressed magnitudes with weights falling with the harmonic
//      number, each partial first limited to the larger of its two neighbouring partials and to twice the
//      fundamental (spectral smoothness), so that a candidate which only shares scattered partials of other
//      notes (a subharmonic, the virtual root of a chord) gets little;
//   3. the most salient candidate is taken as a note and the partial amplitudes it claimed are taken out of
//      the peaks it used; repeat until the best candidate is weaker than a fifth of the strongest note from
//      B2 up (a loud bass sets no bar for the voices above it), than 3 % of the strongest of all, or, for a
//      candidate on the harmonic series of a note taken before, than a fifth of that note;
//   4. each pitch class votes once, with its strongest note: the note's claimed partials from 60 Hz up,
//      weighted and compressed.
// Memory is fixed in the object (no allocation); pure apart from its scratch arrays; one thread at a time.
class NoteSalience {
public:
    static constexpr int lowestNote = 23;  // B0, 30.9 Hz
    static constexpr int highestNote = 96; // C7, 2093 Hz
    static constexpr int noteCount = highestNote - lowestNote + 1;
    static constexpr int maxHarmonics = 16;
    static constexpr int maxPeaks = 1024;
    static constexpr int maxNotes = 16; // per frame

    NoteSalience() noexcept;

    // Adds the pitch-class weights of the notes heard in `peaks` (ascending frequency, all above 0 Hz; at
    // most maxPeaks are read) to `weights` (index 0 = C) and returns the weight added. Partials above
    // highestPartialHz are not looked for.
    float addPitchClassWeights(const SpectralPeak* peaks, int count, double highestPartialHz,
                               std::array<float, 12>& weights) noexcept;

private:
    void matchPartials(const SpectralPeak* peaks, int count, double highestPartialHz) noexcept;
    // Salience of a candidate from what is left of the peaks; the partial amplitudes it claims into `claimed`.
    float salience(int candidate, float* claimed) const noexcept;

    std::array<double, noteCount> candidateHz{};
    std::array<std::array<std::int16_t, maxHarmonics>, noteCount> partialPeak{}; // peak index, -1 for none
    std::array<std::int8_t, noteCount> harmonicCount{};
    std::array<float, maxPeaks> remaining{}; // compressed peak amplitudes that no note has explained yet
};

} // namespace tolmar
