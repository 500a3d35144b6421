#include "editor/Editor.h"

#include "editor/i18n/LanguageNames.h"
#include "editor/i18n/LanguageTables.h"

#include <TolmarArt.h>

#include <algorithm>

namespace {

constexpr int minimumWidth = 580;
constexpr int minimumHeight = 590;
constexpr int maximumWidth = 1400;
constexpr int maximumHeight = 1000;
constexpr int wideFromWidth = 740;

juce::String text(const char* utf8) { return juce::String::fromUTF8(utf8); }

// Read-only, word-wrapped, scroll bar when needed, no caret or menu, zero indents: all given by ReadOnlyText.
void setUpTextArea(tolmar::text::ReadOnlyText& area, juce::Colour textColour)
{
    area.setColour(juce::TextEditor::backgroundColourId, paletteBackground);
    area.setColour(juce::TextEditor::outlineColourId, paletteBackground);
    area.setColour(juce::TextEditor::focusedOutlineColourId, paletteAccent);
    area.setColour(juce::TextEditor::textColourId, textColour);
}

// What the host reads as the product's version and format, for the footer line.
juce::String footerText(const juce::AudioProcessor& processor)
{
    juce::String footer = "v" JucePlugin_VersionString;
    if (processor.wrapperType != juce::AudioProcessor::wrapperType_Undefined)
        footer << juce::String::fromUTF8(" \xc2\xb7 ")
               << juce::AudioProcessor::getWrapperTypeDescription(processor.wrapperType);
    return footer;
}

} // namespace

