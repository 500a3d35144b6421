// Loads the built "Tolmar Vez.vst3" bundle the way a DAW does and checks what a host sees of it.
#include "HostedBundle.h"
#include "Signals.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <pluginterfaces/base/ipluginbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace {

const juce::File bundle = hosting::bundle();
using hosting::layoutOf;
using hosting::pumpMessages;


class HostedPlugin : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(bundle.isDirectory()) << bundle.getFullPathName();
        formats.addFormat(new juce::VST3PluginFormat());
        juce::OwnedArray<juce::PluginDescription> found;
        formats.getFormat(0)->findAllTypesForFile(found, hosting::pluginFile().getFullPathName());
        ASSERT_EQ(found.size(), 1);
        description = *found[0];
        juce::String error;
        plugin = formats.createPluginInstance(description, 48000.0, 512, error);
        ASSERT_NE(plugin, nullptr) << error;
    }

    void TearDown() override
    {
        plugin.reset();
        pumpMessages(10);
    }

    // Plays a mono signal into both main input channels in blocks of 512 and returns one output channel.
    std::vector<float> playThrough(const std::vector<float>& input, int outputChannel)
    {
        const int blocks = static_cast<int>(input.size()) / 512;
        std::vector<float> output(static_cast<std::size_t>(blocks) * 512);
        juce::AudioBuffer<float> buffer(
            std::max(plugin->getTotalNumInputChannels(), plugin->getTotalNumOutputChannels()), 512);
        juce::MidiBuffer midi;
        for (int block = 0; block < blocks; ++block) {
            buffer.clear();
            for (int channel = 0; channel < 2; ++channel)
                buffer.copyFrom(channel, 0, input.data() + block * 512, 512);
            plugin->processBlock(buffer, midi);
            std::copy(buffer.getReadPointer(outputChannel), buffer.getReadPointer(outputChannel) + 512,
                      output.data() + block * 512);
        }
        return output;
    }

    juce::AudioPluginFormatManager formats;
    juce::PluginDescription description;
    std::unique_ptr<juce::AudioPluginInstance> plugin;
};

} // namespace

TEST(Vst3Factory, ExportsTheAudioModuleAndControllerClassesWithTheirIdentifiers)
{
    const hosting::LoadedModule module(hosting::moduleBinary());
    ASSERT_TRUE(module.isOpen()) << module.failure();
    using ModuleExit = bool (*)();
    using GetFactory = Steinberg::IPluginFactory* (*)();
    // The VST3 module entry points: InitDll/ExitDll on Windows, ModuleEntry/ModuleExit on Linux.
#ifdef _WIN32
    using ModuleEntry = bool (*)();
    auto entry = module.find<ModuleEntry>("InitDll");
    auto exitModule = module.find<ModuleExit>("ExitDll");
#else
    using ModuleEntry = bool (*)(void*);
    auto entry = module.find<ModuleEntry>("ModuleEntry");
    auto exitModule = module.find<ModuleExit>("ModuleExit");
#endif
    auto getFactory = module.find<GetFactory>("GetPluginFactory");
    ASSERT_NE(entry, nullptr);
    ASSERT_NE(exitModule, nullptr);
    ASSERT_NE(getFactory, nullptr);
#ifdef _WIN32
    ASSERT_TRUE(entry());
#else
    ASSERT_TRUE(entry(module.nativeHandle()));
#endif

    Steinberg::IPluginFactory* factory = getFactory();
    ASSERT_NE(factory, nullptr);
    Steinberg::PFactoryInfo info{};
    ASSERT_EQ(factory->getFactoryInfo(&info), Steinberg::kResultOk);
    EXPECT_STREQ(info.vendor, "Orvane Company");
    EXPECT_STREQ(info.url, TOLMAR_WEBSITE);
    EXPECT_STREQ(info.email, "");
    EXPECT_EQ(info.flags, 16);

    ASSERT_EQ(factory->countClasses(), 2);
    const unsigned char codes[8] = {'O', 'r', 'v', 'n', 'T', 'l', 'm', 'v'};
    struct Expected {
        const char* category;
        unsigned char prefix[8];
    };
    const Expected expected[] = {
        {"Audio Module Class", {0xAB, 0xCD, 0xEF, 0x01, 0x91, 0x82, 0xFA, 0xEB}},
        {"Component Controller Class", {0xAB, 0xCD, 0xEF, 0x01, 0x12, 0x34, 0xAB, 0xCD}},
    };
    for (int i = 0; i < 2; ++i) {
        Steinberg::PClassInfo classInfo{};
        ASSERT_EQ(factory->getClassInfo(i, &classInfo), Steinberg::kResultOk);
        EXPECT_STREQ(classInfo.category, expected[i].category);
        EXPECT_STREQ(classInfo.name, "Tolmar Vez");
        EXPECT_EQ(classInfo.cardinality, 0x7FFFFFFF);
        // On Windows the class id is a COM GUID in memory: its first three fields are stored little-endian.
        unsigned char prefix[8];
        std::memcpy(prefix, expected[i].prefix, 8);
#ifdef _WIN32
        std::reverse(prefix, prefix + 4);
        std::reverse(prefix + 4, prefix + 6);
        std::reverse(prefix + 6, prefix + 8);
#endif
        EXPECT_EQ(std::memcmp(classInfo.cid, prefix, 8), 0) << expected[i].category;
        EXPECT_EQ(std::memcmp(classInfo.cid + 8, codes, 8), 0) << expected[i].category;
    }
    factory->release();
    exitModule();
}

