#include "dsp/Engine.h"

#include "dsp/Decimator.h"
#include "dsp/LiveCorrector.h"
#include "dsp/Mastering.h"
#include "dsp/OnePole.h"
#include "dsp/PitchDetector.h"
#include "dsp/PitchShifter.h"
#include "dsp/RingBuffer.h"
#include "dsp/SampleRate.h"
#include "dsp/SampleSafety.h"
#include "dsp/VoiceChains.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace tolmar {

namespace {

constexpr int ringSize = 512;          // analysis samples looked at per estimate
constexpr int analysisInterval = 128;  // analysis samples between estimates
// The meters fall with a time constant of 0.128 s whatever the host's block length: by 0.92 over 512 samples
// at 48 kHz, about 68 dB a second.
constexpr double meterTimeConstantSeconds = 0.128;
constexpr float bypassStep = 0.01f;    // one-pole bypass fade, about 100 samples
constexpr float bypassSnap = 0.00001f; // distance at which the fade lands exactly
constexpr double pathFadeSeconds = 0.005; // linear cross-fade between the full and the low-latency path

// Smallest power of two of at least 1024 samples and at least 35 ms.
int shifterBlockLength(double sampleRate) noexcept
{
    int length = 1024;
    while (length < 0.035 * sampleRate)
        length *= 2;
    return length;
}

} // namespace

bool usesLivePath(const Settings& settings) noexcept
{
    return settings.live && isTunedMode(settings.mode);
}

struct Engine::Impl {
    PitchShifter stretcher; // phase-vocoder pitch and formant shifter
    double sampleRate = 48000.0;
    double wobbleTime = 0.0; // seconds, modulo 0.8
    std::int32_t maxBlock = 512;
    std::int32_t dryPos = 0;
    std::int32_t framesSinceAnalysis = 0;
    std::int32_t latencySamples = 0;
    std::int32_t liveLatencySamples = 0;
    std::int32_t pathFadeSamples = 240;
    float pathMix = 0.0f; // 0 the full path, 1 the low-latency path
    float detectedHz = 0.0f;
    float shiftSemitones = 12.0f;
    float inputPeak = 0.0f;
    float outputPeak = 0.0f;
    float bypassMix = 0.0f;
    bool prepared = false;
    bool hostBypass = false; // the dry input passes unguarded: the host's bypass, or the fade out of it
    Mode lastMode = Mode::mosquito;
    Mastering mastering;
    LiveCorrector corrector; // the low-latency path of the tuning styles
    VoiceChains voice;                // presence equaliser, band, envelope, de-esser, echo, combs, all-passes, texture
    BoxcarDecimator<float> decimator; // to about 12 kHz for the pitch detector
    RingBuffer analysisRing;          // the last ringSize decimated samples
    std::array<float, ringSize> analysisFrame{};
    std::array<std::vector<float>, 2> inputScratch;
    std::array<std::vector<float>, 2> dryScratch; // the chunk's input with only non-finite samples silenced
    std::array<std::vector<float>, 2> outputScratch;
    std::array<std::vector<float>, 2> liveScratch; // the corrector's output of a chunk
    std::vector<float> pathScratch;                 // pathMix at each sample of a chunk
    std::array<std::vector<float>, 2> dryDelay;
    std::vector<float> oscillatorScratch; // texture oscillator values of a chunk, maxBlock entries

    void resetState() noexcept;
    void processMastering(float* const* channels, int numChannels, int offset, int length, bool bypass) noexcept;
    void processChunk(float* const* channels, int numChannels, int offset, int length, const VoiceProfile& profile,
                      const Settings& settings) noexcept;
    int analyse(float* const* channels, int numChannels, int offset, int length) noexcept;
    float updateShift(const VoiceProfile& profile, const Settings& settings, int length) noexcept;

    void keepDryInput(const float* left, const float* right, int length) noexcept;
    // The corrector's chunk into liveScratch, faded with the shifter's in outputScratch; null when the full path
    // alone sounds all through the chunk (the corrector then only keeps the input). Returns the path gains.
    const float* runLivePath(const VoiceProfile& profile, bool live, int length) noexcept;
    void mixChannels(float* const* channels, int numChannels, int offset, int length, bool bypass,
                     const float* pathGains = nullptr) noexcept;
    // pathGains: null on the full path alone, else the chunk's gains of the low-latency path.
    void mixChannel(int channel, float* destination, int length, bool bypass, const float* pathGains) noexcept;

