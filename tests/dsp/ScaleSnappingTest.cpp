#include "dsp/ScaleSnapping.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using tolmar::Scale;
using tolmar::scaleTarget;

TEST(ScaleTarget, SnapsToTheNearestScaleNoteWithTiesGoingDown)
{
    struct Case {
        float note;
        int root;
        Scale scale;
        float expected;
    };
    const Case cases[] = {
        {61.0f, 0, Scale::minor, 60.0f},  // C and D equally near: the lower wins
        {64.0f, 0, Scale::minor, 63.0f},  // E between E flat and F
        {64.0f, 0, Scale::major, 64.0f},
        {66.0f, 0, Scale::minor, 65.0f},
        {66.0f, 7, Scale::major, 66.0f},  // F sharp belongs to G major
        {61.4f, 0, Scale::major, 62.0f},
        {63.5f, 0, Scale::minor, 63.0f},
        {59.9f, 0, Scale::minor, 60.0f},  // nearest candidate in the octave above the base
        {71.6f, 0, Scale::major, 72.0f},
        {57.2f, 9, Scale::minor, 57.0f},  // A minor from A3
        {60.5f, -3, Scale::minor, 60.0f}, // root below 0 behaves as C
        {70.0f, 15, Scale::minor, 69.0f}, // root above 11 behaves as B; A and B tie, A wins
        {64.0f, 0, static_cast<Scale>(2), 63.0f}, // unknown scale values behave as minor
        {-3.2f, 0, Scale::minor, -4.0f},  // negative notes floor toward minus infinity
    };
    for (const auto& c : cases)
        EXPECT_EQ(scaleTarget(c.note, c.root, c.scale), c.expected)
            << "note " << c.note << " root " << c.root << " scale " << static_cast<int>(c.scale);
}

TEST(ScaleTarget, EveryFiniteNoteLandsOnAScaleNoteWithinOneSemitone)
{
    for (const Scale scale : {Scale::minor, Scale::major})
        for (int root = 0; root < 12; ++root)
            for (float note = 20.0f; note < 110.0f; note += 0.37f) {
                const float target = scaleTarget(note, root, scale);
                EXPECT_LE(std::abs(target - note), 1.0f);
                EXPECT_EQ(target, std::round(target));
            }
}

TEST(ScaleTarget, MinorTargetAndNonFiniteNotes)
{
    EXPECT_EQ(tolmar::minorTarget(64.0f, 0), 63.0f);
    EXPECT_EQ(tolmar::minorTarget(66.0f, 7), scaleTarget(66.0f, 7, Scale::minor));
    EXPECT_EQ(scaleTarget(std::numeric_limits<float>::quiet_NaN(), 0, Scale::minor), 0.0f);
    EXPECT_EQ(scaleTarget(std::numeric_limits<float>::infinity(), 0, Scale::major), 0.0f);
}

TEST(WobbleSemitones, SwingsFourSemitonesAroundTheOctaveEveryPointEightSeconds)
{
    struct Case {
        double seconds;
        float expected;
    };
    const Case cases[] = {{0.0, 12.0f}, {0.1, 14.828f}, {0.2, 16.0f}, {0.4, 12.0f}, {0.6, 8.0f}, {0.8, 12.0f}};
    for (const auto& c : cases)
        EXPECT_NEAR(tolmar::wobbleSemitones(c.seconds), c.expected, 1e-3) << c.seconds << " s";
}
