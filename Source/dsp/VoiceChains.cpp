#include "dsp/VoiceChains.h"

#include "dsp/FastMath.h"
#include "dsp/MathConstants.h"
#include "dsp/OnePole.h"
#include "dsp/RingBuffer.h"
#include "dsp/SampleSafety.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tolmar {

namespace {

// clang-format off
constexpr std::array<VoiceProfile, 7> profiles{{
    // mode, wobble, base st, formant, pitch hint, strength, glide, glide ms, high-pass Hz, low-pass Hz,
    // character, threshold, exponent, drive, softness, texture, echo s, send, feedback, double tap, comb feedback,
    // all-passes, reverb
    {Mode::mosquito, false, 12.0f, 1.45f, true, 0.0f, Glide::fixedStep, 0.0, 390.0, 8000.0,
     Character::presence, 0.0f, 0.0f, 0.0f, 1.0f, false, 0.32, 0.0f, 0.21f, false, 0.64f, false, 0.0f},
    {Mode::satanic, false, -12.0f, 0.8f, false, 0.0f, Glide::fixedStep, 0.0, 55.0, 2600.0,
     Character::saturation, 0.0f, 0.0f, 0.0f, 1.0f, false, 0.115, 0.18f, 0.21f, false, 0.64f, false, 0.0f},
    {Mode::trapDefault, false, 0.0f, 1.0f, false, 1.0f, Glide::fixedStep, 0.0, 90.0, 14000.0,
     Character::dynamics, 0.18f, 0.75f, 1.7f, 1.15f, false, 0.32, 0.28f, 0.34f, false, 0.83f, true, 0.12f},
    {Mode::dizzyMosquito, true, 12.0f, 1.15f, false, 0.0f, Glide::fixedStep, 0.0, 650.0, 6500.0,
     Character::none, 0.0f, 0.0f, 0.0f, 1.0f, false, 0.32, 0.0f, 0.21f, false, 0.64f, false, 0.0f},
    {Mode::cumbia, false, 0.0f, 1.0f, false, 0.55f, Glide::timeConstant, 60.0, 100.0, 12000.0,
     Character::dynamics, 0.22f, 0.6f, 1.45f, 1.05f, false, 0.105, 0.16f, 0.21f, false, 0.64f, false, 0.055f},
    {Mode::reggaeton, false, 0.0f, 1.0f, false, 0.9f, Glide::timeConstant, 12.0, 120.0, 15500.0,
     Character::dynamics, 0.14f, 0.8f, 1.9f, 1.3f, false, 0.072, 0.22f, 0.21f, true, 0.64f, false, 0.012f},
    {Mode::ultraEdited, false, 0.0f, 0.72f, false, 1.0f, Glide::jump, 0.0, 160.0, 7500.0,
     Character::dynamics, 0.12f, 0.875f, 2.1f, 2.4f, true, 0.03, 0.18f, 0.21f, false, 0.64f, false, 0.045f},
}};
// clang-format on

constexpr bool profilesInModeOrder()
{
    for (std::size_t i = 0; i < profiles.size(); ++i)
        if (profiles[i].mode != static_cast<Mode>(i))
            return false;
    return true;
}
static_assert(profilesInModeOrder(), "voiceProfile indexes the table by mode");

// Comb and all-pass times in seconds for the left channel; the right channel's are slightly longer.
constexpr std::array<double, 3> combSeconds{0.0297, 0.0368, 0.0439};
constexpr std::array<double, 2> allpassSeconds{0.005, 0.0073};
constexpr double combSpread = 0.0007;
constexpr double allpassSpread = 0.0003;

// std::round(value * 128) / 128 without the library call or a branch: truncate (keeping the sign of zero), then
// step away from zero where the exact remainder is at least a half. From 2^23 on every float is an integer.
inline float quantizeStep(float value) noexcept
{
    const float x = value * 128.0f;
    const bool inRange = std::fabs(x) < 8388608.0f; // false also for inf and NaN, which pass through
    const float t = std::copysign(static_cast<float>(static_cast<std::int32_t>(pick(inRange, x, 0.0f))), x);
    const float remainder = x - t;
    const float up = pick(remainder >= 0.5f, t + 1.0f, t);
    const float rounded = pick(remainder <= -0.5f, t - 1.0f, up);
    return pick(inRange, rounded, x) / 128.0f;
}

// (threshold / envelope)^exponent as 2^(exponent log2(threshold / envelope)) above the threshold, else 1. The power
// is formed in every case (harmlessly, also for a zero envelope) so that a loop over it stays branch-free.
inline float gain(float envelope, float threshold, float exponent) noexcept
{
    const float power = exp2Fast(exponent * log2Fast(threshold / envelope));
    return pick(envelope > threshold, power, 1.0f);
}

int lengthFor(double seconds, double sampleRate)
{
    return std::max(1, static_cast<int>(seconds * sampleRate));
}

} // namespace

