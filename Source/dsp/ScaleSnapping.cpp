#include "dsp/ScaleSnapping.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace tolmar {

namespace {
constexpr std::array<std::int32_t, 7> minorDegrees{0, 2, 3, 5, 7, 8, 10};
constexpr std::array<std::int32_t, 7> majorDegrees{0, 2, 4, 5, 7, 9, 11};
} // namespace

float scaleTarget(float note, std::int32_t root, Scale scale) noexcept
{
    root = std::clamp(root, 0, 11);
    const auto& degrees = scale == Scale::major ? majorDegrees : minorDegrees;

    float best = 0.0f;
    float bestDistance = 1000.0f;
    // A NaN note has no base octave; every distance comparison below fails and 0 is returned.
    const float octaves = std::floor((note - static_cast<float>(root)) / 12.0f);
    if (!std::isfinite(octaves) || std::abs(octaves) > 1.0e6f)
        return 0.0f;
    const std::int32_t base = root + 12 * static_cast<std::int32_t>(octaves);

    for (std::int32_t octave = -12; octave <= 12; octave += 12) {
        for (const std::int32_t degree : degrees) {
            const auto candidate = static_cast<float>(base + octave + degree);
            const float distance = std::abs(candidate - note);
            if (distance < bestDistance) {
                bestDistance = distance;
                best = candidate;
            }
        }
    }
    return best;
}

float minorTarget(float note, std::int32_t root) noexcept { return scaleTarget(note, root, Scale::minor); }

float wobbleSemitones(double seconds) noexcept
{
    const auto sine = static_cast<float>(std::sin(seconds * 7.853981633974483));
    return 12.0f + 4.0f * sine;
}

} // namespace tolmar
