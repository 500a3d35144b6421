#pragma once

#include <juce_graphics/juce_graphics.h>

#include <cstdint>
#include <vector>

namespace tolmar::text {

// What a string is drawn in: the height in pixels of a framework font of that size (ascent plus descent) and its
// weight. The face is the editor's "Segoe UI" request, with per-script fallback behind it.
struct FontSpec {
    float height = 15.0f;
    bool bold = false;
};

// One glyph of a laid-out line, in visual order. Positions are pixels at the layout's size: x is the pen position
// from the line's left edge, y the offset above the baseline.
struct PlacedGlyph {
    int face = 0;               // TextLayer::faceInfo
    std::uint32_t glyph = 0;    // glyph index in that face; 0 is the face's "missing glyph"
    int cluster = 0;            // index of the first UTF-32 code point of its cluster in the laid-out text
    float x = 0.0f;
    float y = 0.0f;
    float advance = 0.0f;
};

struct LaidOutLine {
    int start = 0;              // code-point range [start, end) of the text, trailing spaces included
    int end = 0;
    float width = 0.0f;         // advance width without trailing spaces
    std::vector<PlacedGlyph> glyphs;
};

// A string broken into lines no wider than the requested width (where a cluster allows it) and reordered for display.
struct TextLayout {
    std::u32string text;        // what was laid out: the string, or its shortened form ending in "…"
    bool rightToLeft = false;   // paragraph direction from the first strong character
    bool shortened = false;     // the line limit cut the text: the last line ends in "…" (code point index
                                // end - 1 of that line; its other clusters index the text as usual)
    float lineHeight = 0.0f;
    float ascent = 0.0f;        // baseline below the top of each line
    std::vector<LaidOutLine> lines;

    float height() const { return lineHeight * static_cast<float>(lines.size()); }
};

struct FaceInfo {
    juce::String file;
    int index = 0;              // face index inside a collection file
    juce::String family;
};

// Work done since the layer was created, for tests and measurements.
struct TextLayerStats {
    std::uint64_t shapedRuns = 0;     // shaping calls (one per run of one script, direction and face)
    std::uint64_t layouts = 0;        // line layouts built: breaking, reordering and placing
    std::uint64_t glyphOutlines = 0;  // glyph outlines loaded and converted
};

// The editor's only way to put a string on the screen: shaping, bidirectional reordering, font fallback, line
// breaking and glyph drawing behind one interface, so the platform libraries underneath can be exchanged (for a
// framework with shaping of its own) without touching the editor. Layouts are cached by text, font and width, so an
// unchanged string is never shaped twice. Message thread only.
class TextLayer {
public:
    virtual ~TextLayer() = default;

    // Lays the text out in `area` and fills its glyphs in `colour`. Lines break at the line-breaking opportunities of
    // the script, or between clusters where one word is wider than the area. With maxLines > 0 the text stops there
    // and its last line ends in "…"; with 0 every line is drawn (the caller clips). Horizontal justification applies
    // per line, vertical to the block.
    virtual void draw(juce::Graphics& g, const juce::String& text, FontSpec font, juce::Rectangle<float> area,
                      juce::Justification justification, juce::Colour colour, int maxLines) = 0;

    // Width in pixels of the text on one line.
    virtual float measure(const juce::String& text, FontSpec font) = 0;

    // The layout that draw uses for this width and line limit (width <= 0: one line of any width).
    virtual const TextLayout& layout(const juce::String& text, FontSpec font, float width, int maxLines) = 0;

    virtual FaceInfo faceInfo(int face) const = 0;
    virtual TextLayerStats stats() const = 0;
};

// The layer the editor draws with, shared by every editor of the process. Message thread only.
TextLayer& textLayer();

} // namespace tolmar::text