const VoiceProfile& voiceProfile(Mode mode) noexcept
{
    const auto index = static_cast<std::int32_t>(mode);
    return profiles[index >= 0 && index < 7 ? static_cast<std::size_t>(index) : 0];
}

float quantize7Bit(float value) noexcept
{
    return quantizeStep(value);
}

float compressorGain(float envelope, float threshold, float exponent) noexcept
{
    return gain(envelope, threshold, exponent);
}

void VoiceChains::prepare(double sampleRateHz)
{
    sampleRate = sampleRateHz;

    // Cookbook peaking equaliser: +5 dB at 2100 Hz, Q 0.9.
    const double w0 = twoPi * 2100.0 / sampleRate;
    const double alpha = std::sin(w0) / 1.8;
    const double gainA = 1.333521432163324;
    const double a0 = 1.0 + alpha / gainA;
    for (auto& eq : presenceEq) {
        eq.b0 = static_cast<float>((1.0 + alpha * gainA) / a0);
        eq.b1 = static_cast<float>(-2.0 * std::cos(w0) / a0);
        eq.b2 = static_cast<float>((1.0 - alpha * gainA) / a0);
        eq.a1 = static_cast<float>(-2.0 * std::cos(w0) / a0);
        eq.a2 = static_cast<float>((1.0 - alpha / gainA) / a0);
        eq.z1 = 0.0f;
        eq.z2 = 0.0f;
    }

    for (std::size_t ch = 0; ch < 2; ++ch) {
        const double spread = static_cast<double>(ch);
        echoLine[ch].assign(static_cast<std::size_t>(lengthFor(0.5, sampleRate)), 0.0f);
        for (std::size_t k = 0; k < 3; ++k)
            combLine[ch][k].assign(
                static_cast<std::size_t>(lengthFor(combSeconds[k] + combSpread * spread, sampleRate)), 0.0f);
        for (std::size_t j = 0; j < 2; ++j)
            allpassLine[ch][j].assign(
                static_cast<std::size_t>(lengthFor(allpassSeconds[j] + allpassSpread * spread, sampleRate)), 0.0f);
    }
    setProfile(profile->mode);
    reset();
}

void VoiceChains::reset() noexcept
{
    texturePhase = 0.0;
    echoPos = 0;
    for (auto& eq : presenceEq) {
        eq.z1 = 0.0f;
        eq.z2 = 0.0f;
    }
    bandState = {};
    envelopeState = {};
    deEssState = {};
    combPos = {};
    combDamp = {};
    allpassPos = {};
    for (std::size_t ch = 0; ch < 2; ++ch) {
        std::fill(echoLine[ch].begin(), echoLine[ch].end(), 0.0f);
        for (auto& line : combLine[ch])
            std::fill(line.begin(), line.end(), 0.0f);
        for (auto& line : allpassLine[ch])
            std::fill(line.begin(), line.end(), 0.0f);
    }
}

void VoiceChains::setProfile(Mode mode) noexcept
{
    profile = &voiceProfile(mode);
    highpassCoef = onePoleCoefficient(profile->highpassHz, sampleRate);
    lowpassCoef = onePoleCoefficient(profile->lowpassHz, sampleRate);
    // The echo line is half a second long; every echo time is shorter.
    const int length = std::max(1, echoLength());
    echoDelaySamples = std::clamp(static_cast<int>(profile->echoSeconds * sampleRate), 1, length);
    for (std::size_t ch = 0; ch < 2; ++ch)
        tapDelay[ch] = std::clamp(static_cast<int>((0.012 + 0.004 * static_cast<double>(ch)) * sampleRate), 1, length);
}

