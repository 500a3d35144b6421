// Line breaking on Linux: Debian's libunibreak.
#include "editor/text/LineBreaker.h"

#include <linebreak.h>

namespace tolmar::text {

struct LineBreaker::Platform {};

LineBreaker::LineBreaker()
{
    init_linebreak();
}

LineBreaker::~LineBreaker() = default;

std::vector<BreakAfter> LineBreaker::find(const std::u32string& text, const char* language)
{
    std::vector<char> breaks(text.size());
    set_linebreaks_utf32(reinterpret_cast<const utf32_t*>(text.data()), text.size(), language, breaks.data());
    std::vector<BreakAfter> result(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        result[i] = breaks[i] == LINEBREAK_MUSTBREAK    ? BreakAfter::required
                    : breaks[i] == LINEBREAK_ALLOWBREAK ? BreakAfter::allowed
                                                        : BreakAfter::never;
    return result;
}

} // namespace tolmar::text
