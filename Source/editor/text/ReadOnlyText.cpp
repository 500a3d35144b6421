#include "editor/text/ReadOnlyText.h"

namespace tolmar::text {

namespace {

// The framework text editor's border: top, left, bottom, right.
const juce::BorderSize<int> border{1, 1, 1, 3};

struct ReadOnlyValue final : juce::AccessibilityTextValueInterface {
    explicit ReadOnlyValue(ReadOnlyText& area) : owner(area) {}
    bool isReadOnly() const override { return true; }
    juce::String getCurrentValueAsString() const override { return owner.getText(); }
    void setValueAsString(const juce::String&) override {}
    ReadOnlyText& owner;
};

} // namespace

ReadOnlyText::ReadOnlyText()
{
    setWantsKeyboardFocus(false);
    scrollBar.setAutoHide(false);
    scrollBar.addListener(this);
    addChildComponent(scrollBar);
}

ReadOnlyText::~ReadOnlyText() { scrollBar.removeListener(this); }

void ReadOnlyText::setText(const juce::String& newText)
{
    if (newText == text)
        return;
    text = newText;
    updateScrollBar();
    repaint();
    if (auto* handler = getAccessibilityHandler())
        handler->notifyAccessibilityEvent(juce::AccessibilityEvent::valueChanged);
}

void ReadOnlyText::setFont(FontSpec newFont)
{
    font = newFont;
    updateScrollBar();
    repaint();
}

void ReadOnlyText::setJustification(juce::Justification newJustification)
{
    justification = newJustification;
    repaint();
}

float ReadOnlyText::textHeight()
{
    const auto inner = border.subtractedFrom(getLocalBounds());
    const float width = wrapWidth > 0.0f ? wrapWidth : static_cast<float>(inner.getWidth());
    return text.isEmpty() || width <= 0.0f ? 0.0f : textLayer().layout(text, font, width, 0).height();
}

void ReadOnlyText::resized() { updateScrollBar(); }

void ReadOnlyText::updateScrollBar()
{
    auto inner = border.subtractedFrom(getLocalBounds());
    wrapWidth = static_cast<float>(inner.getWidth());
    float height = textHeight();
    const bool needed = height > static_cast<float>(inner.getHeight()) && inner.getWidth() > 0;
    if (needed) {
        // The bar takes its width from the text, which wraps again, a little taller.
        const int barWidth = getLookAndFeel().getDefaultScrollbarWidth();
        wrapWidth = static_cast<float>(std::max(inner.getWidth() - barWidth, 1));
        height = textHeight();
        scrollBar.setBounds(inner.removeFromRight(barWidth));
        scrollBar.setRangeLimits(0.0, static_cast<double>(height), juce::dontSendNotification);
        scrollBar.setCurrentRange(scrollBar.getCurrentRangeStart(), static_cast<double>(inner.getHeight()),
                                  juce::dontSendNotification);
        scrollBar.setSingleStepSize(static_cast<double>(font.height));
    } else {
        scrollBar.setCurrentRangeStart(0.0, juce::dontSendNotification);
    }
    scrollBar.setVisible(needed);
}

juce::Rectangle<float> ReadOnlyText::textArea() const
{
    const auto inner = border.subtractedFrom(getLocalBounds()).toFloat();
    return inner.withWidth(wrapWidth);
}

void ReadOnlyText::paint(juce::Graphics& g)
{
    g.fillAll(findColour(juce::TextEditor::backgroundColourId));
    if (text.isNotEmpty() && wrapWidth > 0.0f) {
        juce::Graphics::ScopedSaveState saved(g);
        const auto area = textArea();
        g.reduceClipRegion(area.getSmallestIntegerContainer());
        auto drawArea = area;
        if (scrollBar.isVisible()) {
            // Taller than the area: laid out from the top and moved by the scroll position.
            const auto scrolled = static_cast<float>(scrollBar.getCurrentRangeStart());
            drawArea = area.withHeight(textHeight()).translated(0.0f, -scrolled);
        }
        textLayer().draw(g, text, font, drawArea, justification, findColour(juce::TextEditor::textColourId), 0);
    }
    g.setColour(findColour(juce::TextEditor::outlineColourId));
    g.drawRect(getLocalBounds(), 1);
}

void ReadOnlyText::mouseWheelMove(const juce::MouseEvent& event, const juce::MouseWheelDetails& wheel)
{
    if (scrollBar.isVisible())
        scrollBar.mouseWheelMove(event.getEventRelativeTo(&scrollBar), wheel);
    else
        Component::mouseWheelMove(event, wheel);
}

void ReadOnlyText::scrollBarMoved(juce::ScrollBar*, double) { repaint(); }

std::unique_ptr<juce::AccessibilityHandler> ReadOnlyText::createAccessibilityHandler()
{
    return std::make_unique<juce::AccessibilityHandler>(
        *this, juce::AccessibilityRole::staticText, juce::AccessibilityActions{},
        juce::AccessibilityHandler::Interfaces{std::make_unique<ReadOnlyValue>(*this)});
}

} // namespace tolmar::text
