// tolmar::classifyChroma for any twelve floats (NaN, infinities, negatives and denormals included).
// Input: up to twelve floats; missing ones are 0.
#include "FuzzCheck.h"

#include "dsp/KeyClassifier.h"

#include <array>
#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    std::array<float, 12> chroma{};
    for (float& value : chroma)
        value = fuzzing::take<float>(data, size);

    const auto estimate = tolmar::classifyChroma(chroma);
    TOLMAR_FUZZ_REQUIRE(estimate.key >= -1 && estimate.key <= 23);
    if (estimate.key == -1)
        TOLMAR_FUZZ_REQUIRE(estimate.score == 0.0f);
    else
        TOLMAR_FUZZ_REQUIRE(estimate.score >= 0.6f && estimate.score <= 1.0f + 1e-6f);
    return 0;
}
