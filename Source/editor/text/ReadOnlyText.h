#pragma once

#include "editor/text/TextLayer.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace tolmar::text {

// A read-only, word-wrapped text area drawn through the text layer, in place of the framework's text editor (which
// draws its own glyphs, one character at a time). It takes the text editor's colour IDs (backgroundColourId,
// outlineColourId, textColourId) and its border of 1, 1, 1, 3 pixels with zero indents, and shows a vertical scroll
// bar when the text is taller than the area. Message thread only.
class ReadOnlyText final : public juce::Component, private juce::ScrollBar::Listener {
public:
    ReadOnlyText();
    ~ReadOnlyText() override;

    void setText(const juce::String& newText);
    const juce::String& getText() const { return text; }
    void setFont(FontSpec newFont);
    FontSpec getFont() const { return font; }
    void setJustification(juce::Justification newJustification);
    juce::Justification getJustificationType() const { return justification; }

    // Height in pixels that the whole text needs at the current width.
    float textHeight();
    bool isScrollBarShown() const { return scrollBar.isVisible(); }

    void paint(juce::Graphics& g) override;
    void resized() override;
    void mouseWheelMove(const juce::MouseEvent& event, const juce::MouseWheelDetails& wheel) override;
    std::unique_ptr<juce::AccessibilityHandler> createAccessibilityHandler() override;

private:
    void scrollBarMoved(juce::ScrollBar* bar, double newRangeStart) override;
    void updateScrollBar();
    juce::Rectangle<float> textArea() const;

    juce::String text;
    FontSpec font{15.0f, false};
    juce::Justification justification{juce::Justification::topLeft};
    juce::ScrollBar scrollBar{true};
    float wrapWidth = 0.0f;
};

} // namespace tolmar::text
