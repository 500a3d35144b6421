#pragma once

#include "dsp/Mode.h"

#include <ostream>
#include <string>
#include <vector>

namespace tolmar::render {

// What the demo measured on one mode's output, with the core's own pitch estimate (YIN).
struct DemoRow {
    Mode mode = Mode::mosquito;
    bool live = false; // rendered with Live on (the tuning styles' low-latency path)
    int latency = 0;   // samples, as the processor reported it
    std::string file;
    int key = -1;                 // the key the processor tuned to, -1 none
    double shiftSemitones = 0.0;  // median output pitch over input pitch, voice modes
    double inputErrorCents = 0.0; // median distance of the input to the nearest scale note (tuned modes)
    double errorCents = 0.0;      // the same for the output (tuned modes)
    bool endsOnScaleNote = false; // the last sung note comes out on a note of the key (tuned modes)
    double levelChangeDb = 0.0;   // output RMS against input RMS (mastering)
    float peak = 0.0f;            // linear output peak
    double realTimeFactor = 0.0;
    bool finite = false;          // no NaN, infinity or denormal anywhere in the output
};

struct DemoReport {
    int beatKey = -1;
    double keyFoundSeconds = -1.0;
    std::vector<DemoRow> rows;
};

// Synthesises the demo voice and beat, writes them to `dir` (created when missing), lets the processor find
// the beat's key once, then renders all eight modes from that saved state into dir/demo-<mode>.wav, and the
// four tuning styles again with Live into dir/demo-<mode>-live.wav, and prints a table on `out`. Returns false with a one-line reason in `error`. Message thread.
bool runDemo(const std::string& dir, std::ostream& out, std::string& error, DemoReport* report = nullptr);

} // namespace tolmar::render
