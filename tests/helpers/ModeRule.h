#pragma once

// The mode rule written down once more, apart from the plug-in's parameter module, so that the tests check
// the module against the rule and not against itself.
namespace testing_support {

// Raw values of "mastering", "effect", "wobble" and "vocalStyle".
struct ModeRow {
    float mastering, effect, wobble, vocalStyle;
};

// The values that select each mode, indexed by the mode's number: 0 Mosquito, 1 Satanic, 2 Trap default,
// 3 Dizzy mosquito, 4 Cumbia, 5 Reggaeton, 6 Ultra edited, 7 Master Tolmar.
inline constexpr ModeRow modeRule[8] = {{0, 0, 0, 0}, {0, 1, 0, 0}, {0, 2, 0, 0}, {0, 0, 1, 0},
                                        {0, 2, 0, 1}, {0, 2, 0, 2}, {0, 2, 0, 3}, {1, 0, 0, 0}};

// Writes the row of `mode` through `host.set(id, raw)`, as host automation would.
template <typename Host> void setModeRow(Host& host, int mode)
{
    const auto& row = modeRule[mode];
    host.set("effect", row.effect);
    host.set("wobble", row.wobble);
    host.set("vocalStyle", row.vocalStyle);
    host.set("mastering", row.mastering);
}

} // namespace testing_support
