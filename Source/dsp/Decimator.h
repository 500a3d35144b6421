#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

namespace tolmar {

// Whole-number decimation factor that brings sampleRateHz down to about targetRateHz (never below it
// for rates above the target); 1 for rates at or below it.
inline std::int32_t decimationFactor(double sampleRateHz, double targetRateHz) noexcept
{
    return std::max(1, static_cast<std::int32_t>(sampleRateHz / targetRateHz));
}

// Box-car decimator of up to `Channels` channels in step: the mean of each group of `factor` frames. The box
// is the only anti-alias filter, enough for pitch and key analysis. Sum is float or double, the precision of
// the running sums.
template <typename Sum, int Channels = 1> class BoxcarDecimator {
public:
    // Sets the factor (at least 1) and starts a new group.
    void setFactor(std::int32_t newFactor) noexcept
    {
        factor = std::max(1, newFactor);
        reset();
    }
    // Starts a new group; keeps the factor.
    void reset() noexcept
    {
        sums.fill(Sum(0));
        count = 0;
    }
    std::int32_t decimation() const noexcept { return factor; }

    // Adds one frame of `channels` (1 .. Channels) samples; channels not given add nothing. When the frame
    // completes a group, writes the group's means of the given channels to means and returns true.
    bool push(const float* frame, int channels, float* means) noexcept
    {
        for (int c = 0; c < channels; ++c)
            sums[static_cast<std::size_t>(c)] += static_cast<Sum>(frame[c]);
        if (++count < factor)
            return false;
        for (int c = 0; c < channels; ++c)
            means[c] = static_cast<float>(sums[static_cast<std::size_t>(c)] / static_cast<Sum>(factor));
        reset();
        return true;
    }

    // One channel's form of push.
    bool push(float sample, float& mean) noexcept { return push(&sample, 1, &mean); }

private:
    std::array<Sum, Channels> sums{};
    std::int32_t factor = 1;
    std::int32_t count = 0;
};

} // namespace tolmar
