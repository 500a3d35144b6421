#include "editor/i18n/LanguageTables.h"

#include <algorithm>

namespace tolmar {

// Arabic 27, Hebrew 67, Central Kurdish 84, Malay in Jawi 99, Pashto 118, Persian 119, Sindhi 130,
// Egyptian Arabic 171, Yiddish 175.
const bool languageRtl[languageCount] = {
    /*   0 */ false, false, false, false, false, false, false, false, false, false, false, false,
    /*  12 */ false, false, false, false, false, false, false, false, false, false, false, false,
    /*  24 */ false, false, false, true,  false, false, false, false, false, false, false, false,
    /*  36 */ false, false, false, false, false, false, false, false, false, false, false, false,
    /*  48 */ false, false, false, false, false, false, false, false, false, false, false, false,
    /*  60 */ false, false, false, false, false, false, false, true,  false, false, false, false,
    /*  72 */ false, false, false, false, false, false, false, false, false, false, false, false,
    /*  84 */ true,  false, false, false, false, false, false, false, false, false, false, false,
    /*  96 */ false, false, false, true,  false, false, false, false, false, false, false, false,
    /* 108 */ false, false, false, false, false, false, false, false, false, false, true,  true,
    /* 120 */ false, false, false, false, false, false, false, false, false, false, true,  false,
    /* 132 */ false, false, false, false, false, false, false, false, false, false, false, false,
    /* 144 */ false, false, false, false, false, false, false, false, false, false, false, false,
    /* 156 */ false, false, false, false, false, false, false, false, false, false, false, false,
    /* 168 */ false, false, false, true,  false, false, false, true,
};

const char* slotText(const LanguageText& row, int slot)
{
    // The struct is 35 pointers in file order; indexing goes through this table so the layout is not assumed.
    static constexpr const char* LanguageText::*slots[languageTextSlots] = {
        &LanguageText::effectLabel,       &LanguageText::effectMosquito,      &LanguageText::effectSatanic,
        &LanguageText::effectDizzyMosquito, &LanguageText::effectCumbia,      &LanguageText::effectReggaeton,
        &LanguageText::effectUltraEdited, &LanguageText::effectMaster,        &LanguageText::descMosquito,
        &LanguageText::descSatanic,       &LanguageText::descTrapDefault,     &LanguageText::descDizzyMosquito,
        &LanguageText::descCumbia,        &LanguageText::descReggaeton,       &LanguageText::descUltraEdited,
        &LanguageText::descMaster,        &LanguageText::rootLabel,           &LanguageText::languageLabel,
        &LanguageText::hearOriginal,      &LanguageText::visitWebsite,        &LanguageText::privacyNote,
        &LanguageText::inputLabel,        &LanguageText::outputLabel,         &LanguageText::descTrapDefaultBeat,
        &LanguageText::tuningSourceLabel, &LanguageText::tuningManual,        &LanguageText::tuningBeat,
        &LanguageText::estimatedKey,      &LanguageText::majorWord,           &LanguageText::minorWord,
        &LanguageText::beatHintConnect,   &LanguageText::beatAnalysing,       &LanguageText::beatNoClearKey,
        &LanguageText::beatKeyLocked,     &LanguageText::analyzeAgain,
    };
    if (slot < 0 || slot >= languageTextSlots)
        return nullptr;
    return row.*slots[slot];
}

const char* modeDescription(const LanguageText& row, int mode) { return slotText(row, 8 + std::clamp(mode, 0, 7)); }

const LanguageText& languageText(int language) { return words[std::clamp(language, 0, languageCount - 1)]; }

bool isRightToLeft(int language) { return languageRtl[std::clamp(language, 0, languageCount - 1)]; }

} // namespace tolmar
