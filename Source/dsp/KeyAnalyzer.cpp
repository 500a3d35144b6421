#include "dsp/KeyAnalyzer.h"

#include "dsp/Decimator.h"
#include "dsp/Key.h"
#include "dsp/LowpassDecimator.h"
#include "dsp/NoteSalience.h"
#include "dsp/PitchDetector.h"
#include "dsp/RealFft.h"
#include "dsp/RingBuffer.h"
#include "dsp/SampleRate.h"
#include "dsp/SampleSafety.h"
#include "dsp/WindowFunctions.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>

namespace tolmar {

namespace {

constexpr int frameSize = 4096;
constexpr int bins = frameSize / 2 + 1;
constexpr int hopSize = 1024;
// A peak rises strictly above the bin below it, so no two peaks are neighbours: at most one per two bins.
constexpr int maxPeaks = bins / 2;
static_assert(maxPeaks <= NoteSalience::maxPeaks, "every peak of a frame can vote");
constexpr double targetRate = 12000.0;
constexpr double secondsToDecide = 8.0;
constexpr double silenceMeanSquare = 1e-8;
// Peaks from 25 Hz, where the partials of the lowest notes looked for begin, to 4 kHz, or less where the
// anti-alias filter's edge (0.38 of the analysis rate) comes first; those at least 1 % of the strongest.
constexpr double lowestPeakHz = 25.0;
constexpr double highestPartialHz = 4000.0;
constexpr double partialBandOfRate = 0.38;
constexpr float peakThreshold = 0.01f;

} // namespace

struct KeyAnalyzer::Impl {
    // Real transform of one 4096-sample frame: bins 0..2048 are all that is needed. Made once by the first prepare.
    RealFft fft;

    std::array<std::array<float, frameSize>, 2> history{}; // per channel, circular, sharing writeIndex
    std::array<float, frameSize> window{};
    std::array<float, bins> magnitudes{};
    std::array<SpectralPeak, maxPeaks> peaks{};
    std::array<float, 12> chroma{};
    LowpassDecimator decimator; // to about 12 kHz
    NoteSalience notes;
    double analysisRate = targetRate;
    double analysedSamples = 0.0;
    std::int32_t writeIndex = 0;
    std::int32_t filled = 0;
    std::int32_t hopCount = 0;
    std::int32_t channels = 1;
    bool prepared = false;
    std::int32_t stage = 0;
    KeyEstimate estimate;

    void makeTransform()
    {
        if (fft.size() != frameSize)
            fft.prepare(frameSize, false);
    }

    void clear() noexcept
    {
        for (auto& ring : history)
            ring.fill(0.0f);
        chroma.fill(0.0f);
        decimator.reset();
        analysedSamples = 0.0;
        writeIndex = 0;
        filled = 0;
        hopCount = 0;
        estimate = {};
        stage = 0;
    }

    double decisionSamples() const noexcept { return secondsToDecide * analysisRate; }

