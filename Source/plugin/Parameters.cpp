#include "plugin/Parameters.h"

#include <cstring>

namespace tolmar {

namespace {

constexpr std::array<const char*, 8> modeNames{"Mosquito", "Satanic",   "Trap default", "Dizzy mosquito",
                                               "Cumbia",   "Reggaeton", "Ultra edited", "Master Tolmar"};

} // namespace

const ParameterInfo* findParameter(const char* id) noexcept
{
    for (const auto& parameter : parameterTable)
        if (std::strcmp(parameter.id, id) == 0)
            return &parameter;
    return nullptr;
}

const char* modeName(Mode mode) noexcept
{
    const auto index = static_cast<std::size_t>(mode);
    return index < modeNames.size() ? modeNames[index] : "?";
}

} // namespace tolmar
