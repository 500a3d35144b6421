#pragma once

#include <array>

// The plug-in's audio buses as the host is first offered them. Plain C++: the processor declares its buses from
// this table, and the LV2 data's ports and port groups are written from it.
namespace tolmar {

struct BusInfo {
    const char* name; // as the host shows it
    bool isInput;
    // Off until the host turns it on: the beat's side-chain.
    bool optional;
};

// Every bus starts in stereo, left then right.
inline constexpr int busChannels = 2;

// In the order the processor declares them; within inputs and within outputs this is the host's bus order.
inline constexpr std::array<BusInfo, 3> busTable{{
    {"Input", true, false},
    {"Output", false, false},
    {"Beat", true, true},
}};

} // namespace tolmar
