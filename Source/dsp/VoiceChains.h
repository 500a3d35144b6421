#pragma once

#include "dsp/Mode.h"
#include "dsp/SampleSafety.h"

#include <array>
#include <cstdint>
#include <vector>

namespace tolmar {

// How the applied shift follows its target from one chunk to the next.
enum class Glide {
    fixedStep,    // a fixed fraction (0.65) per chunk
    timeConstant, // a one-pole with time constant glideMs, whatever the chunk length
    jump,         // lands on the target at once (hard tuning)
};

// The constant per-mode values of a voice mode: the pitch side, then the effect chain.
struct VoiceProfile {
    Mode mode;
    bool wobble;          // shift follows wobbleSemitones instead of baseSemitones
    float baseSemitones;  // transposition before any scale correction
    float formantFactor;  // spectral-envelope scale handed to the shifter
    float strength;       // share of the scale correction applied (tuned modes)
    Glide glide;
    double glideMs;       // time constant for Glide::timeConstant
    double highpassHz;    // band filter corners
    double lowpassHz;
    float threshold;      // compressor threshold on the envelope (tuned modes)
    float exponent;       // compressor gain exponent
    float drive;          // soft-clipper drive
    float softness;       // soft-clipper ceiling is 1 / softness
    double echoSeconds;
    float echoSend;
    float echoFeedback;
    float combFeedback;
    float reverbMix;      // ambience level (tuned modes)
};

// The profile of voice mode 0..6; any other value gives mode 0's.
const VoiceProfile& voiceProfile(Mode mode) noexcept;

// Compressor gain: (threshold / envelope)^exponent above the threshold (within 5e-7 relative of the exact power),
// exactly 1 at or below it.
float compressorGain(float envelope, float threshold, float exponent) noexcept;

// 7-bit staircase: nearest multiple of 1/128, halves away from zero (as std::round).
float quantize7Bit(float value) noexcept;

// The effect chains of the voice modes, run per sample and channel on the shifter's output: band filter,
// envelope follower, character stage (compressor + de-esser + soft clipper, or saturation, or the
// cookbook peaking equaliser), 7-bit texture, echo, stereo double tap, and a comb/all-pass ambience
// (Schroeder style). Two internal channels; every state keeps running across chunks and mode changes.
class VoiceChains {
public:
    // Sizes the delay lines for sampleRateHz and computes the presence equaliser; allocates.
    void prepare(double sampleRateHz);
    // Zeroes every state and line; keeps sizes and coefficients. Never allocates.
    void reset() noexcept;

    // Selects the profile and forms its filter coefficients and echo delays. Once per process call.
    void setProfile(Mode mode) noexcept;

    // Texture oscillator value for this sample (mode 6): the note targetHz with two overtones, within ±1;
    // 0 (phase held) when targetHz is not above 0. Once per sample, before the channels.
    float oscillator(float targetHz) noexcept;

    // The whole chain for one sample of channel 0 or 1 (input cleaned here). Returns the wet sample.
    float processSample(int channel, float input, float oscillatorValue) noexcept;

    // Moves the shared echo write position on; once per sample, after both channels.
    void advance() noexcept;

    // Block forms of the above. oscillatorBlock writes one texture value per sample of a chunk (mode 6; before the
    // rounding to float within about 1e-14 of oscillator()'s). processChannels runs the whole chain over both channels' chunk in place (the
    // shifter's output becomes the wet signal), reading oscillatorValues in mode 6 only, then advance(length).
    // Audio thread.
    void oscillatorBlock(float targetHz, float* values, int length) noexcept;
    void processChannels(float* const* samples, int length, const float* oscillatorValues) noexcept;
    void advance(int samples) noexcept;

    // The stages in chain order, public so each can be examined on its own.
    float bandFilter(int channel, float y) noexcept;
    void followEnvelope(int channel, float y) noexcept;
    float character(int channel, float y) noexcept;
    float texture(int channel, float y, float oscillatorValue) const noexcept;
    float echo(int channel, float y) noexcept;
    float doubleTap(int channel, float y) const noexcept;
    float ambience(int channel, float y) noexcept;

    float envelope(int channel) const noexcept { return envelopeState[static_cast<std::size_t>(channel)]; }
    int echoLength() const noexcept { return static_cast<int>(echoLine[0].size()); }
    int echoDelay() const noexcept { return echoDelaySamples; }
    int combLength(int channel, int comb) const noexcept;
    int allpassLength(int channel, int allpass) const noexcept;

private:
    // Peaking biquad in transposed direct form II.
    struct Biquad {
        float b0, b1, b2, a1, a2, z1, z2;
    };
    // The two one-pole states of the band filter.
    struct BandState {
        float lowpass;
        float highpassLow;
    };

    double sampleRate = 48000.0;
    double texturePhase = 0.0; // radians, shared by both channels
    int echoPos = 0;           // shared write position of both echo lines
    std::array<Biquad, 2> presenceEq{};
    std::array<BandState, 2> bandState{};
    std::array<float, 2> envelopeState{};
    std::array<float, 2> deEssState{};
    std::array<std::vector<float>, 2> echoLine;
    std::array<std::array<std::vector<float>, 3>, 2> combLine;
    std::array<std::array<int, 3>, 2> combPos{};
    std::array<std::array<float, 3>, 2> combDamp{};
    std::array<std::array<std::vector<float>, 2>, 2> allpassLine;
    std::array<std::array<int, 2>, 2> allpassPos{};

    // The chain of one mode over both channels' chunk, with the state held in locals.
    template <Mode mode>
    void runChannels(float* const* samples, int length, const float* oscillatorValues) noexcept;

    // Formed per process call from the profile.
    const VoiceProfile* profile = &voiceProfile(Mode::mosquito);
    float highpassCoef = 0.0f;
    float lowpassCoef = 0.0f;
    int echoDelaySamples = 1;
    std::array<int, 2> tapDelay{};
};

} // namespace tolmar
