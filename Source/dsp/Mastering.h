#pragma once

#include <cstdint>
#include <vector>

namespace tolmar {

// The mastering chain of mode 7 for a whole stereo mix: rumble high-pass and gentle shelving tone
// (one-pole splits), a stereo-linked RMS compressor with fixed make-up gain, and a look-ahead peak
// limiter at -1 dBFS whose window maximum comes from a monotonic (ascending-minima style) queue.
// The signal is delayed by exactly the engine latency. Audio thread only after prepare.
class Mastering {
public:
    // Limiter ceiling: -1 dBFS as linear gain.
    static constexpr float ceiling = 0.89125097f;

    struct Peak {
        float level;        // peak magnitude
        std::int64_t index; // sampleIndex at which it entered
    };

    struct Frame {
        float left;
        float right;
    };

    // Sizes the delay lines (latencySamples each) and the queue; computes the coefficients. Allocates.
    void prepare(int latencySamples, double sampleRateHz);
    // Back to rest: states, detector and queue cleared, gain 1, delay lines zeroed. Never allocates.
    void reset() noexcept;

    // One stereo sample of cleaned input. Returns the limited output of latencySamples ago, before
    // the final safety clamp (safetyClamp). Audio thread.
    Frame process(float left, float right) noexcept;

    // Final guard of the limited output against float rounding: clamp to ±ceiling.
    static float safetyClamp(float sample) noexcept;

    int lookaheadSamples() const noexcept { return lookahead; }
    float limiterGain() const noexcept { return gain; }

private:
    std::vector<float> delay[2]; // look-ahead delay lines, left and right
    std::vector<Peak> peaks;     // circular storage of the running-maximum queue
    float dcState[2] = {};       // 20 Hz one-pole low-pass (rumble filter)
    float lowState[2] = {};      // 180 Hz one-pole low-pass
    float highState[2] = {};     // 6000 Hz one-pole low-pass
    float dcCoef = 0.0f;
    float lowCoef = 0.0f;
    float highCoef = 0.0f;
    float attackCoef = 0.0f;
    float releaseCoef = 0.0f;
    float limiterReleaseCoef = 0.0f;
    float envelope = 0.0f; // mean-square detector
    float gain = 1.0f;     // limiter gain
    std::int32_t writePos = 0;
    std::int32_t lookahead = 0;
    std::int32_t head = 0;
    std::int32_t tail = 0;
    std::int32_t count = 0;
    std::int64_t sampleIndex = 0;
};

} // namespace tolmar