TEST_F(HostedPlugin, ShowsItsIdentityMidiTailAndSingleProgram)
{
    EXPECT_EQ(description.name, "Tolmar Vez");
    EXPECT_EQ(description.manufacturerName, "Orvane Company");
    EXPECT_EQ(description.version, "0.1.5");
    EXPECT_EQ(description.category, "Fx|PitchShift");
    EXPECT_FALSE(description.isInstrument);
    EXPECT_EQ(plugin->getName(), "Tolmar Vez");
    EXPECT_FALSE(plugin->acceptsMidi());
    EXPECT_FALSE(plugin->producesMidi());
    EXPECT_NEAR(plugin->getTailLengthSeconds(), 3.5, 1e-9);
    // With a single program the wrapper exposes no program list, so a host sees none to switch.
    EXPECT_EQ(plugin->getNumPrograms(), 0);
    EXPECT_TRUE(plugin->hasEditor());
}

TEST_F(HostedPlugin, HasInputOutputAndADisabledBeatSideChain)
{
    ASSERT_EQ(plugin->getBusCount(true), 2);
    ASSERT_EQ(plugin->getBusCount(false), 1);
    EXPECT_EQ(plugin->getBus(true, 0)->getName(), "Input");
    EXPECT_EQ(plugin->getBus(false, 0)->getName(), "Output");
    EXPECT_EQ(plugin->getBus(true, 1)->getName(), "Beat");
    EXPECT_EQ(plugin->getBus(true, 0)->getCurrentLayout(), juce::AudioChannelSet::stereo());
    EXPECT_FALSE(plugin->getBus(true, 1)->isEnabled());
}

