#include "TolmarLook.h"

#include "i18n/LanguageTables.h"

namespace {

// Characters of the sample that a face really draws. A letter missing from the face (and from the framework's
// fallback face) comes out as the font's "missing glyph" box, so its outline equals that of a code point no
// font carries. Spaces are skipped; they say nothing about the script.
int drawableCharacters(const juce::String& faceName, const juce::String& sample)
{
    const juce::Font font(faceName, 20.0f, juce::Font::plain);
    auto typeface = font.getTypefacePtr();
    if (typeface == nullptr)
        return 0;
    const auto outlineOf = [&typeface](juce::juce_wchar c) {
        juce::Array<int> glyphs;
        juce::Array<float> offsets;
        typeface->getGlyphPositions(juce::String::charToString(c), glyphs, offsets);
        juce::Path outline;
        if (!glyphs.isEmpty())
            typeface->getOutlineForGlyph(glyphs.getFirst(), outline);
        return outline;
    };
    const juce::String missingOutline = outlineOf(0x10fffd).toString();
    int count = 0;
    for (auto p = sample.getCharPointer(); !p.isEmpty();) {
        const juce::juce_wchar c = p.getAndAdvance();
        if (juce::CharacterFunctions::isWhitespace(c))
            continue;
        const juce::Path outline = outlineOf(c);
        if (!outline.isEmpty() && outline.toString() != missingOutline)
            ++count;
    }
    return count;
}

juce::String sampleOf(int language)
{
    const auto& row = tolmar::languageText(language);
    return juce::String::fromUTF8(tolmar::languageName(language)) + juce::String::fromUTF8(row.effectLabel) +
           juce::String::fromUTF8(row.descMosquito) + juce::String::fromUTF8(row.privacyNote);
}

} // namespace

TolmarLook::TolmarLook()
{
    setDefaultSansSerifTypefaceName(preferredFace);
    setColour(juce::ComboBox::backgroundColourId, paletteControl);
    setColour(juce::ComboBox::textColourId, paletteText);
    setColour(juce::ComboBox::outlineColourId, paletteLine);
    setColour(juce::ComboBox::focusedOutlineColourId, paletteAccent);
    setColour(juce::ComboBox::arrowColourId, paletteAccent);
    setColour(juce::PopupMenu::backgroundColourId, palettePanel);
    setColour(juce::PopupMenu::textColourId, paletteText);
    setColour(juce::PopupMenu::highlightedBackgroundColourId, paletteAccent);
    setColour(juce::PopupMenu::highlightedTextColourId, paletteOnAccent);
    setColour(juce::TextButton::buttonColourId, paletteControl);
    setColour(juce::TextButton::textColourOffId, paletteText);
    setColour(juce::TextButton::buttonOnColourId, paletteAccent);
    setColour(juce::TextButton::textColourOnId, paletteOnAccent);
    setColour(juce::Label::textColourId, paletteText);
    setColour(juce::ScrollBar::thumbColourId, paletteMutedText);
}

TolmarLook::~TolmarLook() = default;

void TolmarLook::drawScrollbar(juce::Graphics& g, juce::ScrollBar&, int x, int y, int width, int height,
                               bool isScrollbarVertical, int thumbStartPosition, int thumbSize, bool isMouseOver,
                               bool isMouseDown)
{
    g.setColour(palettePanel);
    g.fillRect(x, y, width, height);
    // Pressed wins over hover.
    g.setColour(isMouseDown ? paletteText : isMouseOver ? paletteAccent : paletteMutedText);
    const auto thumb = isScrollbarVertical
                           ? juce::Rectangle<int>(x + 2, thumbStartPosition, width - 4, thumbSize)
                           : juce::Rectangle<int>(thumbStartPosition, y + 2, thumbSize, height - 4);
    g.fillRoundedRectangle(thumb.toFloat(), 3.0f);
}

juce::Font TolmarLook::getTextButtonFont(juce::TextButton&, int) { return body(16.0f); }

juce::Font TolmarLook::getPopupMenuFont() { return body(17.0f); }

juce::Font TolmarLook::getComboBoxFont(juce::ComboBox&) { return body(17.0f); }

juce::Font TolmarLook::body(float height) const { return juce::Font(face, height, juce::Font::plain); }

juce::Font TolmarLook::title(float height) const { return juce::Font(face, height, juce::Font::bold); }

void TolmarLook::useLanguage(int language)
{
    language = juce::jlimit(0, tolmar::languageCount - 1, language);
    if (const auto known = facesByLanguage.find(language); known != facesByLanguage.end()) {
        face = known->second;
        return;
    }
    // A face the system lacks would be measured with empty metrics while its letters come from the fallback
    // face, which clips descenders in text areas; the platform's own sans-serif face stands in for it instead.
    const juce::StringArray installed = juce::Font::findAllTypefaceNames();
    juce::String best = installed.contains(preferredFace) ? juce::String(preferredFace)
                                                          : juce::Font::getDefaultSansSerifFontName();
    const juce::String sample = sampleOf(language);
    int bestCount = drawableCharacters(best, sample);
    const int wanted = sample.removeCharacters(" ").length();
    // Only look further when that face misses letters of the language.
    // A stand-in must still draw the Latin that every language shows (product names, company, version).
    const juce::String latin = "Tolmar Vez Trap default Orvane Company 3 - Quistral LLC v0.1.5";
    const int latinWanted = latin.removeCharacters(" ").length();
    if (bestCount < wanted) {
        for (const auto& family : installed) {
            if (drawableCharacters(family, latin) < latinWanted)
                continue;
            const int count = drawableCharacters(family, sample);
            if (count > bestCount) {
                best = family;
                bestCount = count;
            }
        }
    }
    facesByLanguage[language] = best;
    face = best;
}
