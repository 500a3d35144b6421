#pragma once

#include <cstdint>

namespace tolmar {

// A key index: 0..11 the minor key with tonic C..B, 12..23 the major key with tonic C..B, -1 no key.
constexpr std::int32_t noKey = -1;

constexpr bool isKey(std::int32_t key) noexcept
{
    return key >= 0 && key <= 23;
}

// Tonic pitch class 0 = C .. 11 = B of a key index 0..23.
constexpr std::int32_t keyRoot(std::int32_t key) noexcept
{
    return key % 12;
}

// True for the major keys 12..23.
constexpr bool keyIsMajor(std::int32_t key) noexcept
{
    return key > 11;
}

// Where the beat's key analysis stands. Published across threads as its integer value.
enum class KeyStage : std::int32_t {
    waiting = 0,    // nothing heard yet
    analysing = 1,  // listening, progress below 1
    noClearKey = 2, // decided: no key stands out
    keyKnown = 3,   // decided, or restored from a saved project
};

// True once the analysis has decided, with or without a key.
constexpr bool isDecided(KeyStage stage) noexcept
{
    return stage == KeyStage::noClearKey || stage == KeyStage::keyKnown;
}

// The stage of a published integer; anything outside 0..3 reads as waiting.
constexpr KeyStage keyStageFrom(std::int32_t value) noexcept
{
    return value >= 1 && value <= 3 ? static_cast<KeyStage>(value) : KeyStage::waiting;
}

constexpr std::int32_t toInt(KeyStage stage) noexcept
{
    return static_cast<std::int32_t>(stage);
}

} // namespace tolmar
