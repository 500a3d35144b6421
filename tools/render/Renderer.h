#pragma once

#include "dsp/Key.h"
#include "dsp/Mode.h"
#include "render/WavFile.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tolmar::render {

// One offline render through a whole TolmarProcessor, the way a host drives it.
struct RenderJob {
    const AudioData* voice = nullptr;     // main bus: 1 or 2 channels
    const AudioData* beat = nullptr;      // side-chain "Beat" (1 or 2 channels, the voice's rate), or none
    std::optional<Mode> mode;             // selected as the editor's effect list selects it
    std::optional<int> root;              // "root", 0..11
    std::optional<int> tuningSource;      // "tuningSource", 0 manual minor, 1 beat side-chain
    bool bypass = false;                  // "bypass" on
    bool live = false;                    // "live" on
    std::vector<char> state;              // a saved state loaded before anything else, when not empty
    int block = 512;                      // host block size in samples
    bool keepLatency = false;             // false: drop the first latency() samples and flush the tail
    std::function<void(double)> progress; // fraction 0..1, called between blocks
};

struct RenderResult {
    AudioData output;
    Mode mode = Mode::mosquito;
    int latency = 0;                    // samples
    int key = noKey;                    // key index after the render
    KeyStage stage = KeyStage::waiting; // analyser stage after the render
    float beatProgress = 0.0f;          // analyser progress after the render
    bool keyFromState = false;          // the key was fixed by the loaded state, not heard
    double keyFoundSeconds = -1;        // voice time at which the analyser decided, -1 never
    bool keyAnalysed = false;           // the analyser was fed (tuned mode, beat source, beat present)
    float inputPeak = 0.0f;             // linear
    float outputPeak = 0.0f;            // linear
    double realTimeFactor = 0.0;        // seconds of audio per second of processing
    std::vector<char> state;            // the processor's saved state after the render
};

// Renders `job`. Returns false with a one-line reason in `error` for an unsupported rate, channel count,
// bus layout or a state that is not a Tolmar Vez state. Message thread (the framework must be initialised).
bool render(const RenderJob& job, RenderResult& result, std::string& error);

// True when the bytes unwrap to the processor's saved-state XML.
bool looksLikeSavedState(const std::vector<char>& bytes);

} // namespace tolmar::render
