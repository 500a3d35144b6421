#pragma once

#include <memory>

namespace tolmar {

// Fixed-latency pitch and formant shifter: a short-time Fourier phase vocoder
// with peak-locked phases and a spectral-envelope formant move, which keeps
// onsets (hits, consonants) where they are instead of spreading them ahead. It makes no random
// choice: the same input and settings give the same output, run after run. Stereo-linked: its
// spectral decisions are taken once for both channels, and identical channels cost one.
//
// The delay from input to output is exactly inputLatency() + outputLatency()
// samples whatever the transposition, formant settings or host block sizes.
// configure() sizes all memory; reset(), the setters and process() never
// allocate, lock or make system calls.
class PitchShifter {
public:
    PitchShifter();
    ~PitchShifter();
    PitchShifter(const PitchShifter&) = delete;
    PitchShifter& operator=(const PitchShifter&) = delete;

    // One or two channels (clamped), windows of blockLength samples (made even, at least 16), a new frame every
    // interval samples (1 .. blockLength / 2). Throws std::bad_alloc and leaves the shifter unconfigured (process()
    // does nothing) when memory or a transform cannot be had. Any thread that is not running process(); allocates.
    void configure(int channels, int blockLength, int interval);
    // Clears all running state; audio thread safe.
    void reset();

    int inputLatency() const;  // samples
    int outputLatency() const; // samples

    // Every frequency is multiplied by 2^(semitones / 12); takes effect smoothly from the next frame.
    void setTransposeSemitones(float semitones);
    // Without compensation the spectral envelope follows the pitch and is then scaled by factor;
    // with compensation it is scaled by factor alone (1 keeps the formants in place).
    void setFormantFactor(float factor, bool compensatePitch);
    // Fundamental of the voice in cycles per sample as a hint for the envelope estimate; 0 estimates it.
    void setFormantBase(float cyclesPerSample);

    // Reads inputSamples from each input channel and writes outputSamples (equal to it) to each output channel.
    void process(const float* const* inputs, int inputSamples, float* const* outputs, int outputSamples);

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

} // namespace tolmar
