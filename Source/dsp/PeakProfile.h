#pragma once

#include <array>

namespace tolmar {

// One spectral peak of an analysis frame: refined frequency in Hz and magnitude (any scale, shared by
// the peaks of the frame).
struct SpectralPeak {
    double frequencyHz = 0.0;
    float magnitude = 0.0f;
};

// True when peaks[index] lies on a low harmonic (2nd to 6th) of a lower peak of the same frame that is
// at least as strong, within 25 cents of the integer ratio: then it is most likely an overtone of that
// peak rather than a note of its own. `peaks` is in ascending frequency. Pure, allocation-free; any thread.
bool isOvertone(const SpectralPeak* peaks, int index) noexcept;

// Adds the pitch-class weights of one frame's peaks (ascending frequency, all above 0 Hz) to `weights`
// (index 0 = C, nearest equal-tempered note at A4 = 440 Hz) and returns their sum. A peak weighs its
// magnitude to the power 0.7 divided by the square root of its frequency, so bright partials do not
// outvote the notes; an overtone (isOvertone) weighs a tenth of that, so that the partials of real
// instruments (the 3rd and 6th on the fifth, the 5th on the major third) do not vote as notes.
// Pure, allocation-free; any thread.
float addPitchClassWeights(const SpectralPeak* peaks, int count, std::array<float, 12>& weights) noexcept;

} // namespace tolmar
