#include "plugin/Processor.h"
#include "editor/i18n/LanguageNames.h"
#include "plugin/Parameters.h"

#include "ModeRule.h"
#include "ProcessorFixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using tolmar::Mode;

namespace {

void setRaw(TolmarProcessor& processor, const char* id, float rawValue)
{
    auto* parameter = processor.parameters.getParameter(id);
    ASSERT_NE(parameter, nullptr) << id;
    parameter->setValueNotifyingHost(parameter->convertTo0to1(rawValue));
}

} // namespace

TEST(ParameterLayout, ListsTheNineParametersInOrderWithTheirChoicesAndDefaults)
{
    TolmarProcessor processor;
    const auto& list = processor.getParameters();
    struct Expected {
        const char* id;
        const char* name;
        int choices; // 0 for a switch
        float defaultRaw;
    };
    const Expected expected[] = {
        {"effect", "Effect", 3, 0.0f},           {"root", "Root note (minor)", 12, 0.0f},
        {"bypass", "Bypass", 0, 0.0f},           {"language", "Language", 176, 0.0f},
        {"tuningSource", "Tuning source", 2, 1.0f}, {"wobble", "Dizzy mosquito", 0, 0.0f},
        {"vocalStyle", "Vocal style", 4, 0.0f},  {"mastering", "Master Tolmar", 0, 0.0f},
        {"live", "Live", 0, 0.0f},
    };
    ASSERT_EQ(list.size(), 9);
    for (int i = 0; i < 9; ++i) {
        const auto& e = expected[i];
        auto* withId = dynamic_cast<juce::RangedAudioParameter*>(list[i]);
        ASSERT_NE(withId, nullptr);
        EXPECT_EQ(withId->paramID, e.id);
        EXPECT_EQ(withId->getName(100), e.name);
        EXPECT_EQ(withId->getVersionHint(), 1);
        EXPECT_TRUE(withId->isAutomatable());
        EXPECT_FALSE(withId->isMetaParameter());
        if (e.choices > 0) {
            auto* choice = dynamic_cast<juce::AudioParameterChoice*>(withId);
            ASSERT_NE(choice, nullptr) << e.id;
            EXPECT_EQ(choice->choices.size(), e.choices) << e.id;
        } else {
            EXPECT_NE(dynamic_cast<juce::AudioParameterBool*>(withId), nullptr) << e.id;
        }
        EXPECT_EQ(processor.parameters.getRawParameterValue(e.id)->load(), e.defaultRaw) << e.id;
    }

    auto* language = dynamic_cast<juce::AudioParameterChoice*>(processor.parameters.getParameter("language"));
    ASSERT_NE(language, nullptr);
    EXPECT_EQ(language->choices[0], juce::String::fromUTF8("Español (Argentina)"));
    EXPECT_EQ(language->choices[2], "English");
    EXPECT_EQ(language->choices[27], juce::String::fromUTF8("العربية"));
    EXPECT_EQ(language->choices[175], juce::String::fromUTF8("ייִדיש"));
}

TEST(LanguageNames, KeepTheirExactBytesIncludingTrailingBlankAndStop)
{
    const auto names = tolmarLanguages();
    ASSERT_EQ(names.size(), 176);
    for (const int index : {31, 87, 141})
        EXPECT_TRUE(names[index].endsWith(" .")) << index;
    EXPECT_EQ(names[31], juce::String::fromUTF8("Baɔlɛ ."));
    EXPECT_EQ(juce::String::fromUTF8(tolmar::languageName(-4)), names[0]);
    EXPECT_EQ(juce::String::fromUTF8(tolmar::languageName(999)), names[175]);
    // Every name is unique: the index is what identifies a language.
    juce::StringArray unique(names);
    unique.removeDuplicates(false);
    EXPECT_EQ(unique.size(), 176);
}

TEST(EffectiveMode, ResolvesEveryParameterCombination)
{
    struct Case {
        float mastering, effect, wobble, vocalStyle;
        Mode expected;
    };
    const Case cases[] = {
        {1, 1, 1, 3, Mode::master},        {1, 0, 0, 0, Mode::master},
        {0, 0, 0, 3, Mode::mosquito},      {0, 0, 1, 3, Mode::dizzyMosquito},
        {0, 1, 1, 0, Mode::satanic},       {0, 1, 0, 2, Mode::satanic},
        {0, 2, 1, 0, Mode::trapDefault},   {0, 2, 0, 1, Mode::cumbia},
        {0, 2, 1, 2, Mode::reggaeton},     {0, 2, 0, 3, Mode::ultraEdited},
    };
    for (const auto& c : cases) {
        TolmarProcessor processor;
        setRaw(processor, "mastering", c.mastering);
        setRaw(processor, "effect", c.effect);
        setRaw(processor, "wobble", c.wobble);
        setRaw(processor, "vocalStyle", c.vocalStyle);
        EXPECT_EQ(processor.effectiveMode(), c.expected)
            << c.mastering << " " << c.effect << " " << c.wobble << " " << c.vocalStyle;
    }
}