    // One output sample: the wet and dry samples at their fade gains, guarded; while the host bypasses only
    // the wet part is guarded, and the settled dry input is copied (not multiplied, which would flush
    // denormals), so it comes out exactly.
    float mixSample(float wet, float wetGain, float dry, float dryGain) const noexcept
    {
        if (hostBypass)
            return pick(dryGain == 1.0f, dry, guardOutput(wet) * wetGain + dry * dryGain);
        return guardOutput(wet * wetGain + cleanSample(dry) * dryGain);
    }
};

Engine::Engine()
    : impl(std::make_unique<Impl>())
{
}

Engine::~Engine() = default;

void Engine::prepare(double sampleRateHz, int maxBlock)
{
    if (maxBlock < 1 || !isSupportedSampleRate(sampleRateHz))
        throw std::invalid_argument("Unsupported audio configuration");

    Impl& s = *impl;
    // Unprepared until every buffer has its new size: if an allocation fails part-way, process passes audio
    // through instead of running with the new block length over the old buffers.
    s.prepared = false;
    s.sampleRate = sampleRateHz;
    s.maxBlock = maxBlock;

    const int blockLength = shifterBlockLength(sampleRateHz);
    s.stretcher.configure(2, blockLength, blockLength / 16);
    s.latencySamples = std::max(1, s.stretcher.inputLatency() + s.stretcher.outputLatency());
    s.corrector.prepare(2, sampleRateHz);
    s.liveLatencySamples = std::min(s.corrector.latency(), s.latencySamples - 1);
    s.pathFadeSamples = std::max(1, static_cast<int>(std::lround(pathFadeSeconds * sampleRateHz)));

    s.mastering.prepare(s.latencySamples, sampleRateHz);
    s.decimator.setFactor(decimationFactor(sampleRateHz, 12000.0));
    s.analysisRing.resize(ringSize);
    s.voice.prepare(sampleRateHz);
    for (std::size_t ch = 0; ch < 2; ++ch) {
        s.inputScratch[ch].assign(static_cast<std::size_t>(maxBlock), 0.0f);
        s.dryScratch[ch].assign(static_cast<std::size_t>(maxBlock), 0.0f);
        s.outputScratch[ch].assign(static_cast<std::size_t>(maxBlock), 0.0f);
        s.liveScratch[ch].assign(static_cast<std::size_t>(maxBlock), 0.0f);
        s.dryDelay[ch].assign(static_cast<std::size_t>(s.latencySamples), 0.0f);
    }
    s.oscillatorScratch.assign(static_cast<std::size_t>(maxBlock), 0.0f);
    s.pathScratch.assign(static_cast<std::size_t>(maxBlock), 0.0f);
    s.prepared = true;
    reset();
}

void Engine::reset() noexcept
{
    if (impl->prepared)
        impl->resetState();
}

void Engine::Impl::resetState() noexcept
{
    stretcher.reset();
    corrector.reset();
    pathMix = 0.0f;
    decimator.reset();
    dryPos = 0;
    framesSinceAnalysis = 0;
    detectedHz = 0.0f;
    inputPeak = 0.0f;
    outputPeak = 0.0f;
    bypassMix = 0.0f;
    shiftSemitones = 12.0f;
    lastMode = Mode::mosquito;
    wobbleTime = 0.0;
    voice.reset();
    analysisRing.clear();
    analysisFrame.fill(0.0f);
    mastering.reset();
    for (auto& line : dryDelay)
        std::fill(line.begin(), line.end(), 0.0f);
}

