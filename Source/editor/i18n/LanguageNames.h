#pragma once

#include "editor/i18n/LanguageFiles.h"

#include <juce_core/juce_core.h>

namespace tolmar {

// UTF-8 display name of a language; the index is clamped to 0…languageCount-1. Any thread.
// The index is the choice index of the "language" parameter and the row of every text table.
const char* languageName(int index);

} // namespace tolmar

// The language names in index order, as the framework's strings. Allocates: call while building
// the parameter layout or the editor, never on the audio thread.
juce::StringArray tolmarLanguages();
