#include "dsp/PitchShifter.h"

#include "dsp/FrameDecisions.h"
#include "dsp/MathConstants.h"
#include "dsp/OnsetTracker.h"
#include "dsp/RealFft.h"
#include "dsp/RingBuffer.h"
#include "dsp/SampleSafety.h"
#include "dsp/WindowFunctions.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

// Phase vocoder pitch shifter after Laroche and Dolson, "New phase-vocoder techniques for
// pitch-shifting, harmonizing and other exotic effects" (1999):
//
// - Frames of blockLength samples every interval samples, periodic Hann analysis and synthesis
//   windows, synthesis normalised by the summed window product so that an unchanged spectrum
//   reconstructs the input exactly. The frame is rotated by half its length before the FFT, so
//   phases refer to the frame centre and a sinusoid's main lobe has one phase across its bins.
// - Peaks (maxima over +-2 bins) split the spectrum into regions of influence at the lowest bin
//   between neighbouring peaks. Each region moves as a whole by the integer number of bins that
//   takes its peak's true frequency (from the phase advance since the previous frame) to that
//   frequency times the ratio, and is multiplied by one unit rotation: "identity phase locking"
//   keeps the region's bins in their input phase relation, and the rotation grows each frame by
//   (ratio - 1) x (the peak's phase advance), so the moved partial advances at the shifted frequency.
//   The rotation a region uses comes from the region that held its peak bin in the previous frame,
//   which tracks partials from frame to frame without a separate peak matcher.
// - Formants: the input's spectral envelope is the power spectrum smoothed twice by a box as wide
//   as the harmonic spacing (a triangle over two harmonics), which removes the harmonic ripple and
//   keeps the resonances. Each output bin is scaled by desired envelope / envelope at its source bin.
// - Transients, after the phase-reset idea of transient-preserving phase vocoders (Röbel, "A new approach
//   to transient processing in the phase vocoder", DAFx 2003): a plain vocoder spreads an onset over the
//   whole window, so a hit or a consonant is heard before it happens. Onsets are found in the time domain
//   (a sharp rise of the differentiated signal's energy). While one lies in the window, the frame is cut
//   there into two frames, shifted separately: the part before it continues the running phases; the
//   part from it gets its own phase track whose rotations are anchored at the onset (each region is
//   rotated so that its content keeps its phase at the onset sample), which places the onset exactly.
//   Each part is overlap-added only on its own side of the onset. When the onset has left the window,
//   its track carries on as the running one.
//
// The output is the input frame's content placed blockLength samples later: a frame that ends at
// time t is overlap-added over times t .. t + blockLength - 1, so the delay is exactly blockLength
// for any settings. Frames are computed whenever interval input samples have arrived, whatever the
// host's chunking, so the output does not depend on it.
//
// Stereo-linked: a frame's onset and split (OnsetTracker) and its peaks, regions, shifts and envelope
// (FrameDecisions) are decided once for both channels, on their mean energy; each channel applies them to
// its own spectrum, advancing its own region rotations, anchored at its own onset sample. While the whole window
// holds identical channels (a mono vocal on a stereo track), one channel is analysed and synthesised and its
// frame added to both: exactly the result of processing both, so nothing changes when they start or stop
// differing.

namespace tolmar {

namespace {

// Input samples are limited to this magnitude: the transforms then stay far from float overflow.
constexpr float inputLimit = 1.0e6f;

bool sameBits(float a, float b) noexcept
{
    std::uint32_t x = 0;
    std::uint32_t y = 0;
    std::memcpy(&x, &a, sizeof(x));
    std::memcpy(&y, &b, sizeof(y));
    return x == y;
}

struct ChannelState {
    std::vector<float> input;      // last blockLength input samples, circular
    std::vector<float> output;     // overlap-add accumulator for the next blockLength outputs, circular
    std::vector<Complex> spectrum; // analysis spectrum of the part being shifted
};

} // namespace

struct PitchShifter::Impl {
    int channels = 0;
    int blockLength = 0;
    int interval = 0;
    int bins = 0;
    int position = 0;         // ring index of the next input sample and of the next output sample
    int hopCount = 0;         // input samples since the last frame
    int identicalSamples = 0; // newest input samples equal in both channels, up to blockLength

