#pragma once

#include <cstdint>

namespace tolmar {

// The effective processing mode, resolved from the plug-in's parameters.
enum class Mode : std::int32_t {
    mosquito = 0,
    satanic = 1,
    trapDefault = 2,
    dizzyMosquito = 3,
    cumbia = 4,
    reggaeton = 5,
    ultraEdited = 6,
    master = 7,
};

// True for the modes that snap the voice to a scale (2, 4, 5, 6); false for any other value.
constexpr bool isTunedMode(Mode mode) noexcept
{
    const auto index = static_cast<std::uint32_t>(mode);
    return index < 7 && ((0x74u >> index) & 1u) != 0;
}

} // namespace tolmar