TEST_F(HostedPlugin, AcceptsAndRefusesLayoutsAsAHostNegotiatesThem)
{
    using Set = juce::AudioChannelSet;
    struct Case {
        Set main, beat;
        bool accepted;
    };
    const Case cases[] = {
        {Set::stereo(), Set::stereo(), true}, {Set::mono(), Set::mono(), true},
        {Set::stereo(), Set::mono(), true},   {Set::mono(), Set::disabled(), true},
        {Set::stereo(), Set::createLCR(), false},
        {Set::createLCR(), Set::disabled(), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(plugin->checkBusesLayoutSupported(layoutOf(c.main, c.beat)), c.accepted)
            << c.main.getDescription() << " beat " << c.beat.getDescription();

    auto mismatched = layoutOf(Set::stereo(), Set::stereo());
    mismatched.outputBuses.getReference(0) = Set::mono();
    EXPECT_FALSE(plugin->checkBusesLayoutSupported(mismatched));

    auto secondOutput = layoutOf(Set::stereo(), Set::stereo());
    secondOutput.outputBuses.add(Set::stereo());
    EXPECT_FALSE(plugin->checkBusesLayoutSupported(secondOutput));
}

TEST_F(HostedPlugin, ListsTheNineParametersWithEveryChoiceText)
{
    // Our nine, then the switch the wrapper adds for the host's own bypass (no parameter of ours is it).
    const auto& parameters = plugin->getParameters();
    ASSERT_EQ(parameters.size(), 10);
    EXPECT_EQ(plugin->getBypassParameter(), parameters[9]);
    const juce::StringArray expectedNames{"Effect",         "Root note (minor)", "Bypass",        "Language", "Tuning source",
                                          "Dizzy mosquito", "Vocal style",       "Master Tolmar", "Live"};
    const int expectedSteps[] = {3, 12, 2, 176, 2, 2, 4, 2, 2};
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(parameters[i]->getName(100), expectedNames[i]);
        EXPECT_EQ(parameters[i]->getNumSteps(), expectedSteps[i]) << expectedNames[i];
        EXPECT_TRUE(parameters[i]->isAutomatable());
    }

    const auto textAt = [](juce::AudioProcessorParameter* parameter, int index) {
        const int steps = parameter->getNumSteps();
        return parameter->getText(static_cast<float>(index) / static_cast<float>(steps - 1), 100);
    };
    const juce::StringArray effects{"Mosquito", "Satanic", "Trap default"};
    const juce::StringArray styles{"Trap default", "Cumbia", "Reggaeton", "Ultra edited"};
    const juce::StringArray sources{"Manual minor", "Beat sidechain"};
    const juce::StringArray notes{"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    for (int i = 0; i < effects.size(); ++i)
        EXPECT_EQ(textAt(parameters[0], i), effects[i]);
    for (int i = 0; i < notes.size(); ++i)
        EXPECT_EQ(textAt(parameters[1], i), notes[i]);
    for (int i = 0; i < sources.size(); ++i)
        EXPECT_EQ(textAt(parameters[4], i), sources[i]);
    for (int i = 0; i < styles.size(); ++i)
        EXPECT_EQ(textAt(parameters[6], i), styles[i]);
    EXPECT_EQ(textAt(parameters[3], 0), juce::String::fromUTF8("Español (Argentina)"));
    EXPECT_EQ(textAt(parameters[3], 2), "English");
    EXPECT_EQ(textAt(parameters[3], 27), juce::String::fromUTF8("العربية"));
    EXPECT_EQ(textAt(parameters[3], 175), juce::String::fromUTF8("ייִדיש"));

    // Defaults as a host reads them: every parameter at its first value except the tuning source.
    for (int i = 0; i < 9; ++i)
        EXPECT_FLOAT_EQ(parameters[i]->getValue(), i == 4 ? 1.0f : 0.0f) << expectedNames[i];
}

TEST_F(HostedPlugin, ReportsALatencyThatDependsOnlyOnTheSampleRate)
{
    struct Case {
        double rate;
        int latency;
    };
    for (const Case c : {Case{22050.0, 1024}, Case{44100.0, 2048}, Case{48000.0, 2048}, Case{96000.0, 4096}}) {
        for (const int block : {64, 512}) {
            plugin->setRateAndBufferSizeDetails(c.rate, block);
            plugin->prepareToPlay(c.rate, block);
            pumpMessages();
            EXPECT_EQ(plugin->getLatencySamples(), c.latency) << c.rate << " Hz, block " << block;
            plugin->releaseResources();
        }
    }
}

TEST_F(HostedPlugin, BypassedVoiceComesBackDelayedByExactlyTheReportedLatency)
{
    plugin->setRateAndBufferSizeDetails(48000.0, 512);
    plugin->prepareToPlay(48000.0, 512);
    pumpMessages();
    const int latency = plugin->getLatencySamples();
    ASSERT_EQ(latency, 2048);
    plugin->getParameters()[2]->setValueNotifyingHost(1.0f); // "bypass": hear the original

    const int blocks = 40;
    const int total = blocks * 512;
    std::vector<float> input(static_cast<std::size_t>(total));
    for (int i = 0; i < total; ++i)
        input[static_cast<std::size_t>(i)] = 0.6f * static_cast<float>(std::sin(0.031 * i) * std::sin(0.0007 * i));
    const std::vector<float> output = playThrough(input, 1);
    // The fade into bypass settles within about 1150 samples; from then on the output is the delayed input.
    for (int i = latency + 2048; i < total; ++i)
        ASSERT_FLOAT_EQ(output[static_cast<std::size_t>(i)], input[static_cast<std::size_t>(i - latency)]) << i;
}

TEST_F(HostedPlugin, HostBypassGivesTheInputDelayedByTheLatencyAndSwitchesWithoutAJump)
{
    plugin->setRateAndBufferSizeDetails(48000.0, 512);
    plugin->prepareToPlay(48000.0, 512);
    pumpMessages();
    const int latency = plugin->getLatencySamples();
    ASSERT_EQ(latency, 2048);
    auto* hostBypass = plugin->getBypassParameter();
    ASSERT_NE(hostBypass, nullptr);

    // "Mosquito" (an octave up) while the host does not bypass; the host bypasses blocks [bypassFrom, bypassTo).
    const int blocks = 90;
    const int bypassFrom = 20;
    const int bypassTo = 60;
    const int total = blocks * 512;
    std::vector<float> input(static_cast<std::size_t>(total)), output(static_cast<std::size_t>(total));
    for (int i = 0; i < total; ++i)
        input[static_cast<std::size_t>(i)] = 0.5f * static_cast<float>(std::sin(2.0 * M_PI * 220.0 * i / 48000.0));

    juce::AudioBuffer<float> buffer(std::max(plugin->getTotalNumInputChannels(), plugin->getTotalNumOutputChannels()),
                                    512);
    juce::MidiBuffer midi;
    for (int block = 0; block < blocks; ++block) {
        if (block == bypassFrom || block == bypassTo)
            hostBypass->setValueNotifyingHost(block == bypassFrom ? 1.0f : 0.0f);
        buffer.clear();
        for (int channel = 0; channel < 2; ++channel)
            buffer.copyFrom(channel, 0, input.data() + block * 512, 512);
        plugin->processBlock(buffer, midi);
        std::copy(buffer.getReadPointer(0), buffer.getReadPointer(0) + 512, output.data() + block * 512);
    }

    // Once the fade has settled, the bypassed output is the input delayed by exactly the reported latency.
    for (int i = bypassFrom * 512 + 2048; i < bypassTo * 512; ++i)
        ASSERT_EQ(output[static_cast<std::size_t>(i)], input[static_cast<std::size_t>(i - latency)]) << i;

    // No step at either switch larger than the steps the processed and the bypassed sound take by themselves.
    const auto largestStep = [&](int from, int to) {
        float largest = 0.0f;
        for (int i = from; i < to; ++i)
            largest = std::max(
                largest, std::fabs(output[static_cast<std::size_t>(i)] - output[static_cast<std::size_t>(i - 1)]));
        return largest;
    };
    const float ordinary = std::max(largestStep(8 * 512, bypassFrom * 512), largestStep(45 * 512, bypassTo * 512));
    for (const int switchBlock : {bypassFrom, bypassTo})
        EXPECT_LE(largestStep(switchBlock * 512 - 256, switchBlock * 512 + 4096), 1.25f * ordinary + 0.01f)
            << "switch at block " << switchBlock;
}

TEST_F(HostedPlugin, AfterALoadEveryParameterReportsExactlyTheLoadedValue)
{
    // What a host should read back for a raw value it set: a choice or switch reports its step.
    const auto stepOf = [](juce::AudioProcessorParameter* parameter, float value) {
        const auto last = static_cast<float>(parameter->getNumSteps() - 1);
        return std::round(value * last) / last;
    };
    auto& parameters = plugin->getParameters();
    std::mt19937 random(2024);
    std::uniform_real_distribution<float> anyValue(0.0f, 1.0f);
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round);
        std::vector<float> saved;
        for (int i = 0; i < 8; ++i) {
            const float value = anyValue(random);
            parameters[i]->setValueNotifyingHost(value);
            saved.push_back(stepOf(parameters[i], value));
        }
        pumpMessages();
        juce::MemoryBlock state;
        plugin->getStateInformation(state);

        for (int i = 0; i < 8; ++i)
            parameters[i]->setValueNotifyingHost(anyValue(random));
        pumpMessages();
        plugin->setStateInformation(state.getData(), static_cast<int>(state.getSize()));
        pumpMessages();
        for (int i = 0; i < 8; ++i)
            EXPECT_NEAR(parameters[i]->getValue(), saved[static_cast<std::size_t>(i)], 1e-6)
                << parameters[i]->getName(100);
    }
}