namespace {

// Phase of the texture oscillator after one more step. fmod is exact, and so is the single subtraction that
// replaces it while the sum stays below two periods (Sterbenz lemma).
inline double advancePhase(double phase, double step) noexcept
{
    const double next = phase + step;
    if (next < twoPi)
        return next;
    return next < 2.0 * twoPi ? next - twoPi : std::fmod(next, twoPi);
}

// First-order high-pass then first-order low-pass (one-pole smoothers).
inline float bandStep(float& highpassLow, float& lowpass, float h, float l, float y) noexcept
{
    highpassLow += h * (y - highpassLow);
    const float u = y - highpassLow;
    lowpass += l * (u - lowpass);
    return lowpass;
}

// Peak follower: fast rise, slow fall.
inline void envelopeStep(float& env, float y) noexcept
{
    const float magnitude = std::fabs(y);
    const float k = magnitude > env ? 0.02f : 0.0008f;
    env += k * (magnitude - env);
}

// De-esser of the tuned modes: the part above a one-pole smoother is reduced by up to 70 % when it is loud.
inline float deEssStep(float& smooth, float y) noexcept
{
    smooth += 0.38f * (y - smooth);
    const float s = y - smooth;
    // std::clamp to 0 .. 0.7 without branches: the sibilance test flips from sample to sample.
    const float excess = 5.0f * (std::fabs(s) - 0.04f);
    const float raised = pick(excess < 0.0f, 0.0f, excess);
    const float r = pick(0.7f < raised, 0.7f, raised);
    return y - r * s;
}

// The tuned modes' settings of the compressor and the soft clipper, taken out of the profile for the loops.
struct Dynamics {
    float threshold;
    float exponent;
    float drive;
    float softness;

    explicit Dynamics(const VoiceProfile& p) noexcept
        : threshold(p.threshold)
        , exponent(p.exponent)
        , drive(p.drive)
        , softness(p.softness)
    {
    }
};

// Compressor gain on the envelope and soft clipper of the tuned modes, on the de-essed sample.
inline float softClipStep(float env, Dynamics d, float deEssed) noexcept
{
    const float g = gain(env, d.threshold, d.exponent);
    return tanhFast(d.softness * d.drive * g * deEssed) / d.softness;
}

// Presence equaliser (transposed direct form II), then the octave-up saturation.
template <typename Biquad> inline float presenceFilterStep(Biquad& eq, float y) noexcept
{
    const float out = eq.b0 * y + eq.z1;
    eq.z1 = eq.b1 * y - eq.a1 * out + eq.z2;
    eq.z2 = eq.b2 * y - eq.a2 * out;
    return out;
}

inline float presenceSaturationStep(float y) noexcept
{
    return 0.65f * tanhFast(3.2f * y);
}

inline float saturationStep(float y) noexcept
{
    return 0.7f * tanhFast(2.1f * y);
}

inline float textureStep(float y, float env, float oscillator) noexcept
{
    return quantizeStep(0.7f * y + 0.55f * env * oscillator);
}

// Damped comb on its current slot: read, low-pass the read value, write input plus damped feedback. Returns the
// value read.
inline float combStep(float& slot, float& damp, float feedback, float y) noexcept
{
    const float c = slot;
    damp += 0.3f * (c - damp);
    slot = y + feedback * damp;
    return c;
}

// Schroeder all-pass with g = 0.5 on its current slot.
inline float allpassStep(float& slot, float in) noexcept
{
    const float v = slot;
    const float out = v - 0.5f * in;
    slot = in + 0.5f * out;
    return out;
}

} // namespace

void VoiceChains::oscillatorBlock(float targetHz, float* values, int length) noexcept
{
    if (!(targetHz > 0.0f)) {
        std::fill(values, values + length, 0.0f);
        return;
    }
    // sin p + 0.3 sin 2p + 0.15 sin 3p from one sine and cosine (double-angle and triple-angle identities), / 1.45.
    // The phase p advances by the step per sample. Its sine and cosine come from the library every 64 samples
    // and in between from a rotation by the step (angle-addition recurrence); the drift over 64 steps stays
    // near 1e-14, far below the float resolution of the value.
    constexpr int anchorInterval = 64;
    const double step = twoPi * static_cast<double>(targetHz) / sampleRate;
    const double stepCos = std::cos(step);
    const double stepSin = std::sin(step);
    double phase = texturePhase;
    double s = 0.0;
    double c = 1.0;
    for (int i = 0; i < length; ++i) {
        phase = advancePhase(phase, step);
        if (i % anchorInterval == 0) {
            s = std::sin(phase);
            c = std::cos(phase);
        } else {
            const double rotatedSin = s * stepCos + c * stepSin;
            c = c * stepCos - s * stepSin;
            s = rotatedSin;
        }
        const double sin2 = 2.0 * s * c;
        const double sin3 = s * (3.0 - 4.0 * s * s);
        values[i] = static_cast<float>((s + 0.3 * sin2 + 0.15 * sin3) / 1.45);
    }
    texturePhase = phase;
}

