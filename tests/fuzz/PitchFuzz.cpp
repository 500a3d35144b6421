// tolmar::estimatePitch on arbitrary frames, counts and rates.
// Input: rate (double), count (uint16), tile flag (byte), then float samples. With the flag's low bit set
// the samples are repeated up to `count`, which gives exactly periodic frames of any shape: the detector's
// search and refinement run on those, not only on noise.
#include "FuzzCheck.h"

#include "dsp/PitchDetector.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    const auto rate = fuzzing::take<double>(data, size);
    const auto requested = fuzzing::take<std::uint16_t>(data, size);
    const auto tile = (fuzzing::take<std::uint8_t>(data, size) & 1u) != 0;

    std::vector<float> payload(size / sizeof(float));
    if (!payload.empty())
        std::memcpy(payload.data(), data, payload.size() * sizeof(float));

    // Exactly `count` samples on the heap, so that a read past them is an AddressSanitizer report.
    std::size_t count = requested % 4097u;
    if (!tile || payload.empty())
        count = std::min(count, payload.size());
    std::vector<float> frame(count);
    for (std::size_t i = 0; i < count; ++i)
        frame[i] = payload[i % payload.size()];

    const float pitch = tolmar::estimatePitch(frame.data(), frame.size(), rate);
    TOLMAR_FUZZ_REQUIRE(pitch == 0.0f || (std::isfinite(pitch) && pitch > 0.0f));
    if (pitch > 0.0f) {
        // The period found lies in the searched lags (1 ms to 1/65 s, at most 1022, within half the frame),
        // give or take the one-lag parabolic refinement.
        const double period = rate / static_cast<double>(pitch);
        const double shortest = std::max(2.0, std::floor(rate / 1000.0));
        const double longest = std::min({static_cast<double>(count / 2) - 1.0, 1022.0, std::floor(rate / 65.0)});
        TOLMAR_FUZZ_REQUIRE(period >= shortest - 1.0 - 1e-3 && period <= longest + 1.0 + 1e-3);
    }
    return 0;
}
