#include "editor/TolmarLook.h"

#include <algorithm>
#include <cmath>

namespace {

tolmar::text::FontSpec specOf(const juce::Font& font) { return {font.getHeight(), font.isBold()}; }

constexpr float tooltipHeight = 13.0f;
constexpr int tooltipMaxWidth = 400;

} // namespace

TolmarLook::TolmarLook()
{
    // Glyphs come from the text layer's fallback; the framework's font only measures where it still lays out, and a
    // face the system lacks would give it empty metrics.
    if (!juce::Font::findAllTypefaceNames().contains(preferredFace))
        face = juce::Font::getDefaultSansSerifFontName();
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

void TolmarLook::drawLabel(juce::Graphics& g, juce::Label& label)
{
    g.fillAll(label.findColour(juce::Label::backgroundColourId));
    const float alpha = label.isEnabled() ? 1.0f : 0.5f;
    if (!label.isBeingEdited()) {
        const juce::Font font = getLabelFont(label);
        const auto area = getLabelBorderSize(label).subtractedFrom(label.getLocalBounds());
        // As many lines as fit, like the framework's fitted text; the last one ends in an ellipsis.
        const int lines = std::max(1, static_cast<int>(static_cast<float>(area.getHeight()) / font.getHeight()));
        tolmar::text::textLayer().draw(g, label.getText(), specOf(font), area.toFloat(), label.getJustificationType(),
                                       label.findColour(juce::Label::textColourId).withMultipliedAlpha(alpha), lines);
    }
    g.setColour(label.findColour(juce::Label::outlineColourId).withMultipliedAlpha(alpha));
    g.drawRect(label.getLocalBounds());
}

void TolmarLook::drawButtonText(juce::Graphics& g, juce::TextButton& button, bool, bool)
{
    const juce::Font font = getTextButtonFont(button, button.getHeight());
    const auto colour = button.findColour(button.getToggleState() ? juce::TextButton::textColourOnId
                                                                  : juce::TextButton::textColourOffId)
                            .withMultipliedAlpha(button.isEnabled() ? 1.0f : 0.5f);
    // The framework's insets for button text.
    const int yIndent = std::min(4, button.proportionOfHeight(0.3f));
    const int cornerSize = std::min(button.getHeight(), button.getWidth()) / 2;
    const int fontHeight = juce::roundToInt(font.getHeight() * 0.6f);
    const int leftIndent = std::min(fontHeight, 2 + cornerSize / (button.isConnectedOnLeft() ? 4 : 2));
    const int rightIndent = std::min(fontHeight, 2 + cornerSize / (button.isConnectedOnRight() ? 4 : 2));
    const int textWidth = button.getWidth() - leftIndent - rightIndent;
    if (textWidth > 0)
        tolmar::text::textLayer().draw(g, button.getButtonText(), specOf(font),
                                       juce::Rectangle<int>(leftIndent, yIndent, textWidth,
                                                            button.getHeight() - yIndent * 2)
                                           .toFloat(),
                                       juce::Justification::centred, colour, 2);
}

void TolmarLook::drawComboBoxTextWhenNothingSelected(juce::Graphics& g, juce::ComboBox& box, juce::Label& label)
{
    const juce::Font font = label.getLookAndFeel().getLabelFont(label);
    const auto area = label.getBorderSize().subtractedFrom(label.getBounds());
    tolmar::text::textLayer().draw(g, box.getTextWhenNothingSelected(), specOf(font), area.toFloat(),
                                   label.getJustificationType(),
                                   box.findColour(juce::ComboBox::textColourId).withMultipliedAlpha(0.5f), 1);
}

void TolmarLook::drawPopupMenuItem(juce::Graphics& g, const juce::Rectangle<int>& area, bool isSeparator,
                                   bool isActive, bool isHighlighted, bool isTicked, bool hasSubMenu,
                                   const juce::String& text, const juce::String& shortcutKeyText,
                                   const juce::Drawable* icon, const juce::Colour* textColour)
{
    if (isSeparator || icon != nullptr || hasSubMenu || shortcutKeyText.isNotEmpty()) {
        // The editor's menus have none of these; the framework draws them.
        LookAndFeel_V4::drawPopupMenuItem(g, area, isSeparator, isActive, isHighlighted, isTicked, hasSubMenu, text,
                                          shortcutKeyText, icon, textColour);
        return;
    }
    juce::Colour colour = textColour != nullptr ? *textColour : findColour(juce::PopupMenu::textColourId);
    auto r = area.reduced(1);
    if (isHighlighted && isActive) {
        g.setColour(findColour(juce::PopupMenu::highlightedBackgroundColourId));
        g.fillRect(r);
        colour = findColour(juce::PopupMenu::highlightedTextColourId);
    } else {
        colour = colour.withMultipliedAlpha(isActive ? 1.0f : 0.5f);
    }
    // The framework's item geometry: side margins, a tick column one font height wide, 3 pixels on the right.
    r.reduce(std::min(5, area.getWidth() / 20), 0);
    juce::Font font = getPopupMenuFont();
    const float maxFontHeight = static_cast<float>(r.getHeight()) / 1.3f;
    if (font.getHeight() > maxFontHeight)
        font.setHeight(maxFontHeight);
    const auto tickArea = r.removeFromLeft(juce::roundToInt(maxFontHeight)).toFloat();
    if (isTicked) {
        g.setColour(colour);
        const auto tick = getTickShape(1.0f);
        g.fillPath(tick, tick.getTransformToScaleToFit(tickArea.reduced(tickArea.getWidth() / 5, 0), true));
    }
    r.removeFromRight(3);
    tolmar::text::textLayer().draw(g, text, specOf(font), r.toFloat(), juce::Justification::centredLeft, colour, 1);
}

void TolmarLook::getIdealPopupMenuItemSize(const juce::String& text, bool isSeparator, int standardMenuItemHeight,
                                           int& idealWidth, int& idealHeight)
{
    if (isSeparator) {
        LookAndFeel_V4::getIdealPopupMenuItemSize(text, isSeparator, standardMenuItemHeight, idealWidth, idealHeight);
        return;
    }
    juce::Font font = getPopupMenuFont();
    if (standardMenuItemHeight > 0 && font.getHeight() > static_cast<float>(standardMenuItemHeight) / 1.3f)
        font.setHeight(static_cast<float>(standardMenuItemHeight) / 1.3f);
    idealHeight = standardMenuItemHeight > 0 ? standardMenuItemHeight : juce::roundToInt(font.getHeight() * 1.3f);
    idealWidth = static_cast<int>(std::ceil(tolmar::text::textLayer().measure(text, specOf(font)))) + idealHeight * 2;
}

juce::Rectangle<int> TolmarLook::getTooltipBounds(const juce::String& tipText, juce::Point<int> screenPos,
                                                  juce::Rectangle<int> parentArea)
{
    const auto& laid = tolmar::text::textLayer().layout(tipText, {tooltipHeight, true},
                                                        static_cast<float>(tooltipMaxWidth), 0);
    float width = 0.0f;
    for (const auto& line : laid.lines)
        width = std::max(width, line.width);
    const int w = static_cast<int>(width + 14.0f);
    const int h = static_cast<int>(laid.height() + 6.0f);
    return juce::Rectangle<int>(screenPos.x > parentArea.getCentreX() ? screenPos.x - (w + 12) : screenPos.x + 24,
                                screenPos.y > parentArea.getCentreY() ? screenPos.y - (h + 6) : screenPos.y + 6, w, h)
        .constrainedWithin(parentArea);
}

void TolmarLook::drawTooltip(juce::Graphics& g, const juce::String& text, int width, int height)
{
    const juce::Rectangle<float> bounds(static_cast<float>(width), static_cast<float>(height));
    g.setColour(findColour(juce::TooltipWindow::backgroundColourId));
    g.fillRoundedRectangle(bounds, 5.0f);
    g.setColour(findColour(juce::TooltipWindow::outlineColourId));
    g.drawRoundedRectangle(bounds.reduced(0.5f), 5.0f, 1.0f);
    tolmar::text::textLayer().draw(g, text, {tooltipHeight, true}, bounds.reduced(7.0f, 3.0f),
                                   juce::Justification::centred, findColour(juce::TooltipWindow::textColourId), 0);
}
