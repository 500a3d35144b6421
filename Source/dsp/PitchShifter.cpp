#include "dsp/PitchShifter.h"

#include "dsp/MathConstants.h"
#include "dsp/RealFft.h"
#include "dsp/RingBuffer.h"
#include "dsp/SampleSafety.h"
#include "dsp/WindowFunctions.h"

#include <algorithm>
#include <cmath>
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

namespace tolmar {

namespace {

// Peaks below this fraction of the frame's strongest bin (power, -80 dB) join their neighbours' regions.
constexpr float peakFloor = 1e-8f;
// Peaks within this fraction of the strongest (power, -30 dB) estimate the harmonic spacing.
constexpr float spacingFloor = 1e-3f;
// Per-frame pull of the region rotations back to 1 while the ratio is exactly 1, so that after any
// transposition the output returns to the input's own phases (a time constant of about 33 frames).
constexpr float realignRate = 0.03f;
// Formant gains are limited to +20 dB so that a near-empty part of the envelope cannot explode.
constexpr float maxFormantGain = 10.0f;
// Input samples are limited to this magnitude: the transforms then stay far from float overflow.
constexpr float inputLimit = 1.0e6f;
// An onset: a sub-block whose energy of the first difference exceeds that of every sub-block in the
// detector's history by this factor (10 dB), and exceeds this floor per sample (-90 dB).
constexpr float onsetRise = 10.0f;
constexpr float onsetFloor = 1e-9f;
// The onset starts at the first sample whose squared difference reaches this fraction of the attack's
// largest (-20 dB).
constexpr float onsetStartFraction = 1e-2f;

// The phase history of one succession of frames.
struct PhaseTrack {
    std::vector<Complex> previousSpectrum; // analysis spectrum of the previous frame
    std::vector<Complex> rotation;         // per analysis bin: the rotation its region used in the previous frame
    std::vector<Complex> nextRotation;
    bool aligned = true; // every rotation is exactly 1
};

struct ChannelState {
    std::vector<float> input;          // last blockLength input samples, circular
    std::vector<float> output;         // overlap-add accumulator for the next blockLength outputs, circular
    PhaseTrack steady;                 // the frames, or while an onset is in the window their part before it
    PhaseTrack attack;                 // while an onset is in the window: the part from it on
    std::vector<float> subBlockEnergy; // onset detector history (energy of the first difference), circular
    int energyPos = 0;
    int onsetAt = -1;    // frame index where the attack part starts; -1 while no onset is in the window
    int onsetBlock = -1; // frame index of the sub-block the onset was found in
};

inline Complex multiply(Complex x, Complex z) noexcept
{
    return Complex{x.re * z.re - x.im * z.im, x.re * z.im + x.im * z.re};
}

// Box average over 2 * halfWidth + 1 bins. The power spectrum of a real signal is even about bin 0
// and about the Nyquist bin, so the edges are mirrored. prefix needs bins + 2 * halfWidth + 1 entries.
void boxSmooth(const float* in, float* out, int bins, int halfWidth, double* prefix) noexcept
{
    const int last = bins - 1;
    const int padded = bins + 2 * halfWidth;
    prefix[0] = 0.0;
    for (int i = 0; i < padded; ++i) {
        int k = i - halfWidth;
        if (k < 0)
            k = -k;
        else if (k > last)
            k = 2 * last - k;
        prefix[i + 1] = prefix[i] + static_cast<double>(in[k]);
    }
    const double scale = 1.0 / (2 * halfWidth + 1);
    for (int k = 0; k < bins; ++k)
        out[k] = static_cast<float>((prefix[k + 2 * halfWidth + 1] - prefix[k]) * scale);
}

} // namespace

struct PitchShifter::Impl {
    int channels = 0;
    int blockLength = 0;
    int interval = 0;
    int bins = 0;
    int position = 0; // ring index of the next input sample and of the next output sample
    int hopCount = 0; // input samples since the last frame

    float ratio = 1.0f;
    float formantFactor = 1.0f;
    bool compensatePitch = false;
    float formantBase = 0.0f;

    // time(): the rotated analysis frame, then the synthesised frame; spectrum(): the analysis spectrum;
    // inverseInput(): the shifted spectrum.
    RealFft fft;