TEST(ModeParameters, EveryModeIsSelectedByTheValuesOfTheRule)
{
    for (int m = 0; m < 8; ++m) {
        const auto mode = static_cast<Mode>(m);
        const auto& row = testing_support::modeRule[m];
        const auto values = tolmar::parametersFor(mode);
        EXPECT_EQ(values.mastering, row.mastering) << m;
        EXPECT_EQ(values.effect, row.effect) << m;
        EXPECT_EQ(values.wobble, row.wobble) << m;
        EXPECT_EQ(values.vocalStyle, row.vocalStyle) << m;
        EXPECT_EQ(tolmar::modeFrom(row.mastering, row.effect, row.wobble, row.vocalStyle), mode) << m;

        // From every other mode, selecting this one lands on it and writes the rule's values.
        for (int from = 0; from < 8; ++from) {
            TolmarProcessor processor;
            processor.selectMode(static_cast<Mode>(from));
            processor.selectMode(mode);
            EXPECT_EQ(processor.effectiveMode(), mode) << from << " -> " << m;
            const auto raw = [&processor](const char* id) {
                return processor.parameters.getRawParameterValue(id)->load();
            };
            EXPECT_EQ(raw("mastering"), row.mastering) << from << " -> " << m;
            if (mode == Mode::master)
                continue;
            EXPECT_EQ(raw("effect"), row.effect) << from << " -> " << m;
            EXPECT_EQ(raw("wobble"), row.wobble) << from << " -> " << m;
            EXPECT_EQ(raw("vocalStyle"), row.vocalStyle) << from << " -> " << m;
        }
    }
}

TEST(EffectiveMode, DefaultsToMosquitoAndIgnoresTheLanguage)
{
    TolmarProcessor processor;
    EXPECT_EQ(processor.effectiveMode(), Mode::mosquito);
    EXPECT_EQ(processor.parameters.getRawParameterValue("tuningSource")->load(), 1.0f);
    for (const float language : {2.0f, 27.0f, 175.0f}) {
        setRaw(processor, "language", language);
        EXPECT_EQ(processor.effectiveMode(), Mode::mosquito);
    }
}

