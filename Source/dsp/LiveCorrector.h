#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace tolmar {

// Low-latency pitch corrector for singing through the tuner while recording: time-domain pitch-synchronous
// overlap-add (TD-PSOLA). Pitch marks sit one period apart on the input's waveform peaks (found on the channels'
// sum, so both channels cut at the same samples); every new period of the output is a grain read from the
// nearest past mark, so a grain keeps the vowel's spectral envelope (its formants) whatever the new spacing.
//
// A grain fades in over a short fixed time and out over a period (or over its new spacing, when that is longer),
// so the output never waits for a whole period of input: the delay is the fade-in plus the look-ahead that places
// a mark on its peak. The overlapping grains are normalised by the sum of their windows, which makes a steady
// input at ratio 1, and every unvoiced stretch (breaths, consonants: marks on a fixed grid, no correction), pass
// through exactly, delayed by latency() samples. A formant factor other than 1 reads each grain faster or slower.
//
// prepare() sizes all memory; reset(), setPitch() and process() never allocate, lock or throw.
class LiveCorrector {
public:
    // One or two channels at sampleRateHz. Allocates; not on the audio thread.
    void prepare(int channels, double sampleRateHz);
    // Forgets all input and grains. Audio thread safe.
    void reset() noexcept;

    // Input to output delay in samples: 192 at 48 kHz, 176 at 44.1 kHz, 384 at 96 kHz.
    int latency() const noexcept { return fadeInSamples + lookAheadSamples; }
    // Longest period (lowest voice) the marks follow, in samples: 1/60 s.
    int longestPeriod() const noexcept { return maxPeriod; }

    // The voice's period in samples (0 or less: unvoiced or unknown), the pitch ratio to apply (clamped to
    // 0.5 .. 2) and the formant factor (1 keeps the formants; clamped to 0.5 .. 2). Used from the next mark and
    // grain on. Audio thread.
    void setPitch(float periodSamples, float ratio, float formantFactor) noexcept;

    // Corrects `samples` samples of each channel; inputs and outputs may be the same buffers. Audio thread.
    void process(const float* const* inputs, float* const* outputs, int samples) noexcept;
    // Only keeps the input and its marks, for a cheap standby: the next process() starts its grains at once and
    // sounds exactly as if it had been correcting all along at ratio 1. Audio thread.
    void listen(const float* const* inputs, int samples) noexcept;

private:
    struct Mark {
        std::int64_t position = 0; // the sample the peak was found at
        double peak = 0.0;         // the peak between samples, where grains read from
        float period = 0.0f;       // samples; 0 on the unvoiced grid
    };
    struct Grain {
        double centre = 0.0; // output time of the window's peak
        double source = 0.0; // input time read at the centre
        int fadeIn = 1;
        int fadeOut = 1;
        float rate = 1.0f; // input samples read per output sample (the formant factor)
    };
    static constexpr int markCount = 16;
    static constexpr int grainCount = 8;

    void keepInput(const float* const* inputs, int index) noexcept; // then placeMarks
    void placeMarks() noexcept;             // after input sample `written - 1` arrived
    void startGrains(std::int64_t outputTime) noexcept;
    const Mark* markAtOrBefore(double limit) const noexcept;
    float inputAt(int channel, double time) const noexcept;

    int channelCount = 0;
    int fadeInSamples = 144;
    int lookAheadSamples = 48;
    int minPeriod = 48;
    int maxPeriod = 800;
    int unvoicedSpacing = 144;
    std::int64_t historyMask = 0;
    std::array<std::vector<float>, 2> history; // input, per channel, by input time & historyMask
    std::vector<float> summed;                 // channels' sum, where the marks are looked for

    float period = 0.0f; // requested
    float ratio = 1.0f;
    float formantFactor = 1.0f;

    std::int64_t written = 0; // input samples so far
    std::array<Mark, markCount> marks{};
    int newestMark = -1; // index into marks; -1 before the first
    double nextSynthesisMark = 0.0; // output time of the next grain's centre, between samples when voiced
    std::array<Grain, grainCount> grains{};
    int activeGrains = 0;
    bool listening = false;         // the last call was listen(): grains start afresh
    bool identityGrainNext = false; // the next grain reads its own output time
};

} // namespace tolmar