    std::vector<float> analysisWindow;
    std::vector<float> synthesisWindow; // includes 1 / blockLength and the overlap normalisation
    std::vector<Complex> hopTwiddle;    // exp(-i 2 pi k interval / blockLength)
    std::vector<float> power;
    std::vector<float> smoothedOnce;
    std::vector<float> envelope;
    std::vector<double> prefix;
    std::vector<int> peakBin;
    std::vector<int> regionStart;
    std::vector<int> peakShift;
    std::vector<float> peakTrueBin;
    std::vector<Complex> peakRotation;
    std::vector<float> spacings;
    std::vector<ChannelState> channelStates;

    int subBlock = 1;        // onset detector resolution, samples
    int newSubBlocks = 1;    // sub-blocks examined per frame, ending at the frame's end
    int fadeLength = 1;      // samples over which the part before an onset fades out after it
    std::vector<float> fade; // fadeLength samples rising from 0 to 1 (raised cosine)

    void configure(int channelCount, int length, int hop);
    void clear() noexcept;
    void resetChannel(ChannelState& state) noexcept;
    void processFrame() noexcept;
    void processChannel(ChannelState& state, float envelopeRatio, bool moveFormants) noexcept;

    // The steps of one channel's frame, in order.
    int detectOnset(ChannelState& state) noexcept;
    int locateOnset(const ChannelState& state, int block) const noexcept;
    void followOnset(ChannelState& state, int onset) noexcept;
    void analyse(const ChannelState& state, int from, int to) noexcept;
    void shiftSpectrum(PhaseTrack& track, float envelopeRatio, bool moveFormants, int anchor) noexcept;
    int findPeaks() noexcept;
    int keepHarmonicPeaks(int peakCount) noexcept;
    bool medianPeakSpacing(int peakCount, bool trueFrequencies, float& spacing) noexcept;
    bool advancePhases(const PhaseTrack& track, int peakCount, int anchor) noexcept;
    void findRegions(int peakCount) noexcept;
    void estimateEnvelope(int peakCount) noexcept;
    int estimateHalfWidth(int peakCount) noexcept;
    void placeRegions(PhaseTrack& track, int peakCount, float envelopeRatio, bool moveFormants) noexcept;
    bool overlapAdd(ChannelState& state, int from, int to) noexcept;
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
    const auto b = static_cast<std::size_t>(bins);
    analysisWindow.assign(n, 0.0f);
    synthesisWindow.assign(n, 0.0f);
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

    hopTwiddle.assign(b, Complex{1.0f, 0.0f});
    for (std::size_t k = 0; k < b; ++k) {
        // Reduced modulo the period so the angle stays small and exact for long blocks.
        const auto turns = static_cast<double>((k * static_cast<std::size_t>(interval)) % n) / blockLength;
        hopTwiddle[k] =
            Complex{static_cast<float>(std::cos(twoPi * turns)), static_cast<float>(-std::sin(twoPi * turns))};
    }

    power.assign(b, 0.0f);
    smoothedOnce.assign(b, 0.0f);
    envelope.assign(b, 0.0f);
    prefix.assign(b + n + 1, 0.0);
    peakBin.assign(b, 0);
    regionStart.assign(b + 1, 0);
    peakShift.assign(b, 0);
    peakTrueBin.assign(b, 0.0f);
    peakRotation.assign(b, Complex{1.0f, 0.0f});
    spacings.assign(b, 0.0f);

    // Sub-blocks of a quarter interval; the history spans three eighths of a block (longer than the
    // period of any voice, so glottal pulses do not count as onsets).
    subBlock = std::max(1, interval / 4);
    newSubBlocks = interval / subBlock;
    const auto historySubBlocks = static_cast<std::size_t>(std::max(1, (3 * blockLength / 8) / subBlock));
    fadeLength = std::max(1, subBlock / 2);
    fade.assign(static_cast<std::size_t>(fadeLength), 0.0f);
    for (int i = 0; i < fadeLength; ++i)
        fade[static_cast<std::size_t>(i)] =
            static_cast<float>(0.5 - 0.5 * std::cos(0.5 * twoPi * (i + 0.5) / fadeLength));

