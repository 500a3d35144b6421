#pragma once

#include "dsp/Mode.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace tolmar {

// How the applied shift follows its target from one chunk to the next.
enum class Glide {
    fixedStep,    // a fixed fraction (0.65) per chunk
    timeConstant, // a one-pole with time constant glideMs, whatever the chunk length
    jump,         // lands on the target at once (hard tuning)
};

// The stage after the band filter.
enum class Character {
    presence,   // cookbook peaking equaliser (+5 dB at 2.1 kHz), then a soft saturation
    saturation, // a harder saturation
    dynamics,   // de-esser, compressor on the envelope and soft clipper
    none,
};

// The constant per-mode values of a voice mode: the pitch side, then the effect chain in order.
struct VoiceProfile {
    Mode mode;
    bool wobble;         // shift follows wobbleSemitones instead of baseSemitones
    float baseSemitones; // transposition before any scale correction
    float formantFactor; // spectral-envelope scale handed to the shifter
    bool pitchHint;      // the detected pitch guides the shifter's envelope estimate
    float strength;      // share of the scale correction applied (tuned modes)
    Glide glide;
    double glideMs;    // time constant for Glide::timeConstant
    double highpassHz; // band filter corners
    double lowpassHz;
    Character character;
    float threshold; // compressor threshold on the envelope (dynamics)
    float exponent;  // compressor gain exponent
    float drive;     // soft-clipper drive
    float softness;  // soft-clipper ceiling is 1 / softness
    bool texture;    // 7-bit staircase with an oscillator on the target note
    double echoSeconds;
    float echoSend;
    float echoFeedback;
    bool doubleTap; // short stereo taps of the echo line
    float combFeedback;
    bool allpasses;  // the combs' sum passes two all-passes
    float reverbMix; // ambience level (tuned modes)

    // Snaps the voice to the scale, compensates the formants and sounds the ambience.
    constexpr bool tuned() const noexcept { return isTunedMode(mode); }
};

// The profile of voice mode 0..6; any other value gives mode 0's.
const VoiceProfile& voiceProfile(Mode mode) noexcept;

// Compressor gain: (threshold / envelope)^exponent above the threshold (within 5e-7 relative of the exact power),
// exactly 1 at or below it.
float compressorGain(float envelope, float threshold, float exponent) noexcept;

// 7-bit staircase: nearest multiple of 1/128, halves away from zero (as std::round).
float quantize7Bit(float value) noexcept;

// The effect chains of the voice modes, run over chunks of both channels of the shifter's output: band filter,
// envelope follower, character stage, 7-bit texture, echo, stereo double tap, and a comb/all-pass ambience
// (Schroeder style). Two internal channels; every state keeps running across chunks and mode changes.
// (tests/dsp holds a sample-by-sample model of the same chain that the block path is checked against.)
class VoiceChains {
public:
    // Sizes the delay lines for sampleRateHz and computes the presence equaliser; allocates.
    void prepare(double sampleRateHz);
    // Zeroes every state and line; keeps sizes and coefficients. Never allocates.
    void reset() noexcept;

    // Selects the profile and forms its filter coefficients and echo delays. Once per process call.
    void setProfile(Mode mode) noexcept;

    // Texture oscillator values of a chunk, one per sample (profiles with texture): the note targetHz with two
    // overtones, within +-1; 0 (phase held) when targetHz is not above 0. Audio thread.
    void oscillatorBlock(float targetHz, float* values, int length) noexcept;
    // The whole chain over both channels' chunk in place (input cleaned here; the shifter's output becomes the wet
    // signal), reading oscillatorValues only in profiles with texture. Then advance(length). Audio thread.
    void processChannels(float* const* samples, int length, const float* oscillatorValues) noexcept;
    // Moves the shared echo write position on by samples. Audio thread.
    void advance(int samples) noexcept;

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

    // The states and constants of one chunk held in locals, with the passes over them (VoiceChains.cpp).
    struct ChunkState;
    // The chain of one mode over both channels' chunk, with the state held in locals.
    template <Mode mode> void runChannels(float* const* samples, int length, const float* oscillatorValues) noexcept;
    // Runs the runChannels of the current profile's mode, one instance per profile.
    template <std::size_t... index>
    void runProfile(std::index_sequence<index...>, float* const* samples, int length,
                    const float* oscillatorValues) noexcept;

    // Formed per process call from the profile.
    const VoiceProfile* profile = &voiceProfile(Mode::mosquito);
    float highpassCoef = 0.0f;
    float lowpassCoef = 0.0f;
    int echoDelaySamples = 1;
    std::array<int, 2> tapDelay{};
};

} // namespace tolmar