void Engine::process(float* const* channels, int numChannels, int numSamples, Settings settings) noexcept
{
    Impl& s = *impl;
    const auto modeIndex = static_cast<std::int32_t>(settings.mode);
    if (numSamples < 1 || (numChannels != 1 && numChannels != 2) || !s.prepared || channels == nullptr ||
        modeIndex < 0 || modeIndex > 7)
        return;
    for (int ch = 0; ch < numChannels; ++ch)
        if (channels[ch] == nullptr)
            return;

    const ScopedFlushDenormals noDenormals;

    // Entering or leaving the mastering chain starts every line from silence.
    if ((s.lastMode == Mode::master) != (settings.mode == Mode::master))
        s.resetState();

    settings.root = std::clamp(settings.root, 0, 11);
    // The dry input stays unguarded from the host's bypass until the fade back to the wet signal is over, so
    // leaving the bypass does not jump to the guard.
    s.hostBypass = settings.hostBypass || (s.hostBypass && !settings.bypass && s.bypassMix > 0.0f);
    const auto meterDecay = static_cast<float>(std::exp(-numSamples / (meterTimeConstantSeconds * s.sampleRate)));
    s.inputPeak *= meterDecay;
    s.outputPeak *= meterDecay;

    if (settings.mode == Mode::master) {
        for (int offset = 0; offset < numSamples; offset += s.maxBlock)
            s.processMastering(channels, numChannels, offset, std::min(s.maxBlock, numSamples - offset),
                               settings.bypass);
        s.lastMode = Mode::master;
        return;
    }

    const VoiceProfile& profile = voiceProfile(settings.mode);
    s.voice.setProfile(settings.mode);
    for (int offset = 0; offset < numSamples; offset += s.maxBlock)
        s.processChunk(channels, numChannels, offset, std::min(s.maxBlock, numSamples - offset), profile, settings);
}

// The mastering chain over one chunk: cleaned input (both sides metered) into inputScratch, the limited output
// into outputScratch, then the same mix as the voice modes.
void Engine::Impl::processMastering(float* const* channels, int numChannels, int offset, int length,
                                    bool bypass) noexcept
{
    const float* left = channels[0] + offset;
    const float* right = channels[numChannels - 1] + offset;
    float* input[2] = {inputScratch[0].data(), inputScratch[1].data()};
    float* wet[2] = {outputScratch[0].data(), outputScratch[1].data()};
    keepDryInput(left, right, length);
    for (int i = 0; i < length; ++i) {
        const float xL = cleanSample(left[i]);
        const float xR = cleanSample(right[i]);
        inputPeak = std::max(inputPeak, std::max(std::fabs(xL), std::fabs(xR)));
        input[0][i] = xL;
        input[1][i] = xR;

        const Mastering::Frame limited = mastering.process(xL, xR);
        wet[0][i] = Mastering::safetyClamp(limited.left);
        wet[1][i] = Mastering::safetyClamp(limited.right);
    }
    mixChannels(channels, numChannels, offset, length, bypass);
}

// Cleans the chunk into the scratch buffers, picks the louder channel for analysis (the right one only when
// clearly louder), meters it and feeds the box-car decimator, the ring and the YIN estimate.
int Engine::Impl::analyse(float* const* channels, int numChannels, int offset, int length) noexcept
{
    const float* first = channels[0] + offset;
    const float* last = channels[numChannels - 1] + offset;
    float* scratch0 = inputScratch[0].data();
    float* scratch1 = inputScratch[1].data();
    double energy0 = 0.0;
    double energy1 = 0.0;
    keepDryInput(first, last, length);
    for (int i = 0; i < length; ++i) {
        const float x0 = cleanSample(first[i]);
        const float x1 = cleanSample(last[i]);
        scratch0[i] = x0;
        scratch1[i] = x1;
        energy0 += static_cast<double>(x0) * x0;
        energy1 += static_cast<double>(x1) * x1;
    }
    const int analysisChannel = numChannels == 2 && energy1 > 1.25 * energy0 ? 1 : 0;
    const float* x = inputScratch[static_cast<std::size_t>(analysisChannel)].data();

    const double analysisRate = sampleRate / decimator.decimation();
    for (int i = 0; i < length; ++i) {
        inputPeak = std::max(inputPeak, std::fabs(x[i]));
        float decimated = 0.0f;
        if (!decimator.push(x[i], decimated))
            continue;
        analysisRing.push(decimated);
        if (++framesSinceAnalysis < analysisInterval)
            continue;
        analysisRing.copyOldestFirst(analysisFrame.data());
        detectedHz = estimatePitch(analysisFrame.data(), analysisFrame.size(), analysisRate);
        framesSinceAnalysis = 0;
    }
    return analysisChannel;
}

