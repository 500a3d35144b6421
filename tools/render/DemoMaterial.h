#pragma once

#include "render/WavFile.h"

namespace tolmar::render {

// The demo's own material, synthesised here so nothing has to be shipped or downloaded; the same every run.
struct DemoMaterial {
    AudioData voice; // a sung phrase in A minor, dual mono, each note a little out of tune
    AudioData beat;  // drums, bass and chord stabs in A minor, stereo, as long as the voice
    int beatKey = 9; // key index of the beat: A minor
};

DemoMaterial makeDemoMaterial(double sampleRateHz = 48000.0);

} // namespace tolmar::render