    float ratio = 1.0f;
    float formantFactor = 1.0f;
    bool compensatePitch = false;
    float formantBase = 0.0f;

    // time(): the rotated analysis frame, then the synthesised frame; spectrum(): the analysis spectrum;
    // inverseInput(): the shifted spectrum.
    RealFft fft;
    std::vector<float> analysisWindow;
    std::vector<float> synthesisWindow; // includes 1 / blockLength and the overlap normalisation
    std::vector<float> synthesised;     // the windowed synthesised frame in frame order
    std::vector<ChannelState> channelStates;
    PhaseTrack steady; // the frames, or while an onset is in the window their part before it
    PhaseTrack attack; // while an onset is in the window: the part from it on
    OnsetTracker onsets;
    FrameDecisions decisions;
    int fadeLength = 1;      // samples over which the part before an onset fades out after it
    std::vector<float> fade; // fadeLength samples rising from 0 to 1 (raised cosine)

    void configure(int channelCount, int length, int hop);
    void clear() noexcept;
    void countIdentical(int samples) noexcept;

    // The steps of one frame, in order.
    void processFrame() noexcept;
    int distinctChannels() const noexcept;
    ShiftSettings frameSettings() const noexcept;
    void passUnchanged(int distinct) noexcept;
    bool shiftPart(PhaseTrack& track, int from, int to, int addUntil, const int* anchors, int distinct,
                   const ShiftSettings& settings) noexcept;
    void analyse(ChannelState& state, int from, int to) noexcept;
    void keepSpectra(PhaseTrack& track, int distinct) noexcept;
    bool overlapAdd(int channel, int from, int to, int distinct) noexcept;
};

void PitchShifter::Impl::configure(int channelCount, int length, int hop)
{
    // Until configuring has succeeded, process() sees no channels and does nothing.
    channels = 0;
    blockLength = std::max(16, length + (length & 1));
    interval = std::clamp(hop, 1, blockLength / 2);
    bins = blockLength / 2 + 1;
    fft.prepare(blockLength, true);

    const auto n = static_cast<std::size_t>(blockLength);
    analysisWindow.assign(n, 0.0f);
    synthesisWindow.assign(n, 0.0f);
    synthesised.assign(n, 0.0f);
    fillHannWindow(analysisWindow.data(), blockLength);
    // Each output sample gets window products from frames at every interval-th offset; dividing by their
    // sum makes the overlap-add of unchanged frames reproduce the input exactly.
    std::vector<double> overlap(static_cast<std::size_t>(interval), 0.0);
    for (std::size_t i = 0; i < n; ++i)
        overlap[i % static_cast<std::size_t>(interval)] += static_cast<double>(analysisWindow[i]) * analysisWindow[i];
    for (std::size_t i = 0; i < n; ++i) {
        const double sum = overlap[i % static_cast<std::size_t>(interval)];
        synthesisWindow[i] = sum > 0.0 ? static_cast<float>(analysisWindow[i] / (sum * blockLength)) : 0.0f;
    }

    onsets.configure(blockLength, interval);
    decisions.configure(blockLength, interval);
    steady.assign(bins);
    attack.assign(bins);
    fadeLength = std::max(1, onsets.subBlockLength() / 2);
    fade.assign(static_cast<std::size_t>(fadeLength), 0.0f);
    for (int i = 0; i < fadeLength; ++i)
        fade[static_cast<std::size_t>(i)] =
            static_cast<float>(0.5 - 0.5 * std::cos(0.5 * twoPi * (i + 0.5) / fadeLength));

    channelStates.clear();
    channelStates.resize(static_cast<std::size_t>(std::clamp(channelCount, 1, 2)));
    for (auto& state : channelStates) {
        state.input.assign(n, 0.0f);
        state.output.assign(n, 0.0f);
        state.spectrum.assign(static_cast<std::size_t>(bins), Complex{0.0f, 0.0f});
    }
    clear();
    channels = static_cast<int>(channelStates.size());
}

void PitchShifter::Impl::clear() noexcept
{
    for (auto& state : channelStates) {
        std::fill(state.input.begin(), state.input.end(), 0.0f);
        std::fill(state.output.begin(), state.output.end(), 0.0f);
    }
    steady.clear();
    attack.clear();
    onsets.reset();
    position = 0;
    hopCount = 0;
    identicalSamples = blockLength; // both start silent
}

// Counts how many of the newest input samples (the last `samples` written before `position`) are the same in
// both channels, bit for bit.
void PitchShifter::Impl::countIdentical(int samples) noexcept
{
    const float* left = channelStates[0].input.data();
    const float* right = channelStates[1].input.data();
    int r = ringAfter(position, blockLength - samples, blockLength);
    for (int i = 0; i < samples; ++i) {
        identicalSamples = sameBits(left[r], right[r]) ? std::min(identicalSamples + 1, blockLength) : 0;
        r = ringNext(r, blockLength);
    }
}

void PitchShifter::Impl::processFrame() noexcept
{
    const int n = blockLength;
    const int distinct = distinctChannels();
    const ShiftSettings settings = frameSettings();
    const float* rings[] = {channelStates[0].input.data(), channelStates.back().input.data()};
    if (ratio == 1.0f && steady.aligned && !settings.moveFormants) {
        // Identity: every rotation is 1 and nothing moves, so the spectrum passes unchanged.
        onsets.listen(rings, distinct, position);
        passUnchanged(distinct);
        return;
    }

    if (onsets.update(rings, distinct, position))
        std::swap(steady, attack); // the earlier onset's track becomes the running one
    if (onsets.started())
        attack.forgetSpectra();
    const int split = onsets.split();
    if (split < 0) {
        shiftPart(steady, 0, n, n, nullptr, distinct, settings);
        return;
    }
    // An onset lies in the window: the part before it and the part from it are shifted separately and
    // each is added only on its own side (the part before fades out just after the onset, where it held
    // nothing, so an unchanged frame is still reproduced exactly).
    // The part from the onset keeps each channel's phases at that channel's own onset.
    const int anchors[] = {onsets.channelOnset(0), onsets.channelOnset(1)};
    if (!shiftPart(steady, 0, split, std::min(n, split + fadeLength), nullptr, distinct, settings))
        return;
    if (!shiftPart(attack, split, n, n, anchors, distinct, settings))
        return;
    if (onsets.advance())
        std::swap(steady, attack); // the onset has left the window: its track carries on as the running one
}

// 1 while the whole window holds the same samples in both channels (or there is one channel), else 2.
int PitchShifter::Impl::distinctChannels() const noexcept
{
    return channels == 2 && identicalSamples < blockLength ? 2 : 1;
}

ShiftSettings PitchShifter::Impl::frameSettings() const noexcept
{
    // The envelope moves by envelopeRatio; the shifted spectrum alone already carries it by ratio.
    ShiftSettings settings;
    settings.ratio = ratio;
    settings.envelopeRatio = compensatePitch ? formantFactor : ratio * formantFactor;
    settings.moveFormants = std::fabs(settings.envelopeRatio / ratio - 1.0f) > 1e-6f;
    settings.formantBase = formantBase;
    return settings;
}

void PitchShifter::Impl::passUnchanged(int distinct) noexcept
{
    for (int c = 0; c < distinct; ++c) {
        ChannelState& state = channelStates[static_cast<std::size_t>(c)];
        analyse(state, 0, blockLength);
        std::memcpy(fft.inverseInput(), state.spectrum.data(), sizeof(Complex) * static_cast<std::size_t>(bins));
        overlapAdd(c, 0, blockLength, distinct);
    }
    keepSpectra(steady, distinct);
}

// Shifts frame indices [from, to) of every channel along `track` (anchored at a frame index per channel, or
// not: null) and adds
// the result over [from, addUntil). Returns false when a frame was not finite and the shifter started afresh.
bool PitchShifter::Impl::shiftPart(PhaseTrack& track, int from, int to, int addUntil, const int* anchors, int distinct,
                                   const ShiftSettings& settings) noexcept
{
    const Complex* spectra[2] = {};
    for (int c = 0; c < distinct; ++c) {
        ChannelState& state = channelStates[static_cast<std::size_t>(c)];
        analyse(state, from, to);
        spectra[c] = state.spectrum.data();
    }
    decisions.decide(spectra, distinct, track, settings, anchors);
    keepSpectra(track, distinct);
    for (int c = 0; c < distinct; ++c) {
        decisions.apply(spectra[c], c, fft.inverseInput());
        if (!overlapAdd(c, from, addUntil, distinct))
            return false;
    }
    return true;
}

// Frame indices [from, to) of the windowed frame (zeros elsewhere), rotated so that the frame's centre is
// sample 0 of the transform, into the channel's spectrum.
void PitchShifter::Impl::analyse(ChannelState& state, int from, int to) noexcept
{
    const int n = blockLength;
    const int half = n / 2;
    const float* window = analysisWindow.data();
    const float* ring = state.input.data();
    float* frame = fft.time();
    if (from > 0 || to < n)
        std::fill(frame, frame + n, 0.0f);
    // Frame index i is ring sample position + i and transform sample i + half, each wrapping once: filled in
    // runs between the wraps, so that each run is a plain vectorisable loop.
    const int wrap = n - position;
    int cuts[] = {from, std::clamp(half, from, to), std::clamp(wrap, from, to), to};
    std::sort(std::begin(cuts), std::end(cuts));
    for (int c = 0; c + 1 < 4; ++c) {
        const int ringShift = cuts[c] < wrap ? position : position - n;
        const int frameShift = cuts[c] < half ? half : -half;
        for (int i = cuts[c]; i < cuts[c + 1]; ++i)
            frame[i + frameShift] = ring[i + ringShift] * window[i];
    }
    fft.forward();
    std::memcpy(state.spectrum.data(), fft.spectrum(), sizeof(Complex) * static_cast<std::size_t>(bins));
}

// The analysed spectra become the track's previous ones (the first channel's for both while they are the same).
void PitchShifter::Impl::keepSpectra(PhaseTrack& track, int distinct) noexcept
{
    const auto bytes = sizeof(Complex) * static_cast<std::size_t>(bins);
    for (int c = 0; c < channels; ++c)
        std::memcpy(track.previousSpectrum[static_cast<std::size_t>(c)].data(),
                    channelStates[static_cast<std::size_t>(std::min(c, distinct - 1))].spectrum.data(), bytes);
}

// Synthesises the shifted spectrum and adds frame indices [from, to) of the windowed frame, rotated back, into
// the channel's accumulator (into both while the channels are the same). A part that stops before the frame's
// end fades out over its last fadeLength samples. Returns false when the frame was not finite: that can only
// come from a fault, so the frame is dropped and the shifter starts afresh.
bool PitchShifter::Impl::overlapAdd(int channel, int from, int to, int distinct) noexcept
{
    fft.inverse();
    const int n = blockLength;
    const int half = n / 2;
    const float* frame = fft.time();
    // Eight running sums, so that the check runs vectorised rather than as one chain of additions.
    float sums[8] = {};
    const int whole = n - n % 8;
    for (int i = 0; i < whole; i += 8)
        for (int lane = 0; lane < 8; ++lane)
            sums[lane] += std::fabs(frame[i + lane]);
    float check = 0.0f;
    for (int i = whole; i < n; ++i)
        check += std::fabs(frame[i]);
    for (const float sum : sums)
        check += sum;
    if (!std::isfinite(check)) {
        clear();
        return false;
    }

    // The windowed frame, rotated back, once; then added into each accumulator in at most two runs.
    const float* synthesis = synthesisWindow.data();
    float* windowed = synthesised.data();
    const int fadeFrom = to < n ? to - fadeLength : n;
    for (int i = from; i < std::min(fadeFrom, half); ++i)
        windowed[i] = frame[i + half] * synthesis[i];
    for (int i = std::max(from, half); i < fadeFrom; ++i)
        windowed[i] = frame[i - half] * synthesis[i];
    for (int i = std::max(from, fadeFrom); i < to; ++i) {
        const float w = synthesis[i] * fade[static_cast<std::size_t>(to - 1 - i)];
        windowed[i] = frame[i < half ? i + half : i - half] * w;
    }
    const int last = distinct == 1 ? channels - 1 : channel;
    const int start = ringAfter(position, from, n);
    const int firstRun = std::min(to - from, n - start);
    for (int c = channel; c <= last; ++c) {
        float* accumulator = channelStates[static_cast<std::size_t>(c)].output.data();
        for (int i = 0; i < firstRun; ++i)
            accumulator[start + i] += windowed[from + i];
        for (int i = firstRun; i < to - from; ++i)
            accumulator[i - firstRun] += windowed[from + i];
    }
    return true;
}

PitchShifter::PitchShifter()
    : impl(std::make_unique<Impl>())
{
}

PitchShifter::~PitchShifter() = default;

void PitchShifter::configure(int channels, int blockLength, int interval)
{
    impl->configure(channels, blockLength, interval);
}

void PitchShifter::reset()
{
    impl->clear();
}

int PitchShifter::inputLatency() const
{
    return impl->blockLength / 2;
}

int PitchShifter::outputLatency() const
{
    return impl->blockLength / 2;
}

void PitchShifter::setTransposeSemitones(float semitones)
{
    const float s = std::isfinite(semitones) ? std::clamp(semitones, -60.0f, 60.0f) : 0.0f;
    impl->ratio = static_cast<float>(std::pow(2.0, static_cast<double>(s) / 12.0));
}

void PitchShifter::setFormantFactor(float factor, bool compensatePitch)
{
    impl->formantFactor = std::isfinite(factor) && factor > 0.0f ? std::clamp(factor, 0.05f, 20.0f) : 1.0f;
    impl->compensatePitch = compensatePitch;
}

void PitchShifter::setFormantBase(float cyclesPerSample)
{
    impl->formantBase =
        std::isfinite(cyclesPerSample) && cyclesPerSample > 0.0f && cyclesPerSample < 0.5f ? cyclesPerSample : 0.0f;
}

void PitchShifter::process(const float* const* inputs, int inputSamples, float* const* outputs, int outputSamples)
{
    auto& s = *impl;
    const int count = std::max(0, std::min(inputSamples, outputSamples));
    if (s.channels == 0)
        return; // not configured: nothing is known about the buffers

    int done = 0;
    while (done < count) {
        const int step = std::min(count - done, s.interval - s.hopCount);
        for (int c = 0; c < s.channels; ++c) {
            auto& state = s.channelStates[static_cast<std::size_t>(c)];
            const float* src = inputs[c] + done;
            float* dst = outputs[c] + done;
            float* ring = state.input.data();
            float* accumulator = state.output.data();
            int r = s.position;
            for (int i = 0; i < step; ++i) {
                const float x = cleanSample(src[i], inputLimit);
                float y = accumulator[r];
                accumulator[r] = 0.0f;
                ring[r] = x;
                // Keeps denormal-range leftovers out of the host's buffers.
                dst[i] = std::fabs(y) < 1e-30f ? 0.0f : y;
                r = ringNext(r, s.blockLength);
            }
        }
        s.position = (s.position + step) % s.blockLength;
        if (s.channels == 2)
            s.countIdentical(step);
        s.hopCount += step;
        done += step;
        if (s.hopCount == s.interval) {
            s.hopCount = 0;
            s.processFrame();
        }
    }
}

} // namespace tolmar
