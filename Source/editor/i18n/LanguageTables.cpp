#include "editor/i18n/LanguageTables.h"

#include <algorithm>

namespace tolmar {

const char* slotText(const LanguageText& row, int slot)
{
    if (slot < 0 || slot >= languageTextSlots)
        return nullptr;
    return row.*languageTextFields[slot];
}

const char* modeDescription(const LanguageText& row, int mode) { return slotText(row, 8 + std::clamp(mode, 0, 7)); }

const LanguageText& languageText(int language) { return words[std::clamp(language, 0, languageCount - 1)]; }

bool isRightToLeft(int language) { return languageRtl[std::clamp(language, 0, languageCount - 1)]; }

} // namespace tolmar
