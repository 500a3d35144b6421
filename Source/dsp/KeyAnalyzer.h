#pragma once

#include "dsp/KeyClassifier.h"

#include <cstdint>
#include <memory>

namespace tolmar {

// Estimates the key of the beat on the side-chain. Low-pass decimation to about 12 kHz, 4096-point
// Hann-windowed spectra every 1024 decimated samples; the notes that explain each frame's spectral peaks
// from 25 Hz to 4 kHz (NoteSalience) vote for their pitch classes, one normalised profile per non-silent
// frame; after eight seconds' worth of non-silent frames the summed profile goes to classifyChroma and the
// decision stays fixed.
//
// Stages: 0 waiting, 1 analysing, 2 decided without a clear key, 3 key known.
// prepare sizes all memory; reset, restore, process and the getters never allocate, lock or throw.
class KeyAnalyzer {
public:
    KeyAnalyzer();
    ~KeyAnalyzer();
    KeyAnalyzer(const KeyAnalyzer&) = delete;
    KeyAnalyzer& operator=(const KeyAnalyzer&) = delete;

    // Host sample rate in Hz, 8000..384000. Keeps a found key (stage 3); a decision of no clear key
    // is dropped. Throws std::invalid_argument and changes nothing for an unsupported rate.
    // Preparing thread, never concurrently with process.
    void prepare(double sampleRateHz);

    // Forgets everything heard and any decision; stage 0. Audio thread.
    void reset() noexcept;

    // Resets, then fixes key index 0..23 with score 0 and stage 3; any other index only resets. Audio thread.
    void restore(std::int32_t key) noexcept;

    // Feeds `samples` samples of 1 or 2 side-chain channels. Ignored before prepare, for other channel
    // counts, and once decided. Audio thread.
    void process(const float* const* channels, int numChannels, int samples) noexcept;

    KeyEstimate result() const noexcept; // audio thread
    int stage() const noexcept;          // 0..3; audio thread
    float progress() const noexcept;     // fraction 0..1 of the beat needed for a decision; audio thread

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

} // namespace tolmar
