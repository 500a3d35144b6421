// The text layer on Debian's libraries: FriBidi, fontconfig, HarfBuzz, libunibreak and libthai in TextShaper;
// here the caches, line breaking in pixels, visual reordering, and glyph outlines from FreeType filled as paths.
#include "editor/text/TextLayer.h"
#include "editor/text/TextShaper.h"

#include FT_OUTLINE_H

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace tolmar::text {

namespace {

constexpr char32_t ellipsis = 0x2026;
constexpr size_t cacheLimit = 4096; // entries; cleared whole when passed (a language switch needs about 100)

std::u32string toUtf32(const juce::String& text)
{
    std::u32string result;
    result.reserve(static_cast<size_t>(text.length()));
    for (auto p = text.getCharPointer(); !p.isEmpty();)
        result.push_back(static_cast<char32_t>(p.getAndAdvance()));
    return result;
}

bool isSpace(char32_t c) { return c == U' ' || c == 0x3000 || c == U'\t' || c == U'\n' || c == U'\r'; }

// FreeType outline (26.6 pixels, y up) to a path (pixels, y down).
juce::Path pathOf(const FT_Outline& outline)
{
    juce::Path path;
    FT_Outline_Funcs funcs{};
    funcs.move_to = [](const FT_Vector* to, void* user) {
        auto* p = static_cast<juce::Path*>(user);
        if (!p->isEmpty())
            p->closeSubPath();
        p->startNewSubPath(static_cast<float>(to->x) / 64.0f, -static_cast<float>(to->y) / 64.0f);
        return 0;
    };
    funcs.line_to = [](const FT_Vector* to, void* user) {
        static_cast<juce::Path*>(user)->lineTo(static_cast<float>(to->x) / 64.0f, -static_cast<float>(to->y) / 64.0f);
        return 0;
    };
    funcs.conic_to = [](const FT_Vector* control, const FT_Vector* to, void* user) {
        static_cast<juce::Path*>(user)->quadraticTo(
            static_cast<float>(control->x) / 64.0f, -static_cast<float>(control->y) / 64.0f,
            static_cast<float>(to->x) / 64.0f, -static_cast<float>(to->y) / 64.0f);
        return 0;
    };
    funcs.cubic_to = [](const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
        static_cast<juce::Path*>(user)->cubicTo(
            static_cast<float>(c1->x) / 64.0f, -static_cast<float>(c1->y) / 64.0f, static_cast<float>(c2->x) / 64.0f,
            -static_cast<float>(c2->y) / 64.0f, static_cast<float>(to->x) / 64.0f, -static_cast<float>(to->y) / 64.0f);
        return 0;
    };
    FT_Outline_Decompose(const_cast<FT_Outline*>(&outline), &funcs, &path);
    if (!path.isEmpty())
        path.closeSubPath();
    path.setUsingNonZeroWinding(true);
    return path;
}

class HarfBuzzTextLayer final : public TextLayer {
public:
    void draw(juce::Graphics& g, const juce::String& text, FontSpec font, juce::Rectangle<float> area,
              juce::Justification justification, juce::Colour colour, int maxLines) override
    {
        if (text.isEmpty() || area.isEmpty())
            return;
        Entry& entry = layoutEntry(text, font, area.getWidth(), maxLines);
        const TextLayout& laid = entry.layout;

        float top = area.getY();
        const float blockHeight = laid.height();
        if (justification.testFlags(juce::Justification::verticallyCentred))
            top += (area.getHeight() - blockHeight) * 0.5f;
        else if (justification.testFlags(juce::Justification::bottom))
            top += area.getHeight() - blockHeight;

        // Outlines at the device's pixel size, so hinting snaps to real pixels at any scale.
        const float scale = std::max(0.25f, g.getInternalContext().getPhysicalPixelScaleFactor());
        if (entry.pathScale != scale)
            buildPaths(entry, font, scale);

        g.setColour(colour);
        for (size_t i = 0; i < laid.lines.size(); ++i) {
            const LaidOutLine& line = laid.lines[i];
            float x = area.getX();
            if (justification.testFlags(juce::Justification::horizontallyCentred))
                x += (area.getWidth() - line.width) * 0.5f;
            else if (justification.testFlags(juce::Justification::right))
                x += area.getWidth() - line.width;
            const float baseline = top + laid.lineHeight * static_cast<float>(i) + laid.ascent;
            // Whole device pixels for the baseline keep the hinted horizontals crisp.
            const float snappedX = std::round(x * scale) / scale;
            const float snappedBaseline = std::round(baseline * scale) / scale;
            g.fillPath(entry.linePaths[i],
                       juce::AffineTransform::scale(1.0f / scale).translated(snappedX, snappedBaseline));
        }
    }

    float measure(const juce::String& text, FontSpec font) override
    {
        const TextLayout& laid = layout(text, font, 0.0f, 1);
        return laid.lines.empty() ? 0.0f : laid.lines.front().width;
    }

    const TextLayout& layout(const juce::String& text, FontSpec font, float width, int maxLines) override
    {
        return layoutEntry(text, font, width, maxLines).layout;
    }

    FaceInfo faceInfo(int face) const override
    {
        const Face& f = const_cast<TextShaper&>(shaper).fonts().face(face);
        return {juce::String::fromUTF8(f.file.c_str()), f.index, juce::String::fromUTF8(f.family.c_str())};
    }

    TextLayerStats stats() const override
    {
        TextLayerStats result;
        result.shapedRuns = shaper.shapedRuns();
        result.layouts = layoutsBuilt;
        result.glyphOutlines = outlinesLoaded;
        return result;
    }

private:
    struct Entry {
        TextLayout layout;
        std::vector<juce::Path> linePaths;
        float pathScale = -1.0f;
    };

    // Pixel metrics of a font spec: the em size makes the primary face's ascent plus descent equal the height, as
    // the framework sizes its fonts; every fallback face is drawn at the same em size.
    struct Metrics {
        float em = 0.0f;
        float ascent = 0.0f;
    };
    Metrics metricsOf(FontSpec font)
    {
        FontFallback& fonts = shaper.fonts();
        const int primary = fonts.primaryFace(font.bold);
        if (primary < 0)
            return {font.height * 0.75f, font.height * 0.8f};
        const Face& face = fonts.face(primary);
        const float extent = static_cast<float>(face.ascender - face.descender);
        return {font.height * static_cast<float>(face.unitsPerEm) / extent,
                font.height * static_cast<float>(face.ascender) / extent};
    }

    const ShapedParagraph& paragraph(const std::u32string& text, bool bold, int direction)
    {
        std::u32string key = text;
        key.push_back(0);
        key.push_back(bold ? U'b' : U'r');
        key.push_back(static_cast<char32_t>(direction + 2));
        if (auto found = paragraphs.find(key); found != paragraphs.end())
            return found->second;
        if (paragraphs.size() >= cacheLimit)
            paragraphs.clear();
        return paragraphs.emplace(std::move(key), shaper.shape(text, bold, direction)).first->second;
    }

    Entry& layoutEntry(const juce::String& text, FontSpec font, float width, int maxLines)
    {
        juce::String key;
        key << text << juce::String::charToString(0x1f) << juce::String(font.height, 3) << (font.bold ? "b" : "r")
            << juce::String(width, 2) << "/" << maxLines;
        const std::string utf8Key = key.toStdString();
        if (auto found = layouts.find(utf8Key); found != layouts.end())
            return found->second;
        if (layouts.size() >= cacheLimit)
            layouts.clear();
        Entry entry;
        entry.layout = buildLayout(toUtf32(text), font, width, maxLines);
        ++layoutsBuilt;
        return layouts.emplace(utf8Key, std::move(entry)).first->second;
    }

    // Pixel advance of each code point of a paragraph (a cluster's advance on its first code point).
    std::vector<float> advancesOf(const ShapedParagraph& shaped, float em)
    {
        std::vector<float> advances(shaped.text.size() + 1, 0.0f);
        for (const auto& run : shaped.runs) {
            const float toPixels = em / static_cast<float>(shaper.fonts().face(run.face).unitsPerEm);
            for (const auto& glyph : run.glyphs)
                advances[static_cast<size_t>(glyph.cluster)] += static_cast<float>(glyph.advance) * toPixels;
        }
        return advances;
    }

    // Visual line from the code points [start, end) of a paragraph (UAX #9 rule L2 over runs; glyphs of a run are
    // already in visual order). Trailing spaces are left out.
    LaidOutLine placeLine(const ShapedParagraph& shaped, int start, int end, float em)
    {
        LaidOutLine line;
        line.start = start;
        line.end = end;
        int visibleEnd = end;
        while (visibleEnd > start && isSpace(shaped.text[static_cast<size_t>(visibleEnd - 1)]))
            --visibleEnd;

        std::vector<const ShapedRun*> runs;
        for (const auto& run : shaped.runs)
            if (run.end > start && run.start < visibleEnd)
                runs.push_back(&run);
        int highest = 0;
        int lowestOdd = 1000;
        for (const auto* run : runs) {
            highest = std::max(highest, run->level);
            if ((run->level & 1) != 0)
                lowestOdd = std::min(lowestOdd, run->level);
        }
        for (int level = highest; level >= lowestOdd && level > 0; --level) {
            for (size_t i = 0; i < runs.size();) {
                if (runs[i]->level < level) {
                    ++i;
                    continue;
                }
                size_t j = i;
                while (j < runs.size() && runs[j]->level >= level)
                    ++j;
                std::reverse(runs.begin() + static_cast<std::ptrdiff_t>(i), runs.begin() + static_cast<std::ptrdiff_t>(j));
                i = j;
            }
        }

        float pen = 0.0f;
        for (const auto* run : runs) {
            const float toPixels = em / static_cast<float>(shaper.fonts().face(run->face).unitsPerEm);
            for (const auto& glyph : run->glyphs) {
                if (glyph.cluster < start || glyph.cluster >= visibleEnd)
                    continue;
                PlacedGlyph placed;
                placed.face = run->face;
                placed.glyph = glyph.id;
                placed.cluster = glyph.cluster;
                placed.x = pen + static_cast<float>(glyph.xOffset) * toPixels;
                placed.y = static_cast<float>(glyph.yOffset) * toPixels;
                placed.advance = static_cast<float>(glyph.advance) * toPixels;
                pen += placed.advance;
                line.glyphs.push_back(placed);
            }
        }
        line.width = pen;
        return line;
    }

    TextLayout buildLayout(const std::u32string& text, FontSpec font, float width, int maxLines)
    {
        const Metrics metrics = metricsOf(font);
        TextLayout result;
        result.text = text;
        result.lineHeight = font.height;
        result.ascent = metrics.ascent;
        const ShapedParagraph& shaped = paragraph(text, font.bold, -1);
        result.rightToLeft = shaped.rightToLeft;
        const int length = static_cast<int>(text.size());
        if (length == 0)
            return result;

        const std::vector<float> advances = advancesOf(shaped, metrics.em);
        std::vector<float> before(advances.size() + 1, 0.0f); // prefix sums
        for (size_t i = 0; i < advances.size(); ++i)
            before[i + 1] = before[i] + advances[i];
        const auto widthOf = [&](int from, int to) {
            while (to > from && isSpace(text[static_cast<size_t>(to - 1)]))
                --to;
            return before[static_cast<size_t>(to)] - before[static_cast<size_t>(from)];
        };

        // Greedy breaking at the allowed opportunities; a word wider than the line breaks between clusters.
        std::vector<std::pair<int, int>> ranges;
        for (int start = 0; start < length;) {
            int end = -1;
            for (int i = start; i < length; ++i) {
                const bool opportunity = i + 1 == length || shaped.breakAfter[static_cast<size_t>(i)] != 0;
                if (!opportunity)
                    continue;
                if (width > 0.0f && widthOf(start, i + 1) > width + 0.01f)
                    break;
                end = i + 1;
                if (shaped.mustBreakAfter[static_cast<size_t>(i)] != 0)
                    break;
            }
            if (end < 0) {
                end = start + 1;
                while (end < length && shaped.clusterStart[static_cast<size_t>(end)] == 0)
                    ++end;
                for (int i = end + 1; i <= length; ++i) {
                    if (shaped.clusterStart[static_cast<size_t>(i)] == 0)
                        continue;
                    if (widthOf(start, i) > width + 0.01f)
                        break;
                    end = i;
                }
            }
            ranges.emplace_back(start, end);
            start = end;
        }

        const bool shortened = maxLines > 0 && static_cast<int>(ranges.size()) > maxLines;
        const size_t kept = shortened ? static_cast<size_t>(maxLines) : ranges.size();
        for (size_t i = 0; i < kept; ++i) {
            if (shortened && i + 1 == kept)
                break;
            result.lines.push_back(placeLine(shaped, ranges[i].first, ranges[i].second, metrics.em));
        }
        if (shortened) {
            // The last line runs to the end of the text, cut at the last cluster after which "…" still fits. The cut
            // text is shaped again with the paragraph's direction, so the ellipsis lands at its logical end.
            const int lineStart = ranges[kept - 1].first;
            const float ellipsisWidth = measureShaped(std::u32string(1, ellipsis), font.bold, metrics.em);
            int cut = lineStart;
            for (int i = lineStart + 1; i <= length; ++i)
                if (shaped.clusterStart[static_cast<size_t>(i)] != 0 && widthOf(lineStart, i) + ellipsisWidth <= width)
                    cut = i;
            while (cut > lineStart && isSpace(text[static_cast<size_t>(cut - 1)]))
                --cut;
            std::u32string cutText = text.substr(0, static_cast<size_t>(cut));
            cutText.push_back(ellipsis);
            const ShapedParagraph& cutShaped = paragraph(cutText, font.bold, shaped.rightToLeft ? 1 : 0);
            result.shortened = true;
            result.lines.push_back(placeLine(cutShaped, lineStart, cut + 1, metrics.em));
        }
        return result;
    }

    float measureShaped(const std::u32string& text, bool bold, float em)
    {
        const ShapedParagraph& shaped = paragraph(text, bold, -1);
        float total = 0.0f;
        for (const float advance : advancesOf(shaped, em))
            total += advance;
        return total;
    }

    const juce::Path& glyphPath(int face, std::uint32_t glyph, float pixels)
    {
        const auto size64 = static_cast<std::uint64_t>(std::lround(pixels * 64.0f));
        const std::uint64_t key = (static_cast<std::uint64_t>(face) << 48) ^ (size64 << 32) ^ glyph;
        if (auto found = outlines.find(key); found != outlines.end())
            return found->second;
        if (outlines.size() >= 8 * cacheLimit)
            outlines.clear();
        juce::Path path;
        FT_Face ft = shaper.fonts().face(face).ft;
        // Light hinting: vertical snapping only, so advances and spacing stay as HarfBuzz placed them.
        if (FT_Set_Char_Size(ft, 0, static_cast<FT_F26Dot6>(size64), 72, 72) == 0 &&
            FT_Load_Glyph(ft, glyph, FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_LIGHT) == 0 &&
            ft->glyph->format == FT_GLYPH_FORMAT_OUTLINE)
            path = pathOf(ft->glyph->outline);
        ++outlinesLoaded;
        return outlines.emplace(key, std::move(path)).first->second;
    }

    void buildPaths(Entry& entry, FontSpec font, float scale)
    {
        const float em = metricsOf(font).em * scale;
        entry.linePaths.clear();
        for (const auto& line : entry.layout.lines) {
            juce::Path path;
            for (const auto& glyph : line.glyphs) {
                const juce::Path& outline = glyphPath(glyph.face, glyph.glyph, em);
                if (!outline.isEmpty())
                    path.addPath(outline, juce::AffineTransform::translation(glyph.x * scale, -glyph.y * scale));
            }
            path.setUsingNonZeroWinding(true);
            entry.linePaths.push_back(std::move(path));
        }
        entry.pathScale = scale;
    }

    TextShaper shaper;
    std::unordered_map<std::u32string, ShapedParagraph> paragraphs;
    std::unordered_map<std::string, Entry> layouts;
    std::unordered_map<std::uint64_t, juce::Path> outlines;
    std::uint64_t layoutsBuilt = 0;
    std::uint64_t outlinesLoaded = 0;
};

} // namespace

TextLayer& textLayer()
{
    static HarfBuzzTextLayer layer;
    return layer;
}

} // namespace tolmar::text
