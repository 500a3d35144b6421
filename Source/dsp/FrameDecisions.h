#pragma once

#include "dsp/RealFft.h"

#include <array>
#include <vector>

namespace tolmar {

// The phase history of one succession of frames, per channel: the previous analysis spectrum, and per analysis
// bin the rotation its region used in the previous frame.
struct PhaseTrack {
    std::array<std::vector<Complex>, 2> previousSpectrum;
    std::array<std::vector<Complex>, 2> rotation;
    std::array<std::vector<Complex>, 2> nextRotation;
    bool aligned = true; // every rotation is exactly 1

    void assign(int bins);         // allocates
    void clear() noexcept;         // silent history, every rotation 1
    void forgetSpectra() noexcept; // silent history, rotations kept
};

// How a frame is to be shifted.
struct ShiftSettings {
    float ratio = 1.0f;         // every frequency is multiplied by it
    float envelopeRatio = 1.0f; // the spectral envelope moves by it
    bool moveFormants = false;  // envelopeRatio differs from ratio: bins are rescaled
    float formantBase = 0.0f;   // fundamental hint, cycles per sample; 0 for none
};

// The phase vocoder's spectral decisions for one frame, taken once for all channels on their mean power
// (stereo-linked): the peaks and their regions of influence, each region's whole-bin shift (from the true
// frequency of the channel loudest at the peak) and the spectral envelope. Each channel then applies them to
// its own spectrum, with its region rotations advanced by its own phases, so both channels move the same
// partials by the same bins and keep their level and time relations. configure() allocates; decide() and
// apply() are real-time safe.
class FrameDecisions {
public:
    // Frames of blockLength samples every interval samples. Allocates.
    void configure(int blockLength, int interval);

    // Decides the frame from the spectra of `channels` channels (1 or 2) along `track`: with anchors null the
    // regions' rotations advance from the track's previous frame; with a frame index per channel they are set
    // so that each region's content keeps its phase at that sample. Updates the track's rotations (not its
    // spectra). A silent frame decides nothing and leaves the rotations as they are.
    void decide(const Complex* const* spectra, int channels, PhaseTrack& track, const ShiftSettings& settings,
                const int* anchors) noexcept;
    // The synthesis of channel `channel`'s spectrum: its regions moved, rotated and rescaled into `out` (all bins).
    void apply(const Complex* spectrum, int channel, Complex* out) const noexcept;

private:
    int findPeaks(const Complex* const* spectra, int channels) noexcept;
    int keepHarmonicPeaks(int count) noexcept;
    bool medianPeakSpacing(int count, bool trueFrequencies, float& spacing) noexcept;
    bool advancePhases(const Complex* const* spectra, int channels, const PhaseTrack& track,
                       const int* anchors) noexcept;
    void findRegions() noexcept;
    void estimateEnvelope() noexcept;
    void moveEnvelope() noexcept;
    int estimateHalfWidth() noexcept;
    float phaseDeviation(Complex a, Complex b, int k) const noexcept;
    Complex nextRotation(Complex rotation, double advance, double trueBin, int anchor) const noexcept;
    void recordRotations(PhaseTrack& track, int channels, bool aligned) noexcept;

    int blockLength = 16;
    int interval = 1;
    int bins = 9;
    ShiftSettings settings;
    int peakCount = 0;

    std::vector<Complex> hopTwiddle; // exp(-i 2 pi k interval / blockLength)
    std::vector<float> power;        // the channels' mean
    std::vector<float> smoothedOnce;
    std::vector<float> envelope;
    std::vector<float> desiredEnvelope; // per output bin
    std::vector<double> prefix;
    std::vector<int> peakBin;
    std::vector<int> regionStart;
    std::vector<int> peakShift;
    std::vector<float> peakTrueBin;
    std::array<std::vector<Complex>, 2> peakRotation; // per channel and peak
    std::vector<float> spacings;
};

} // namespace tolmar