TolmarEditor::TolmarEditor(TolmarProcessor& owner)
    : juce::AudioProcessorEditor(owner),
      urlLauncher([](const juce::URL& url) { return url.launchInDefaultBrowser(); }),
      processor(owner),
      tooltipWindow(this, 500),
      brandImage(juce::ImageCache::getFromMemory(TolmarArt::brand_png, TolmarArt::brand_pngSize)),
      badgeImage(juce::ImageCache::getFromMemory(TolmarArt::approved_png, TolmarArt::approved_pngSize))
{
    namespace ids = tolmar::parameterIds;
    auto& parameters = processor.parameters;
    // The boxes are still empty: the attachments select nothing yet; the boxes are synchronised below.
    rootAttachment =
        std::make_unique<juce::AudioProcessorValueTreeState::ComboBoxAttachment>(parameters, ids::root, rootBox);
    languageAttachment = std::make_unique<juce::AudioProcessorValueTreeState::ComboBoxAttachment>(
        parameters, ids::language, languageBox);
    sourceAttachment = std::make_unique<juce::AudioProcessorValueTreeState::ComboBoxAttachment>(
        parameters, ids::tuningSource, sourceBox);
    bypassAttachment = std::make_unique<juce::AudioProcessorValueTreeState::ButtonAttachment>(parameters, ids::bypass,
                                                                                              hearOriginalButton);
    liveAttachment =
        std::make_unique<juce::AudioProcessorValueTreeState::ButtonAttachment>(parameters, ids::live, liveButton);

    shownMode = -1;
    languageIndex = -1;
    setLookAndFeel(&look);

    for (juce::Component* child : std::initializer_list<juce::Component*>{
             &effectBox, &rootBox, &languageBox, &effectCaption, &rootCaption, &languageCaption, &descriptionText,
             &privacyText, &creditText, &hearOriginalButton, &websiteButton, &sourceBox, &sourceCaption, &beatText,
             &reanalyzeButton, &liveButton})
        addAndMakeVisible(child);

    effectBox.addItemList({"Mosquito", text("Satánico"), "Trap default", "Mosquito mareado", "Cumbia",
                           text("Reggaetón"), "Ultra editado", "Master Tolmar"},
                          1);
    sourceBox.addItemList({"Manual", "Beat"}, 1);
    for (std::size_t i = 0; i < tolmar::noteNames.size(); ++i)
        rootBox.addItem(tolmar::noteNames[i], static_cast<int>(i) + 1);
    for (int i = 0; i < tolmar::languageCount; ++i)
        languageBox.addItem(text(tolmar::languageName(i)), i + 1);
    effectBox.setSelectedId(1, juce::dontSendNotification);
    rootBox.setSelectedId(1, juce::dontSendNotification);
    languageBox.setSelectedId(1, juce::dontSendNotification);

    hearOriginalButton.setClickingTogglesState(true);
    liveButton.setClickingTogglesState(true);
    websiteButton.onClick = [this] { urlLauncher(juce::URL(TOLMAR_WEBSITE)); };
    effectBox.onChange = [this] {
        processor.selectMode(static_cast<tolmar::Mode>(std::clamp(effectBox.getSelectedItemIndex(), 0, 7)));
        refreshText();
    };
    sourceBox.onChange = [this] { refreshText(); };
    reanalyzeButton.onClick = [this] {
        processor.reanalyzeBeat();
        refreshBeat();
    };
    languageBox.onChange = [this] { refreshText(); };

    setUpTextArea(descriptionText, paletteText);
    setUpTextArea(privacyText, paletteMutedText);
    setUpTextArea(creditText, paletteText);
    setUpTextArea(beatText, paletteMutedText);
    creditText.setJustification(juce::Justification::centred);
    reanalyzeButton.setButtonText(juce::String::fromUTF8("\xe2\x86\xbb"));
    applyFonts();
    for (auto* box : {&effectBox, &rootBox, &languageBox, &sourceBox})
        box->setWantsKeyboardFocus(true);
    effectBox.setComponentID("effect");
    rootBox.setComponentID("root");
    languageBox.setComponentID("language");
    sourceBox.setComponentID("tuning-source");
    beatText.setComponentID("beat-status");
    hearOriginalButton.setComponentID("original");
    websiteButton.setComponentID("website");
    reanalyzeButton.setComponentID("reanalyze");
    liveButton.setComponentID("live");

    setResizable(true, true);
    setResizeLimits(minimumWidth, minimumHeight, maximumWidth, maximumHeight);
    setSize(920, 670);

    const auto rawIndex = [&parameters](const char* id) {
        return static_cast<int>(parameters.getRawParameterValue(id)->load());
    };
    sourceBox.setSelectedItemIndex(rawIndex(ids::tuningSource), juce::dontSendNotification);
    effectBox.setSelectedItemIndex(static_cast<int>(processor.effectiveMode()), juce::dontSendNotification);
    languageBox.setSelectedItemIndex(rawIndex(ids::language), juce::dontSendNotification);
    rootBox.setSelectedItemIndex(rawIndex(ids::root), juce::dontSendNotification);

    refreshText();
    takeMeterLevels();
    startTimerHz(15);
}

TolmarEditor::~TolmarEditor()
{
    stopTimer();
    setLookAndFeel(nullptr);
}

void TolmarEditor::setUiState(int effectItem, int language)
{
    effectBox.setSelectedItemIndex(std::clamp(effectItem, 0, 7), juce::sendNotificationSync);
    languageBox.setSelectedItemIndex(std::clamp(language, 0, tolmar::languageCount - 1), juce::sendNotificationSync);
    refreshText();
}

void TolmarEditor::timerCallback()
{
    const int mode = static_cast<int>(processor.effectiveMode());
    if (mode != shownMode) {
        effectBox.setSelectedItemIndex(mode, juce::dontSendNotification);
        refreshText();
    }
    refreshBeat();
    takeMeterLevels();
    repaint(meterArea);
}

void TolmarEditor::takeMeterLevels()
{
    const auto levels = processor.takeMeterLevels();
    if (levels.input != TolmarProcessor::noNewLevel)
        shownLevels.input = levels.input;
    if (levels.output != TolmarProcessor::noNewLevel)
        shownLevels.output = levels.output;
}

