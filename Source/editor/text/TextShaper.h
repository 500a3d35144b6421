#pragma once

#include "editor/text/FontFallback.h"
#include "editor/text/LineBreaker.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tolmar::text {

// A glyph as HarfBuzz gives it, in font units.
struct ShapedGlyph {
    std::uint32_t id = 0;
    int cluster = 0;           // code-point index into the paragraph
    std::int32_t advance = 0;
    std::int32_t xOffset = 0;
    std::int32_t yOffset = 0;
};

// One run of a single bidirectional level, script and face; glyphs in visual order (left to right).
struct ShapedRun {
    int start = 0;
    int end = 0;
    int level = 0;
    int face = 0;
    std::vector<ShapedGlyph> glyphs;
};

// A paragraph itemised and shaped in logical order, with what line breaking needs.
struct ShapedParagraph {
    std::u32string text;
    bool rightToLeft = false;
    std::vector<ShapedRun> runs;       // logical order, covering the text
    std::vector<char> breakAfter;      // per code point: a line may end after it (LineBreaker, libthai for Thai)
    std::vector<char> mustBreakAfter;  // per code point: a line must end after it
    std::vector<char> clusterStart;    // per code point, plus one at the end: a cluster begins here
};

// Itemisation (FriBidi levels, Unicode scripts, fontconfig fallback) and shaping (HarfBuzz). Message thread only.
class TextShaper {
public:
    TextShaper();
    ~TextShaper();
    TextShaper(const TextShaper&) = delete;
    TextShaper& operator=(const TextShaper&) = delete;

    // direction: -1 from the first strong character (left to right when there is none), 0 left to right,
    // 1 right to left.
    ShapedParagraph shape(const std::u32string& text, bool bold, int direction = -1);

    FontFallback& fonts() { return fallback; }
    std::uint64_t shapedRuns() const { return runsShaped; }

private:
    FontFallback fallback;
    LineBreaker lineBreaker;
    hb_buffer_t* buffer = nullptr;
    void* thaiBreaker = nullptr;
    std::uint64_t runsShaped = 0;
};

} // namespace tolmar::text