    channelStates.clear();
    channelStates.resize(static_cast<std::size_t>(std::max(1, channelCount)));
    for (auto& state : channelStates) {
        state.input.assign(n, 0.0f);
        state.output.assign(n, 0.0f);
        for (PhaseTrack* track : {&state.steady, &state.attack}) {
            track->previousSpectrum.assign(b, Complex{0.0f, 0.0f});
            track->rotation.assign(b, Complex{1.0f, 0.0f});
            track->nextRotation.assign(b, Complex{1.0f, 0.0f});
        }
        state.subBlockEnergy.assign(historySubBlocks, 0.0f);
    }
    clear();
    channels = static_cast<int>(channelStates.size());
}

void PitchShifter::Impl::resetChannel(ChannelState& state) noexcept
{
    std::fill(state.input.begin(), state.input.end(), 0.0f);
    std::fill(state.output.begin(), state.output.end(), 0.0f);
    for (PhaseTrack* track : {&state.steady, &state.attack}) {
        std::fill(track->previousSpectrum.begin(), track->previousSpectrum.end(), Complex{0.0f, 0.0f});
        std::fill(track->rotation.begin(), track->rotation.end(), Complex{1.0f, 0.0f});
        std::fill(track->nextRotation.begin(), track->nextRotation.end(), Complex{1.0f, 0.0f});
        track->aligned = true;
    }
    std::fill(state.subBlockEnergy.begin(), state.subBlockEnergy.end(), 0.0f);
    state.energyPos = 0;
    state.onsetAt = -1;
    state.onsetBlock = -1;
}

void PitchShifter::Impl::clear() noexcept
{
    for (auto& state : channelStates)
        resetChannel(state);
    position = 0;
    hopCount = 0;
}

void PitchShifter::Impl::processFrame() noexcept
{
    // The envelope moves by envelopeRatio; the shifted spectrum alone already carries it by ratio.
    const float envelopeRatio = compensatePitch ? formantFactor : ratio * formantFactor;
    const bool moveFormants = std::fabs(envelopeRatio / ratio - 1.0f) > 1e-6f;
    for (auto& state : channelStates)
        processChannel(state, envelopeRatio, moveFormants);
}

void PitchShifter::Impl::processChannel(ChannelState& state, float envelopeRatio, bool moveFormants) noexcept
{
    const int n = blockLength;
    const int onset = detectOnset(state);

    if (ratio == 1.0f && state.steady.aligned && !moveFormants) {
        // Identity: every rotation is 1 and nothing moves, so the spectrum passes unchanged.
        analyse(state, 0, n);
        std::memcpy(fft.inverseInput(), fft.spectrum(), sizeof(Complex) * static_cast<std::size_t>(bins));
        std::memcpy(state.steady.previousSpectrum.data(), fft.spectrum(),
                    sizeof(Complex) * static_cast<std::size_t>(bins));
        state.onsetAt = -1;
        state.onsetBlock = -1;
        overlapAdd(state, 0, n);
        return;
    }

    followOnset(state, onset);
    if (state.onsetAt < 0) {
        analyse(state, 0, n);
        shiftSpectrum(state.steady, envelopeRatio, moveFormants, -1);
        overlapAdd(state, 0, n);
        return;
    }

    // An onset lies in the window: the part before it and the part from it are shifted separately and
    // each is added only on its own side (the part before fades out just after the onset, where it held
    // nothing, so an unchanged frame is still reproduced exactly).
    const int split = state.onsetAt;
    analyse(state, 0, split);
    shiftSpectrum(state.steady, envelopeRatio, moveFormants, -1);
    if (!overlapAdd(state, 0, std::min(n, split + fadeLength)))
        return;
    analyse(state, split, n);
    shiftSpectrum(state.attack, envelopeRatio, moveFormants, split);
    if (!overlapAdd(state, split, n))
        return;

    state.onsetAt -= interval;
    if (state.onsetAt <= 0) {
        // The onset has left the window: its track carries on as the running one.
        std::swap(state.steady, state.attack);
        state.onsetAt = -1;
        state.onsetBlock = -1;
    }
}

// Onset detection on the newest interval of the frame: the energy of the first difference (which weights
// the clicks and noise bursts of hits and consonants above a voice's strong low harmonics) in sub-blocks,
// each compared with the loudest sub-block of the history before it. Returns the frame index of the
// earliest onset sub-block, or -1.
int PitchShifter::Impl::detectOnset(ChannelState& state) noexcept
{
    const int n = blockLength;
    const float* ring = state.input.data();
    const auto history = static_cast<int>(state.subBlockEnergy.size());
    int found = -1;
    for (int j = 0; j < newSubBlocks; ++j) {
        const int begin = n - (newSubBlocks - j) * subBlock;
        int r = ringAfter(position, begin, n);
        float previous = ring[ringPrevious(r, n)];
        float energy = 0.0f;
        for (int i = 0; i < subBlock; ++i) {
            energy += (ring[r] - previous) * (ring[r] - previous);
            previous = ring[r];
            r = ringNext(r, n);
        }
        const float loudest = *std::max_element(state.subBlockEnergy.begin(), state.subBlockEnergy.end());
        if (found < 0 && energy > onsetRise * loudest && energy > onsetFloor * static_cast<float>(subBlock))
            found = begin;
        state.subBlockEnergy[static_cast<std::size_t>(state.energyPos)] = energy;
        state.energyPos = ringNext(state.energyPos, history);
    }
    return found;
}

// Where an onset found in the sub-block starting at frame index `block` starts: the first sample, searched
// from one sub-block earlier, whose squared difference reaches onsetStartFraction of the largest in the two
// sub-blocks from `block` (as far as the frame reaches).
int PitchShifter::Impl::locateOnset(const ChannelState& state, int block) const noexcept
{
    const int n = blockLength;
    const float* ring = state.input.data();
    auto difference = [&](int i) {
        const int r = ringAfter(position, i, n);
        const float d = ring[r] - ring[ringPrevious(r, n)];
        return d * d;
    };
    float largest = 0.0f;
    for (int i = block; i < std::min(n, block + 2 * subBlock); ++i)
        largest = std::max(largest, difference(i));
    int at = std::max(1, block - subBlock);
    while (at < n - 1 && difference(at) < onsetStartFraction * largest)
        ++at;
    return at;
}

// Starts following a newly found onset (frame index of its sub-block, or -1), or places the one being
// followed more precisely once the rest of its attack has arrived.
void PitchShifter::Impl::followOnset(ChannelState& state, int onset) noexcept
{
    // A rise within the first half block after an onset (the rest of an attack, a roll) stays with it.
    if (onset >= 0 && state.onsetAt < blockLength / 2) {
        if (state.onsetAt >= 0)
            std::swap(state.steady, state.attack); // the earlier onset's track becomes the running one
        state.onsetBlock = onset;
        state.onsetAt = locateOnset(state, onset);
        std::fill(state.attack.previousSpectrum.begin(), state.attack.previousSpectrum.end(), Complex{0.0f, 0.0f});
    } else if (state.onsetAt >= 0 && state.onsetBlock + 2 * subBlock > blockLength - interval) {
        // The onset's sub-block ended the previous frame: the attack after it is now in view.
        state.onsetAt = locateOnset(state, state.onsetBlock);
    }
    if (state.onsetBlock >= 0)
        state.onsetBlock -= interval; // frame indices of the next frame
}

// Frame indices [from, to) of the windowed frame (zeros elsewhere), rotated so that the frame's centre is
// sample 0 of the transform, into its spectrum.
void PitchShifter::Impl::analyse(const ChannelState& state, int from, int to) noexcept
{
    const int n = blockLength;
    const int half = n / 2;
    const float* window = analysisWindow.data();
    const float* ring = state.input.data();
    float* frame = fft.time();
    int r = position;
    for (int i = 0; i < n; ++i) {
        const int t = i < half ? i + half : i - half;
        frame[t] = i >= from && i < to ? ring[r] * window[i] : 0.0f;
        r = ringNext(r, n);
    }
    fft.forward();
}

// The analysis spectrum shifted into the inverse transform's input along one phase track. With anchor -1
// the regions' rotations advance from the track's previous frame; with a frame index they are set so that
// each region's content keeps its phase at that sample.
void PitchShifter::Impl::shiftSpectrum(PhaseTrack& track, float envelopeRatio, bool moveFormants, int anchor) noexcept
{
    const auto spectrumBytes = sizeof(Complex) * static_cast<std::size_t>(bins);
    const int peakCount = keepHarmonicPeaks(findPeaks());
    std::memset(fft.inverseInput(), 0, spectrumBytes);
    // A silent frame (any non-zero spectrum has a peak at its maximum) leaves the output silent and the
    // rotations as they are.
    if (peakCount > 0) {
        const bool aligned = advancePhases(track, peakCount, anchor);
        findRegions(peakCount);
        if (moveFormants)
            estimateEnvelope(peakCount);
        placeRegions(track, peakCount, envelopeRatio, moveFormants);
        std::swap(track.rotation, track.nextRotation);
        track.aligned = aligned;
    }
    std::memcpy(track.previousSpectrum.data(), fft.spectrum(), spectrumBytes);
}

// Power of every bin, and the peaks: above the floor, above the two bins below and not below the two
// bins above. Returns the number of peaks in peakBin.
int PitchShifter::Impl::findPeaks() noexcept
{
    const Complex* in = fft.spectrum();
    float strongest = 0.0f;
    for (int k = 0; k < bins; ++k) {
        const float p = in[k].re * in[k].re + in[k].im * in[k].im;
        power[static_cast<std::size_t>(k)] = p;
        strongest = std::max(strongest, p);
    }

    const float floorPower = strongest * peakFloor;
    const float* pw = power.data();
    int peakCount = 0;
    for (int k = 0; k < bins; ++k) {
        const float p = pw[k];
        if (!(p > floorPower))
            continue;
        if ((k >= 1 && !(p > pw[k - 1])) || (k >= 2 && !(p > pw[k - 2])))
            continue;
        if ((k + 1 < bins && p < pw[k + 1]) || (k + 2 < bins && p < pw[k + 2]))
            continue;
        peakBin[static_cast<std::size_t>(peakCount++)] = k;
    }
    return peakCount;
}

// The median distance in bins between neighbouring peaks within spacingFloor of the strongest, from their
// true frequencies or from their bins. False when fewer than two such peaks exist.
bool PitchShifter::Impl::medianPeakSpacing(int peakCount, bool trueFrequencies, float& spacing) noexcept
{
    float strongest = 0.0f;
    for (int i = 0; i < peakCount; ++i)
        strongest = std::max(strongest, power[static_cast<std::size_t>(peakBin[static_cast<std::size_t>(i)])]);
    int count = 0;
    float previous = -1.0f;
    for (int i = 0; i < peakCount; ++i) {
        const auto index = static_cast<std::size_t>(i);
        if (power[static_cast<std::size_t>(peakBin[index])] < strongest * spacingFloor)
            continue;
        const float at = trueFrequencies ? peakTrueBin[index] : static_cast<float>(peakBin[index]);
        if (previous >= 0.0f)
            spacings[static_cast<std::size_t>(count++)] = at - previous;
        previous = at;
    }
    if (count == 0)
        return false;
    auto middle = spacings.begin() + count / 2;
    std::nth_element(spacings.begin(), middle, spacings.begin() + count);
    spacing = *middle;
    return true;
}

// With a fundamental hint that the spectrum confirms (the median distance between strong peaks lies within
// a fifth of it), keeps only the strongest peak within any 0.7 harmonic spacings. Peaks of noise or
// jitter between the harmonics would otherwise form regions of their own, moved by their own frequency:
// at an octave up, those from halfway between two harmonics land exactly between the output's harmonics.
// Merged into the harmonics' regions, they move with them instead. Returns the number of peaks kept.
int PitchShifter::Impl::keepHarmonicPeaks(int peakCount) noexcept
{
    if (formantBase <= 0.0f || peakCount < 3)
        return peakCount;
    const float spacing = formantBase * static_cast<float>(blockLength);
    float measured = 0.0f;
    if (!medianPeakSpacing(peakCount, false, measured) || !(measured > 0.8f * spacing && measured < 1.25f * spacing))
        return peakCount;

    const float minimumDistance = 0.7f * spacing;
    int kept = 0;
    for (int i = 0; i < peakCount; ++i) {
        const int k = peakBin[static_cast<std::size_t>(i)];
        if (kept > 0) {
            auto& last = peakBin[static_cast<std::size_t>(kept - 1)];
            if (static_cast<float>(k - last) < minimumDistance) {
                if (power[static_cast<std::size_t>(k)] > power[static_cast<std::size_t>(last)])
                    last = k;
                continue;
            }
        }
        peakBin[static_cast<std::size_t>(kept++)] = k;
    }
    return kept;
}

// Per peak: its true frequency from the phase advance since the previous frame, the whole-bin shift
// that takes it to that frequency times the ratio, and its region's new rotation (the previous one
// advanced by (ratio - 1) x the phase advance, or pulled back towards 1 at ratio 1; anchored at a frame
// index: the rotation that keeps the content's phase at that sample). Returns whether
// every new rotation is exactly 1.
bool PitchShifter::Impl::advancePhases(const PhaseTrack& track, int peakCount, int anchor) noexcept
{
    const int n = blockLength;
    const Complex* in = fft.spectrum();
    const double ratioMinusOne = static_cast<double>(ratio) - 1.0;
    const double binsPerRadian = static_cast<double>(n) / (twoPi * interval);
    const Complex* previous = track.previousSpectrum.data();
    // Anchor's offset from the frame centre, to which the transform's phases refer.
    const double anchorOffset = static_cast<double>(anchor - n / 2);
    bool aligned = true;
    for (int i = 0; i < peakCount; ++i) {
        const auto index = static_cast<std::size_t>(i);
        const int k = peakBin[index];
        // Deviation of the phase advance since the previous frame from the bin centre's advance.
        const Complex a = in[k];
        const Complex b = previous[k];
        const Complex c{a.re * b.re + a.im * b.im, a.im * b.re - a.re * b.im};
        const Complex w = hopTwiddle[static_cast<std::size_t>(k)];
        const float dev = std::atan2(c.im * w.re + c.re * w.im, c.re * w.re - c.im * w.im);
        const double advance = twoPi * static_cast<double>(k) * interval / n + static_cast<double>(dev);
        const double trueBin = static_cast<double>(k) + static_cast<double>(dev) * binsPerRadian;
        peakTrueBin[index] = static_cast<float>(trueBin);
        peakShift[index] = static_cast<int>(std::lround(ratioMinusOne * trueBin));

        Complex z = track.rotation[static_cast<std::size_t>(k)];
        if (anchor >= 0) {
            // Content at `trueBin` keeps its phase at the anchor when rotated by -(ratio - 1) x its phase
            // advance over the anchor's offset; an onset at the anchor therefore stays there.
            const double angle = -twoPi * ratioMinusOne * trueBin * anchorOffset / n;
            z = Complex{static_cast<float>(std::cos(angle)), static_cast<float>(std::sin(angle))};
        } else if (ratio != 1.0f) {
            const double angle = ratioMinusOne * advance;
            z = multiply(z, Complex{static_cast<float>(std::cos(angle)), static_cast<float>(std::sin(angle))});
        } else {
            z.re += realignRate * (1.0f - z.re);
            z.im -= realignRate * z.im;
        }
        const float magnitude = z.re * z.re + z.im * z.im;
        if (!(magnitude > 0.25f) || !(magnitude < 4.0f)) {
            z = Complex{1.0f, 0.0f};
        } else if (magnitude != 1.0f) {
            const float scale = 1.0f / std::sqrt(magnitude);
            z.re *= scale;
            z.im *= scale;
        }
        if (ratio == 1.0f && (1.0f - z.re) * (1.0f - z.re) + z.im * z.im < 1e-12f)
            z = Complex{1.0f, 0.0f};
        peakRotation[index] = z;
        aligned = aligned && z.re == 1.0f && z.im == 0.0f;
    }
    return aligned;
}

// Region boundaries: the lowest bin between neighbouring peaks; the last region ends at the Nyquist bin.
void PitchShifter::Impl::findRegions(int peakCount) noexcept
{
    const float* pw = power.data();
    regionStart[0] = 0;
    for (int i = 1; i < peakCount; ++i) {
        const int from = peakBin[static_cast<std::size_t>(i - 1)] + 1;
        const int to = peakBin[static_cast<std::size_t>(i)];
        int lowest = from;
        for (int k = from + 1; k <= to; ++k)
            if (pw[k] < pw[lowest])
                lowest = k;
        regionStart[static_cast<std::size_t>(i)] = lowest;
    }
    regionStart[static_cast<std::size_t>(peakCount)] = bins;
}

// The spectral envelope: the power smoothed twice by a box half a harmonic spacing wide on each side.
void PitchShifter::Impl::estimateEnvelope(int peakCount) noexcept
{
    const int halfWidth = std::min(estimateHalfWidth(peakCount), blockLength / 2);
    boxSmooth(power.data(), smoothedOnce.data(), bins, halfWidth, prefix.data());
    boxSmooth(smoothedOnce.data(), envelope.data(), bins, halfWidth, prefix.data());
}

// Half width of the envelope smoothing box: half the harmonic spacing in bins. The spacing is the
// formant base hint when given, else the median distance between neighbouring strong peaks.
int PitchShifter::Impl::estimateHalfWidth(int peakCount) noexcept
{
    const float maxSpacing = std::max(2.0f, static_cast<float>(blockLength) / 40.0f);
    float spacing = 0.0f;
    if (formantBase > 0.0f) {
        spacing = formantBase * static_cast<float>(blockLength);
    } else if (!medianPeakSpacing(peakCount, true, spacing)) {
        spacing = static_cast<float>(blockLength) / 200.0f;
    }
    spacing = std::clamp(spacing, 2.0f, maxSpacing);
    return std::max(1, static_cast<int>(spacing * 0.5f));
}

// Moves each region by its peak's shift into the output spectrum, rotated by its region's rotation and,
// when the formants move, scaled by desired envelope / envelope at the source bin. Records the rotation
// of every bin's region for the next frame.
void PitchShifter::Impl::placeRegions(PhaseTrack& track, int peakCount, float envelopeRatio, bool moveFormants) noexcept
{
    const Complex* in = fft.spectrum();
    Complex* out = fft.inverseInput();
    const float* env = envelope.data();
    const float inverseRatio = 1.0f / envelopeRatio;
    const float lastBin = static_cast<float>(bins - 1);

    for (int i = 0; i < peakCount; ++i) {
        const auto index = static_cast<std::size_t>(i);
        const int start = regionStart[index];
        const int end = regionStart[index + 1];
        const int shift = peakShift[index];
        const Complex z = peakRotation[index];
        for (int k = start; k < end; ++k)
            track.nextRotation[static_cast<std::size_t>(k)] = z;

        // Output range; where a lower ratio makes neighbouring regions overlap they split it evenly.
        int low = start + shift;
        if (i > 0 && peakShift[index - 1] > shift)
            low = start + shift + (peakShift[index - 1] - shift) / 2;
        int high = end + shift;
        if (i + 1 < peakCount && peakShift[index + 1] < shift)
            high = end + peakShift[index + 1] + (shift - peakShift[index + 1]) / 2;
        low = std::max(low, std::max(0, shift));
        high = std::min(high, std::min(bins, bins + shift));

        if (moveFormants) {
            for (int j = low; j < high; ++j) {
                const int src = j - shift;
                const float source = std::min(static_cast<float>(j) * inverseRatio, lastBin);
                const int below = std::min(static_cast<int>(source), bins - 2);
                const float fraction = source - static_cast<float>(below);
                const float desired = env[below] + fraction * (env[below + 1] - env[below]);
                const float gain = std::min(maxFormantGain, std::sqrt(desired / (env[src] + 1e-30f)));
                const Complex x = in[src];
                out[j] = Complex{(x.re * z.re - x.im * z.im) * gain, (x.re * z.im + x.im * z.re) * gain};
            }
        } else {
            for (int j = low; j < high; ++j)
                out[j] = multiply(in[j - shift], z);
        }
    }
}

// Synthesises the output spectrum and adds frame indices [from, to) of the windowed frame, rotated back,
// into the accumulator. A part that stops before the frame's end fades out over its last fadeLength
// samples. Returns false when the frame was not finite and the channel was started afresh.
bool PitchShifter::Impl::overlapAdd(ChannelState& state, int from, int to) noexcept
{
    fft.inverse();
    const int n = blockLength;
    const int half = n / 2;
    const float* frame = fft.time();

    // A non-finite frame can only come from a fault; drop it and start the channel afresh.
    float check = 0.0f;
    for (int i = 0; i < n; ++i)
        check += std::fabs(frame[i]);
    if (!std::isfinite(check)) {
        resetChannel(state);
        return false;
    }

    const float* synthesis = synthesisWindow.data();
    const int fadeFrom = to < n ? to - fadeLength : n;
    float* accumulator = state.output.data();
    int r = ringAfter(position, from, n);
    for (int i = from; i < to; ++i) {
        const int t = i < half ? i + half : i - half;
        const float w = i < fadeFrom ? synthesis[i] : synthesis[i] * fade[static_cast<std::size_t>(to - 1 - i)];
        accumulator[r] += frame[t] * w;
        r = ringNext(r, n);
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
        s.hopCount += step;
        done += step;
        if (s.hopCount == s.interval) {
            s.hopCount = 0;
            s.processFrame();
        }
    }
}

} // namespace tolmar
