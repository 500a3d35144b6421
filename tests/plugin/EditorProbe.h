#pragma once

#include "editor/Editor.h"

// Reads and drives the editor's private controls for the editor tests and the screenshot tool.
struct EditorProbe {
    TolmarEditor& editor;

    juce::ComboBox& effectBox() { return editor.effectBox; }
    juce::ComboBox& rootBox() { return editor.rootBox; }
    juce::ComboBox& languageBox() { return editor.languageBox; }
    juce::ComboBox& sourceBox() { return editor.sourceBox; }
    juce::Label& effectCaption() { return editor.effectCaption; }
    juce::Label& rootCaption() { return editor.rootCaption; }
    juce::Label& languageCaption() { return editor.languageCaption; }
    juce::Label& sourceCaption() { return editor.sourceCaption; }
    tolmar::text::ReadOnlyText& descriptionText() { return editor.descriptionText; }
    tolmar::text::ReadOnlyText& privacyText() { return editor.privacyText; }
    tolmar::text::ReadOnlyText& creditText() { return editor.creditText; }
    tolmar::text::ReadOnlyText& beatText() { return editor.beatText; }
    juce::TextButton& hearOriginalButton() { return editor.hearOriginalButton; }
    juce::TextButton& websiteButton() { return editor.websiteButton; }
    juce::TextButton& reanalyzeButton() { return editor.reanalyzeButton; }
    juce::TextButton& liveButton() { return editor.liveButton; }
    juce::Rectangle<int> brandArea() const { return editor.brandArea; }
    juce::Rectangle<int> badgeArea() const { return editor.badgeArea; }
    juce::Rectangle<int> meterArea() const { return editor.meterArea; }
    TolmarLook& look() { return editor.look; }
    int shownMode() const { return editor.shownMode; }
    int languageIndex() const { return editor.languageIndex; }
    void setUrlLauncher(std::function<bool(const juce::URL&)> launcher) { editor.urlLauncher = std::move(launcher); }
    void tick() { editor.timerCallback(); }
    void refreshText() { editor.refreshText(); }
    void refreshBeat() { editor.refreshBeat(); }
};
