#pragma once

#include <array>
#include <cstdint>

namespace tolmar {

// Decimates one or two channels in step by a whole factor behind a real anti-alias filter: a windowed-sinc
// low-pass (Blackman window, 24 taps per unit of factor) cut off at half the output rate. Everything from
// 0.62 of the output rate up is about 74 dB down or more, so nothing folds below 0.38 of the output rate,
// and the band below that edge passes within 0.02 dB. A factor of 1 passes samples through unfiltered.
// The taps are designed by setFactor into fixed storage: no call allocates, locks or throws.
class LowpassDecimator {
public:
    static constexpr int maxFactor = 32;
    static constexpr int maxChannels = 2;

    // Sets the factor (clamped to 1..maxFactor), designs the filter and clears the history. Any thread
    // that owns the decimator.
    void setFactor(std::int32_t newFactor) noexcept;
    // Clears the filter history and starts a new group of `factor` input frames; keeps the filter.
    void reset() noexcept;
    std::int32_t decimation() const noexcept { return factor; }

    // Adds one frame of `channels` (1 or 2) samples. When the frame completes a group, writes one filtered
    // output sample per channel to `outputs` and returns true. The output follows the input by
    // (taps - 1) / 2 input samples. Audio thread.
    bool push(const float* frame, int channels, float* outputs) noexcept;

private:
    static constexpr int tapsPerFactor = 24; // a multiple of eight: see push
    static constexpr int maxTaps = tapsPerFactor * maxFactor;

    std::array<float, maxTaps> taps{};
    // Each channel's last `tapCount` inputs, written twice (at i and i + tapCount) so that the newest
    // `tapCount` samples always lie in one contiguous run.
    std::array<std::array<float, 2 * maxTaps>, maxChannels> history{};
    std::int32_t factor = 1;
    std::int32_t tapCount = 0;
    std::int32_t writeIndex = 0;
    std::int32_t groupCount = 0;
};

} // namespace tolmar
