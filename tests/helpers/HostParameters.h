#pragma once

// The nine parameters as a host sees them, written down once more apart from the plug-in's parameter table, so that
// what is generated from that table (the LV2 data) is checked against this and not against itself.
namespace testing_support {

inline constexpr const char* effectTexts[] = {"Mosquito", "Satanic", "Trap default"};
inline constexpr const char* noteTexts[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
inline constexpr const char* tuningSourceTexts[] = {"Manual minor", "Beat sidechain"};
inline constexpr const char* vocalStyleTexts[] = {"Trap default", "Cumbia", "Reggaeton", "Ultra edited"};
inline constexpr const char* switchTexts[] = {"Off", "On"};

struct HostParameter {
    const char* id;
    const char* name;
    bool isSwitch;
    int valueCount;           // choices, or 2 for a switch
    const char* const* texts; // one per value; nullptr for "language" (see languageSamples)
    int defaultValue;         // plain: the choice index, 0 or 1 for a switch
};

// In the order the host lists them.
inline constexpr HostParameter hostParameters[] = {
    {"effect", "Effect", false, 3, effectTexts, 0},
    {"root", "Root note (minor)", false, 12, noteTexts, 0},
    {"bypass", "Bypass", true, 2, switchTexts, 0},
    {"language", "Language", false, 176, nullptr, 0},
    {"tuningSource", "Tuning source", false, 2, tuningSourceTexts, 1},
    {"wobble", "Dizzy mosquito", true, 2, switchTexts, 0},
    {"vocalStyle", "Vocal style", false, 4, vocalStyleTexts, 0},
    {"mastering", "Master Tolmar", true, 2, switchTexts, 0},
    {"live", "Live", true, 2, switchTexts, 0},
};

// Some of the "language" choices: the first, English, the first written right to left, and the last.
struct LanguageSample {
    int index;
    const char* name; // UTF-8
};
inline constexpr LanguageSample languageSamples[] = {
    {0, "Español (Argentina)"},
    {2, "English"},
    {27, "العربية"},
    {175, "ייִדיש"},
};

} // namespace testing_support