void TolmarEditor::applyFonts()
{
    for (auto* caption : {&effectCaption, &rootCaption, &languageCaption, &sourceCaption})
        caption->setFont(look.body(15.0f));
    descriptionText.setFont({17.0f, false});
    privacyText.setFont({13.0f, false});
    creditText.setFont({18.0f, false});
    beatText.setFont({13.0f, false});
}

void TolmarEditor::refreshText()
{
    shownMode = std::clamp(effectBox.getSelectedItemIndex(), 0, 7);
    languageIndex = std::clamp(languageBox.getSelectedItemIndex(), 0, tolmar::languageCount - 1);
    const auto& row = tolmar::languageText(languageIndex);

    effectBox.changeItemText(1, text(row.effectMosquito));
    effectBox.changeItemText(2, text(row.effectSatanic));
    effectBox.changeItemText(4, text(row.effectDizzyMosquito));
    effectBox.changeItemText(5, text(row.effectCumbia));
    effectBox.changeItemText(6, text(row.effectReggaeton));
    effectBox.changeItemText(7, text(row.effectUltraEdited));
    effectBox.changeItemText(8, text(row.effectMaster));
    effectBox.setSelectedItemIndex(shownMode, juce::dontSendNotification);

    effectCaption.setText(text(row.effectLabel), juce::dontSendNotification);
    rootCaption.setText(text(row.rootLabel), juce::dontSendNotification);
    languageCaption.setText(text(row.languageLabel), juce::dontSendNotification);
    effectBox.setTitle(effectCaption.getText());
    rootBox.setTitle(rootCaption.getText());
    languageBox.setTitle(languageCaption.getText());

    const int source = sourceBox.getSelectedItemIndex();
    const bool tuned = tolmar::isTunedMode(static_cast<tolmar::Mode>(shownMode));
    const bool beatTuning = source == tolmar::beatTuningSource;
    descriptionText.setText(text(beatTuning && shownMode == 2 ? row.descTrapDefaultBeat
                                                              : tolmar::modeDescription(row, shownMode)));

    sourceBox.changeItemText(1, text(row.tuningManual));
    sourceBox.changeItemText(2, text(row.tuningBeat));
    sourceBox.setSelectedItemIndex(source, juce::dontSendNotification);
    sourceCaption.setText(text(row.tuningSourceLabel), juce::dontSendNotification);
    sourceBox.setTitle(sourceCaption.getText());

    reanalyzeButton.setTitle(text(row.analyzeAgain));
    reanalyzeButton.setTooltip(text(row.analyzeAgain));

    sourceBox.setVisible(tuned);
    sourceCaption.setVisible(tuned);
    beatText.setVisible(tuned && beatTuning);
    reanalyzeButton.setVisible(tuned && beatTuning);

    liveButton.setButtonText(text(row.liveLabel));
    liveButton.setTooltip(text(row.liveTooltip));
    liveButton.setEnabled(tuned);

    hearOriginalButton.setButtonText(text(row.hearOriginal));
    websiteButton.setButtonText(text(row.visitWebsite));

    privacyText.setText(text(row.privacyNote) + " " + text(tolmar::languageNotices[languageIndex]));
    creditText.setText(text(tolmar::studioCredits[languageIndex]));
    creditText.setTitle(creditText.getText());
    descriptionText.setTitle(descriptionText.getText());
    privacyText.setTitle(privacyText.getText());

    const auto justification =
        tolmar::isRightToLeft(languageIndex) ? juce::Justification::topRight : juce::Justification::topLeft;
    for (auto* area : {&descriptionText, &privacyText, &beatText})
        area->setJustification(justification);
    for (auto* caption : {&effectCaption, &rootCaption, &languageCaption, &sourceCaption})
        caption->setJustificationType(justification);

    rootBox.setVisible(tuned);
    rootCaption.setVisible(tuned);

    refreshBeat();
    resized();
    repaint();
}

