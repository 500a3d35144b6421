// The editor's text layer on the installed fonts: every string of every language has its glyphs, right-to-left
// scripts come out right to left, Arabic letters join, Indic and Khmer shaping matches HarfBuzz's own command-line
// shaper, descriptions wrap inside their areas between clusters, and the 15 Hz poll shapes nothing when nothing
// changed. Needs the fonts of scripts/install-deps and a display (run under xvfb-run).
#include "EditorProbe.h"
#include "editor/i18n/LanguageNames.h"
#include "editor/i18n/LanguageTables.h"
#include "editor/text/TextLayer.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <vector>

namespace {

using tolmar::text::FontSpec;
using tolmar::text::TextLayout;
using tolmar::text::textLayer;

juce::String utf8(const char* text) { return juce::String::fromUTF8(text); }

const TextLayout& oneLine(const juce::String& text, FontSpec font = {17.0f, false})
{
    return textLayer().layout(text, font, 0.0f, 0);
}

// Every string the editor can show in a language, with a name for failure messages.
std::vector<std::pair<juce::String, juce::String>> editorStrings(int language)
{
    const auto& row = tolmar::languageText(language);
    std::vector<std::pair<juce::String, juce::String>> strings;
    for (int slot = 0; slot < tolmar::languageTextSlots; ++slot)
        strings.emplace_back("slot " + juce::String(slot), utf8(tolmar::slotText(row, slot)));
    strings.emplace_back("privacy", utf8(row.privacyNote) + " " + utf8(tolmar::languageNotices[language]));
    strings.emplace_back("credit", utf8(tolmar::studioCredits[language]));
    strings.emplace_back("key status", utf8(row.estimatedKey) + ": A# " + utf8(row.majorWord) + " / " +
                                           utf8(row.minorWord) + ". " + utf8(row.beatKeyLocked));
    strings.emplace_back("analysing", utf8(row.beatAnalysing) + " 42%");
    return strings;
}

// Code points whose glyph came out as the face's missing glyph.
juce::String missingIn(const juce::String& text)
{
    const TextLayout& laid = oneLine(text);
    juce::String missing;
    for (const auto& line : laid.lines)
        for (const auto& glyph : line.glyphs)
            if (glyph.glyph == 0)
                missing << "U+" << juce::String::toHexString(static_cast<int>(laid.text[static_cast<size_t>(glyph.cluster)]))
                        << " ";
    return missing;
}

bool isRightToLeftLetter(char32_t c)
{
    return (c >= 0x0590 && c <= 0x05ff) || (c >= 0x0600 && c <= 0x06ff && !(c >= 0x0660 && c <= 0x0669) &&
                                            !(c >= 0x06f0 && c <= 0x06f9) && !(c >= 0x064b && c <= 0x065f)) ||
           (c >= 0x0750 && c <= 0x077f) || (c >= 0xfb1d && c <= 0xfdff) || (c >= 0xfe70 && c <= 0xfeff);
}

bool isLatinLetter(char32_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Pen position of the first glyph of each cluster, by code point index.
std::map<int, float> clusterX(const TextLayout& laid)
{
    std::map<int, float> x;
    for (const auto& line : laid.lines)
        for (const auto& glyph : line.glyphs)
            x.emplace(glyph.cluster, glyph.x);
    return x;
}

} // namespace

// ---------------------------------------------------------------------------------------------------------------
// Coverage and order

TEST(TextLayer, EveryStringOfEveryLanguageAndEveryLanguageNameHasItsGlyphs)
{
    for (int language = 0; language < tolmar::languageCount; ++language) {
        EXPECT_EQ(missingIn(utf8(tolmar::languageName(language))), "") << "name of language " << language;
        for (const auto& [what, text] : editorStrings(language))
            EXPECT_EQ(missingIn(text), "") << "language " << language << ", " << what << ": " << text;
    }
    for (const char* fixed : {"Tolmar Vez", "Trap default", "Mosquito mareado", "Satánico", "Reggaetón",
                              "C C# D D# E F F# G G# A A# B", "v0.1.5 \xc2\xb7 VST3", "\xe2\x86\xbb", "\xe2\x80\xa6"})
        EXPECT_EQ(missingIn(utf8(fixed)), "") << fixed;
}

TEST(TextLayer, RightToLeftStringsRunRightToLeftWithLatinInsideLeftToRight)
{
    int checkedPairs = 0;
    for (int language = 0; language < tolmar::languageCount; ++language) {
        if (!tolmar::isRightToLeft(language))
            continue;
        auto strings = editorStrings(language);
        strings.emplace_back("name", utf8(tolmar::languageName(language)));
        for (const auto& [what, text] : strings) {
            const TextLayout& laid = oneLine(text);
            const std::u32string cps = laid.text;
            const auto x = clusterX(laid);
            SCOPED_TRACE(testing::Message() << "language " << language << ", " << what);
            // The paragraph takes the direction of its first strong letter.
            for (const char32_t c : cps) {
                if (isRightToLeftLetter(c) || isLatinLetter(c)) {
                    EXPECT_EQ(laid.rightToLeft, isRightToLeftLetter(c));
                    break;
                }
            }
            // Each right-to-left letter sits left of the one before it, across spaces and punctuation; a run of
            // Latin letters reads left to right.
            int previous = -1;
            for (int i = 0; i < static_cast<int>(cps.size()); ++i) {
                const char32_t c = cps[static_cast<size_t>(i)];
                const bool rtl = isRightToLeftLetter(c);
                const bool latin = isLatinLetter(c);
                if (!rtl && !latin)
                    continue; // neutral: spaces, punctuation, marks (no cluster of their own), digits
                if (x.count(i) == 0) {
                    previous = -1; // inside a ligature
                    continue;
                }
                if (previous >= 0 && isRightToLeftLetter(cps[static_cast<size_t>(previous)]) == rtl) {
                    if (rtl) {
                        EXPECT_GT(x.at(previous), x.at(i)) << "code points " << previous << " and " << i;
                    } else if (i == previous + 1) {
                        EXPECT_LT(x.at(previous), x.at(i)) << "code points " << previous << " and " << i;
                    }
                    ++checkedPairs;
                }
                previous = i;
            }
        }
    }
    EXPECT_GT(checkedPairs, 5000);
}

TEST(TextLayer, ArabicScriptLettersTakeTheirJoinedForms)
{
    // Letters that join on both sides; a letter after one of them takes a final or medial form, and one of them
    // followed by another Arabic letter an initial or medial form. Either way, not its isolated glyph.
    const std::u32string dualJoining = U"\u0628\u062a\u062b\u062c\u062d\u062e\u0633\u0634\u0635\u0636\u0637\u0638"
                                       U"\u0639\u063a\u0641\u0642\u0643\u0644\u0645\u0646\u0647\u064a\u06cc\u067e"
                                       U"\u0686\u06af\u06a9\u0626";
    const auto isArabicLetter = [](char32_t c) { return (c >= 0x0621 && c <= 0x064a) || (c >= 0x0671 && c <= 0x06d3); };
    const auto isMark = [](char32_t c) { return (c >= 0x064b && c <= 0x065f) || c == 0x0670; };
    int joined = 0;
    for (const int language : {27, 84, 99, 118, 119, 130, 171}) {
        auto strings = editorStrings(language);
        strings.emplace_back("name", utf8(tolmar::languageName(language)));
        for (const auto& [what, text] : strings) {
            const TextLayout& laid = oneLine(text);
            const std::u32string& cps = laid.text;
            std::map<int, std::uint32_t> glyphOf;
            for (const auto& glyph : laid.lines.front().glyphs)
                glyphOf.emplace(glyph.cluster, glyph.glyph);
            // Previous letter of the same word, skipping marks.
            int before = -1;
            for (int i = 0; i < static_cast<int>(cps.size()); ++i) {
                const char32_t c = cps[static_cast<size_t>(i)];
                if (isMark(c))
                    continue;
                if (!isArabicLetter(c)) {
                    before = -1;
                    continue;
                }
                int after = i + 1;
                while (after < static_cast<int>(cps.size()) && isMark(cps[static_cast<size_t>(after)]))
                    ++after;
                const bool joinsBefore = before >= 0 && dualJoining.find(cps[static_cast<size_t>(before)]) != std::u32string::npos;
                const bool joinsAfter = dualJoining.find(c) != std::u32string::npos && after < static_cast<int>(cps.size()) &&
                                        isArabicLetter(cps[static_cast<size_t>(after)]);
                before = i;
                if (!(joinsBefore || joinsAfter) || glyphOf.count(i) == 0)
                    continue; // not joining, or part of a ligature
                const TextLayout& alone = oneLine(juce::String::charToString(static_cast<juce::juce_wchar>(c)));
                ASSERT_FALSE(alone.lines.front().glyphs.empty());
                EXPECT_NE(glyphOf.at(i), alone.lines.front().glyphs.front().glyph)
                    << "language " << language << ", " << what << ": U+" << juce::String::toHexString(static_cast<int>(c))
                    << " at " << i << " is isolated";
                ++joined;
            }
        }
    }
    EXPECT_GT(joined, 2000);
}

// ---------------------------------------------------------------------------------------------------------------
// Shaping against hb-shape, HarfBuzz's own command-line shaper, on the face the layer chose

TEST(TextLayer, DevanagariAndKhmerClustersMatchHarfBuzzCommandLineShaper)
{
#ifdef _WIN32
    GTEST_SKIP() << "hb-shape is a program of the Linux build machine";
#endif
    if (!juce::File("/usr/bin/hb-shape").existsAsFile())
        GTEST_SKIP() << "hb-shape (libharfbuzz-bin) is not installed";
    struct Sample {
        const char* text;
        const char* script;
        const char* language;
    };
    const Sample samples[] = {
        {"\xe0\xa4\xb9\xe0\xa4\xbf\xe0\xa4\xa8\xe0\xa5\x8d\xe0\xa4\xa6\xe0\xa5\x80", "deva", "hi"}, // हिन्दी
        {"\xe0\xa4\xb8\xe0\xa4\x82\xe0\xa4\xb8\xe0\xa5\x8d\xe0\xa4\x95\xe0\xa5\x83\xe0\xa4\xa4", "deva", "sa"}, // संस्कृत
        {"\xe0\xa4\x95\xe0\xa5\x8d\xe0\xa4\xb7\xe0\xa4\xa4\xe0\xa5\x8d\xe0\xa4\xb0\xe0\xa4\xbf", "deva", "hi"}, // क्षत्रि
        {"\xe1\x9e\x81\xe1\x9f\x92\xe1\x9e\x98\xe1\x9f\x82\xe1\x9e\x9a", "khmr", "km"},                         // ខ្មែរ
        {"\xe1\x9e\x9f\xe1\x9f\x92\xe1\x9e\x8f\xe1\x9f\x92\xe1\x9e\x9a\xe1\x9e\xb8", "khmr", "km"},             // ស្ត្រី
    };
    for (const auto& sample : samples) {
        const juce::String text = utf8(sample.text);
        const TextLayout& laid = oneLine(text);
        ASSERT_EQ(laid.lines.size(), 1u);
        const auto& glyphs = laid.lines.front().glyphs;
        ASSERT_FALSE(glyphs.empty());
        const auto face = textLayer().faceInfo(glyphs.front().face);
        for (const auto& glyph : glyphs)
            ASSERT_EQ(glyph.face, glyphs.front().face) << text << " spans two faces";
        // Conjuncts, reordered vowel signs and subscripts: fewer clusters than code points.
        std::set<int> clusters;
        for (const auto& glyph : glyphs)
            clusters.insert(glyph.cluster);
        EXPECT_LT(clusters.size(), laid.text.size()) << text;

        juce::ChildProcess shaper;
        ASSERT_TRUE(shaper.start(juce::StringArray{"hb-shape", "--font-file=" + face.file,
                                                   "--face-index=" + juce::String(face.index), "--no-glyph-names",
                                                   "--no-positions", "--direction=ltr",
                                                   "--script=" + juce::String(sample.script),
                                                   "--language=" + juce::String(sample.language), "--text=" + text}));
        const juce::String reference = shaper.readAllProcessOutput().trim();
        juce::StringArray ours;
        for (const auto& glyph : glyphs)
            ours.add(juce::String(glyph.glyph) + "=" + juce::String(glyph.cluster));
        EXPECT_EQ("[" + ours.joinIntoString("|") + "]", reference) << text << " in " << face.file;
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Line breaking

TEST(TextLayer, DescriptionsWrapInsideTheirAreaBetweenClustersAtTheScriptsBreaks)
{
    struct Case {
        const char* name;
        int language;
    };
    const Case cases[] = {{"Thai", 142}, {"Japanese", 5}, {"Arabic", 27}, {"Khmer", 80}, {"Tibetan", 143}};
    const std::u32string noLineStart = U"\u3001\u3002\uff09\uff0c\u300d\u30fc\u3041\u3043\u3045\u3047\u3049"
                                       U"\u3063\u3083\u3085\u3087\u30a1\u30a3\u30a5\u30a7\u30a9\u30c3\u30e3"
                                       U"\u30e5\u30e7";
    // The description area at the default size (510 less the 4 pixels of border) and two narrower ones.
    for (const auto& c : cases) {
        const juce::String text = utf8(tolmar::languageText(c.language).descTrapDefaultBeat);
        const TextLayout& whole = oneLine(text);
        std::set<int> clusterStarts{static_cast<int>(whole.text.size())};
        for (const auto& glyph : whole.lines.front().glyphs)
            clusterStarts.insert(glyph.cluster);
        for (const float width : {506.0f, 240.0f, 120.0f}) {
            SCOPED_TRACE(testing::Message() << c.name << " at " << width);
            const TextLayout& laid = textLayer().layout(text, {17.0f, false}, width, 0);
            ASSERT_GE(laid.lines.size(), width < 500.0f ? 2u : 1u);
            int expectedStart = 0;
            for (const auto& line : laid.lines) {
                EXPECT_LE(line.width, width + 0.01f);
                EXPECT_EQ(line.start, expectedStart);
                EXPECT_TRUE(clusterStarts.count(line.start) == 1) << "line starts inside a cluster at " << line.start;
                for (const auto& glyph : line.glyphs) {
                    EXPECT_GE(glyph.cluster, line.start);
                    EXPECT_LT(glyph.cluster, line.end);
                    if (glyph.advance > 0.0f) { // marks sit on their base, offsets within a pixel
                        EXPECT_LE(glyph.x + glyph.advance, line.width + 0.5f);
                    }
                }

                // Closing punctuation, small kana and the prolonged sound mark never start a line (Japanese
                // line-breaking rules, strict).
                const char32_t first = laid.text[static_cast<size_t>(line.start)];
                EXPECT_EQ(noLineStart.find(first), std::u32string::npos)
                    << "line starts with U+" << juce::String::toHexString(static_cast<int>(first));
                expectedStart = line.end;
            }
            EXPECT_EQ(expectedStart, static_cast<int>(laid.text.size()));
        }
    }
}

TEST(TextLayer, ThaiBreaksBetweenWordsNotJustAtSpaces)
{
    // Thai writes no spaces between words: with only the spaces as opportunities the first phrase (wider than
    // 240 pixels) would have to be cut between clusters. Every line must end where the dictionary puts a word end,
    // which is where the unbroken phrase allows a line to end at a narrower width too.
    const juce::String text = utf8(tolmar::languageText(142).descTrapDefaultBeat);
    const TextLayout& laid = textLayer().layout(text, {17.0f, false}, 240.0f, 0);
    ASSERT_GE(laid.lines.size(), 2u);
    const std::u32string word = U"\u0e40\u0e21\u0e40\u0e08\u0e2d\u0e23\u0e4c"; // เมเจอร์ ("major")
    const auto at = static_cast<int>(laid.text.find(word));
    ASSERT_GE(at, 0);
    for (const auto& line : laid.lines)
        EXPECT_FALSE(line.end > at && line.end < at + static_cast<int>(word.size())) << "breaks inside a word";
}

TEST(TextLayer, TooLongTextEndsInAnEllipsisWithinItsLines)
{
    const juce::String text = utf8(tolmar::languageText(27).descTrapDefaultBeat);
    const TextLayout& laid = textLayer().layout(text, {17.0f, false}, 200.0f, 2);
    ASSERT_EQ(laid.lines.size(), 2u);
    EXPECT_TRUE(laid.shortened);
    const auto& last = laid.lines.back();
    EXPECT_LE(last.width, 200.0f);
    // The ellipsis is the last code point of the shortened line and, right to left, its leftmost glyph.
    ASSERT_FALSE(last.glyphs.empty());
    EXPECT_EQ(last.glyphs.front().cluster, last.end - 1);
    EXPECT_NE(last.glyphs.front().glyph, 0u);
    EXPECT_GT(last.glyphs.front().advance, 3.0f);
    // What fits is kept: the cut line is no shorter than the space left after the ellipsis allows.
    EXPECT_GT(last.width, 200.0f - 2.0f * last.glyphs.front().advance - 17.0f);
}

// ---------------------------------------------------------------------------------------------------------------
// The editor through the layer

TEST(TextLayer, TimerTickShapesNothingWhenNothingChanged)
{
    TolmarProcessor processor;
    TolmarEditor editor(processor);
    EditorProbe inspect{editor};
    int changes = 0;
    for (const int language : {27, 142, 5}) {
        editor.setUiState(2, language);
        inspect.sourceBox().setSelectedItemIndex(1, juce::sendNotificationSync);
        processor.beatStage.store(1);
        processor.beatProgress.store(0.42f);
        inspect.tick();
        editor.createComponentSnapshot(editor.getLocalBounds());
        const auto before = textLayer().stats();
        for (int tick = 0; tick < 15; ++tick) {
            processor.inputLevel.store(0.1f * static_cast<float>(tick % 10));
            inspect.tick();
            editor.createComponentSnapshot(editor.getLocalBounds());
        }
        const auto after = textLayer().stats();
        EXPECT_EQ(after.shapedRuns, before.shapedRuns) << "language " << language;
        EXPECT_EQ(after.layouts, before.layouts) << "language " << language;
        EXPECT_EQ(after.glyphOutlines, before.glyphOutlines) << "language " << language;

        // A new status is new text: shaped once, then cached again.
        // (a percentage no earlier language showed)
        processor.beatProgress.store(static_cast<float>(71 + 2 * changes++) / 100.0f + 0.001f);
        inspect.tick();
        editor.createComponentSnapshot(editor.getLocalBounds());
        const auto changed = textLayer().stats();
        EXPECT_GT(changed.shapedRuns, after.shapedRuns) << "language " << language;
        inspect.tick();
        editor.createComponentSnapshot(editor.getLocalBounds());
        EXPECT_EQ(textLayer().stats().shapedRuns, changed.shapedRuns) << "language " << language;
    }
}

TEST(TextLayer, TextAreasShowAScrollBarOnlyWhenTheTextIsTallerThanTheArea)
{
    TolmarProcessor processor;
    TolmarEditor editor(processor);
    EditorProbe inspect{editor};
    editor.setUiState(0, 2);
    auto& area = inspect.descriptionText();
    EXPECT_FALSE(area.isScrollBarShown());
    EXPECT_LE(area.textHeight(), static_cast<float>(area.getHeight() - 2));
    area.setText(juce::String::repeatedString("One octave up. ", 40));
    EXPECT_TRUE(area.isScrollBarShown());
    EXPECT_GT(area.textHeight(), static_cast<float>(area.getHeight()));
    // The scroll bar takes its width from the text.
    const auto& laid = textLayer().layout(area.getText(), area.getFont(),
                                          static_cast<float>(area.getWidth() - 4 - area.getLookAndFeel().getDefaultScrollbarWidth()), 0);
    EXPECT_FLOAT_EQ(area.textHeight(), laid.height());
}