TEST(EffectiveMode, ClampsRawValuesOutsideTheirRange)
{
    // Raw values written straight into the atomics, as a misbehaving host or a corrupt automation lane might.
    struct Case {
        float effect, vocalStyle;
        Mode expected;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Case cases[] = {
        {-3.0f, 0.0f, Mode::mosquito},    {7.9f, 0.0f, Mode::trapDefault}, {2.0f, 99.0f, Mode::ultraEdited},
        {2.0f, -5.0f, Mode::trapDefault}, {nan, 0.0f, Mode::mosquito},     {2.0f, nan, Mode::trapDefault},
        {1.99f, 0.0f, Mode::satanic},
    };
    for (const auto& c : cases) {
        TolmarProcessor processor;
        processor.parameters.getRawParameterValue("effect")->store(c.effect);
        processor.parameters.getRawParameterValue("vocalStyle")->store(c.vocalStyle);
        EXPECT_EQ(processor.effectiveMode(), c.expected) << c.effect << " " << c.vocalStyle;
    }
}

TEST(BusLayouts, AcceptsEqualMonoOrStereoMainBusesWithAnOptionalMonoOrStereoBeat)
{
    using Set = juce::AudioChannelSet;
    struct Case {
        Set in, out, beat;
        bool accepted;
    };
    const Case cases[] = {
        {Set::stereo(), Set::stereo(), Set::stereo(), true},
        {Set::mono(), Set::mono(), Set::disabled(), true},
        {Set::stereo(), Set::stereo(), Set::mono(), true},
        {Set::mono(), Set::stereo(), Set::disabled(), false},
        {Set::stereo(), Set::mono(), Set::disabled(), false},
        {Set::disabled(), Set::disabled(), Set::stereo(), false},
        {Set::stereo(), Set::stereo(), Set::createLCR(), false},
        {Set::stereo(), Set::stereo(), Set::discreteChannels(2), false}, // two channels that are not left and right
        {Set::createLCR(), Set::createLCR(), Set::disabled(), false},
    };
    TolmarProcessor processor;
    for (const auto& c : cases) {
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add(c.in);
        layout.inputBuses.add(c.beat);
        layout.outputBuses.add(c.out);
        EXPECT_EQ(processor.checkBusesLayoutSupported(layout), c.accepted)
            << c.in.getDescription() << " -> " << c.out.getDescription() << " beat " << c.beat.getDescription();
    }

    juce::AudioProcessor::BusesLayout extraBus;
    extraBus.inputBuses.add(Set::stereo());
    extraBus.inputBuses.add(Set::stereo());
    extraBus.outputBuses.add(Set::stereo());
    extraBus.outputBuses.add(Set::stereo());
    EXPECT_FALSE(processor.checkBusesLayoutSupported(extraBus));
    extraBus.outputBuses.removeLast();
    extraBus.inputBuses.add(Set::mono());
    EXPECT_FALSE(processor.checkBusesLayoutSupported(extraBus));
}

// Counts the latency changes the host hears of.
struct LatencyListener : juce::AudioProcessorListener {
    void audioProcessorParameterChanged(juce::AudioProcessor*, int, float) override {}
    void audioProcessorChanged(juce::AudioProcessor*, const ChangeDetails& details) override
    {
        changes += details.latencyChanged ? 1 : 0;
    }
    int changes = 0;
};

TEST(Latency, FollowsThePathAndTheHostHearsOfEachChange)
{
    PreparedProcessor host;
    LatencyListener listener;
    host.processor->addListener(&listener);
    auto& processor = *host.processor;
    const int full = processor.engine.latency();
    const int live = processor.engine.liveLatency();
    ASSERT_LT(live, full);
    EXPECT_EQ(processor.getLatencySamples(), full);
    struct Step {
        tolmar::Mode mode;
        float liveSwitch;
        int expected;
    };
    const Step steps[] = {
        {tolmar::Mode::trapDefault, 1.0f, live}, {tolmar::Mode::ultraEdited, 1.0f, live},
        {tolmar::Mode::mosquito, 1.0f, full},    {tolmar::Mode::cumbia, 1.0f, live},
        {tolmar::Mode::master, 1.0f, full},      {tolmar::Mode::reggaeton, 1.0f, live},
        {tolmar::Mode::reggaeton, 0.0f, full},
    };
    int expectedChanges = 0;
    int previous = full;
    for (const Step& step : steps) {
        processor.selectMode(step.mode);
        host.set("live", step.liveSwitch);
        processor.reportLatency();
        EXPECT_EQ(processor.getLatencySamples(), step.expected) << tolmar::modeName(step.mode);
        expectedChanges += step.expected != previous ? 1 : 0;
        previous = step.expected;
    }
    EXPECT_EQ(listener.changes, expectedChanges);
    processor.removeListener(&listener);
}

TEST(FixedAnswers, AreWhatTheHostExpects)
{
    TolmarProcessor processor;
    EXPECT_EQ(processor.getName(), "Tolmar Vez");
    EXPECT_FALSE(processor.acceptsMidi());
    EXPECT_FALSE(processor.producesMidi());
    EXPECT_DOUBLE_EQ(processor.getTailLengthSeconds(), 3.5);
    EXPECT_EQ(processor.getNumPrograms(), 1);
    for (const int index : {-1, 0, 1, 1000}) {
        processor.setCurrentProgram(index);
        EXPECT_EQ(processor.getCurrentProgram(), 0);
        EXPECT_EQ(processor.getProgramName(index), "Tolmar");
    }
    EXPECT_TRUE(processor.hasEditor());
    EXPECT_EQ(processor.getBypassParameter(), nullptr);

    ASSERT_EQ(processor.getBusCount(true), 2);
    ASSERT_EQ(processor.getBusCount(false), 1);
    EXPECT_EQ(processor.getBus(true, 0)->getName(), "Input");
    EXPECT_EQ(processor.getBus(false, 0)->getName(), "Output");
    EXPECT_EQ(processor.getBus(true, 1)->getName(), "Beat");
    EXPECT_FALSE(processor.getBus(true, 1)->isEnabledByDefault());
    EXPECT_EQ(processor.getBus(true, 0)->getDefaultLayout(), juce::AudioChannelSet::stereo());
}