void TolmarEditor::refreshBeat()
{
    const auto& row = tolmar::languageText(languageIndex);
    using tolmar::KeyStage;
    const auto stage = tolmar::keyStageFrom(processor.beatStage.load());
    const int key = processor.beatKey.load();

    juce::String status;
    if (stage == KeyStage::keyKnown && tolmar::isKey(key)) {
        status << text(row.estimatedKey) << ": " << tolmar::noteNames[static_cast<std::size_t>(tolmar::keyRoot(key))]
               << " " << text(tolmar::keyIsMajor(key) ? row.majorWord : row.minorWord) << ". "
               << text(row.beatKeyLocked);
    } else if (stage == KeyStage::analysing) {
        const float progress = processor.beatProgress.load();
        status << text(row.beatAnalysing) << " " << juce::String(static_cast<int>(progress * 100.0f)) << "%";
    } else if (stage == KeyStage::noClearKey) {
        status = text(row.beatNoClearKey);
    } else {
        status = text(row.beatHintConnect);
    }

    // Most ticks change nothing; only a new status touches the text area.
    if (status != beatText.getText()) {
        beatText.setText(status);
        beatText.setTitle(status);
    }
}

void TolmarEditor::resized()
{
    const int width = getWidth();
    const int height = getHeight();
    const bool wide = width >= wideFromWidth;

    const int column = wide ? width * 42 / 100 : 160;
    const int usable = width - column - 24;
    const int full = width - column;

    brandArea = wide ? juce::Rectangle<int>(20, 132, width * 40 / 100 - 25, height - 350)
                     : juce::Rectangle<int>(8, 132, 144, height - 350);
    badgeArea = wide ? juce::Rectangle<int>(24, height - 240, width * 37 / 100 - 20, 88)
                     : juce::Rectangle<int>(24, height - 240, 120, 50);

    const int languageBlock = std::min(width / 2, 352);
    languageCaption.setBounds(width - languageBlock + 8, 16, languageBlock - 32, 22);
    languageBox.setBounds(width - languageBlock + 8, 40, languageBlock - 32, 40);

    juce::Rectangle<int> stack(column, 140, usable, height - 300);
    // The Live switch sits at the end of the effect's caption row, above the list that picks the tuning style.
    auto effectRow = stack.removeFromTop(24);
    liveButton.setBounds(effectRow.removeFromRight(std::min(usable / 3, 140)));
    effectCaption.setBounds(effectRow);
    effectBox.setBounds(stack.removeFromTop(48));
    stack.removeFromTop(12);
    const int descriptionHeight = height < 638 ? 36 : std::min(height, 670) - 602;
    descriptionText.setBounds(stack.removeFromTop(descriptionHeight));

    const int sourceWidth = std::min(usable, (full - 36) / 2);
    const int gap = std::min(usable - sourceWidth, 12);
    auto captionRow = stack.removeFromTop(24);
    sourceCaption.setBounds(captionRow.removeFromLeft(sourceWidth));
    captionRow.removeFromLeft(gap);
    rootCaption.setBounds(captionRow);
    auto boxRow = stack.removeFromTop(40);
    sourceBox.setBounds(boxRow.removeFromLeft(sourceWidth));
    boxRow.removeFromLeft(gap);
    rootBox.setBounds(boxRow);
    stack.removeFromTop(4);
    auto beatRow = stack.removeFromTop(32);
    reanalyzeButton.setBounds(beatRow.removeFromRight(std::min(usable, 40)));
    beatRow.removeFromRight(std::min(beatRow.getWidth(), 8));
    beatText.setBounds(beatRow);

    meterArea = {column, height - 226, usable, 48};
    privacyText.setBounds(column, height - 174, usable, 40);
    const int buttonWidth = (full - 40) / 2;
    hearOriginalButton.setBounds(column, height - 122, buttonWidth, 44);
    websiteButton.setBounds(column + buttonWidth + 16, height - 122, buttonWidth, 44);
    creditText.setBounds(24, height - 46, width - 48, 40);

    if (tolmar::isRightToLeft(languageIndex)) {
        const auto mirrored = [width](juce::Rectangle<int> r) { return r.withX(width - r.getRight()); };
        // The framework's corner resizer is left alone: the framework puts it back bottom-right after every size
        // change, so mirroring it here would only make it jump between corners.
        for (auto* child : getChildren())
            if (dynamic_cast<juce::ResizableCornerComponent*>(child) == nullptr)
                child->setBounds(mirrored(child->getBounds()));
        brandArea = mirrored(brandArea);
        badgeArea = mirrored(badgeArea);
        meterArea = mirrored(meterArea);
    }
}

