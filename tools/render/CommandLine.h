#pragma once

#include "dsp/Mode.h"
#include "plugin/Parameters.h"

#include <optional>
#include <string>
#include <vector>

namespace tolmar::render {

// Everything the command line asks for. Optional fields left empty keep what the processor already has
// (its defaults, or the values of a loaded state).
struct Options {
    std::string voicePath;
    std::string outPath;
    std::string beatPath;
    std::optional<Mode> mode;
    std::optional<int> root;         // pitch class 0 = C .. 11 = B
    std::optional<int> tuningSource; // 0 manual minor, 1 beat side-chain
    bool bypass = false;
    bool live = false; // "live" on: the tuning styles through the low-latency path
    std::string statePath;
    std::string saveStatePath;
    int block = 512;                 // host block size in samples
    bool keepLatency = false;
    bool floatOutput = false;
    std::string demoDir;             // non-empty: render the built-in demo there instead
    bool help = false;
};

struct ParseResult {
    Options options;
    std::string error; // empty when the arguments are good
};

// Parses the arguments after the program name. Never throws.
ParseResult parseCommandLine(const std::vector<std::string>& args);

// An effect by its English name or the parameter text that selects it ("Trap default", "Reggaetón",
// "master tolmar", "ultra-edited"); letter case, '-' and '_' for blanks and the accent on "ó" are ignored.
std::optional<Mode> modeFromName(const std::string& name);

// One of the twelve note names "C" .. "B" (sharps), letter case ignored.
std::optional<int> noteFromName(const std::string& name);

const char* modeSlug(Mode mode);   // for file names, e.g. "dizzy-mosquito"; the name is tolmar::modeName
const char* noteName(int pitchClass);
std::string keyName(int key);      // key index 0..23 as "A minor" / "D major"; "none" otherwise

const char* usageText();

} // namespace tolmar::render