// Target transposition of the chunk and the glide towards it; returns targetHz (0 without a scale note).
float Engine::Impl::updateShift(const VoiceProfile& profile, const Settings& settings, int length) noexcept
{
    float target = profile.baseSemitones;
    if (profile.wobble)
        target = wobbleSemitones(wobbleTime);
    wobbleTime = std::fmod(wobbleTime + length / sampleRate, 0.8);

    float targetHz = 0.0f;
    if (profile.tuned() && detectedHz > 0.0f) {
        const float note = 69.0f + 12.0f * std::log2(detectedHz / 440.0f);
        const float snapped = scaleTarget(note, settings.root, settings.scale);
        target = profile.strength * std::clamp(snapped - note, -2.0f, 2.0f);
        targetHz = 440.0f * std::exp2((snapped - 69.0f) / 12.0f);
    }

    float step = 0.65f;
    if (profile.glide == Glide::timeConstant)
        step = timeConstantCoefficient(length, sampleRate * profile.glideMs * 0.001);
    else if (profile.glide == Glide::jump)
        step = 1.0f;
    if (lastMode != profile.mode)
        step = 1.0f;
    shiftSemitones += step * (target - shiftSemitones);
    lastMode = profile.mode;
    return targetHz;
}

void Engine::Impl::processChunk(float* const* channels, int numChannels, int offset, int length,
                                const VoiceProfile& profile, const Settings& settings) noexcept
{
    analyse(channels, numChannels, offset, length);
    const float targetHz = updateShift(profile, settings, length);

    stretcher.setTransposeSemitones(shiftSemitones);
    stretcher.setFormantFactor(profile.formantFactor, profile.tuned());
    stretcher.setFormantBase(profile.pitchHint ? detectedHz / static_cast<float>(sampleRate) : 0.0f);
    const float* inputs[2] = {inputScratch[0].data(), inputScratch[1].data()};
    float* outputs[2] = {outputScratch[0].data(), outputScratch[1].data()};
    stretcher.process(inputs, length, outputs, length);
    const float* pathGains = runLivePath(profile, usesLivePath(settings), length);

    // The chains and the mix run over the whole chunk rather than sample by sample: the channels share no state but
    // the echo position, the oscillator and the bypass fade, each of which is the same sample for sample either way.
    const float* oscillator = nullptr;
    if (profile.texture) {
        voice.oscillatorBlock(targetHz, oscillatorScratch.data(), length);
        oscillator = oscillatorScratch.data();
    }
    float* wet[2] = {outputScratch[0].data(), outputScratch[1].data()};
    voice.processChannels(wet, length, oscillator);
    voice.advance(length);

    mixChannels(channels, numChannels, offset, length, settings.bypass, pathGains);
}

const float* Engine::Impl::runLivePath(const VoiceProfile& profile, bool live, int length) noexcept
{
    const float* inputs[2] = {inputScratch[0].data(), inputScratch[1].data()};
    if (!live && pathMix == 0.0f) {
        corrector.listen(inputs, length);
        return nullptr;
    }
    // The same correction as the shifter's: the detected period, the gliding shift and the style's formants.
    corrector.setPitch(detectedHz > 0.0f ? static_cast<float>(sampleRate / detectedHz) : 0.0f,
                       std::exp2(shiftSemitones / 12.0f), profile.formantFactor);
    float* outputs[2] = {liveScratch[0].data(), liveScratch[1].data()};
    corrector.process(inputs, outputs, length);

    const float step = (live ? 1.0f : -1.0f) / static_cast<float>(pathFadeSamples);
    float* gains = pathScratch.data();
    for (int i = 0; i < length; ++i) {
        pathMix = std::clamp(pathMix + step, 0.0f, 1.0f);
        gains[i] = pathMix;
    }
    for (std::size_t ch = 0; ch < 2; ++ch) {
        float* wet = outputScratch[ch].data();
        const float* corrected = liveScratch[ch].data();
        for (int i = 0; i < length; ++i)
            wet[i] = pick(gains[i] == 1.0f, corrected[i], wet[i] + gains[i] * (corrected[i] - wet[i]));
    }
    return gains;
}

// The chunk's input as the dry path hears it: only not-a-number and infinities become silence.
void Engine::Impl::keepDryInput(const float* left, const float* right, int length) noexcept
{
    float* dry0 = dryScratch[0].data();
    float* dry1 = dryScratch[1].data();
    for (int i = 0; i < length; ++i) {
        dry0[i] = std::isfinite(left[i]) ? left[i] : 0.0f;
        dry1[i] = std::isfinite(right[i]) ? right[i] : 0.0f;
    }
}