void TolmarEditor::paint(juce::Graphics& g)
{
    const int width = getWidth();
    const int height = getHeight();
    const bool rtl = tolmar::isRightToLeft(languageIndex);
    const auto& row = tolmar::languageText(languageIndex);

    g.fillAll(paletteBackground);

    const auto bounds = getLocalBounds().toFloat();
    g.setColour(paletteFrame);
    g.drawRoundedRectangle(bounds.reduced(2.0f), 8.0f, 3.0f); // reduced() keeps the size at or above 0
    g.setColour(palettePanel);
    g.drawRoundedRectangle(bounds.reduced(5.0f), 6.0f, 1.0f);

    // The title ends 24 pixels before the language block.
    const int titleWidth = width - std::min(width / 2, 352) - 40;
    auto& layer = tolmar::text::textLayer();
    layer.draw(g, "Tolmar Vez", {width < wideFromWidth ? 36.0f : 46.0f, true},
               juce::Rectangle<int>(rtl ? width - titleWidth - 24 : 24, 24, titleWidth, 62).toFloat(),
               rtl ? juce::Justification::centredRight : juce::Justification::centredLeft, paletteText, 1);

    // Footer: version and format in the band between the buttons (bottom at H - 78) and the credit (top at
    // H - 46), so it never meets either; it stays on the left in every language, like the rule.
    layer.draw(g, footerText(processor), {14.0f, false},
               juce::Rectangle<int>(24, height - 72, std::max(width - 48, 0), 20).toFloat(),
               juce::Justification::centredLeft, paletteMutedText, 1);

    g.setColour(paletteLine);
    g.fillRect(28, 123, std::max(width - 56, 0), 1);

    g.drawImageWithin(brandImage, brandArea.getX(), brandArea.getY(), brandArea.getWidth(), brandArea.getHeight(),
                      juce::RectanglePlacement::centred, false);
    g.drawImageWithin(badgeImage, badgeArea.getX(), badgeArea.getY(), badgeArea.getWidth(), badgeArea.getHeight(),
                      juce::RectanglePlacement::centred, false);

    // Meters: label column on the left, bar on the right, in every language.
    const int labelWidth = std::min(meterArea.getWidth(), 78);
    const int barX = meterArea.getX() + labelWidth;
    const int barWidth = std::max(meterArea.getWidth() - labelWidth, 0);
    const auto drawMeter = [&](const char* label, float level, int y, int rowHeight) {
        layer.draw(g, text(label), {13.0f, false},
                   juce::Rectangle<int>(meterArea.getX(), y, labelWidth, rowHeight).toFloat(),
                   juce::Justification::centredLeft, paletteMutedText, 1);
        const int barHeight = std::max(rowHeight - 16, 0);
        g.setColour(paletteControl);
        g.fillRect(barX, y + 8, barWidth, barHeight);
        // Linear fraction of the bar; NaN and negative levels draw nothing.
        const float scaled = static_cast<float>(barWidth) * level;
        const int fill = scaled > 0.0f ? std::min(static_cast<int>(std::min(scaled, 1.0e9f)), barWidth) : 0;
        g.setColour(paletteAccent);
        g.fillRect(barX, y + 8, fill, barHeight);
    };
    const int firstRow = std::min(meterArea.getHeight(), 24);
    drawMeter(row.inputLabel, shownLevels.input, meterArea.getY(), firstRow);
    drawMeter(row.outputLabel, shownLevels.output, meterArea.getY() + firstRow,
              std::min(meterArea.getHeight() - firstRow, 24));
}