void VoiceChains::advance(int samples) noexcept
{
    const int length = echoLength();
    echoPos = static_cast<int>((static_cast<long long>(echoPos) + samples) % length);
}

namespace {

// runChannels works through its chunk in sub-blocks of up to this many samples.
constexpr int subBlockLength = 64;
constexpr int chainChannels = 2;

// A sub-block between the passes of runChannels: each channel's envelope per sample, and its signal being shaped.
struct SubBlock {
    float envelopes[chainChannels][subBlockLength];
    float shaped[chainChannels][subBlockLength];
};

// The memoryless character stage of the mode (compressor gain, soft clipper, texture; or a saturation) over count
// samples of each channel in place. No state, so the compiler vectorises each loop. The oscillator values of the
// chunk are read (from `start` on) only in the modes with texture, where they are given.
template <Mode mode>
inline void characterPass(SubBlock& block, int start, int count, Dynamics settings,
                          const float* oscillatorValues) noexcept
{
    constexpr const VoiceProfile& traits = profiles[static_cast<std::size_t>(mode)];
    constexpr bool dynamics = traits.character == Character::dynamics;
    for (int c = 0; c < chainChannels; ++c) {
        float* y = block.shaped[c];
        const float* e = block.envelopes[c];
        if constexpr (dynamics && traits.texture) {
            const float* oscillator = oscillatorValues + start;
            for (int i = 0; i < count; ++i)
                y[i] = textureStep(softClipStep(e[i], settings, y[i]), e[i], oscillator[i]);
        } else if constexpr (dynamics) {
            for (int i = 0; i < count; ++i)
                y[i] = softClipStep(e[i], settings, y[i]);
        } else if constexpr (traits.character == Character::saturation) {
            for (int i = 0; i < count; ++i)
                y[i] = saturationStep(y[i]);
        } else if constexpr (traits.character == Character::presence) {
            for (int i = 0; i < count; ++i)
                y[i] = presenceSaturationStep(y[i]);
        }
    }
}

} // namespace

// Every state of the chain, copied out of the members for one chunk and back after it, with the chunk's constants.
// As one local object of runChannels whose passes inline, its fields live in registers and the compiler knows that
// the stores to the samples cannot reach them.
struct VoiceChains::ChunkState {
    static constexpr int channels = chainChannels;

    // Constants of the chunk, from the profile.
    float h;
    float l;
    float echoFeedback;
    float echoSend;
    float combFeedback;
    float reverbMix;
    Dynamics settings;

    // Both echo lines have the same length and share the write position, so the echo positions are common.
    int echoLen;
    int writePos;
    int readPos;

    BandState band[channels];
    float env[channels];
    float smooth[channels];
    Biquad eq[channels];
    float* echoData[channels];
    int tapPos[channels];
    float* comb[channels][3];
    int combLen[channels][3];
    int combAt[channels][3];
    float damp[channels][3];
    float* allpass[channels][2];
    int allpassLen[channels][2];
    int allpassAt[channels][2];

    explicit ChunkState(VoiceChains& chains) noexcept;
    // Writes the states back into the members (the delay lines were written in place).
    void storeInto(VoiceChains& chains) const noexcept;

    // The recursive front, one sample after another: input cleaned, band filter, envelope, then the de-esser or the
    // presence equaliser. Fills the sub-block from samples[c][start ...].
    template <Mode mode> void frontPass(float* const* samples, int start, int count, SubBlock& block) noexcept;
    // The recursive back (echo, double tap, combs, all-passes, ambience mix) from the sub-block into
    // samples[c][start ...], in runs that no delay line wraps inside, so its positions are plain indices there.
    template <Mode mode> void backPass(const SubBlock& block, float* const* samples, int start, int count) noexcept;

private:
    // The longest run, up to `wanted` samples, in which no delay line of the mode wraps.
    template <Mode mode> int unwrappedRun(int wanted) const noexcept;
    // Channel c's back for the sample k steps into the current run, on the shaped sample y; returns the output.
    template <Mode mode> float backStep(int c, int k, float y) noexcept;
    // Moves every delay-line position of the mode on by a run.
    template <Mode mode> void advanceLines(int run) noexcept;
};

