// The editor: layout, the effect list against the four mode parameters, texts per language, the beat status,
// painting, the compiled-in pictures and the text tables. Needs a display: run under xvfb-run.
#include "EditorProbe.h"
#include "editor/i18n/LanguageTables.h"
#include "editor/text/TextLayer.h"

#include "ModeRule.h"

#include <TolmarArt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace {

using Rect = juce::Rectangle<int>;

juce::String utf8(const char* text) { return juce::String::fromUTF8(text); }

// Records every parameter write and gesture the editor makes, in order.
struct ParameterLog final : juce::AudioProcessorListener {
    struct Event {
        juce::String what; // "begin", "set" or "end"
        juce::String id;
        float value;
    };
    std::vector<Event> events;

    juce::String idOf(juce::AudioProcessor* processor, int index) const
    {
        auto* parameter = dynamic_cast<juce::AudioProcessorParameterWithID*>(processor->getParameters()[index]);
        return parameter != nullptr ? parameter->paramID : juce::String(index);
    }
    void audioProcessorParameterChanged(juce::AudioProcessor* processor, int index, float value) override
    {
        events.push_back({"set", idOf(processor, index), value});
    }
    void audioProcessorParameterChangeGestureBegin(juce::AudioProcessor* processor, int index) override
    {
        events.push_back({"begin", idOf(processor, index), 0.0f});
    }
    void audioProcessorParameterChangeGestureEnd(juce::AudioProcessor* processor, int index) override
    {
        events.push_back({"end", idOf(processor, index), 0.0f});
    }
    void audioProcessorChanged(juce::AudioProcessor*, const ChangeDetails&) override {}
};

class EditorTest : public testing::Test {
protected:
    void SetUp() override
    {
        editor = std::make_unique<TolmarEditor>(processor);
        processor.addListener(&log);
    }
    void TearDown() override
    {
        processor.removeListener(&log);
        editor.reset();
    }

    EditorProbe inspect() { return EditorProbe{*editor}; }
    float raw(const char* id) { return processor.parameters.getRawParameterValue(id)->load(); }
    void automate(const char* id, float plainValue)
    {
        auto* parameter = processor.parameters.getParameter(id);
        parameter->setValueNotifyingHost(parameter->convertTo0to1(plainValue));
    }
    void chooseEffect(int item) { inspect().effectBox().setSelectedItemIndex(item, juce::sendNotificationSync); }
    void chooseSource(int item) { inspect().sourceBox().setSelectedItemIndex(item, juce::sendNotificationSync); }
    void publishBeat(int stage, int key, float progress)
    {
        processor.beatStage.store(stage);
        processor.beatKey.store(key);
        processor.beatProgress.store(progress);
    }

    TolmarProcessor processor;
    std::unique_ptr<TolmarEditor> editor;
    ParameterLog log;
};

// ---------------------------------------------------------------------------------------------------------------
// Layout

TEST_F(EditorTest, EveryCaptionIsWholeAtTheMinimumSizeInEveryLanguage)
{
    auto e = inspect();
    editor->setSize(580, 590);
    for (int language = 0; language < tolmar::languageCount; ++language) {
        editor->setUiState(2, language); // a tuned style shows the source and root captions
        for (juce::Label* caption : {&e.effectCaption(), &e.sourceCaption(), &e.rootCaption(), &e.languageCaption()}) {
            const auto font = e.look().getLabelFont(*caption);
            const auto area = e.look().getLabelBorderSize(*caption).subtractedFrom(caption->getLocalBounds());
            const int lines = std::max(1, static_cast<int>(static_cast<float>(area.getHeight()) / font.getHeight()));
            const auto& laid = tolmar::text::textLayer().layout(caption->getText(), {font.getHeight(), font.isBold()},
                                                                static_cast<float>(area.getWidth()), lines);
            EXPECT_FALSE(laid.shortened) << "language " << language << ": \"" << caption->getText() << "\" in "
                                         << area.getWidth() << " px";
        }
        // The Live switch's caption on one line between the button's insets (8 pixels a side at 24 high).
        auto& live = e.liveButton();
        const auto font = e.look().getTextButtonFont(live, live.getHeight());
        const auto& laid = tolmar::text::textLayer().layout(live.getButtonText(), {font.getHeight(), font.isBold()},
                                                            static_cast<float>(live.getWidth() - 16), 1);
        EXPECT_FALSE(laid.shortened) << "language " << language << ": \"" << live.getButtonText() << "\" in "
                                     << live.getWidth() - 16 << " px";
    }
}

