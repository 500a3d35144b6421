#pragma once

// Generated from the language files: languageCount, the LanguageText struct (one field per slot line of a
// language file, in file order), languageTextSlots and the slots' field table.
#include "editor/i18n/LanguageFiles.h"

namespace tolmar {

// Generated at build time from the language files (one per language, one line per slot).
extern const LanguageText words[languageCount];
// Machine-translation notice shown after the privacy note; empty for the hand-written languages 0…20.
extern const char* const languageNotices[languageCount];
// "Developed by" in the language, followed by the company name.
extern const char* const studioCredits[languageCount];
// True for the languages written right to left (a file's "direction=rtl" line).
extern const bool languageRtl[languageCount];
// UTF-8 display name of each language, in its own language and script (a file's header line).
extern const char* const languageNames[languageCount];

// Slot 0…languageTextSlots-1 of a row in file order; null outside that range. Any thread.
const char* slotText(const LanguageText& row, int slot);

// The description of a mode 0…7 (slot 8 + mode); the mode is clamped. Any thread.
const char* modeDescription(const LanguageText& row, int mode);

// The row of a language index, clamped to 0…languageCount-1. Any thread.
const LanguageText& languageText(int language);
bool isRightToLeft(int language);

} // namespace tolmar