    int findPeaks(double highestHz) noexcept;
    void analyseFrame() noexcept;
};

// Local maxima of the magnitudes from lowestPeakHz to highestHz, at least peakThreshold of the largest there,
// at their parabola-refined frequencies, ascending, into `peaks`; returns their count.
int KeyAnalyzer::Impl::findPeaks(double highestHz) noexcept
{
    const double binHz = analysisRate / frameSize;
    const int lowest = std::max(2, static_cast<int>(std::ceil(lowestPeakHz / binHz)));
    const int highest = std::min(bins - 2, static_cast<int>(highestHz / binHz));
    float bandLargest = 0.0f;
    for (int k = lowest; k <= highest; ++k)
        bandLargest = std::max(bandLargest, magnitudes[static_cast<std::size_t>(k)]);
    const float threshold = peakThreshold * bandLargest;

    int peakCount = 0;
    for (int k = lowest; k <= highest; ++k) {
        const float before = magnitudes[static_cast<std::size_t>(k - 1)];
        const float at = magnitudes[static_cast<std::size_t>(k)];
        const float after = magnitudes[static_cast<std::size_t>(k + 1)];
        if (!(at >= threshold && at > before && at >= after && at > 0.0f))
            continue;
        const double frequency = refinePeriod(k, before, at, after) * binHz;
        // Cannot happen with cleaned input; keeps the note search away from bad values.
        if (!(frequency > 0.0) || !std::isfinite(frequency))
            continue;
        peaks[static_cast<std::size_t>(peakCount++)] = {frequency, at};
    }
    return peakCount;
}

void KeyAnalyzer::Impl::analyseFrame() noexcept
{
    magnitudes.fill(0.0f);
    double energy = 0.0;
    float* frame = fft.time();
    const Complex* spectrum = fft.spectrum();
    for (std::int32_t c = 0; c < channels; ++c) {
        // The ring oldest-first into the windowed frame.
        forEachRunFrom(history[static_cast<std::size_t>(c)].data(), writeIndex, frameSize,
                       [&](const float* run, int offset, int count) {
                           for (int j = 0; j < count; ++j) {
                               const float x = run[j];
                               energy += static_cast<double>(x * x);
                               frame[offset + j] = x * window[static_cast<std::size_t>(offset + j)];
                           }
                       });
        fft.forward();
        for (int k = 0; k < bins; ++k) {
            const float re = spectrum[k].re;
            const float im = spectrum[k].im;
            magnitudes[static_cast<std::size_t>(k)] += re * re + im * im;
        }
    }

    // Silence gate at a mean square of 1e-8 (about -80 dBFS): such a frame leaves no trace.
    if (energy < static_cast<double>(channels) * frameSize * silenceMeanSquare)
        return;

    stage = 1;
    analysedSamples += hopSize;

    // Magnitude averaged in power over the channels.
    const auto channelCount = static_cast<float>(channels);
    for (auto& magnitude : magnitudes)
        magnitude = std::sqrt(magnitude / channelCount);

    const double highestHz = std::min(highestPartialHz, partialBandOfRate * analysisRate);
    std::array<float, 12> frameWeights{};
    const float totalWeight = notes.addPitchClassWeights(peaks.data(), findPeaks(highestHz), highestHz, frameWeights);

    // Each frame with peaks adds a profile summing to 1, whatever its loudness.
    if (totalWeight > 0.0f)
        for (std::size_t i = 0; i < 12; ++i)
            chroma[i] += frameWeights[i] / totalWeight;

    if (analysedSamples >= decisionSamples()) {
        estimate = classifyChroma(chroma);
        stage = estimate.key >= 0 ? 3 : 2;
    }
}

KeyAnalyzer::KeyAnalyzer() : impl(std::make_unique<Impl>()) {}

KeyAnalyzer::~KeyAnalyzer() = default;

void KeyAnalyzer::prepare(double sampleRateHz)
{
    if (!isSupportedSampleRate(sampleRateHz))
        throw std::invalid_argument("Unsupported key-analysis sample rate");

    auto& state = *impl;
    const std::int32_t foundKey = state.estimate.key;
    state.makeTransform();

    state.decimator.setFactor(decimationFactor(sampleRateHz, targetRate));
    state.analysisRate = sampleRateHz / state.decimator.decimation();
    fillHannWindow(state.window.data(), frameSize);

    state.prepared = true;
    state.clear();
    if (isKey(foundKey)) {
        state.estimate = {foundKey, 0.0f};
        state.stage = toInt(KeyStage::keyKnown);
    }
}

void KeyAnalyzer::reset() noexcept { impl->clear(); }

void KeyAnalyzer::restore(std::int32_t key) noexcept
{
    impl->clear();
    if (isKey(key)) {
        impl->estimate = {key, 0.0f};
        impl->stage = toInt(KeyStage::keyKnown);
    }
}

void KeyAnalyzer::process(const float* const* channels, int numChannels, int samples) noexcept
{
    auto& state = *impl;
    if (samples < 1 || (numChannels != 1 && numChannels != 2) || !state.prepared || state.stage >= 2)
        return;
    if (channels == nullptr || channels[0] == nullptr || (numChannels == 2 && channels[1] == nullptr))
        return;

    state.channels = numChannels;
    for (int i = 0; i < samples; ++i) {
        float frame[2] = {};
        for (int c = 0; c < numChannels; ++c)
            frame[c] = cleanSample(channels[c][i]);
        float decimated[2] = {};
        if (!state.decimator.push(frame, numChannels, decimated))
            continue;

        for (int c = 0; c < numChannels; ++c)
            state.history[static_cast<std::size_t>(c)][static_cast<std::size_t>(state.writeIndex)] = decimated[c];
        state.writeIndex = ringNext(state.writeIndex, frameSize);
        state.filled = std::min(state.filled, frameSize - 1) + 1;
        if (++state.hopCount >= hopSize && state.filled == frameSize) {
            state.hopCount = 0;
            state.analyseFrame();
            if (state.stage >= 2)
                return;
        }
    }
}

KeyEstimate KeyAnalyzer::result() const noexcept { return impl->estimate; }

int KeyAnalyzer::stage() const noexcept { return impl->stage; }

float KeyAnalyzer::progress() const noexcept
{
    return static_cast<float>(std::min(impl->analysedSamples / impl->decisionSamples(), 1.0));
}

} // namespace tolmar
