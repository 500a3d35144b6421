// tolmar::scaleTarget for any note, root and scale value.
// Input: note (float), root (int32), scale (int32).
#include "FuzzCheck.h"

#include "dsp/ScaleSnapping.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    const auto note = fuzzing::take<float>(data, size);
    const auto root = fuzzing::take<std::int32_t>(data, size);
    const auto scale = static_cast<tolmar::Scale>(fuzzing::take<std::int32_t>(data, size));

    const float target = tolmar::scaleTarget(note, root, scale);
    if (std::isnan(note)) {
        TOLMAR_FUZZ_REQUIRE(target == 0.0f);
        return 0;
    }
    TOLMAR_FUZZ_REQUIRE(target == 0.0f || (std::isfinite(target) && std::floor(target) == target));
    if (target != 0.0f)
        TOLMAR_FUZZ_REQUIRE(std::abs(target - note) <= 1.0f);

    // Within the range of voices (and far beyond) the target is the nearest note of the scale: never more
    // than a semitone away (the widest step of both scales is two), and a note of the scale.
    if (std::abs(note) <= 1.0e5f) {
        TOLMAR_FUZZ_REQUIRE(std::abs(target - note) <= 1.0f);
        constexpr std::array<int, 7> minorDegrees{0, 2, 3, 5, 7, 8, 10};
        constexpr std::array<int, 7> majorDegrees{0, 2, 4, 5, 7, 9, 11};
        const auto& degrees = scale == tolmar::Scale::major ? majorDegrees : minorDegrees;
        const int clampedRoot = std::clamp(root, 0, 11);
        const int degree = ((static_cast<int>(target) - clampedRoot) % 12 + 12) % 12;
        TOLMAR_FUZZ_REQUIRE(std::find(degrees.begin(), degrees.end(), degree) != degrees.end());
    }
    return 0;
}