TEST_F(EditorTest, DefaultSizeGivesTheWideLayoutRectangles)
{
    auto e = inspect();
    editor->setUiState(2, 2);
    ASSERT_EQ(editor->getWidth(), 920);
    ASSERT_EQ(editor->getHeight(), 670);
    struct Case {
        const char* name;
        juce::Component& component;
        Rect expected;
    };
    const Case cases[] = {
        {"effect caption", e.effectCaption(), {386, 140, 370, 24}},
        {"live", e.liveButton(), {756, 140, 140, 24}},
        {"effect box", e.effectBox(), {386, 164, 510, 48}},
        {"description", e.descriptionText(), {386, 224, 510, 68}},
        {"source caption", e.sourceCaption(), {386, 292, 249, 24}},
        {"root caption", e.rootCaption(), {647, 292, 249, 24}},
        {"source box", e.sourceBox(), {386, 316, 249, 40}},
        {"root box", e.rootBox(), {647, 316, 249, 40}},
        {"beat status", e.beatText(), {386, 360, 462, 32}},
        {"re-analyse", e.reanalyzeButton(), {856, 360, 40, 32}},
        {"privacy", e.privacyText(), {386, 496, 510, 40}},
        {"hear original", e.hearOriginalButton(), {386, 548, 247, 44}},
        {"website", e.websiteButton(), {649, 548, 247, 44}},
        {"credit", e.creditText(), {24, 624, 872, 40}},
        {"language caption", e.languageCaption(), {576, 16, 320, 22}},
        {"language box", e.languageBox(), {576, 40, 320, 40}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.component.getBounds(), c.expected) << c.name;
    EXPECT_EQ(e.meterArea(), Rect(386, 444, 510, 48));
    EXPECT_EQ(e.brandArea(), Rect(20, 132, 343, 320));
    EXPECT_EQ(e.badgeArea(), Rect(24, 430, 320, 88));
}

TEST_F(EditorTest, LiveIsASwitchOfTheTuningStylesOnly)
{
    auto e = inspect();
    for (int mode = 0; mode < 8; ++mode) {
        editor->setUiState(mode, 2);
        const bool tuned = mode == 2 || mode == 4 || mode == 5 || mode == 6;
        EXPECT_EQ(e.liveButton().isEnabled(), tuned) << "mode " << mode;
        EXPECT_TRUE(e.liveButton().isVisible());
    }
    editor->setUiState(2, 2);
    EXPECT_EQ(e.liveButton().getButtonText(), "Live");
    EXPECT_EQ(e.liveButton().getTooltip(), "Low latency for recording");
    e.liveButton().setToggleState(true, juce::sendNotificationSync); // as a click
    EXPECT_EQ(raw("live"), 1.0f);
    automate("live", 0.0f); // host automation
    EXPECT_FALSE(e.liveButton().getToggleState());
    editor->setUiState(2, 0);
    EXPECT_EQ(e.liveButton().getButtonText(), juce::String::fromUTF8("En vivo"));
}

TEST_F(EditorTest, SwitchesBetweenNarrowAndWideAt740)
{
    auto e = inspect();
    editor->setSize(739, 670);
    EXPECT_EQ(e.effectBox().getX(), 160);
    EXPECT_EQ(e.brandArea(), Rect(8, 132, 144, 320));
    EXPECT_EQ(e.badgeArea(), Rect(24, 430, 120, 50));
    editor->setSize(740, 670);
    EXPECT_EQ(e.effectBox().getX(), 310);
    EXPECT_EQ(e.brandArea().getWidth(), 740 * 40 / 100 - 25);
}

TEST_F(EditorTest, MinimumSizeKeepsEveryStripAndTheDescriptionFollowsTheHeight)
{
    auto e = inspect();
    auto* limits = editor->getConstrainer();
    ASSERT_NE(limits, nullptr);
    EXPECT_EQ(limits->getMinimumWidth(), 580);
    EXPECT_EQ(limits->getMinimumHeight(), 590);
    EXPECT_EQ(limits->getMaximumWidth(), 1400);
    EXPECT_EQ(limits->getMaximumHeight(), 1000);
    EXPECT_EQ(limits->getFixedAspectRatio(), 0.0);
    EXPECT_TRUE(editor->isResizable());
    editor->setSize(580, 590);
    EXPECT_EQ(e.effectCaption().getHeight(), 24);
    EXPECT_EQ(e.effectBox().getHeight(), 48);
    EXPECT_EQ(e.descriptionText().getHeight(), 36);
    EXPECT_EQ(e.sourceCaption().getHeight(), 24);
    EXPECT_EQ(e.rootBox().getHeight(), 40);
    EXPECT_EQ(e.beatText().getHeight(), 32);
    EXPECT_EQ(e.reanalyzeButton().getHeight(), 32);
    EXPECT_LE(e.beatText().getBottom(), 140 + 290);
    // Nothing of the column overlaps the meters, and the credit line stays inside the window.
    EXPECT_LE(e.beatText().getBottom(), e.meterArea().getY());
    EXPECT_LE(e.creditText().getBottom(), 590);

    const std::pair<int, int> heights[] = {{590, 36}, {637, 36}, {638, 36}, {639, 37}, {650, 48},
                                           {669, 67}, {670, 68}, {671, 68}, {1000, 68}};
    for (const auto& [height, description] : heights) {
        editor->setSize(920, height);
        EXPECT_EQ(e.descriptionText().getHeight(), description) << "height " << height;
    }
}

TEST_F(EditorTest, RightToLeftLanguageMirrorsEveryControlAndArea)
{
    auto e = inspect();
    editor->setUiState(2, 2);
    std::vector<Rect> leftToRight;
    for (auto* child : editor->getChildren())
        leftToRight.push_back(child->getBounds());

    editor->setUiState(2, 27);
    EXPECT_EQ(e.effectBox().getBounds(), Rect(24, 164, 510, 48));
    EXPECT_EQ(e.languageBox().getBounds(), Rect(24, 40, 320, 40));
    EXPECT_EQ(e.brandArea(), Rect(557, 132, 343, 320));
    EXPECT_EQ(e.badgeArea(), Rect(576, 430, 320, 88));
    EXPECT_EQ(e.meterArea(), Rect(24, 444, 510, 48));
    // The controls that the layout places are mirrored from their left-to-right place, however often it runs.
    editor->resized();
    int index = 0;
    for (auto* child : editor->getChildren()) {
        const Rect before = leftToRight[static_cast<size_t>(index++)];
        if (child == &e.effectBox() || child == &e.creditText() || child == &e.websiteButton()) {
            EXPECT_EQ(child->getBounds(), before.withX(920 - before.getRight()));
        }
        EXPECT_EQ(child->getBounds().getWidth(), before.getWidth());
        EXPECT_EQ(child->getBounds().getHeight(), before.getHeight());
    }

    editor->setUiState(2, 2);
    EXPECT_EQ(e.effectBox().getBounds(), Rect(386, 164, 510, 48));
    EXPECT_EQ(e.brandArea(), Rect(20, 132, 343, 320));
}

// ---------------------------------------------------------------------------------------------------------------
// Effect list and the four mode parameters

TEST_F(EditorTest, EffectItemsWriteTheFourModeParametersInsideGestures)
{
    for (int item = 0; item < 7; ++item) {
        const auto& row = testing_support::modeRule[item];
        chooseEffect(7); // start from a different item so every choice is a change
        log.events.clear();
        chooseEffect(item);
        EXPECT_EQ(raw("mastering"), 0.0f) << item;
        EXPECT_EQ(raw("effect"), row.effect) << item;
        EXPECT_EQ(raw("wobble"), row.wobble) << item;
        EXPECT_EQ(raw("vocalStyle"), row.vocalStyle) << item;
        EXPECT_EQ(static_cast<int>(processor.effectiveMode()), item);
        EXPECT_EQ(inspect().shownMode(), item);

        // Each write sits in its own gesture, in the order mastering, effect, wobble, vocal style. A value equal
        // to the current one may not produce a "set" event, so only the gestures are counted strictly.
        std::vector<juce::String> gestures;
        for (const auto& event : log.events) {
            if (event.what != "set")
                gestures.push_back(event.what + " " + event.id);
        }
        const std::vector<juce::String> expected = {"begin mastering", "end mastering", "begin effect",
                                                    "end effect",      "begin wobble",  "end wobble",
                                                    "begin vocalStyle", "end vocalStyle"};
        EXPECT_EQ(gestures, expected) << "item " << item;
    }
}

TEST_F(EditorTest, MasterTolmarWritesOnlyMasteringAndTheEarlierEffectComesBack)
{
    auto e = inspect();
    chooseEffect(5);
    log.events.clear();
    chooseEffect(7);
    ASSERT_FALSE(log.events.empty());
    for (const auto& event : log.events)
        EXPECT_EQ(event.id, "mastering") << event.what;
    EXPECT_EQ(raw("mastering"), 1.0f);
    EXPECT_EQ(raw("effect"), 2.0f);
    EXPECT_EQ(raw("vocalStyle"), 2.0f);
    EXPECT_EQ(processor.effectiveMode(), tolmar::Mode::master);

    automate("mastering", 0.0f); // host automation
    log.events.clear();
    e.tick();
    EXPECT_EQ(e.effectBox().getSelectedItemIndex(), 5);
    EXPECT_EQ(e.shownMode(), 5);
    EXPECT_TRUE(log.events.empty()) << "the timer wrote " << log.events.front().id;
}

TEST_F(EditorTest, HostAutomationMovesTheListWithinOneTickAndWritesNothingBack)
{
    auto e = inspect();
    chooseEffect(0);
    automate("effect", 2.0f);
    log.events.clear();
    e.tick();
    EXPECT_EQ(e.effectBox().getSelectedItemIndex(), 2);
    EXPECT_EQ(e.effectBox().getText(), "Trap default");
    EXPECT_TRUE(e.rootBox().isVisible());
    EXPECT_TRUE(log.events.empty());
    // An unchanged mode re-texts nothing and still writes nothing.
    e.tick();
    EXPECT_TRUE(log.events.empty());
}

// ---------------------------------------------------------------------------------------------------------------
// Texts

TEST_F(EditorTest, EnglishTextsAndTheThirdEffectAlwaysReadsTrapDefault)
{
    auto e = inspect();
    editor->setUiState(0, 2);
    const juce::StringArray english{"Mosquito", "Satanic",        "Trap default",  "Dizzy mosquito",
                                    "Cumbia",   utf8("Reggaetón"), "Ultra edited", "Master Tolmar"};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(e.effectBox().getItemText(i), english[i]);
    EXPECT_EQ(e.privacyText().getText(), "Your audio stays on your computer. ");
    EXPECT_EQ(e.creditText().getText(), "Developed by Orvane Company 3 - Quistral LLC");
    EXPECT_EQ(e.effectCaption().getText(), "Effect");
    EXPECT_EQ(e.languageCaption().getText(), "Language");
    EXPECT_EQ(e.hearOriginalButton().getButtonText(), "Hear original");
    EXPECT_EQ(e.websiteButton().getButtonText(), "Visit website");
    EXPECT_EQ(e.reanalyzeButton().getButtonText(), utf8("\xe2\x86\xbb"));
    EXPECT_EQ(e.reanalyzeButton().getTooltip(), "Analyze again");
    EXPECT_EQ(e.effectBox().getTitle(), "Effect");
    EXPECT_EQ(e.descriptionText().getText(), "One octave up. Thin, high-pitched and duly approved.");
    EXPECT_EQ(e.descriptionText().getTitle(), e.descriptionText().getText());

    for (int language = 0; language < tolmar::languageCount; ++language) {
        editor->setUiState(0, language);
        EXPECT_EQ(e.effectBox().getItemText(2), "Trap default") << "language " << language;
        EXPECT_EQ(e.effectBox().getItemText(7), "Master Tolmar") << "language " << language;
        EXPECT_EQ(e.creditText().getText(), utf8(tolmar::studioCredits[language]));
    }
}

TEST_F(EditorTest, VisibilityAndDescriptionFollowModeAndTuningSource)
{
    auto e = inspect();
    editor->setUiState(0, 2);
    const auto& english = tolmar::words[2];
    for (int source = 0; source < 2; ++source) {
        chooseSource(source);
        for (int mode = 0; mode < 8; ++mode) {
            chooseEffect(mode);
            const bool tuned = mode == 2 || mode == 4 || mode == 5 || mode == 6;
            const bool beat = tuned && source == 1;
            SCOPED_TRACE(testing::Message() << "mode " << mode << " source " << source);
            EXPECT_EQ(e.sourceBox().isVisible(), tuned);
            EXPECT_EQ(e.sourceCaption().isVisible(), tuned);
            EXPECT_EQ(e.rootBox().isVisible(), tuned);
            EXPECT_EQ(e.rootCaption().isVisible(), tuned);
            EXPECT_EQ(e.beatText().isVisible(), beat);
            EXPECT_EQ(e.reanalyzeButton().isVisible(), beat);
            EXPECT_TRUE(e.privacyText().isVisible());
            const char* description = mode == 2 && source == 1 ? english.descTrapDefaultBeat
                                                              : tolmar::slotText(english, 8 + mode);
            EXPECT_EQ(e.descriptionText().getText(), utf8(description));
        }
    }
    EXPECT_EQ(e.sourceBox().getItemText(0), "Manual note");
    EXPECT_EQ(e.sourceBox().getItemText(1), "Beat (sidechain)");
}

TEST_F(EditorTest, RightToLeftLanguagesAlignRightAndBack)
{
    auto e = inspect();
    chooseEffect(2);
    chooseSource(1);
    const auto justifications = [&e] {
        return std::vector<int>{e.descriptionText().getJustificationType().getFlags(),
                                e.privacyText().getJustificationType().getFlags(),
                                e.beatText().getJustificationType().getFlags(),
                                e.effectCaption().getJustificationType().getFlags(),
                                e.rootCaption().getJustificationType().getFlags(),
                                e.languageCaption().getJustificationType().getFlags(),
                                e.sourceCaption().getJustificationType().getFlags()};
    };
    editor->setUiState(2, 27);
    EXPECT_EQ(justifications(), std::vector<int>(7, juce::Justification::topRight));
    EXPECT_EQ(e.creditText().getJustificationType().getFlags(), juce::Justification::centred);
    EXPECT_EQ(e.languageCaption().getText(), utf8(tolmar::words[27].languageLabel));
    editor->setUiState(2, 2);
    EXPECT_EQ(justifications(), std::vector<int>(7, juce::Justification::topLeft));
}

TEST_F(EditorTest, LanguageSwitchKeepsEffectAndSourceAndWritesOnlyTheLanguage)
{
    auto e = inspect();
    chooseEffect(5);
    chooseSource(0);
    log.events.clear();
    e.languageBox().setSelectedItemIndex(1, juce::sendNotificationSync);
    EXPECT_EQ(e.effectBox().getSelectedItemIndex(), 5);
    EXPECT_EQ(e.sourceBox().getSelectedItemIndex(), 0);
    EXPECT_EQ(e.effectBox().getText(), utf8("Reggaetón"));
    EXPECT_EQ(e.sourceBox().getText(), "Nota manual");
    EXPECT_EQ(e.descriptionText().getText(), utf8(tolmar::words[1].descReggaeton));
    for (const auto& event : log.events)
        EXPECT_EQ(event.id, "language") << event.what;
    EXPECT_EQ(raw("language"), 1.0f);

    // An index the box cannot give (nothing selected) reads as row 0; the tables clamp above 175.
    e.languageBox().setSelectedId(0, juce::dontSendNotification);
    e.refreshText();
    EXPECT_EQ(e.languageIndex(), 0);
    EXPECT_EQ(e.effectCaption().getText(), "Efecto");
    EXPECT_EQ(&tolmar::languageText(500), &tolmar::words[175]);
    EXPECT_EQ(&tolmar::languageText(-4), &tolmar::words[0]);
}

TEST_F(EditorTest, HostLanguageAutomationReachesTheTextsThroughTheAttachment)
{
    auto e = inspect();
    automate("language", 8.0f);
    EXPECT_EQ(e.languageIndex(), 8);
    EXPECT_EQ(e.effectCaption().getText(), utf8(tolmar::words[8].effectLabel));
}

TEST_F(EditorTest, WebsiteButtonOpensTheProductPage)
{
    auto e = inspect();
    juce::StringArray opened;
    e.setUrlLauncher([&opened](const juce::URL& url) {
        opened.add(url.toString(false));
        return false; // a failed launch is ignored
    });
    ASSERT_TRUE(e.websiteButton().onClick != nullptr);
    e.websiteButton().onClick();
    EXPECT_EQ(opened, juce::StringArray{TOLMAR_WEBSITE});
}

// ---------------------------------------------------------------------------------------------------------------
// Beat status

TEST_F(EditorTest, BeatStatusJoinsThePiecesWithExactSeparators)
{
    auto e = inspect();
    editor->setUiState(2, 2);
    const juce::String locked = "Estimated key locked. Reanalyze if the beat changes.";
    struct Case {
        int stage, key;
        float progress;
        juce::String expected;
    };
    const Case cases[] = {
        {0, -1, 0.0f, "Route the beat to the sidechain input and play it."},
        {1, -1, 0.427f, "Analyzing beat 42%"},
        {1, -1, 0.999f, "Analyzing beat 99%"},
        {1, -1, 1.0f, "Analyzing beat 100%"},
        {1, -1, 0.0f, "Analyzing beat 0%"},
        {2, -1, 1.0f, "No clear key. Using the manual note in a minor scale."},
        {3, 9, 1.0f, "Estimated key: A minor. " + locked},
        {3, 15, 1.0f, "Estimated key: D# major. " + locked},
        {3, 11, 1.0f, "Estimated key: B minor. " + locked},
        {3, 12, 1.0f, "Estimated key: C major. " + locked},
        {3, -1, 1.0f, "Route the beat to the sidechain input and play it."},
        {7, 4, 0.5f, "Route the beat to the sidechain input and play it."},
    };
    for (const auto& c : cases) {
        publishBeat(c.stage, c.key, c.progress);
        e.tick();
        EXPECT_EQ(e.beatText().getText(), c.expected) << "stage " << c.stage << " key " << c.key;
        EXPECT_EQ(e.beatText().getTitle(), c.expected);
    }
}

TEST_F(EditorTest, BeatStatusFollowsTheLanguageAndLeavesAnUnchangedTextAlone)
{
    auto e = inspect();
    editor->setUiState(2, 2);
    publishBeat(3, 21, 1.0f); // A major
    e.tick();
    editor->setUiState(2, 0);
    const auto& spanish = tolmar::words[0];
    EXPECT_EQ(e.beatText().getText(), utf8(spanish.estimatedKey) + ": A " + utf8(spanish.majorWord) + ". " +
                                          utf8(spanish.beatKeyLocked));

    e.beatText().setTitle("marker");
    e.tick();
    EXPECT_EQ(e.beatText().getTitle(), "marker");
}

TEST_F(EditorTest, ReanalyseButtonAsksTheProcessorAndShowsTheWaitingTextAtOnce)
{
    auto e = inspect();
    editor->setUiState(2, 2);
    publishBeat(3, 9, 1.0f);
    e.tick();
    ASSERT_TRUE(e.beatText().getText().startsWith("Estimated key: A minor"));
    ASSERT_TRUE(e.reanalyzeButton().onClick != nullptr);
    e.reanalyzeButton().onClick();
    EXPECT_EQ(processor.beatKey.load(), -1);
    EXPECT_EQ(processor.beatStage.load(), 0);
    EXPECT_EQ(e.beatText().getText(), "Route the beat to the sidechain input and play it.");
}

// ---------------------------------------------------------------------------------------------------------------
// Painting

juce::Image render(TolmarEditor& editor)
{
    juce::Image image(juce::Image::ARGB, editor.getWidth(), editor.getHeight(), true);
    juce::Graphics g(image);
    editor.paintEntireComponent(g, false);
    return image;
}

TEST_F(EditorTest, PaintsBackgroundAndMetersAtTheSizeLimits)
{
    auto e = inspect();
    editor->setUiState(0, 2);
    for (const auto& size : {std::pair<int, int>{580, 590}, {920, 670}, {1400, 1000}}) {
        editor->setSize(size.first, size.second);
        processor.inputLevel.store(0.5f);
        processor.outputLevel.store(1.7f);
        e.tick();
        const juce::Image image = render(*editor);
        SCOPED_TRACE(testing::Message() << size.first << "x" << size.second);
        // Between the header rule and the pictures: plain background.
        EXPECT_EQ(image.getPixelAt(size.first / 2, 128).getARGB(), paletteBackground.getARGB());
        EXPECT_EQ(image.getPixelAt(28, 123).getARGB(), paletteLine.getARGB());

        const Rect meters = e.meterArea();
        const int barX = meters.getX() + 78;
        const int barWidth = meters.getWidth() - 78;
        const int inputY = meters.getY() + 12;
        const int outputY = meters.getY() + 24 + 12;
        const int half = barWidth / 2;
        EXPECT_EQ(image.getPixelAt(barX + 1, inputY).getARGB(), paletteAccent.getARGB());
        EXPECT_EQ(image.getPixelAt(barX + half - 1, inputY).getARGB(), paletteAccent.getARGB());
        EXPECT_EQ(image.getPixelAt(barX + half + 1, inputY).getARGB(), paletteControl.getARGB());
        EXPECT_EQ(image.getPixelAt(barX + barWidth - 1, outputY).getARGB(), paletteAccent.getARGB());
        // Rows are 8 pixels high, 8 below the row's top.
        EXPECT_EQ(image.getPixelAt(barX + 1, meters.getY() + 7).getARGB(), paletteBackground.getARGB());
    }

    editor->setSize(920, 670);
    processor.inputLevel.store(-0.2f);
    processor.outputLevel.store(std::numeric_limits<float>::quiet_NaN());
    e.tick();
    const juce::Image image = render(*editor);
    const Rect meters = e.meterArea();
    EXPECT_EQ(image.getPixelAt(meters.getX() + 79, meters.getY() + 12).getARGB(), paletteControl.getARGB());
    EXPECT_EQ(image.getPixelAt(meters.getX() + 79, meters.getY() + 36).getARGB(), paletteControl.getARGB());
}

TEST_F(EditorTest, HalfLevelFillsHalfOfThe432PixelBar)
{
    auto e = inspect();
    editor->setUiState(0, 2);
    processor.inputLevel.store(0.5f);
    e.tick();
    e.tick(); // no audio block in between (a host with blocks longer than the timer period): the level stays
    const juce::Image image = render(*editor);
    const Rect meters = e.meterArea();
    ASSERT_EQ(meters.getWidth() - 78, 432);
    int filled = 0;
    for (int x = meters.getX() + 78; x < meters.getRight(); ++x)
        filled += image.getPixelAt(x, meters.getY() + 12).getARGB() == paletteAccent.getARGB() ? 1 : 0;
    EXPECT_EQ(filled, 216);
}

TEST_F(EditorTest, PicturesAreDrawnCentredInTheirAreas)
{
    auto e = inspect();
    editor->setUiState(0, 2);
    const juce::Image image = render(*editor);
    // The square brand picture is 320 x 320 in its 343 x 320 area: the outer columns stay background.
    const Rect brand = e.brandArea();
    const int left = brand.getX() + (brand.getWidth() - 320) / 2;
    int opaqueOutside = 0;
    for (int y = brand.getY(); y < brand.getBottom(); ++y)
        opaqueOutside += image.getPixelAt(left - 2, y).getARGB() != paletteBackground.getARGB() ? 1 : 0;
    EXPECT_EQ(opaqueOutside, 0);
    // The seal covers the middle of its area.
    const Rect badge = e.badgeArea();
    EXPECT_NE(image.getPixelAt(badge.getCentreX(), badge.getY() + 10).getARGB(), paletteBackground.getARGB());
    EXPECT_EQ(image.getPixelAt(badge.getX() + 5, badge.getCentreY()).getARGB(), paletteBackground.getARGB());
}

TEST(TolmarLookTest, ScrollBarThumbColourPrefersPressedOverHover)
{
    TolmarLook look;
    juce::ScrollBar bar(true);
    struct Case {
        bool over, down;
        juce::Colour thumb;
    };
    const Case cases[] = {{false, false, paletteMutedText}, {true, false, paletteAccent},
                          {false, true, paletteText},       {true, true, paletteText}};
    for (const auto& c : cases) {
        juce::Image image(juce::Image::ARGB, 12, 100, true);
        juce::Graphics g(image);
        look.drawScrollbar(g, bar, 0, 0, 12, 100, true, 20, 40, c.over, c.down);
        EXPECT_EQ(image.getPixelAt(6, 40).getARGB(), c.thumb.getARGB()) << c.over << c.down;
        EXPECT_EQ(image.getPixelAt(6, 5).getARGB(), palettePanel.getARGB());
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Compiled-in pictures

std::uint32_t bigEndian(const unsigned char* p)
{
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

TEST(TolmarArtTest, ResourcesAreRgbaPngsOfTheirSizesAndFoundOnlyByTheirExactNames)
{
    struct Case {
        const char* name;
        const char* file;
        std::uint32_t width, height;
    };
    const Case cases[] = {{"brand_png", "brand.png", 1254, 1254},
                          {"icon_png", "icon.png", 512, 512},
                          {"approved_png", "approved.png", 2048, 768},
                          {"studio_png", "studio.png", 1254, 1254}};
    ASSERT_EQ(TolmarArt::namedResourceListSize, 4);
    for (int i = 0; i < 4; ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.name);
        EXPECT_STREQ(TolmarArt::namedResourceList[i], c.name);
        EXPECT_STREQ(TolmarArt::originalFilenames[i], c.file);
        EXPECT_STREQ(TolmarArt::getNamedResourceOriginalFilename(c.name), c.file);
        int size = 0;
        const auto* bytes = reinterpret_cast<const unsigned char*>(TolmarArt::getNamedResource(c.name, size));
        ASSERT_NE(bytes, nullptr);
        ASSERT_GT(size, 33);
        const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
        EXPECT_EQ(std::memcmp(bytes, signature, 8), 0);
        EXPECT_EQ(std::memcmp(bytes + 12, "IHDR", 4), 0);
        EXPECT_EQ(bigEndian(bytes + 16), c.width);
        EXPECT_EQ(bigEndian(bytes + 20), c.height);
        EXPECT_EQ(bytes[24], 8);  // bits per channel
        EXPECT_EQ(bytes[25], 6);  // RGBA
        EXPECT_EQ(bytes[28], 0);  // not interlaced
        EXPECT_EQ(std::memcmp(bytes + size - 8, "IEND", 4), 0);
        EXPECT_EQ(bytes[size], 0); // the two uncounted zero bytes
        EXPECT_EQ(bytes[size + 1], 0);
        const auto image = juce::ImageFileFormat::loadFrom(bytes, static_cast<size_t>(size));
        EXPECT_EQ(image.getWidth(), static_cast<int>(c.width));
    }
    int brandSize = 0;
    EXPECT_EQ(TolmarArt::getNamedResource("brand_png", brandSize), TolmarArt::brand_png);
    EXPECT_EQ(brandSize, TolmarArt::brand_pngSize);

    for (const char* unknown : {"BRAND_PNG", "brand.png", "", "brand_pn"}) {
        int size = 7;
        EXPECT_EQ(TolmarArt::getNamedResource(unknown, size), nullptr) << unknown;
        EXPECT_EQ(size, 0) << unknown;
    }
    int size = 7;
    EXPECT_EQ(TolmarArt::getNamedResource(nullptr, size), nullptr);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(TolmarArt::getNamedResourceOriginalFilename("approved.png"), nullptr);
}

// ---------------------------------------------------------------------------------------------------------------
// Text tables

bool hasRightToLeftLetter(const juce::String& text)
{
    for (auto p = text.getCharPointer(); !p.isEmpty();) {
        const auto c = p.getAndAdvance();
        if ((c >= 0x0590 && c <= 0x08ff) || (c >= 0xfb1d && c <= 0xfdff) || (c >= 0xfe70 && c <= 0xfeff))
            return true;
    }
    return false;
}

TEST(LanguageTables, EveryLanguageHasEverySlotAndTheFixedParts)
{
    const juce::String company = "Orvane Company 3 - Quistral LLC";
    std::vector<int> rightToLeft;
    for (int language = 0; language < tolmar::languageCount; ++language) {
        SCOPED_TRACE(testing::Message() << "language " << language);
        const auto& row = tolmar::words[language];
        for (int slot = 0; slot < tolmar::languageTextSlots; ++slot) {
            ASSERT_NE(tolmar::slotText(row, slot), nullptr) << "slot " << slot;
            EXPECT_GT(std::strlen(tolmar::slotText(row, slot)), 0u) << "slot " << slot;
        }
        EXPECT_STREQ(row.effectMaster, "Master Tolmar");
        const juce::String credit = utf8(tolmar::studioCredits[language]);
        EXPECT_TRUE(credit.endsWith(company) && credit.length() > company.length()) << credit;
        EXPECT_EQ(std::strlen(tolmar::languageNotices[language]) == 0, language <= 20);
        if (tolmar::languageRtl[language]) {
            rightToLeft.push_back(language);
            EXPECT_TRUE(hasRightToLeftLetter(utf8(row.descMosquito)));
            EXPECT_TRUE(hasRightToLeftLetter(utf8(tolmar::languageNotices[language])));
        }
    }
    EXPECT_EQ(rightToLeft, (std::vector<int>{27, 67, 84, 99, 118, 119, 130, 171, 175}));
    EXPECT_EQ(tolmar::slotText(tolmar::words[2], 37), nullptr);
    EXPECT_EQ(tolmar::slotText(tolmar::words[2], -1), nullptr);
}

TEST(LanguageTables, EnglishAndSpanishRowsReadExactly)
{
    const char* const english[] = {
        "Effect", "Mosquito", "Satanic", "Dizzy mosquito", "Cumbia", "Reggaetón", "Ultra edited", "Master Tolmar",
        "One octave up. Thin, high-pitched and duly approved.",
        "One octave down, saturation and an otherworldly echo.",
        "Fast minor-scale tuning, compression, de-essing and ambience. Pick the root note.",
        "A high voice that smoothly moves up and down in pitch.",
        "Gentle tuning, light compression and a short, roomy echo.",
        "Tight tuning, firm compression and a short stereo double.",
        "Hard tuning, altered formants and a deliberately robotic, digital texture.",
        "Use on the Master channel: gentle equalization, stereo compression and a limiter.",
        "Root note (minor scale)", "Language", "Hear original", "Visit website", "Your audio stays on your computer.",
        "Input", "Output",
        "Fast tuning to the major or minor key estimated from the beat, with compression, de-essing and ambience.",
        "Tuning source", "Manual note", "Beat (sidechain)", "Estimated key", "major", "minor",
        "Route the beat to the sidechain input and play it.", "Analyzing beat",
        "No clear key. Using the manual note in a minor scale.",
        "Estimated key locked. Reanalyze if the beat changes.", "Analyze again", "Live", "Low latency for recording"};
    const char* const argentina[] = {
        "Efecto", "Mosquito", "Satánico", "Mosquito mareado", "Cumbia", "Reggaetón", "Ultra editado", "Master Tolmar",
        "Una octava arriba. Vez aguda, finita y debidamente aprobada.",
        "Una octava abajo, saturación y eco de ultratumba.",
        "Afinación rápida en escala menor, compresión, de-esser y ambiente. Elegí la nota.",
        "Vez aguda que sube y baja de tono suavemente.",
        "Afinación suave, compresión ligera y eco corto con ambiente.",
        "Afinación firme, compresión marcada y doblaje estéreo corto.",
        "Afinación dura, formantes alterados y textura digital deliberadamente robótica.",
        "Usalo en el canal Master: ecualización suave, compresión estéreo y limitador.",
        "Nota raíz (escala menor)", "Idioma", "Escuchar original", "Ir a la web",
        "El audio se queda en tu computadora.", "Entrada", "Salida",
        "Afinación rápida a la tonalidad mayor o menor estimada del beat, con compresión, de-esser y ambiente.",
        "Fuente de afinación", "Nota manual", "Beat (sidechain)", "Tonalidad estimada", "mayor", "menor",
        "Conectá el beat al sidechain y reproducilo.", "Analizando beat",
        "No hay una tonalidad clara. Se usa la nota manual en escala menor.",
        "Estimación fijada. Volvé a analizar si cambia el beat.", "Volver a analizar", "En vivo",
        "Baja latencia para grabar"};
    // Spain addresses the user with tú instead of vos in four slots, and says "live" its own way.
    const std::pair<int, const char*> spain[] = {
        {10, "Afinación rápida en escala menor, compresión, de-esser y ambiente. Elige la nota."},
        {15, "Úsalo en el canal Master: ecualización suave, compresión estéreo y limitador."},
        {30, "Conecta el beat al sidechain y reprodúcelo."},
        {33, "Estimación fijada. Vuelve a analizar si cambia el beat."},
        {35, "En directo"}};
    for (int slot = 0; slot < tolmar::languageTextSlots; ++slot) {
        EXPECT_STREQ(tolmar::slotText(tolmar::words[2], slot), english[slot]) << "slot " << slot;
        EXPECT_STREQ(tolmar::slotText(tolmar::words[0], slot), argentina[slot]) << "slot " << slot;
        const char* expectedSpain = argentina[slot];
        for (const auto& [spainSlot, text] : spain)
            expectedSpain = spainSlot == slot ? text : expectedSpain;
        EXPECT_STREQ(tolmar::slotText(tolmar::words[1], slot), expectedSpain) << "slot " << slot;
    }
    EXPECT_STREQ(tolmar::studioCredits[2], "Developed by Orvane Company 3 - Quistral LLC");
    EXPECT_STREQ(tolmar::studioCredits[0], "Desarrollado por Orvane Company 3 - Quistral LLC");
    EXPECT_STREQ(tolmar::studioCredits[1], "Desarrollado por Orvane Company 3 - Quistral LLC");
}

// Latin letters, including the extended ones (æ is one), and Cyrillic letters.
bool isLatinLetter(juce::juce_wchar c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0x24F && c != 0xD7 && c != 0xF7);
}
bool isCyrillicLetter(juce::juce_wchar c)
{
    return c >= 0x400 && c <= 0x52F;
}

TEST(LanguageTables, NoWordMixesLatinAndCyrillicLetters)
{
    // A look-alike letter from the other script (Latin æ in Ossetian, where Cyrillic ӕ belongs) breaks search,
    // spelling and sorting while looking right.
    for (int language = 0; language < tolmar::languageCount; ++language)
        for (int slot = 0; slot < tolmar::languageTextSlots; ++slot) {
            const auto text = utf8(tolmar::slotText(tolmar::words[language], slot));
            bool latin = false;
            bool cyrillic = false;
            for (auto p = text.getCharPointer();; ++p) {
                const auto c = *p;
                if (c == 0 || juce::CharacterFunctions::isWhitespace(c) || c == '(' || c == ')' || c == '-') {
                    EXPECT_FALSE(latin && cyrillic) << "language " << language << " slot " << slot << ": " << text;
                    latin = cyrillic = false;
                    if (c == 0)
                        break;
                    continue;
                }
                latin = latin || isLatinLetter(c);
                cyrillic = cyrillic || isCyrillicLetter(c);
            }
        }
}

TEST(LanguageTables, TheMinorAndMajorWordsAreTheOnesEverySlotUses)
{
    // Languages that borrow the Spanish words: every mention of the scale uses the row's own word.
    for (const int language : {42, 73, 78, 116}) { // Chamorro, Ilocano, Kapampangan, Pangasinan
        SCOPED_TRACE(testing::Message() << "language " << language);
        const auto& row = tolmar::words[language];
        const auto minor = utf8(row.minorWord);
        const auto major = utf8(row.majorWord);
        for (const char* text : {row.descTrapDefault, row.rootLabel, row.beatNoClearKey, row.descTrapDefaultBeat}) {
            EXPECT_TRUE(utf8(text).contains(minor)) << text;
            EXPECT_FALSE(utf8(text).containsWholeWord("minor")) << text;
            EXPECT_FALSE(utf8(text).containsWholeWord("major")) << text;
        }
        EXPECT_TRUE(utf8(row.descTrapDefaultBeat).contains(major)) << row.descTrapDefaultBeat;
    }
}

TEST(LanguageTables, NoSentenceKeepsAnEnglishWordForWhatTheLanguageNames)
{
    struct Case {
        int language;
        const char* englishWord;
    };
    const Case cases[] = {{136, "saturation"}, {136, "limiter"}}; // Swahili
    for (const auto& c : cases)
        for (int slot = 0; slot < tolmar::languageTextSlots; ++slot)
            EXPECT_FALSE(utf8(tolmar::slotText(tolmar::words[c.language], slot)).containsIgnoreCase(c.englishWord))
                << "language " << c.language << " slot " << slot;
}

TEST(LanguageTables, NoLanguageIsStillTheEnglishText)
{
    // A row copied from English in place of a translation shows up here by its sentences.
    const auto& english = tolmar::words[2];
    std::vector<int> stillEnglish;
    for (int language = 3; language < tolmar::languageCount; ++language) {
        const auto& row = tolmar::words[language];
        if (std::strcmp(row.descMosquito, english.descMosquito) == 0 ||
            std::strcmp(row.beatHintConnect, english.beatHintConnect) == 0 ||
            std::strcmp(row.privacyNote, english.privacyNote) == 0)
            stillEnglish.push_back(language);
    }
    EXPECT_TRUE(stillEnglish.empty()) << "rows still in English: " << testing::PrintToString(stillEnglish);
}

} // namespace