inline VoiceChains::ChunkState::ChunkState(VoiceChains& chains) noexcept
    : h(chains.highpassCoef)
    , l(chains.lowpassCoef)
    , echoFeedback(chains.profile->echoFeedback)
    , echoSend(chains.profile->echoSend)
    , combFeedback(chains.profile->combFeedback)
    , reverbMix(chains.profile->reverbMix)
    , settings(*chains.profile)
    , echoLen(static_cast<int>(chains.echoLine[0].size()))
    , writePos(chains.echoPos)
    , readPos(ringBefore(chains.echoPos, chains.echoDelaySamples, echoLen))
{
    for (std::size_t c = 0; c < channels; ++c) {
        band[c] = chains.bandState[c];
        env[c] = chains.envelopeState[c];
        smooth[c] = chains.deEssState[c];
        eq[c] = chains.presenceEq[c];
        echoData[c] = chains.echoLine[c].data();
        tapPos[c] = ringBefore(chains.echoPos, chains.tapDelay[c], echoLen);
        for (std::size_t k = 0; k < 3; ++k) {
            comb[c][k] = chains.combLine[c][k].data();
            combLen[c][k] = static_cast<int>(chains.combLine[c][k].size());
            combAt[c][k] = chains.combPos[c][k];
            damp[c][k] = chains.combDamp[c][k];
        }
        for (std::size_t j = 0; j < 2; ++j) {
            allpass[c][j] = chains.allpassLine[c][j].data();
            allpassLen[c][j] = static_cast<int>(chains.allpassLine[c][j].size());
            allpassAt[c][j] = chains.allpassPos[c][j];
        }
    }
}

inline void VoiceChains::ChunkState::storeInto(VoiceChains& chains) const noexcept
{
    for (std::size_t c = 0; c < channels; ++c) {
        chains.bandState[c] = band[c];
        chains.envelopeState[c] = env[c];
        chains.deEssState[c] = smooth[c];
        chains.presenceEq[c] = eq[c];
        for (std::size_t k = 0; k < 3; ++k) {
            chains.combPos[c][k] = combAt[c][k];
            chains.combDamp[c][k] = damp[c][k];
        }
        for (std::size_t j = 0; j < 2; ++j)
            chains.allpassPos[c][j] = allpassAt[c][j];
    }
}

template <Mode mode>
void VoiceChains::ChunkState::frontPass(float* const* samples, int start, int count, SubBlock& block) noexcept
{
    constexpr const VoiceProfile& traits = profiles[static_cast<std::size_t>(mode)];
    for (int i = 0; i < count; ++i)
        for (int c = 0; c < channels; ++c) {
            const float x = cleanSample(samples[c][start + i]);
            float y = bandStep(band[c].highpassLow, band[c].lowpass, h, l, x);
            envelopeStep(env[c], y);
            if constexpr (traits.character == Character::dynamics) {
                block.envelopes[c][i] = env[c]; // only the dynamics stage reads the envelope
                y = deEssStep(smooth[c], y);
            } else if constexpr (traits.character == Character::presence) {
                y = presenceFilterStep(eq[c], y);
            }
            block.shaped[c][i] = y;
        }
}

template <Mode mode> int VoiceChains::ChunkState::unwrappedRun(int wanted) const noexcept
{
    constexpr const VoiceProfile& traits = profiles[static_cast<std::size_t>(mode)];
    int run = ringRun(writePos, ringRun(readPos, wanted, echoLen), echoLen);
    for (int c = 0; c < channels; ++c) {
        for (int k = 0; k < 3; ++k)
            run = ringRun(combAt[c][k], run, combLen[c][k]);
        if constexpr (traits.doubleTap)
            run = ringRun(tapPos[c], run, echoLen);
        if constexpr (traits.allpasses)
            for (int j = 0; j < 2; ++j)
                run = ringRun(allpassAt[c][j], run, allpassLen[c][j]);
    }
    return run;
}

