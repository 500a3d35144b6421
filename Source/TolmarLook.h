#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <map>

// The editor's dark olive palette (opaque ARGB).
const juce::Colour paletteBackground{0xff0c0e0c};
const juce::Colour palettePanel{0xff161a14};
const juce::Colour paletteControl{0xff25291f};
const juce::Colour paletteText{0xfff0eadb};
const juce::Colour paletteMutedText{0xffaaa596};
const juce::Colour paletteLine{0xff3c4031};
const juce::Colour paletteFrame{0xff727860};
const juce::Colour paletteAccent{0xffc0c88b};
const juce::Colour paletteOnAccent{0xff11130e};

// The editor's look-and-feel: the palette on the framework's controls, one typeface, slim scroll bars.
// Message thread only.
class TolmarLook final : public juce::LookAndFeel_V4 {
public:
    TolmarLook();
    ~TolmarLook() override;

    void drawScrollbar(juce::Graphics& g, juce::ScrollBar& bar, int x, int y, int width, int height,
                       bool isScrollbarVertical, int thumbStartPosition, int thumbSize, bool isMouseOver,
                       bool isMouseDown) override;
    juce::Font getTextButtonFont(juce::TextButton& button, int buttonHeight) override;
    juce::Font getPopupMenuFont() override;
    juce::Font getComboBoxFont(juce::ComboBox& box) override;

    // Plain "Segoe UI" of the given height in pixels, or the face substituted for it (see useLanguage).
    juce::Font body(float height) const;
    // Bold title font of the given height in pixels.
    juce::Font title(float height) const;

    // Chooses the face for a language's texts: "Segoe UI" where installed, else the platform's sans-serif face;
    // when that lacks letters of the language, the installed family that draws most of them and all of the Latin
    // product names. Cached per language.
    void useLanguage(int language);
    const juce::String& faceName() const { return face; }

    static constexpr const char* preferredFace = "Segoe UI";

private:
    juce::String face{preferredFace};
    std::map<int, juce::String> facesByLanguage;
};
