#include "editor/i18n/LanguageNames.h"

#include "editor/i18n/LanguageTables.h"

#include <algorithm>

namespace tolmar {

const char* languageName(int index) { return languageNames[std::clamp(index, 0, languageCount - 1)]; }

} // namespace tolmar

juce::StringArray tolmarLanguages()
{
    juce::StringArray names;
    for (const char* name : tolmar::languageNames)
        names.add(juce::String::fromUTF8(name));
    return names;
}