namespace {

// Fundamental of a steady tone by the YIN method (de Cheveigné and Kawahara): the first lag between 1 ms and 10 ms
// whose cumulative-mean-normalised difference dips below 0.1, taken at the bottom of that dip and refined by a
// parabola. A tone an octave too low shows its true period, not half of it, so the estimate cannot mistake the
// input's own second harmonic for the shifted fundamental. Returns 0 when nothing is periodic.
double fundamentalHz(const float* samples, int count, double rate)
{
    const int minLag = static_cast<int>(rate / 1000.0);
    const int maxLag = static_cast<int>(rate / 100.0);
    const int window = count - maxLag - 2;
    std::vector<double> normalised(static_cast<std::size_t>(maxLag + 2), 1.0);
    double runningSum = 0.0;
    for (int lag = 1; lag <= maxLag + 1; ++lag) {
        double difference = 0.0;
        for (int i = 0; i < window; ++i) {
            const double step = static_cast<double>(samples[i]) - samples[i + lag];
            difference += step * step;
        }
        runningSum += difference;
        normalised[static_cast<std::size_t>(lag)] = runningSum > 0.0 ? difference * lag / runningSum : 1.0;
    }
    const auto at = [&](int lag) { return normalised[static_cast<std::size_t>(lag)]; };
    for (int lag = minLag; lag <= maxLag; ++lag) {
        if (at(lag) >= 0.1)
            continue;
        while (lag < maxLag && at(lag + 1) < at(lag))
            ++lag;
        const double curvature = at(lag - 1) - 2.0 * at(lag) + at(lag + 1);
        const double offset = curvature > 0.0 ? 0.5 * (at(lag - 1) - at(lag + 1)) / curvature : 0.0;
        return rate / (lag + offset);
    }
    return 0.0;
}

double centsBetween(double frequencyHz, double referenceHz) { return 1200.0 * std::log2(frequencyHz / referenceHz); }

} // namespace

