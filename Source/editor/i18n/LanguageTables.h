#pragma once

#include "editor/i18n/LanguageNames.h"

namespace tolmar {

// The editor's texts in one language, UTF-8, in the order of the lines of Source/editor/i18n/languages/NNN.txt.
struct LanguageText {
    const char* effectLabel;
    const char* effectMosquito;
    const char* effectSatanic;
    const char* effectDizzyMosquito;
    const char* effectCumbia;
    const char* effectReggaeton;
    const char* effectUltraEdited;
    const char* effectMaster;
    const char* descMosquito;
    const char* descSatanic;
    const char* descTrapDefault;
    const char* descDizzyMosquito;
    const char* descCumbia;
    const char* descReggaeton;
    const char* descUltraEdited;
    const char* descMaster;
    const char* rootLabel;
    const char* languageLabel;
    const char* hearOriginal;
    const char* visitWebsite;
    const char* privacyNote;
    const char* inputLabel;
    const char* outputLabel;
    const char* descTrapDefaultBeat;
    const char* tuningSourceLabel;
    const char* tuningManual;
    const char* tuningBeat;
    const char* estimatedKey;
    const char* majorWord;
    const char* minorWord;
    const char* beatHintConnect;
    const char* beatAnalysing;
    const char* beatNoClearKey;
    const char* beatKeyLocked;
    const char* analyzeAgain;
};

constexpr int languageTextSlots = 35;

// Generated at build time from the language files (one per language, one line per slot).
extern const LanguageText words[languageCount];
// Machine-translation notice shown after the privacy note; empty for the hand-written languages 0…20.
extern const char* const languageNotices[languageCount];
// "Developed by" in the language, followed by the company name.
extern const char* const studioCredits[languageCount];
// True for the languages written right to left.
extern const bool languageRtl[languageCount];

// Slot 0…34 of a row in file order; null outside that range. Any thread.
const char* slotText(const LanguageText& row, int slot);

// The description of a mode 0…7 (slot 8 + mode); the mode is clamped. Any thread.
const char* modeDescription(const LanguageText& row, int mode);

// The row of a language index, clamped to 0…175. Any thread.
const LanguageText& languageText(int language);
bool isRightToLeft(int language);

} // namespace tolmar
