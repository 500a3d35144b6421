#pragma once

#include <memory>
#include <string>
#include <vector>

namespace tolmar::text {

// Whether a line may end after a code point under Unicode line breaking (UAX #14).
enum class BreakAfter : char { never, allowed, required };

// The platform's UAX #14 line breaker: libunibreak on Linux, DirectWrite's text analyser on Windows. Dictionary
// breaks inside Thai and the strict Japanese rules are the caller's. Made once and reused; message thread only.
class LineBreaker {
public:
    LineBreaker();
    ~LineBreaker();
    LineBreaker(const LineBreaker&) = delete;
    LineBreaker& operator=(const LineBreaker&) = delete;

    // One entry per code point of text. language tailors the rules for ideographic punctuation: "ja", "ko", "zh"
    // or "" for none. The last code point is always `required` (the end of the text).
    std::vector<BreakAfter> find(const std::u32string& text, const char* language);

private:
    struct Platform;
    std::unique_ptr<Platform> platform;
};

} // namespace tolmar::text