template <Mode mode> float VoiceChains::ChunkState::backStep(int c, int k, float y) noexcept
{
    constexpr const VoiceProfile& traits = profiles[static_cast<std::size_t>(mode)];
    float* line = echoData[c];
    const float e = line[readPos + k];
    line[writePos + k] = y + echoFeedback * e;
    y = y + echoSend * e;
    if constexpr (traits.doubleTap)
        y = y + 0.08f * line[tapPos[c] + k];

    float a = 0.0f;
    a += combStep(comb[c][0][combAt[c][0] + k], damp[c][0], combFeedback, y);
    a += combStep(comb[c][1][combAt[c][1] + k], damp[c][1], combFeedback, y);
    a += combStep(comb[c][2][combAt[c][2] + k], damp[c][2], combFeedback, y);
    if constexpr (traits.allpasses) {
        a = allpassStep(allpass[c][0][allpassAt[c][0] + k], a);
        a = allpassStep(allpass[c][1][allpassAt[c][1] + k], a);
    }
    if constexpr (traits.tuned())
        y = y + reverbMix * a;
    return y;
}

template <Mode mode> void VoiceChains::ChunkState::advanceLines(int run) noexcept
{
    constexpr const VoiceProfile& traits = profiles[static_cast<std::size_t>(mode)];
    readPos = ringAfter(readPos, run, echoLen);
    writePos = ringAfter(writePos, run, echoLen);
    for (int c = 0; c < channels; ++c) {
        tapPos[c] = ringAfter(tapPos[c], run, echoLen);
        for (int k = 0; k < 3; ++k)
            combAt[c][k] = ringAfter(combAt[c][k], run, combLen[c][k]);
        if constexpr (traits.allpasses)
            for (int j = 0; j < 2; ++j)
                allpassAt[c][j] = ringAfter(allpassAt[c][j], run, allpassLen[c][j]);
    }
}

template <Mode mode>
void VoiceChains::ChunkState::backPass(const SubBlock& block, float* const* samples, int start, int count) noexcept
{
    for (int i = 0; i < count;) {
        const int run = unwrappedRun<mode>(count - i);
        for (int k = 0; k < run; ++k)
            for (int c = 0; c < channels; ++c)
                samples[c][start + i + k] = backStep<mode>(c, k, block.shaped[c][i + k]);
        i += run;
        advanceLines<mode>(run);
    }
}

// The chain with the mode's profile fixed at compile time: no branch on the mode inside the loops, and every state
// (filters, envelopes, positions, comb damping) stays in a local for the whole chunk. The two channels share no
// state, so they run side by side: their recursions (one-pole filters, envelopes, comb damping) are independent
// chains that the processor overlaps. Sub-blocks of up to 64 samples go through three passes: the recursive front
// one sample after another, the memoryless character stage over the whole sub-block (vectorised), then the
// recursive back. Flattened: the passes inline into one loop, so the chunk state stays a local that the compiler
// keeps in registers (out of line, the state would sit in memory, and every sample store could alias it).
template <Mode mode>
[[gnu::flatten]] void VoiceChains::runChannels(float* const* samples, int length,
                                               const float* oscillatorValues) noexcept
{
    constexpr const VoiceProfile& traits = profiles[static_cast<std::size_t>(mode)];
    static_assert(traits.character == Character::dynamics || !traits.texture,
                  "the texture stage follows the soft clipper");
    ChunkState state(*this);
    SubBlock block;
    for (int start = 0; start < length; start += subBlockLength) {
        const int count = std::min(subBlockLength, length - start);
        state.frontPass<mode>(samples, start, count, block);
        characterPass<mode>(block, start, count, state.settings, oscillatorValues);
        state.backPass<mode>(block, samples, start, count);
    }
    state.storeInto(*this);
}

template <std::size_t... index>
void VoiceChains::runProfile(std::index_sequence<index...>, float* const* samples, int length,
                             const float* oscillatorValues) noexcept
{
    using Run = void (VoiceChains::*)(float* const*, int, const float*) noexcept;
    static constexpr Run runs[] = {&VoiceChains::runChannels<profiles[index].mode>...};
    (this->*runs[static_cast<std::size_t>(profile->mode)])(samples, length, oscillatorValues);
}

void VoiceChains::processChannels(float* const* samples, int length, const float* oscillatorValues) noexcept
{
    runProfile(std::make_index_sequence<profiles.size()>{}, samples, length, oscillatorValues);
}

int VoiceChains::combLength(int channel, int comb) const noexcept
{
    return static_cast<int>(combLine[static_cast<std::size_t>(channel)][static_cast<std::size_t>(comb)].size());
}

int VoiceChains::allpassLength(int channel, int allpass) const noexcept
{
    return static_cast<int>(allpassLine[static_cast<std::size_t>(channel)][static_cast<std::size_t>(allpass)].size());
}

} // namespace tolmar
