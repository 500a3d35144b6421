// The Windows line breaker (DirectWrite's text analyser) against the break opportunities that libunibreak, the
// Linux line breaker, finds in the same strings. Each pattern has one mark per code point: '.' no break after it,
// '/' a line may end after it, '!' a line must end after it.
#include "editor/text/LineBreaker.h"

#include <gtest/gtest.h>

#include <string>

namespace tolmar::text {
namespace {

std::string patternOf(const std::vector<BreakAfter>& breaks)
{
    std::string pattern;
    for (const BreakAfter b : breaks)
        pattern += b == BreakAfter::required ? '!' : b == BreakAfter::allowed ? '/' : '.';
    return pattern;
}

struct BreakCase {
    const char* name;
    std::u32string text;
    const char* language; // as the text layer tailors: "ja", "ko", "zh" or ""
    const char* unibreak; // libunibreak's breaks
    // Where Wine's DirectWrite differs from libunibreak, its breaks; both are accepted.
    const char* directWrite = nullptr;
};

const BreakCase breakCases[] = {
    {"EnglishSpaces", U"Hello world, it's a well-known test.", "", "...../....../...././..../...../....!"},
    {"EnglishHyphens", U"state-of-the-art e-mail", "", "...../../.../..././...!"},
    {"NumbersKeepTogether", U"Pay $1,000.50 (now)!", "", ".../........./.....!"},
    {"QuotesDashEllipsis", U"He said \"no\" (twice) — then left…", "", "../..../...........././..../....!"},
    {"SlashesAndPercent", U"see tolmar.example/docs or 50%/60% off", "", ".../............../..../../......./..!"},
    {"LineFeedAndSpaces", U"one\ntwo  three", "", "...!..../....!"},
    {"CarriageReturnLineFeedParagraph", U"a\r\nb\u2029c d", "", "..!.!./!"},
    // libunibreak (non-strict) lets a line start with small kana and the prolonged sound mark; Wine's DirectWrite
    // keeps them with the kana before, which the text layer's strict Japanese rule does on both platforms anyway.
    {"JapanesePunctuation", U"音程を自動で補正します。「キー」は？", "ja", "//////////./././.!", "//////////./.../.!"},
    {"JapaneseSmallKana", U"ちょっとカッコいいボーカル", "ja", "////////////!", "..//.////.//!"},
    {"JapaneseAstralHan", U"𠀋𠀌は良い、𠀋。", "ja", "////./.!"},
    {"ChinesePunctuation", U"自动修正音高，保持自然。", "zh", "/////.////.!"},
    {"KoreanSyllables", U"음정을 자동으로 보정합니다.", "ko", "//.////./////.!"},
    {"Arabic", U"تصحيح النغمة تلقائيا، بسرعة.", "", "...../....../......../.....!"},
    {"HindiWithMarks", U"स्वर को अपने आप ठीक करें।", "", "..../../..../../.../....!"},
    // libunibreak's emoji data predates the modifier rule; the text layer never breaks inside a cluster anyway.
    {"EmojiWithSkinTone", U"ok 👍🏽 done", "", "..//./...!", "../../...!"},
    {"LoneSurrogateAndOutOfRange", std::u32string{U'a', 0xd800, U' ', 0x110000, U'b'}, "", "../.!"},
};

class LineBreakerTest : public testing::TestWithParam<BreakCase> {
protected:
    static LineBreaker& breaker()
    {
        static LineBreaker shared;
        return shared;
    }
};

TEST_P(LineBreakerTest, BreaksWhereLibunibreakDoes)
{
    const BreakCase& c = GetParam();
    const std::string found = patternOf(breaker().find(c.text, c.language));
    if (c.directWrite != nullptr && found == c.directWrite)
        return;
    EXPECT_EQ(found, c.unibreak);
}

INSTANTIATE_TEST_SUITE_P(Strings, LineBreakerTest, testing::ValuesIn(breakCases),
                         [](const testing::TestParamInfo<BreakCase>& testCase) {
                             return std::string(testCase.param.name);
                         });

TEST(LineBreaker, ReusedBreakerForgetsThePreviousText)
{
    LineBreaker breaker;
    EXPECT_EQ(patternOf(breaker.find(U"a much longer first line of text", "")), "./..../....../...../..../../...!");
    EXPECT_EQ(patternOf(breaker.find(U"ab cd", "")), "../.!");
    EXPECT_TRUE(breaker.find(U"", "").empty());
    EXPECT_EQ(patternOf(breaker.find(U"x", "")), "!");
}

} // namespace
} // namespace tolmar::text
