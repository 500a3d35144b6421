#pragma once

#include "dsp/Mode.h"
#include "dsp/VoiceChains.h"

#include <array>
#include <vector>

namespace testing_support {

// The voice chains written the plain way, one sample of one channel at a time, each stage a call of its own:
// the model the block path (tolmar::VoiceChains) must match bit for bit, and the form in which the stages'
// behaviour is examined. Same interface order as the product: prepare, setProfile per chunk, then per sample
// oscillator() once, processSample() for channels 0 and 1, advance().
class VoiceChainsReference {
public:
    void prepare(double sampleRateHz);
    void reset();
    void setProfile(tolmar::Mode mode);

    // Texture oscillator for this sample: the note targetHz with two overtones, within +-1; 0 (phase held) when
    // targetHz is not above 0.
    float oscillator(float targetHz);
    // The whole chain for one sample of channel 0 or 1 (input cleaned here). Returns the wet sample.
    float processSample(int channel, float input, float oscillatorValue);
    // Moves the shared echo write position on; once per sample, after both channels.
    void advance();

    // The stages in chain order.
    float bandFilter(int channel, float y);
    void followEnvelope(int channel, float y);
    float character(int channel, float y);
    float texture(int channel, float y, float oscillatorValue) const;
    float echo(int channel, float y);
    float doubleTap(int channel, float y) const;
    float ambience(int channel, float y);

    int echoDelay() const { return echoDelaySamples; }

private:
    struct Line {
        std::vector<float> samples;
        int position = 0;
        float& current() { return samples[static_cast<std::size_t>(position)]; }
        void step() { position = (position + 1) % static_cast<int>(samples.size()); }
    };
    struct Channel {
        float highpassLow = 0.0f;
        float lowpass = 0.0f;
        float envelope = 0.0f;
        float deEss = 0.0f;
        float eqZ1 = 0.0f;
        float eqZ2 = 0.0f;
        std::vector<float> echo;
        std::array<Line, 3> combs;
        std::array<float, 3> combDamp{};
        std::array<Line, 2> allpasses;
    };

    double sampleRate = 48000.0;
    double phase = 0.0;
    int echoPosition = 0;
    std::array<Channel, 2> channels;
    std::array<float, 5> eq{}; // b0, b1, b2, a1, a2
    const tolmar::VoiceProfile* profile = &tolmar::voiceProfile(tolmar::Mode::mosquito);
    float highpass = 0.0f;
    float lowpass = 0.0f;
    int echoDelaySamples = 1;
    std::array<int, 2> tapDelay{};
};

} // namespace testing_support
