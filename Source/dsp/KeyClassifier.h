#pragma once

#include <array>
#include <cstdint>

namespace tolmar {

// A key decision. key: 0..11 minor with tonic C..B, 12..23 major with tonic key - 12, -1 none.
// score: the correlation that chose the key (0.6..1), 0 when key is -1 or the key was restored.
struct KeyEstimate {
    std::int32_t key = -1;
    float score = 0.0f;
};

// Krumhansl-Kessler probe-tone ratings, indexed by semitones above the tonic.
inline constexpr std::array<float, 12> minorProfile{6.33f, 2.68f, 3.52f, 5.38f, 2.60f, 3.53f,
                                                    2.54f, 4.75f, 3.98f, 2.69f, 3.34f, 3.17f};
inline constexpr std::array<float, 12> majorProfile{6.35f, 2.23f, 3.48f, 2.33f, 4.38f, 4.09f,
                                                    2.52f, 5.19f, 2.39f, 3.66f, 2.29f, 2.88f};

// Krumhansl-Schmuckler key finding: Pearson correlation of a pitch-class profile (index 0 = C,
// non-negative weights of any scale) with the 24 rotated major and minor profiles. Declines (key -1)
// when the profile is too concentrated, too flat, or the winner is weak or not clearly ahead.
// Non-finite and negative entries count as 0. Pure, allocation-free; any thread.
KeyEstimate classifyChroma(const std::array<float, 12>& chroma) noexcept;

} // namespace tolmar
