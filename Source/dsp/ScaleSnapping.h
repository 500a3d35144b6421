#pragma once

#include <cstdint>

namespace tolmar {

// Scale used for snapping. Any value other than major behaves as (natural) minor.
enum class Scale : std::int32_t {
    minor = 0,
    major = 1,
};

// Nearest note of the scale on `root` (pitch class 0 = C … 11 = B, clamped) to `note`
// (a fractional MIDI note number). Ties go to the lower note; 0 for a NaN note. Pure; any thread.
float scaleTarget(float note, std::int32_t root, Scale scale) noexcept;

// scaleTarget with the natural minor scale. Pure; any thread.
float minorTarget(float note, std::int32_t root) noexcept;

// Shift in semitones of the wobbling high voice at `seconds`: 12 + 4 sin(2.5 pi t), period 0.8 s.
// Pure; any thread.
float wobbleSemitones(double seconds) noexcept;

} // namespace tolmar