TEST_F(HostedPlugin, MosquitoLiftsASungToneByAnOctave)
{
    constexpr double rate = 48000.0;
    plugin->setRateAndBufferSizeDetails(rate, 512);
    plugin->prepareToPlay(rate, 512);
    auto* effect = plugin->getParameters()[0];
    effect->setValueNotifyingHost(0.0f);
    ASSERT_EQ(effect->getCurrentValueAsText(), "Mosquito");
    pumpMessages();

    const int blocks = 190;
    const int total = blocks * 512;
    const std::vector<float> input = testing_support::harmonicTone(220.0, rate, total, 0.3f);
    const std::vector<float> output = playThrough(input, 0);

    const int analysed = 16384;
    EXPECT_NEAR(centsBetween(fundamentalHz(input.data(), analysed, rate), 220.0), 0.0, 1.0) << "the estimate itself";
    const double lifted = fundamentalHz(output.data() + total - analysed, analysed, rate);
    ASSERT_GT(lifted, 0.0) << "no steady pitch in the output";
    EXPECT_NEAR(centsBetween(lifted, 440.0), 0.0, 10.0) << lifted << " Hz";
}

TEST_F(HostedPlugin, StateSurvivesTheHostsSaveAndReload)
{
    auto& parameters = plugin->getParameters();
    const float normalised[] = {1.0f, 7.0f / 11.0f, 1.0f, 27.0f / 175.0f, 0.0f, 1.0f, 2.0f / 3.0f, 0.0f};
    for (int i = 0; i < 8; ++i)
        parameters[i]->setValueNotifyingHost(normalised[i]);
    pumpMessages();
    juce::MemoryBlock state;
    plugin->getStateInformation(state);
    ASSERT_GT(state.getSize(), 0u);

    juce::String error;
    auto reloaded = formats.createPluginInstance(description, 48000.0, 512, error);
    ASSERT_NE(reloaded, nullptr) << error;
    reloaded->setStateInformation(state.getData(), static_cast<int>(state.getSize()));
    pumpMessages();
    for (int i = 0; i < 8; ++i)
        EXPECT_NEAR(reloaded->getParameters()[i]->getValue(), normalised[i], 1e-6) << i;
}

