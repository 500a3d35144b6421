#pragma once

#include <juce_core/juce_core.h>

namespace tolmar {

constexpr int languageCount = 176;

// UTF-8 display name of a language; the index is clamped to 0…175. Any thread.
const char* languageName(int index);

} // namespace tolmar

// The 176 language names in index order, as the framework's strings. Allocates: call while building
// the parameter layout or the editor, never on the audio thread.
juce::StringArray tolmarLanguages();
