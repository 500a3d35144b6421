#pragma once

#include "dsp/Mode.h"

#include <algorithm>
#include <array>
#include <cstddef>

// The plug-in's eight parameters and the rule that turns four of them into a mode. Plain C++: the processor
// builds its parameter layout from this table, the editor, the renderer and the benchmarks select modes
// through it.
namespace tolmar {

// The identifiers the host and the saved state know the parameters by.
namespace parameterIds {
inline constexpr char effect[] = "effect";
inline constexpr char root[] = "root";
inline constexpr char bypass[] = "bypass";
inline constexpr char language[] = "language";
inline constexpr char tuningSource[] = "tuningSource";
inline constexpr char wobble[] = "wobble";
inline constexpr char vocalStyle[] = "vocalStyle";
inline constexpr char mastering[] = "mastering";
inline constexpr char live[] = "live";
} // namespace parameterIds

// The twelve pitch classes, 0 = "C" .. 11 = "B": the choices of "root" and the note names everywhere else.
inline constexpr std::array<const char*, 12> noteNames{"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};

inline constexpr std::array<const char*, 3> effectChoices{"Mosquito", "Satanic", "Trap default"};
inline constexpr std::array<const char*, 2> tuningSourceChoices{"Manual minor", "Beat sidechain"};
inline constexpr std::array<const char*, 4> vocalStyleChoices{"Trap default", "Cumbia", "Reggaeton", "Ultra edited"};

// The choice of "tuningSource" that takes the scale from the beat's key.
inline constexpr int beatTuningSource = 1;

struct ParameterInfo {
    const char* id;
    const char* name;           // as the host shows it
    const char* const* choices; // nullptr for a switch, and for "language" (its choices are the language list)
    int choiceCount;
    int defaultIndex; // choice index, or 0/1 for a switch
    // Added after the first release: a saved state that does not mention it loads it at 0.
    bool addedLater;

    constexpr bool isSwitch() const noexcept { return choiceCount == 0; }
};

// In the order the host lists them.
inline constexpr std::array<ParameterInfo, 9> parameterTable{{
    {parameterIds::effect, "Effect", effectChoices.data(), 3, 0, false},
    {parameterIds::root, "Root note (minor)", noteNames.data(), 12, 0, false},
    {parameterIds::bypass, "Bypass", nullptr, 0, 0, false},
    {parameterIds::language, "Language", nullptr, 176, 0, false},
    {parameterIds::tuningSource, "Tuning source", tuningSourceChoices.data(), 2, beatTuningSource, true},
    {parameterIds::wobble, "Dizzy mosquito", nullptr, 0, 0, true},
    {parameterIds::vocalStyle, "Vocal style", vocalStyleChoices.data(), 4, 0, true},
    {parameterIds::mastering, "Master Tolmar", nullptr, 0, 0, true},
    {parameterIds::live, "Live", nullptr, 0, 0, true},
}};

// The entry with identifier `id`, or nullptr.
const ParameterInfo* findParameter(const char* id) noexcept;

// The English name of a mode, as the parameter texts select it ("Dizzy mosquito", "Master Tolmar"); "?" for a
// value outside the eight modes.
const char* modeName(Mode mode) noexcept;

// Raw (plain) values of "mastering", "effect", "wobble" and "vocalStyle" that select a mode.
struct ModeParameters {
    float mastering = 0.0f;
    float effect = 0.0f;
    float wobble = 0.0f;
    float vocalStyle = 0.0f;
};

// The four values that select `mode`. For Master Tolmar the voice values are their defaults: a writer that lets
// switching mastering off bring back the previous voice effect writes only "mastering" for it.
constexpr ModeParameters parametersFor(Mode mode) noexcept
{
    switch (mode) {
    case Mode::mosquito:
        return {0.0f, 0.0f, 0.0f, 0.0f};
    case Mode::satanic:
        return {0.0f, 1.0f, 0.0f, 0.0f};
    case Mode::dizzyMosquito:
        return {0.0f, 0.0f, 1.0f, 0.0f};
    case Mode::trapDefault:
        return {0.0f, 2.0f, 0.0f, 0.0f};
    case Mode::cumbia:
        return {0.0f, 2.0f, 0.0f, 1.0f};
    case Mode::reggaeton:
        return {0.0f, 2.0f, 0.0f, 2.0f};
    case Mode::ultraEdited:
        return {0.0f, 2.0f, 0.0f, 3.0f};
    case Mode::master:
        return {1.0f, 0.0f, 0.0f, 0.0f};
    }
    return {};
}

// A switch is on when its raw value is above 0.5.
constexpr bool switchIsOn(float raw) noexcept
{
    return raw > 0.5f;
}

// A choice's raw value truncated toward zero and clamped to 0..lastIndex; NaN reads as the first choice.
constexpr int choiceIndex(float raw, int lastIndex) noexcept
{
    if (!(raw > 0.0f))
        return 0;
    return static_cast<int>(std::min(raw, static_cast<float>(lastIndex)));
}

// The mode that "mastering", "effect", "wobble" and "vocalStyle" select. Each argument is read once and only
// when the rule needs it ("wobble" only for the first effect, "vocalStyle" only for the third), so `Raw` may
// be a float or a std::atomic<float> read where it stands. Any thread.
template <typename Raw>
Mode modeFrom(const Raw& mastering, const Raw& effect, const Raw& wobble, const Raw& vocalStyle) noexcept
{
    const auto read = [](const Raw& raw) { return static_cast<float>(raw); };
    if (switchIsOn(read(mastering)))
        return Mode::master;
    switch (choiceIndex(read(effect), 2)) {
    case 0:
        return switchIsOn(read(wobble)) ? Mode::dizzyMosquito : Mode::mosquito;
    case 1:
        return Mode::satanic;
    default: {
        const int style = choiceIndex(read(vocalStyle), 3);
        return style < 1 ? Mode::trapDefault : static_cast<Mode>(style + 3);
    }
    }
}

} // namespace tolmar