TEST_F(HostedPlugin, HearsOfTheLatencyOfThePathLiveSelects)
{
    plugin->prepareToPlay(48000.0, 512);
    auto& parameters = plugin->getParameters();
    struct Step {
        float effect; // normalised: Mosquito, Satanic, Trap default
        float live;
        int latency;
    };
    const Step steps[] = {{1.0f, 1.0f, 192}, {0.0f, 1.0f, 2048}, {1.0f, 1.0f, 192}, {1.0f, 0.0f, 2048}};
    for (const Step& step : steps) {
        parameters[0]->setValueNotifyingHost(step.effect);
        parameters[8]->setValueNotifyingHost(step.live);
        pumpMessages(300); // the plug-in looks ten times a second; the host hears through a restart
        EXPECT_EQ(plugin->getLatencySamples(), step.latency) << "effect " << step.effect << ", live " << step.live;
    }
    plugin->releaseResources();
}

const bool windowManagerAtomsReady = hosting::internWindowManagerAtoms();

TEST_F(HostedPlugin, OpensItsEditorInARealWindowAtTheDefaultSizeAndClosesIt)
{
    ASSERT_TRUE(windowManagerAtomsReady) << "no X display: run under xvfb-run -a";
    std::unique_ptr<juce::AudioProcessorEditor> editor(plugin->createEditorIfNeeded());
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->getWidth(), 920);
    EXPECT_EQ(editor->getHeight(), 670);

    // A plain top-level window, as a host's plug-in window: no framework title bar or decorations.
    editor->setVisible(true);
    editor->addToDesktop(0);
    pumpMessages(300);
    ASSERT_NE(editor->getPeer(), nullptr);
    EXPECT_TRUE(editor->isShowing());
    EXPECT_EQ(editor->getWidth(), 920);
    EXPECT_EQ(editor->getHeight(), 670);

    // A host resize reaches the plug-in's layout.
    editor->setSize(739, 640);
    pumpMessages(100);
    EXPECT_EQ(editor->getWidth(), 739);

    // Closing: the host deletes its window, which detaches the plug-in's view and deletes the plug-in's editor.
    editor.reset();
    pumpMessages(50);
}
