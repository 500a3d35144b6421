#include "dsp/FrameDecisions.h"

#include "dsp/MathConstants.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

// Phase vocoder pitch shifting after Laroche and Dolson (1999): peaks (maxima over +-2 bins) split the spectrum
// into regions of influence at the lowest bin between neighbouring peaks. Each region moves as a whole by the
// integer number of bins that takes its peak's true frequency (from the phase advance since the previous frame)
// to that frequency times the ratio, and is multiplied by one unit rotation ("identity phase locking"), which
// grows each frame by (ratio - 1) x (the peak's phase advance). The rotation a region uses comes from the region
// that held its peak bin in the previous frame. Formants: the spectral envelope is the power smoothed twice by a
// box as wide as the harmonic spacing; each output bin is scaled by desired envelope / envelope at its source.

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

inline Complex multiply(Complex x, Complex z) noexcept
{
    return Complex{x.re * z.re - x.im * z.im, x.re * z.im + x.im * z.re};
}

inline float powerOf(Complex x) noexcept
{
    return x.re * x.re + x.im * x.im;
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

void PhaseTrack::assign(int bins)
{
    const auto b = static_cast<std::size_t>(bins);
    for (auto& spectrum : previousSpectrum)
        spectrum.assign(b, Complex{0.0f, 0.0f});
    for (auto& rotations : rotation)
        rotations.assign(b, Complex{1.0f, 0.0f});
    for (auto& rotations : nextRotation)
        rotations.assign(b, Complex{1.0f, 0.0f});
    aligned = true;
}

void PhaseTrack::clear() noexcept
{
    forgetSpectra();
    for (auto& rotations : rotation)
        std::fill(rotations.begin(), rotations.end(), Complex{1.0f, 0.0f});
    for (auto& rotations : nextRotation)
        std::fill(rotations.begin(), rotations.end(), Complex{1.0f, 0.0f});
    aligned = true;
}

void PhaseTrack::forgetSpectra() noexcept
{
    for (auto& spectrum : previousSpectrum)
        std::fill(spectrum.begin(), spectrum.end(), Complex{0.0f, 0.0f});
}

void FrameDecisions::configure(int length, int hop)
{
    blockLength = length;
    interval = hop;
    bins = blockLength / 2 + 1;
    const auto n = static_cast<std::size_t>(blockLength);
    const auto b = static_cast<std::size_t>(bins);
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
    desiredEnvelope.assign(b, 0.0f);
    prefix.assign(b + n + 1, 0.0);
    peakBin.assign(b, 0);
    regionStart.assign(b + 1, 0);
    peakShift.assign(b, 0);
    peakTrueBin.assign(b, 0.0f);
    for (auto& rotations : peakRotation)
        rotations.assign(b, Complex{1.0f, 0.0f});
    spacings.assign(b, 0.0f);
    peakCount = 0;
}

void FrameDecisions::decide(const Complex* const* spectra, int channels, PhaseTrack& track,
                            const ShiftSettings& frameSettings, const int* anchors) noexcept
{
    settings = frameSettings;
    peakCount = keepHarmonicPeaks(findPeaks(spectra, channels));
    // A silent frame (any non-zero spectrum has a peak at its maximum) leaves the rotations as they are.
    if (peakCount == 0)
        return;
    const bool aligned = advancePhases(spectra, channels, track, anchors);
    findRegions();
    if (settings.moveFormants) {
        estimateEnvelope();
        moveEnvelope();
    }
    recordRotations(track, channels, aligned);
}

// Power of every bin (the channels' mean), and the peaks: above the floor, above the two bins below and not
// below the two bins above. Returns the number of peaks in peakBin.
int FrameDecisions::findPeaks(const Complex* const* spectra, int channels) noexcept
{
    float strongest = 0.0f;
    for (int k = 0; k < bins; ++k) {
        float p = powerOf(spectra[0][k]);
        if (channels == 2)
            p = (p + powerOf(spectra[1][k])) * 0.5f;
        power[static_cast<std::size_t>(k)] = p;
        strongest = std::max(strongest, p);
    }

    const float floorPower = strongest * peakFloor;
    const float* pw = power.data();
    int count = 0;
    for (int k = 0; k < bins; ++k) {
        const float p = pw[k];
        if (!(p > floorPower))
            continue;
        if ((k >= 1 && !(p > pw[k - 1])) || (k >= 2 && !(p > pw[k - 2])))
            continue;
        if ((k + 1 < bins && p < pw[k + 1]) || (k + 2 < bins && p < pw[k + 2]))
            continue;
        peakBin[static_cast<std::size_t>(count++)] = k;
    }
    return count;
}

// The median distance in bins between neighbouring peaks within spacingFloor of the strongest, from their
// true frequencies or from their bins. False when fewer than two such peaks exist.
bool FrameDecisions::medianPeakSpacing(int count, bool trueFrequencies, float& spacing) noexcept
{
    float strongest = 0.0f;
    for (int i = 0; i < count; ++i)
        strongest = std::max(strongest, power[static_cast<std::size_t>(peakBin[static_cast<std::size_t>(i)])]);
    int found = 0;
    float previous = -1.0f;
    for (int i = 0; i < count; ++i) {
        const auto index = static_cast<std::size_t>(i);
        if (power[static_cast<std::size_t>(peakBin[index])] < strongest * spacingFloor)
            continue;
        const float at = trueFrequencies ? peakTrueBin[index] : static_cast<float>(peakBin[index]);
        if (previous >= 0.0f)
            spacings[static_cast<std::size_t>(found++)] = at - previous;
        previous = at;
    }
    if (found == 0)
        return false;
    auto middle = spacings.begin() + found / 2;
    std::nth_element(spacings.begin(), middle, spacings.begin() + found);
    spacing = *middle;
    return true;
}

// With a fundamental hint that the spectrum confirms (the median distance between strong peaks lies within
// a fifth of it), keeps only the strongest peak within any 0.7 harmonic spacings. Peaks of noise or
// jitter between the harmonics would otherwise form regions of their own, moved by their own frequency:
// at an octave up, those from halfway between two harmonics land exactly between the output's harmonics.
// Merged into the harmonics' regions, they move with them instead. Returns the number of peaks kept.
int FrameDecisions::keepHarmonicPeaks(int count) noexcept
{
    if (settings.formantBase <= 0.0f || count < 3)
        return count;
    const float spacing = settings.formantBase * static_cast<float>(blockLength);
    float measured = 0.0f;
    if (!medianPeakSpacing(count, false, measured) || !(measured > 0.8f * spacing && measured < 1.25f * spacing))
        return count;

    const float minimumDistance = 0.7f * spacing;
    int kept = 0;
    for (int i = 0; i < count; ++i) {
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

// Deviation of bin k's phase advance since the previous frame (spectrum b) from the bin centre's advance.
float FrameDecisions::phaseDeviation(Complex a, Complex b, int k) const noexcept
{
    const Complex c{a.re * b.re + a.im * b.im, a.im * b.re - a.re * b.im};
    const Complex w = hopTwiddle[static_cast<std::size_t>(k)];
    return std::atan2(c.im * w.re + c.re * w.im, c.re * w.re - c.im * w.im);
}

// Per peak: its true frequency from the phase advance since the previous frame in the channel loudest at the
// peak, and the whole-bin shift that takes it to that frequency times the ratio. Per peak and channel: its
// region's new rotation, from the channel's own phase advance (so that each channel's partials advance at their
// shifted frequency, and a time difference between the channels is kept). Returns whether every new rotation
// is exactly 1.
bool FrameDecisions::advancePhases(const Complex* const* spectra, int channels, const PhaseTrack& track,
                                   const int* anchors) noexcept
{
    const int n = blockLength;
    const double ratioMinusOne = static_cast<double>(settings.ratio) - 1.0;
    const double binsPerRadian = static_cast<double>(n) / (twoPi * interval);
    bool aligned = true;
    for (int i = 0; i < peakCount; ++i) {
        const auto index = static_cast<std::size_t>(i);
        const int k = peakBin[index];
        const auto bin = static_cast<std::size_t>(k);
        const std::size_t loudest = channels == 2 && powerOf(spectra[1][k]) > powerOf(spectra[0][k]) ? 1 : 0;
        for (std::size_t c = 0; c < static_cast<std::size_t>(channels); ++c) {
            const float dev = phaseDeviation(spectra[c][k], track.previousSpectrum[c][bin], k);
            const double trueBin = static_cast<double>(k) + static_cast<double>(dev) * binsPerRadian;
            if (c == loudest) {
                peakTrueBin[index] = static_cast<float>(trueBin);
                peakShift[index] = static_cast<int>(std::lround(ratioMinusOne * trueBin));
            }
            const double advance = twoPi * static_cast<double>(k) * interval / n + static_cast<double>(dev);
            const int anchor = anchors != nullptr ? anchors[c] : -1;
            const Complex z = nextRotation(track.rotation[c][bin], advance, trueBin, anchor);
            peakRotation[c][index] = z;
            aligned = aligned && z.re == 1.0f && z.im == 0.0f;
        }
    }
    return aligned;
}

// A region's rotation after `rotation` in the previous frame: advanced by (ratio - 1) x the phase advance, or
// pulled back towards 1 at ratio 1; anchored at a frame index, the rotation that keeps the content's phase at
// that sample.
Complex FrameDecisions::nextRotation(Complex rotation, double advance, double trueBin, int anchor) const noexcept
{
    const float ratio = settings.ratio;
    const double ratioMinusOne = static_cast<double>(ratio) - 1.0;
    Complex z = rotation;
    if (anchor >= 0) {
        // Content at `trueBin` keeps its phase at the anchor when rotated by -(ratio - 1) x its phase advance
        // over the anchor's offset from the frame centre (to which the transform's phases refer); an onset at
        // the anchor therefore stays there.
        const double anchorOffset = static_cast<double>(anchor - blockLength / 2);
        const double angle = -twoPi * ratioMinusOne * trueBin * anchorOffset / blockLength;
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
    return z;
}

// Region boundaries: the lowest bin between neighbouring peaks; the last region ends at the Nyquist bin.
void FrameDecisions::findRegions() noexcept
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
void FrameDecisions::estimateEnvelope() noexcept
{
    const int halfWidth = std::min(estimateHalfWidth(), blockLength / 2);
    boxSmooth(power.data(), smoothedOnce.data(), bins, halfWidth, prefix.data());
    boxSmooth(smoothedOnce.data(), envelope.data(), bins, halfWidth, prefix.data());
}

// The envelope wanted at every output bin: the input's, read at the bin divided by the envelope ratio.
void FrameDecisions::moveEnvelope() noexcept
{
    const float* env = envelope.data();
    const float inverseRatio = 1.0f / settings.envelopeRatio;
    const float lastBin = static_cast<float>(bins - 1);
    for (int j = 0; j < bins; ++j) {
        const float source = std::min(static_cast<float>(j) * inverseRatio, lastBin);
        const int below = std::min(static_cast<int>(source), bins - 2);
        const float fraction = source - static_cast<float>(below);
        desiredEnvelope[static_cast<std::size_t>(j)] = env[below] + fraction * (env[below + 1] - env[below]);
    }
}

// Half width of the envelope smoothing box: half the harmonic spacing in bins. The spacing is the
// formant base hint when given, else the median distance between neighbouring strong peaks.
int FrameDecisions::estimateHalfWidth() noexcept
{
    const float maxSpacing = std::max(2.0f, static_cast<float>(blockLength) / 40.0f);
    float spacing = 0.0f;
    if (settings.formantBase > 0.0f) {
        spacing = settings.formantBase * static_cast<float>(blockLength);
    } else if (!medianPeakSpacing(peakCount, true, spacing)) {
        spacing = static_cast<float>(blockLength) / 200.0f;
    }
    spacing = std::clamp(spacing, 2.0f, maxSpacing);
    return std::max(1, static_cast<int>(spacing * 0.5f));
}

// Records the rotation of every bin's region for the next frame, per channel.
void FrameDecisions::recordRotations(PhaseTrack& track, int channels, bool aligned) noexcept
{
    for (std::size_t c = 0; c < static_cast<std::size_t>(channels); ++c) {
        for (int i = 0; i < peakCount; ++i) {
            const auto index = static_cast<std::size_t>(i);
            for (int k = regionStart[index]; k < regionStart[index + 1]; ++k)
                track.nextRotation[c][static_cast<std::size_t>(k)] = peakRotation[c][index];
        }
        std::swap(track.rotation[c], track.nextRotation[c]);
    }
    track.aligned = aligned;
}

// Moves each region of `in` by its peak's shift into `out`, rotated by its region's rotation and, when the
// formants move, scaled by desired envelope / envelope at the source bin; bins no region reaches stay silent.
void FrameDecisions::apply(const Complex* in, int channel, Complex* out) const noexcept
{
    std::memset(out, 0, sizeof(Complex) * static_cast<std::size_t>(bins));
    const float* env = envelope.data();
    const float* desired = desiredEnvelope.data();

    for (int i = 0; i < peakCount; ++i) {
        const auto index = static_cast<std::size_t>(i);
        const int start = regionStart[index];
        const int end = regionStart[index + 1];
        const int shift = peakShift[index];
        const Complex z = peakRotation[static_cast<std::size_t>(channel)][index];

        // Output range; where a lower ratio makes neighbouring regions overlap they split it evenly.
        int low = start + shift;
        if (i > 0 && peakShift[index - 1] > shift)
            low = start + shift + (peakShift[index - 1] - shift) / 2;
        int high = end + shift;
        if (i + 1 < peakCount && peakShift[index + 1] < shift)
            high = end + peakShift[index + 1] + (shift - peakShift[index + 1]) / 2;
        low = std::max(low, std::max(0, shift));
        high = std::min(high, std::min(bins, bins + shift));

        if (settings.moveFormants) {
            for (int j = low; j < high; ++j) {
                const int src = j - shift;
                const float gain = std::min(maxFormantGain, std::sqrt(desired[j] / (env[src] + 1e-30f)));
                const Complex x = in[src];
                out[j] = Complex{(x.re * z.re - x.im * z.im) * gain, (x.re * z.im + x.im * z.re) * gain};
            }
        } else {
            for (int j = low; j < high; ++j)
                out[j] = multiply(in[j - shift], z);
        }
    }
}

} // namespace tolmar
