#include "editor/text/TextShaper.h"

#include <fribidi.h>
#include <thai/thbrk.h>
#include <thai/thwbrk.h>

#include <algorithm>

namespace tolmar::text {

namespace {

bool isNeutralScript(hb_script_t script)
{
    return script == HB_SCRIPT_COMMON || script == HB_SCRIPT_INHERITED || script == HB_SCRIPT_UNKNOWN;
}

bool isMark(hb_unicode_funcs_t* unicode, char32_t c)
{
    switch (hb_unicode_general_category(unicode, c)) {
    case HB_UNICODE_GENERAL_CATEGORY_NON_SPACING_MARK:
    case HB_UNICODE_GENERAL_CATEGORY_SPACING_MARK:
    case HB_UNICODE_GENERAL_CATEGORY_ENCLOSING_MARK:
        return true;
    default:
        // Joiners and variation selectors belong to the character before them.
        return c == 0x200c || c == 0x200d || (c >= 0xfe00 && c <= 0xfe0f);
    }
}

// The scripts in a paragraph that decide the language of Han and of line breaking.
struct ScriptHints {
    bool kana = false;
    bool hangul = false;
    bool han = false;
};

// The language whose faces fontconfig should rank first for a script. Latin, Greek and Cyrillic stay with the plain
// request, which is where "Segoe UI" (or the desktop's sans-serif face) wins. Han follows the paragraph: with kana
// it is Japanese, with Hangul Korean, otherwise Chinese.
const char* languageForScript(hb_script_t script, const ScriptHints& hints)
{
    switch (script) {
    case HB_SCRIPT_ARABIC: return "ar";
    case HB_SCRIPT_HEBREW: return "he";
    case HB_SCRIPT_DEVANAGARI: return "hi";
    case HB_SCRIPT_BENGALI: return "bn";
    case HB_SCRIPT_GURMUKHI: return "pa";
    case HB_SCRIPT_GUJARATI: return "gu";
    case HB_SCRIPT_ORIYA: return "or";
    case HB_SCRIPT_TAMIL: return "ta";
    case HB_SCRIPT_TELUGU: return "te";
    case HB_SCRIPT_KANNADA: return "kn";
    case HB_SCRIPT_MALAYALAM: return "ml";
    case HB_SCRIPT_SINHALA: return "si";
    case HB_SCRIPT_THAI: return "th";
    case HB_SCRIPT_LAO: return "lo";
    case HB_SCRIPT_TIBETAN: return "bo";
    case HB_SCRIPT_KHMER: return "km";
    case HB_SCRIPT_MYANMAR: return "my";
    case HB_SCRIPT_ETHIOPIC: return "am";
    case HB_SCRIPT_GEORGIAN: return "ka";
    case HB_SCRIPT_ARMENIAN: return "hy";
    case HB_SCRIPT_HANGUL: return "ko";
    case HB_SCRIPT_HIRAGANA:
    case HB_SCRIPT_KATAKANA: return "ja";
    case HB_SCRIPT_HAN: return hints.kana ? "ja" : hints.hangul ? "ko" : "zh-cn";
    case HB_SCRIPT_CANADIAN_SYLLABICS: return "iu";
    case HB_SCRIPT_THAANA: return "dv";
    case HB_SCRIPT_SYRIAC: return "syr";
    default: return "";
    }
}

// The language line breaking is tailored for (ideographic punctuation), from the paragraph's scripts.
const char* breakLanguage(const ScriptHints& hints)
{
    if (hints.kana)
        return "ja";
    if (hints.hangul)
        return "ko";
    return hints.han ? "zh" : "";
}

} // namespace

TextShaper::TextShaper()
{
    buffer = hb_buffer_create();
    const std::string dictionary = thaiDictionaryFile();
    // Null when the dictionary is missing: Thai then breaks at spaces only.
    thaiBreaker = th_brk_new(dictionary.empty() ? nullptr : dictionary.c_str());
}

TextShaper::~TextShaper()
{
    if (thaiBreaker != nullptr)
        th_brk_delete(static_cast<ThBrk*>(thaiBreaker));
    hb_buffer_destroy(buffer);
}

namespace {

// A paragraph of `text` with nothing found yet: no breaks, and a cluster beginning only at the end.
ShapedParagraph emptyParagraph(const std::u32string& text)
{
    ShapedParagraph paragraph;
    paragraph.text = text;
    const auto length = text.size();
    paragraph.breakAfter.assign(length, 0);
    paragraph.mustBreakAfter.assign(length, 0);
    paragraph.clusterStart.assign(length + 1, 0);
    paragraph.clusterStart[length] = 1;
    return paragraph;
}

// The embedding level of every code point by the Unicode bidirectional algorithm (rules P2 to I2, FriBidi); all
// levels 0 when FriBidi fails. `rightToLeft` receives the paragraph's resolved direction. direction as for shape.
std::vector<FriBidiLevel> bidiLevels(const std::u32string& text, int direction, bool& rightToLeft)
{
    const int length = static_cast<int>(text.size());
    std::vector<FriBidiCharType> types(static_cast<size_t>(length));
    std::vector<FriBidiBracketType> brackets(static_cast<size_t>(length));
    std::vector<FriBidiLevel> levels(static_cast<size_t>(length));
    const auto* codePoints = reinterpret_cast<const FriBidiChar*>(text.data());
    fribidi_get_bidi_types(codePoints, length, types.data());
    fribidi_get_bracket_types(codePoints, length, types.data(), brackets.data());
    FriBidiParType base = direction < 0 ? FRIBIDI_PAR_ON : direction == 0 ? FRIBIDI_PAR_LTR : FRIBIDI_PAR_RTL;
    if (fribidi_get_par_embedding_levels_ex(types.data(), brackets.data(), length, &base, levels.data()) == 0)
        std::fill(levels.begin(), levels.end(), FriBidiLevel{0});
    rightToLeft = FRIBIDI_IS_RTL(base);
    return levels;
}

// The Unicode script of every code point, as the character database gives it.
std::vector<hb_script_t> ownScripts(hb_unicode_funcs_t* unicode, const std::u32string& text)
{
    std::vector<hb_script_t> scripts(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        scripts[i] = hb_unicode_script(unicode, text[i]);
    return scripts;
}

// Which of the scripts that choose a language for Han (and for line breaking) the paragraph holds.
ScriptHints hintsFrom(const std::vector<hb_script_t>& scripts)
{
    ScriptHints hints;
    for (const hb_script_t script : scripts) {
        hints.kana = hints.kana || script == HB_SCRIPT_HIRAGANA || script == HB_SCRIPT_KATAKANA;
        hints.hangul = hints.hangul || script == HB_SCRIPT_HANGUL;
        hints.han = hints.han || script == HB_SCRIPT_HAN;
    }
    return hints;
}

// Neutral characters take the script before them (or, at the start, the first one after), so that punctuation and
// spaces join the run of their words.
void resolveNeutralScripts(std::vector<hb_script_t>& scripts)
{
    hb_script_t last = HB_SCRIPT_COMMON;
    for (auto& script : scripts)
        if (!isNeutralScript(script)) {
            last = script;
            break;
        }
    for (auto& script : scripts) {
        if (isNeutralScript(script))
            script = last;
        else
            last = script;
    }
}

// The face of every code point: a character stays in the face before it when it is a mark, or neutral and present
// there.
std::vector<int> chooseFaces(FontFallback& fallback, hb_unicode_funcs_t* unicode, const std::u32string& text,
                             const std::vector<hb_script_t>& scripts, const ScriptHints& hints, bool bold)
{
    std::vector<int> faceOf(text.size());
    int previous = -1;
    for (size_t i = 0; i < text.size(); ++i) {
        const char32_t c = text[i];
        const hb_script_t own = hb_unicode_script(unicode, c);
        const bool attached = isNeutralScript(own) || isMark(unicode, c);
        const char* language = languageForScript(scripts[i], hints);
        // A mark stays with its base even where that face lacks it: HarfBuzz then places a fallback mark, and a
        // cluster split over two faces could not be positioned at all.
        const int face = isMark(unicode, c) && previous >= 0
                             ? previous
                             : fallback.faceFor(c, language, bold, attached ? previous : -1);
        faceOf[i] = face;
        previous = face;
    }
    return faceOf;
}

// Per code point, what decides the runs (bidirectional level, resolved script and face); and the paragraph's
// script hints.
struct Items {
    std::vector<FriBidiLevel> levels;
    std::vector<hb_script_t> scripts;
    std::vector<int> faces;
    ScriptHints hints;

    // The end of the run that begins at `start`: the first code point after it with another level, script or face.
    int runEnd(int start) const
    {
        const auto length = static_cast<int>(levels.size());
        int end = start + 1;
        const auto same = [&](int i) {
            return levels[static_cast<size_t>(i)] == levels[static_cast<size_t>(start)] &&
                   scripts[static_cast<size_t>(i)] == scripts[static_cast<size_t>(start)] &&
                   faces[static_cast<size_t>(i)] == faces[static_cast<size_t>(start)];
        };
        while (end < length && same(end))
            ++end;
        return end;
    }
};

// The text HarfBuzz shapes: the control characters (below U+0020, and U+007F) replaced by spaces.
std::u32string shapingTextOf(const std::u32string& text)
{
    std::u32string shapingText = text;
    for (auto& c : shapingText)
        if (c < 0x20 || c == 0x7f)
            c = U' ';
    return shapingText;
}

// Shapes code points start to end of shapingText with HarfBuzz in the run's face, the whole text as context (so
// joining crosses runs and faces).
ShapedRun shapeRun(hb_buffer_t* buffer, const FontFallback& fallback, const std::u32string& shapingText,
                   const Items& items, int start, int end)
{
    ShapedRun run;
    run.start = start;
    run.end = end;
    run.level = items.levels[static_cast<size_t>(start)];
    run.face = items.faces[static_cast<size_t>(start)];
    const hb_script_t script = items.scripts[static_cast<size_t>(start)];
    hb_buffer_clear_contents(buffer);
    hb_buffer_add_utf32(buffer, reinterpret_cast<const std::uint32_t*>(shapingText.data()),
                        static_cast<int>(shapingText.size()), static_cast<unsigned>(start), end - start);
    hb_buffer_set_direction(buffer, (run.level & 1) != 0 ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
    hb_buffer_set_script(buffer, script);
    const char* language = languageForScript(script, items.hints);
    hb_buffer_set_language(buffer, hb_language_from_string(*language != 0 ? language : "en", -1));
    hb_shape(fallback.face(run.face).hb, buffer, nullptr, 0);

    unsigned count = 0;
    const hb_glyph_info_t* infos = hb_buffer_get_glyph_infos(buffer, &count);
    const hb_glyph_position_t* positions = hb_buffer_get_glyph_positions(buffer, &count);
    run.glyphs.reserve(count);
    for (unsigned g = 0; g < count; ++g) {
        ShapedGlyph glyph;
        glyph.id = infos[g].codepoint;
        glyph.cluster = static_cast<int>(infos[g].cluster);
        glyph.advance = positions[g].x_advance;
        glyph.xOffset = positions[g].x_offset;
        glyph.yOffset = positions[g].y_offset;
        run.glyphs.push_back(glyph);
    }
    return run;
}

// A cluster begins at every glyph's cluster and at every run's start.
void markClusterStarts(ShapedParagraph& paragraph)
{
    for (const ShapedRun& run : paragraph.runs) {
        for (const ShapedGlyph& glyph : run.glyphs)
            paragraph.clusterStart[static_cast<size_t>(glyph.cluster)] = 1;
        paragraph.clusterStart[static_cast<size_t>(run.start)] = 1;
    }
}

// Unicode line breaking (UAX #14): where a line may end, and where it must (the end of the text needs no break).
void markLineBreaks(const std::vector<BreakAfter>& breaks, ShapedParagraph& paragraph)
{
    const int length = static_cast<int>(paragraph.text.size());
    for (int i = 0; i < length; ++i) {
        const BreakAfter b = breaks[static_cast<size_t>(i)];
        paragraph.mustBreakAfter[static_cast<size_t>(i)] = b == BreakAfter::required && i + 1 < length ? 1 : 0;
        paragraph.breakAfter[static_cast<size_t>(i)] = b != BreakAfter::never ? 1 : 0;
    }
}

// Dictionary word breaks (libthai) inside each stretch of Thai, which UAX #14 leaves to the implementation.
void markThaiWordBreaks(ThBrk* thaiBreaker, hb_unicode_funcs_t* unicode, const std::vector<hb_script_t>& scripts,
                        ShapedParagraph& paragraph)
{
    const std::u32string& text = paragraph.text;
    const int length = static_cast<int>(text.size());
    for (int start = 0; start < length;) {
        if (scripts[static_cast<size_t>(start)] != HB_SCRIPT_THAI ||
            hb_unicode_script(unicode, text[static_cast<size_t>(start)]) != HB_SCRIPT_THAI) {
            ++start;
            continue;
        }
        int end = start;
        while (end < length && hb_unicode_script(unicode, text[static_cast<size_t>(end)]) == HB_SCRIPT_THAI)
            ++end;
        std::wstring segment(text.begin() + start, text.begin() + end);
        std::vector<int> positions(segment.size() + 1);
        const int found = th_brk_wc_find_breaks(thaiBreaker, segment.c_str(), positions.data(), positions.size());
        for (int k = 0; k < found; ++k) {
            const int at = start + positions[static_cast<size_t>(k)];
            if (at > start && at < end)
                paragraph.breakAfter[static_cast<size_t>(at - 1)] = 1;
        }
        start = end;
    }
}

// Japanese, strict: small kana and the prolonged sound mark do not begin a line (UAX #14 class CJ as NS).
void keepSmallKanaAttached(ShapedParagraph& paragraph)
{
    const auto smallKanaOrLong = [](char32_t c) {
        return c == 0x30fc || c == 0xff70 || c == 0x3041 || c == 0x3043 || c == 0x3045 || c == 0x3047 || c == 0x3049 ||
               c == 0x3063 || c == 0x3083 || c == 0x3085 || c == 0x3087 || c == 0x308e || c == 0x3095 || c == 0x3096 ||
               c == 0x30a1 || c == 0x30a3 || c == 0x30a5 || c == 0x30a7 || c == 0x30a9 || c == 0x30c3 || c == 0x30e3 ||
               c == 0x30e5 || c == 0x30e7 || c == 0x30ee || c == 0x30f5 || c == 0x30f6 ||
               (c >= 0x31f0 && c <= 0x31ff) || (c >= 0xff67 && c <= 0xff6f);
    };
    const int length = static_cast<int>(paragraph.text.size());
    for (int i = 0; i + 1 < length; ++i)
        if (smallKanaOrLong(paragraph.text[static_cast<size_t>(i + 1)]))
            paragraph.breakAfter[static_cast<size_t>(i)] = 0;
}

// No break, allowed or required, inside a cluster.
void keepClustersWhole(ShapedParagraph& paragraph)
{
    const int length = static_cast<int>(paragraph.text.size());
    for (int i = 0; i + 1 < length; ++i)
        if (paragraph.clusterStart[static_cast<size_t>(i + 1)] == 0)
            paragraph.breakAfter[static_cast<size_t>(i)] = paragraph.mustBreakAfter[static_cast<size_t>(i)] = 0;
}

} // namespace

ShapedParagraph TextShaper::shape(const std::u32string& text, bool bold, int direction)
{
    ShapedParagraph paragraph = emptyParagraph(text);
    if (text.empty())
        return paragraph;

    // Itemisation: levels, then scripts (the hints read before neutral characters are resolved), then faces.
    hb_unicode_funcs_t* unicode = hb_unicode_funcs_get_default();
    Items items;
    items.levels = bidiLevels(text, direction, paragraph.rightToLeft);
    items.scripts = ownScripts(unicode, text);
    items.hints = hintsFrom(items.scripts);
    resolveNeutralScripts(items.scripts);
    items.faces = chooseFaces(fallback, unicode, text, items.scripts, items.hints, bold);

    // Runs of one level, script and face, shaped with the whole paragraph as context.
    const std::u32string shapingText = shapingTextOf(text);
    for (int start = 0; start < static_cast<int>(text.size());) {
        const int end = items.runEnd(start);
        paragraph.runs.push_back(shapeRun(buffer, fallback, shapingText, items, start, end));
        ++runsShaped;
        start = end;
    }
    markClusterStarts(paragraph);

    // Line-breaking opportunities: UAX #14, then the dictionary and Japanese rules it leaves to us, never inside
    // a cluster.
    markLineBreaks(lineBreaker.find(text, breakLanguage(items.hints)), paragraph);
    if (thaiBreaker != nullptr)
        markThaiWordBreaks(static_cast<ThBrk*>(thaiBreaker), unicode, items.scripts, paragraph);
    if (items.hints.kana)
        keepSmallKanaAttached(paragraph);
    keepClustersWhole(paragraph);
    return paragraph;
}

} // namespace tolmar::text
