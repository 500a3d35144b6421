#include "dsp/Mode.h"

#include <gtest/gtest.h>

TEST(IsTunedMode, OnlyTheFourTuningStylesAreTuned)
{
    struct Case {
        int mode;
        bool tuned;
    };
    const Case cases[] = {{0, false}, {1, false}, {2, true},  {3, false}, {4, true},   {5, true},
                          {6, true},  {7, false}, {8, false}, {31, false}, {-1, false}, {1000, false}};
    for (const auto& c : cases)
        EXPECT_EQ(tolmar::isTunedMode(static_cast<tolmar::Mode>(c.mode)), c.tuned) << "mode " << c.mode;
}
