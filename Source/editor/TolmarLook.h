#pragma once

#include "editor/text/TextLayer.h"

#include <juce_gui_basics/juce_gui_basics.h>

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

// The editor's look-and-feel: the palette on the framework's controls, one typeface, slim scroll bars. Every string
// that a control shows (labels, combo-box texts, pop-up menu items, button texts, tooltips) is drawn through the
// text layer, which shapes, orders and falls back per script; the framework's fonts only carry the sizes.
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

    void drawLabel(juce::Graphics& g, juce::Label& label) override;
    void drawButtonText(juce::Graphics& g, juce::TextButton& button, bool isHighlighted, bool isDown) override;
    void drawComboBoxTextWhenNothingSelected(juce::Graphics& g, juce::ComboBox& box, juce::Label& label) override;
    void drawPopupMenuItem(juce::Graphics& g, const juce::Rectangle<int>& area, bool isSeparator, bool isActive,
                           bool isHighlighted, bool isTicked, bool hasSubMenu, const juce::String& text,
                           const juce::String& shortcutKeyText, const juce::Drawable* icon,
                           const juce::Colour* textColour) override;
    void getIdealPopupMenuItemSize(const juce::String& text, bool isSeparator, int standardMenuItemHeight,
                                   int& idealWidth, int& idealHeight) override;
    juce::Rectangle<int> getTooltipBounds(const juce::String& tipText, juce::Point<int> screenPos,
                                          juce::Rectangle<int> parentArea) override;
    void drawTooltip(juce::Graphics& g, const juce::String& text, int width, int height) override;

    // Plain "Segoe UI" of the given height in pixels (the platform's sans-serif face where it is missing).
    juce::Font body(float height) const;
    // Bold title font of the given height in pixels.
    juce::Font title(float height) const;

    static constexpr const char* preferredFace = "Segoe UI";

private:
    juce::String face{preferredFace};
};
