#pragma once

#include "plugin/Processor.h"
#include "editor/TolmarLook.h"
#include "editor/text/ReadOnlyText.h"

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <memory>

// The plug-in's window: the effect list, root note, language and tuning source, the mode description, the beat
// analysis status, the meters and the pictures. Polls the processor at 15 Hz to follow automation, the beat
// analysis and the levels. Everything here runs on the message thread.
class TolmarEditor final : public juce::AudioProcessorEditor, private juce::Timer {
public:
    explicit TolmarEditor(TolmarProcessor& owner);
    ~TolmarEditor() override;

    void paint(juce::Graphics& g) override;
    void resized() override;

    // Selects an effect item 0…7 and a language 0…175 (both clamped) as if the user had chosen them, then
    // re-texts the window.
    void setUiState(int effectItem, int language);

private:
    void timerCallback() override;
    // The levels since the last look into shownLevels; keeps them when no audio block ran in between.
    void takeMeterLevels();

    // Puts the texts of the chosen language into every control, shows the controls the mode needs, aligns
    // right-to-left scripts, then lays out and repaints.
    void refreshText();
    // Rebuilds the beat analysis line from the processor's published stage, key and progress.
    void refreshBeat();
    void applyFonts();

    friend struct EditorProbe; // the editor tests read the controls and areas

    std::function<bool(const juce::URL&)> urlLauncher;
    TolmarProcessor& processor;
    TolmarLook look;
    juce::TooltipWindow tooltipWindow;
    juce::Image brandImage;
    juce::Image badgeImage;
    juce::ComboBox effectBox;
    juce::ComboBox rootBox;
    juce::ComboBox languageBox;
    juce::ComboBox sourceBox;
    juce::Label effectCaption;
    juce::Label rootCaption;
    juce::Label languageCaption;
    juce::Label sourceCaption;
    tolmar::text::ReadOnlyText descriptionText;
    tolmar::text::ReadOnlyText privacyText;
    tolmar::text::ReadOnlyText creditText;
    tolmar::text::ReadOnlyText beatText;
    juce::TextButton hearOriginalButton;
    juce::TextButton websiteButton;
    juce::TextButton reanalyzeButton;
    juce::TextButton liveButton; // the tuning styles' low-latency path; off in the other modes
    juce::Rectangle<int> brandArea;
    juce::Rectangle<int> badgeArea;
    juce::Rectangle<int> meterArea;
    std::unique_ptr<juce::AudioProcessorValueTreeState::ComboBoxAttachment> rootAttachment;
    std::unique_ptr<juce::AudioProcessorValueTreeState::ComboBoxAttachment> languageAttachment;
    std::unique_ptr<juce::AudioProcessorValueTreeState::ComboBoxAttachment> sourceAttachment;
    std::unique_ptr<juce::AudioProcessorValueTreeState::ButtonAttachment> bypassAttachment;
    std::unique_ptr<juce::AudioProcessorValueTreeState::ButtonAttachment> liveAttachment;
    int shownMode = -1;
    TolmarProcessor::MeterLevels shownLevels; // what the meters show, taken from the processor by the timer
    int languageIndex = -1;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(TolmarEditor)
};
