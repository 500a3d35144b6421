#pragma once

#include "dsp/Mode.h"
#include "dsp/ScaleSnapping.h"

#include <cstdint>
#include <memory>

namespace tolmar {

// What the processor asks of one block; passed by value, never kept.
struct Settings {
    Mode mode = Mode::mosquito; // effective mode 0..7
    std::int32_t root = 0;      // pitch class 0 = C .. 11 = B; clamped before use
    bool bypass = false;        // true while the unprocessed (latency-aligned) input should be heard
    Scale scale = Scale::minor; // scale for snapping in the tuned modes
    // The host's own bypass: with bypass, the dry input is heard exactly (only non-finite samples become
    // silence), without the output guard that the plug-in's own bypass keeps.
    bool hostBypass = false;
    // Live: the tuning styles run through the low-latency corrector (LiveCorrector) instead of the shifter, and
    // the whole path, dry line included, is delayed by liveLatency() instead of latency(). Other modes ignore it.
    bool live = false;
};

// Whether these settings take the low-latency path: Live in one of the four tuning styles.
bool usesLivePath(const Settings& settings) noexcept;

// The whole signal path of the main bus: pitch analysis, pitch and formant shifting (or, with Live in a tuning
// style, low-latency correction; switching paths cross-fades over 5 ms), the voice effect chains (modes 0..6) or the mastering chain (mode 7), a latency-compensated bypass fade, the ±0.97 output
// guard (not on the dry input while the host bypasses) and the input/output peak meters. One thread at a
// time; no locks, no allocation after prepare.
class Engine {
public:
    Engine();
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Sample rate in Hz (8000..384000), longest host block in samples (>= 1). Sizes all memory and resets.
    // Throws std::invalid_argument("Unsupported audio configuration") before changing anything. A failed
    // allocation (std::bad_alloc) leaves the engine unprepared: process passes audio through until a prepare
    // succeeds. Preparing thread, never concurrently with process.
    void prepare(double sampleRateHz, int maxBlock);

    // Returns every running state to silence; keeps sizes and coefficients. No-op before prepare. Any thread
    // not running process (the audio thread included); never allocates.
    void reset() noexcept;

    // Processes numSamples samples of 1 or 2 channels in place. Leaves the buffer untouched before prepare,
    // for other channel counts, no samples or a mode outside 0..7. Audio thread.
    void process(float* const* channels, int numChannels, int numSamples, Settings settings) noexcept;

    // Samples from input to output: latency() on the full path (every mode without Live, the same with
    // bypass), liveLatency() on the low-latency path; latencyFor() the one these settings take. Any thread.
    int latency() const noexcept;
    int liveLatency() const noexcept;
    int latencyFor(const Settings& settings) const noexcept;
    float inputLevel() const noexcept;    // linear peak of the input, falling with time; audio thread
    float outputLevel() const noexcept;   // linear peak of the output, falling with time; audio thread
    float detectedPitch() const noexcept; // Hz of the last pitch estimate, 0 for none; audio thread

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

} // namespace tolmar
