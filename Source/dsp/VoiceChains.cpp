#include "dsp/VoiceChains.h"

#include "dsp/PitchDetector.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE__) || defined(_M_X64)
#include <xmmintrin.h>
#endif

namespace tolmar {

namespace {

constexpr double twoPi = 6.283185307179586;

constexpr std::array<VoiceProfile, 7> profiles{{
    // mode, wobble, base, formant, strength, glide, glideMs,
    // highpass, lowpass, threshold, exponent, drive, softness, echo s, send, feedback, comb fb, reverb
    {Mode::mosquito, false, 12.0f, 1.45f, 0.0f, Glide::fixedStep, 0.0,
     390.0, 8000.0, 0.0f, 0.0f, 0.0f, 1.0f, 0.32, 0.0f, 0.21f, 0.64f, 0.0f},
    {Mode::satanic, false, -12.0f, 0.8f, 0.0f, Glide::fixedStep, 0.0,
     55.0, 2600.0, 0.0f, 0.0f, 0.0f, 1.0f, 0.115, 0.18f, 0.21f, 0.64f, 0.0f},
    {Mode::trapDefault, false, 0.0f, 1.0f, 1.0f, Glide::fixedStep, 0.0,
     90.0, 14000.0, 0.18f, 0.75f, 1.7f, 1.15f, 0.32, 0.28f, 0.34f, 0.83f, 0.12f},
    {Mode::dizzyMosquito, true, 12.0f, 1.15f, 0.0f, Glide::fixedStep, 0.0,
     650.0, 6500.0, 0.0f, 0.0f, 0.0f, 1.0f, 0.32, 0.0f, 0.21f, 0.64f, 0.0f},
    {Mode::cumbia, false, 0.0f, 1.0f, 0.55f, Glide::timeConstant, 60.0,
     100.0, 12000.0, 0.22f, 0.6f, 1.45f, 1.05f, 0.105, 0.16f, 0.21f, 0.64f, 0.055f},
    {Mode::reggaeton, false, 0.0f, 1.0f, 0.9f, Glide::timeConstant, 12.0,
     120.0, 15500.0, 0.14f, 0.8f, 1.9f, 1.3f, 0.072, 0.22f, 0.21f, 0.64f, 0.012f},
    {Mode::ultraEdited, false, 0.0f, 0.72f, 1.0f, Glide::jump, 0.0,
     160.0, 7500.0, 0.12f, 0.875f, 2.1f, 2.4f, 0.03, 0.18f, 0.21f, 0.64f, 0.045f},
}};

// Comb and all-pass times in seconds for the left channel; the right channel's are slightly longer.
constexpr std::array<double, 3> combSeconds{0.0297, 0.0368, 0.0439};
constexpr std::array<double, 2> allpassSeconds{0.005, 0.0073};
constexpr double combSpread = 0.0007;
constexpr double allpassSpread = 0.0003;

// Hyperbolic tangent within 2 float ulps of tanhf at about half its cost: a Taylor polynomial near 0,
// 1 - 2 / (e^2|x| + 1) elsewhere; exactly ±1 beyond |x| = 9, so a clipper's ceiling is never passed.
float tanhFast(float x) noexcept
{
    const float a = std::fabs(x);
    if (a < 0.125f) {
        const float x2 = x * x;
        return x * (1.0f + x2 * (-1.0f / 3.0f + x2 * (2.0f / 15.0f + x2 * (-17.0f / 315.0f))));
    }
    if (a > 9.0f)
        return std::copysign(1.0f, x);
    return std::copysign(1.0f - 2.0f / (std::exp(2.0f * a) + 1.0f), x);
}

int lengthFor(double seconds, double sampleRate)
{
    return std::max(1, static_cast<int>(seconds * sampleRate));
}

float onePoleCoefficient(double cornerHz, double sampleRate)
{
    return static_cast<float>(1.0 - std::exp(-twoPi * cornerHz / sampleRate));
}

} // namespace

const VoiceProfile& voiceProfile(Mode mode) noexcept
{
    const auto index = static_cast<std::int32_t>(mode);
    return profiles[index >= 0 && index < 7 ? static_cast<std::size_t>(index) : 0];
}

float compressorGain(float envelope, float threshold, float exponent) noexcept
{
    return envelope > threshold ? std::pow(threshold / envelope, exponent) : 1.0f;
}

float quantize7Bit(float value) noexcept
{
    return std::round(value * 128.0f) / 128.0f;
}

#if defined(__SSE__) || defined(_M_X64)
ScopedFlushDenormals::ScopedFlushDenormals() noexcept : savedMode(_mm_getcsr())
{
    // Flush-to-zero (bit 15) and denormals-are-zero (bit 6).
    _mm_setcsr(static_cast<unsigned int>(savedMode) | 0x8040u);
}
ScopedFlushDenormals::~ScopedFlushDenormals()
{
    _mm_setcsr(static_cast<unsigned int>(savedMode));
}
#elif defined(__aarch64__)
ScopedFlushDenormals::ScopedFlushDenormals() noexcept : savedMode(0)
{
    unsigned long long mode = 0;
    asm volatile("mrs %0, fpcr" : "=r"(mode));
    savedMode = mode;
    mode |= 1ull << 24; // FZ
    asm volatile("msr fpcr, %0" : : "r"(mode));
}
ScopedFlushDenormals::~ScopedFlushDenormals()
{
    asm volatile("msr fpcr, %0" : : "r"(savedMode));
}
#else
ScopedFlushDenormals::ScopedFlushDenormals() noexcept : savedMode(0) {}
ScopedFlushDenormals::~ScopedFlushDenormals() = default;
#endif

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

float VoiceChains::oscillator(float targetHz) noexcept
{
    if (!(targetHz > 0.0f))
        return 0.0f;
    texturePhase = std::fmod(texturePhase + twoPi * static_cast<double>(targetHz) / sampleRate, twoPi);
    // sin p + 0.3 sin 2p + 0.15 sin 3p from one sine and cosine (double-angle and triple-angle identities).
    const double s = std::sin(texturePhase);
    const double c = std::cos(texturePhase);
    const double sin2 = 2.0 * s * c;
    const double sin3 = s * (3.0 - 4.0 * s * s);
    return static_cast<float>((s + 0.3 * sin2 + 0.15 * sin3) / 1.45);
}

float VoiceChains::bandFilter(int channel, float y) noexcept
{
    auto& band = bandState[static_cast<std::size_t>(channel)];
    band.highpassLow += highpassCoef * (y - band.highpassLow);
    const float u = y - band.highpassLow;
    band.lowpass += lowpassCoef * (u - band.lowpass);
    return band.lowpass;
}

void VoiceChains::followEnvelope(int channel, float y) noexcept
{
    float& env = envelopeState[static_cast<std::size_t>(channel)];
    const float magnitude = std::fabs(y);
    const float k = magnitude > env ? 0.02f : 0.0008f;
    env += k * (magnitude - env);
}

float VoiceChains::character(int channel, float y) noexcept
{
    const auto ch = static_cast<std::size_t>(channel);
    switch (profile->mode) {
    case Mode::trapDefault:
    case Mode::cumbia:
    case Mode::reggaeton:
    case Mode::ultraEdited: {
        const float g = compressorGain(envelopeState[ch], profile->threshold, profile->exponent);
        // De-esser: the part above a one-pole smoother, reduced by up to 70 % when it is loud.
        float& smooth = deEssState[ch];
        smooth += 0.38f * (y - smooth);
        const float s = y - smooth;
        const float r = std::clamp(5.0f * (std::fabs(s) - 0.04f), 0.0f, 0.7f);
        return tanhFast(profile->softness * profile->drive * g * (y - r * s)) / profile->softness;
    }
    case Mode::satanic:
        return 0.7f * tanhFast(2.1f * y);
    case Mode::mosquito: {
        auto& eq = presenceEq[ch];
        const float out = eq.b0 * y + eq.z1;
        eq.z1 = eq.b1 * y - eq.a1 * out + eq.z2;
        eq.z2 = eq.b2 * y - eq.a2 * out;
        return 0.65f * tanhFast(3.2f * out);
    }
    default:
        return y;
    }
}

float VoiceChains::texture(int channel, float y, float oscillatorValue) const noexcept
{
    return quantize7Bit(0.7f * y + 0.55f * envelopeState[static_cast<std::size_t>(channel)] * oscillatorValue);
}

float VoiceChains::echo(int channel, float y) noexcept
{
    auto& line = echoLine[static_cast<std::size_t>(channel)];
    const int length = static_cast<int>(line.size());
    const float e = line[static_cast<std::size_t>((echoPos + length - echoDelaySamples) % length)];
    line[static_cast<std::size_t>(echoPos)] = y + profile->echoFeedback * e;
    return y + profile->echoSend * e;
}

float VoiceChains::doubleTap(int channel, float y) const noexcept
{
    const auto ch = static_cast<std::size_t>(channel);
    const auto& line = echoLine[ch];
    const int length = static_cast<int>(line.size());
    return y + 0.08f * line[static_cast<std::size_t>((echoPos + length - tapDelay[ch]) % length)];
}

float VoiceChains::ambience(int channel, float y) noexcept
{
    const auto ch = static_cast<std::size_t>(channel);
    float a = 0.0f;
    for (std::size_t k = 0; k < 3; ++k) {
        auto& line = combLine[ch][k];
        int& pos = combPos[ch][k];
        float& damp = combDamp[ch][k];
        const float c = line[static_cast<std::size_t>(pos)];
        damp += 0.3f * (c - damp);
        line[static_cast<std::size_t>(pos)] = y + profile->combFeedback * damp;
        pos = pos + 1 == static_cast<int>(line.size()) ? 0 : pos + 1;
        a += c;
    }
    if (profile->mode == Mode::trapDefault) {
        for (std::size_t j = 0; j < 2; ++j) {
            auto& line = allpassLine[ch][j];
            int& pos = allpassPos[ch][j];
            const float v = line[static_cast<std::size_t>(pos)];
            const float out = v - 0.5f * a;
            line[static_cast<std::size_t>(pos)] = a + 0.5f * out;
            pos = pos + 1 == static_cast<int>(line.size()) ? 0 : pos + 1;
            a = out;
        }
    }
    return isTunedMode(profile->mode) ? y + profile->reverbMix * a : y;
}

float VoiceChains::processSample(int channel, float input, float oscillatorValue) noexcept
{
    float y = bandFilter(channel, cleanSample(input));
    followEnvelope(channel, y);
    y = character(channel, y);
    if (profile->mode == Mode::ultraEdited)
        y = texture(channel, y, oscillatorValue);
    y = echo(channel, y);
    if (profile->mode == Mode::reggaeton)
        y = doubleTap(channel, y);
    return ambience(channel, y);
}

void VoiceChains::advance() noexcept
{
    echoPos = echoPos + 1 == echoLength() ? 0 : echoPos + 1;
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
