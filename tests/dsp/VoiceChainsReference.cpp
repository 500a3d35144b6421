#include "VoiceChainsReference.h"

#include "dsp/FastMath.h"
#include "dsp/OnePole.h"
#include "dsp/SampleSafety.h"

#include <algorithm>
#include <cmath>

namespace testing_support {

namespace {

constexpr double twoPi = 6.283185307179586;

int samplesFor(double seconds, double sampleRate)
{
    return std::max(1, static_cast<int>(seconds * sampleRate));
}

} // namespace

void VoiceChainsReference::prepare(double sampleRateHz)
{
    sampleRate = sampleRateHz;
    // Cookbook peaking equaliser (Bristow-Johnson): +5 dB at 2100 Hz, Q 0.9; A = 10^(5/40).
    const double w0 = twoPi * 2100.0 / sampleRate;
    const double alpha = std::sin(w0) / (2.0 * 0.9);
    const double a = 1.333521432163324;
    const double a0 = 1.0 + alpha / a;
    eq = {static_cast<float>((1.0 + alpha * a) / a0), static_cast<float>(-2.0 * std::cos(w0) / a0),
          static_cast<float>((1.0 - alpha * a) / a0), static_cast<float>(-2.0 * std::cos(w0) / a0),
          static_cast<float>((1.0 - alpha / a) / a0)};

    const double combSeconds[3] = {0.0297, 0.0368, 0.0439};
    const double allpassSeconds[2] = {0.005, 0.0073};
    for (std::size_t c = 0; c < 2; ++c) {
        // The right channel's lines are a little longer.
        const double spread = static_cast<double>(c);
        channels[c].echo.assign(static_cast<std::size_t>(samplesFor(0.5, sampleRate)), 0.0f);
        for (std::size_t k = 0; k < 3; ++k)
            channels[c].combs[k].samples.assign(
                static_cast<std::size_t>(samplesFor(combSeconds[k] + 0.0007 * spread, sampleRate)), 0.0f);
        for (std::size_t j = 0; j < 2; ++j)
            channels[c].allpasses[j].samples.assign(
                static_cast<std::size_t>(samplesFor(allpassSeconds[j] + 0.0003 * spread, sampleRate)), 0.0f);
    }
    setProfile(profile->mode);
    reset();
}

void VoiceChainsReference::reset()
{
    phase = 0.0;
    echoPosition = 0;
    for (auto& c : channels) {
        c.highpassLow = c.lowpass = c.envelope = c.deEss = c.eqZ1 = c.eqZ2 = 0.0f;
        std::fill(c.echo.begin(), c.echo.end(), 0.0f);
        c.combDamp.fill(0.0f);
        for (auto& line : c.combs) {
            std::fill(line.samples.begin(), line.samples.end(), 0.0f);
            line.position = 0;
        }
        for (auto& line : c.allpasses) {
            std::fill(line.samples.begin(), line.samples.end(), 0.0f);
            line.position = 0;
        }
    }
}

void VoiceChainsReference::setProfile(tolmar::Mode mode)
{
    profile = &tolmar::voiceProfile(mode);
    highpass = tolmar::onePoleCoefficient(profile->highpassHz, sampleRate);
    lowpass = tolmar::onePoleCoefficient(profile->lowpassHz, sampleRate);
    const int length = static_cast<int>(channels[0].echo.size());
    echoDelaySamples = std::clamp(static_cast<int>(profile->echoSeconds * sampleRate), 1, length);
    tapDelay[0] = std::clamp(static_cast<int>(0.012 * sampleRate), 1, length);
    tapDelay[1] = std::clamp(static_cast<int>((0.012 + 0.004) * sampleRate), 1, length);
}

float VoiceChainsReference::oscillator(float targetHz)
{
    if (!(targetHz > 0.0f))
        return 0.0f;
    phase = std::fmod(phase + twoPi * static_cast<double>(targetHz) / sampleRate, twoPi);
    const double value = std::sin(phase) + 0.3 * std::sin(2.0 * phase) + 0.15 * std::sin(3.0 * phase);
    return static_cast<float>(value / 1.45);
}

float VoiceChainsReference::bandFilter(int channel, float y)
{
    auto& c = channels[static_cast<std::size_t>(channel)];
    c.highpassLow += highpass * (y - c.highpassLow);
    c.lowpass += lowpass * ((y - c.highpassLow) - c.lowpass);
    return c.lowpass;
}

void VoiceChainsReference::followEnvelope(int channel, float y)
{
    // Fast rise, slow fall.
    auto& c = channels[static_cast<std::size_t>(channel)];
    const float magnitude = std::fabs(y);
    c.envelope += (magnitude > c.envelope ? 0.02f : 0.0008f) * (magnitude - c.envelope);
}

float VoiceChainsReference::character(int channel, float y)
{
    auto& c = channels[static_cast<std::size_t>(channel)];
    switch (profile->character) {
    case tolmar::Character::dynamics: {
        // De-esser: the part above a one-pole smoother, reduced by up to 70 % when loud.
        c.deEss += 0.38f * (y - c.deEss);
        const float sibilance = y - c.deEss;
        const float reduction = std::clamp(5.0f * (std::fabs(sibilance) - 0.04f), 0.0f, 0.7f);
        const float deEssed = y - reduction * sibilance;
        const float gain = tolmar::compressorGain(c.envelope, profile->threshold, profile->exponent);
        return tolmar::tanhFast(profile->softness * profile->drive * gain * deEssed) / profile->softness;
    }
    case tolmar::Character::saturation:
        return 0.7f * tolmar::tanhFast(2.1f * y);
    case tolmar::Character::presence: {
        // Transposed direct form II.
        const float out = eq[0] * y + c.eqZ1;
        c.eqZ1 = eq[1] * y - eq[3] * out + c.eqZ2;
        c.eqZ2 = eq[2] * y - eq[4] * out;
        return 0.65f * tolmar::tanhFast(3.2f * out);
    }
    case tolmar::Character::none:
        break;
    }
    return y;
}

float VoiceChainsReference::texture(int channel, float y, float oscillatorValue) const
{
    const float envelope = channels[static_cast<std::size_t>(channel)].envelope;
    return tolmar::quantize7Bit(0.7f * y + 0.55f * envelope * oscillatorValue);
}

float VoiceChainsReference::echo(int channel, float y)
{
    auto& line = channels[static_cast<std::size_t>(channel)].echo;
    const int length = static_cast<int>(line.size());
    const float delayed = line[static_cast<std::size_t>((echoPosition + length - echoDelaySamples) % length)];
    line[static_cast<std::size_t>(echoPosition)] = y + profile->echoFeedback * delayed;
    return y + profile->echoSend * delayed;
}

float VoiceChainsReference::doubleTap(int channel, float y) const
{
    const auto& line = channels[static_cast<std::size_t>(channel)].echo;
    const int length = static_cast<int>(line.size());
    const int delay = tapDelay[static_cast<std::size_t>(channel)];
    return y + 0.08f * line[static_cast<std::size_t>((echoPosition + length - delay) % length)];
}

float VoiceChainsReference::ambience(int channel, float y)
{
    auto& c = channels[static_cast<std::size_t>(channel)];
    float sum = 0.0f;
    for (std::size_t k = 0; k < 3; ++k) {
        // Damped comb: read, low-pass the read value, write the input plus the damped feedback.
        float& slot = c.combs[k].current();
        const float read = slot;
        c.combDamp[k] += 0.3f * (read - c.combDamp[k]);
        slot = y + profile->combFeedback * c.combDamp[k];
        c.combs[k].step();
        sum += read;
    }
    if (profile->allpasses)
        for (auto& line : c.allpasses) {
            // Schroeder all-pass, g = 0.5.
            float& slot = line.current();
            const float out = slot - 0.5f * sum;
            slot = sum + 0.5f * out;
            line.step();
            sum = out;
        }
    return profile->tuned() ? y + profile->reverbMix * sum : y;
}

float VoiceChainsReference::processSample(int channel, float input, float oscillatorValue)
{
    float y = bandFilter(channel, tolmar::cleanSample(input));
    followEnvelope(channel, y);
    y = character(channel, y);
    if (profile->texture)
        y = texture(channel, y, oscillatorValue);
    y = echo(channel, y);
    if (profile->doubleTap)
        y = doubleTap(channel, y);
    return ambience(channel, y);
}

void VoiceChainsReference::advance()
{
    echoPosition = (echoPosition + 1) % static_cast<int>(channels[0].echo.size());
}

} // namespace testing_support