// Mixes both channels' chunk (outputScratch with the dry line) into channels at offset; a mono bus gets channel 0,
// and channel 1 is still computed and metered. Both channels start from the same fade and dry position.
void Engine::Impl::mixChannels(float* const* channels, int numChannels, int offset, int length, bool bypass,
                               const float* pathGains) noexcept
{
    const float startMix = bypassMix;
    const std::int32_t startPos = dryPos;
    for (int ch = 0; ch < 2; ++ch) {
        bypassMix = startMix;
        dryPos = startPos;
        mixChannel(ch, ch < numChannels ? channels[ch] + offset : nullptr, length, bypass, pathGains);
    }
}

// Fades between the wet chunk (outputScratch) and the latency-aligned dry input, guards, meters and writes one
// channel (destination may be null: computed and metered, not written). Leaves bypassMix and dryPos as they
// are after the chunk.
void Engine::Impl::mixChannel(int channel, float* destination, int length, bool bypass,
                              const float* pathGains) noexcept
{
    const auto c = static_cast<std::size_t>(channel);
    const float* wet = outputScratch[c].data();
    const float* input = dryScratch[c].data();
    float* line = dryDelay[c].data();
    const float target = bypass ? 1.0f : 0.0f;
    float mix = bypassMix;
    float peak = outputPeak;
    std::int32_t pos = dryPos;
    if (mix == target && pathGains == nullptr) {
        // Settled fade (the usual case): the loop has no recurrence left and runs vectorised between the wraps
        // of the dry line. The peak is a branch-free form of std::max.
        const float wetGain = 1.0f - mix;
        std::int32_t peakBits = 0; // magnitudes are not negative, so their bit patterns order as they do
        std::memcpy(&peakBits, &peak, sizeof(peakBits));
        for (int i = 0; i < length;) {
            const int run = ringRun(pos, length - i, latencySamples);
            float* dryRun = line + pos;
            const float* wetRun = wet + i;
            const float* inputRun = input + i;
            float* outRun = destination != nullptr ? destination + i : outputScratch[c].data() + i;
            for (int k = 0; k < run; ++k) {
                const float dry = dryRun[k];
                dryRun[k] = inputRun[k];
                const float out = mixSample(wetRun[k], wetGain, dry, mix);
                std::int32_t bits = 0;
                const float magnitude = std::fabs(out);
                std::memcpy(&bits, &magnitude, sizeof(bits));
                peakBits = std::max(peakBits, bits);
                outRun[k] = out;
            }
            i += run;
            pos = ringAfter(pos, run, latencySamples);
        }
        std::memcpy(&peak, &peakBits, sizeof(peak));
        outputPeak = peak;
        dryPos = pos;
        return;
    }
    // With path gains the dry input is also read at the low-latency path's delay and faded with the full one.
    std::int32_t livePos = ringAfter(pos, latencySamples - liveLatencySamples, latencySamples);
    for (int i = 0; i < length; ++i) {
        if (mix != target) {
            mix += bypassStep * (target - mix);
            if (std::fabs(target - mix) < bypassSnap)
                mix = target;
        }
        float dry = line[pos];
        if (pathGains != nullptr) {
            const float live = line[livePos];
            dry = pick(pathGains[i] == 1.0f, live, dry + pathGains[i] * (live - dry));
        }
        line[pos] = input[i];
        const float out = mixSample(wet[i], 1.0f - mix, dry, mix);
        peak = std::max(peak, std::fabs(out));
        if (destination != nullptr)
            destination[i] = out;
        pos = ringNext(pos, latencySamples);
        livePos = ringNext(livePos, latencySamples);
    }
    bypassMix = mix;
    outputPeak = peak;
    dryPos = pos;
}

int Engine::latency() const noexcept
{
    return impl->latencySamples;
}

int Engine::liveLatency() const noexcept
{
    return impl->liveLatencySamples;
}

int Engine::latencyFor(const Settings& settings) const noexcept
{
    return usesLivePath(settings) ? impl->liveLatencySamples : impl->latencySamples;
}

float Engine::inputLevel() const noexcept
{
    return impl->inputPeak;
}

float Engine::outputLevel() const noexcept
{
    return impl->outputPeak;
}

float Engine::detectedPitch() const noexcept
{
    return impl->detectedHz;
}

} // namespace tolmar
