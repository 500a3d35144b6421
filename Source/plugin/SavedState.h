#pragma once

#include "dsp/Key.h"

#include <juce_data_structures/juce_data_structures.h>

#include <vector>

// Reading a saved state, apart from the processor so that it is tested and fuzzed with the framework's core
// alone. The format is the framework's binary XML: "VC2!", the text's length (32-bit little-endian), UTF-8 text.

// A parameter as the processor holds it: its raw range and the raw value it has now.
struct SavedParameter {
    juce::String id;
    float minimum = 0.0f;
    float maximum = 1.0f;
    float current = 0.0f;
    // Added after the first release: a state that does not mention it loads it at 0, not at `current`.
    bool zeroWhenMissing = false;
    float defaultValue = 0.0f; // taken by a child that names the parameter but holds no value
};

struct DecodedState {
    // The tree to hand to the parameter state; invalid when the bytes are not a state of `rootType`.
    // Every parameter appears in it with a finite value inside its range.
    juce::ValueTree tree;
    // The beat's key index, or tolmar::noKey.
    int beatKey = tolmar::noKey;
};

// Decodes `sizeInBytes` bytes at `data` (any bytes; nothing outside them is read). A parameter the state
// does not mention keeps its current value (0 if zeroWhenMissing); one mentioned without a value takes its
// default; a value that is no usable number (none at the front of its text, longer than a save writes,
// beyond a double, not finite) keeps the current value; values outside the range are clamped into it. The
// numbers are read here and stored in the tree as numbers, so the framework never parses their text.
// Message thread.
DecodedState decodeSavedState(const void* data, int sizeInBytes, const juce::Identifier& rootType,
                              const std::vector<SavedParameter>& parameters);
