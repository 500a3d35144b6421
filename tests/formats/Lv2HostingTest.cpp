// Loads the built LV2 bundle through the framework's LV2 host (lilv inside) beside the VST3 bundle, and checks that
// a host sees the same plug-in in both formats: identity, parameters, buses, latency and the sound of every effect.
#include "HostedBundle.h"
#include "Signals.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

const juce::File lv2Bundle{juce::String(TOLMAR_LV2_BUNDLE)};
constexpr const char* lv2Uri = TOLMAR_LV2_URI;
constexpr double sampleRate = 48000.0;
constexpr int blockSize = 512;

// True when the process has mapped `library` (the framework's host hides which file it loaded).
bool isMapped(const juce::File& library)
{
    std::ifstream maps("/proc/self/maps");
    const std::string path = library.getFullPathName().toStdString();
    for (std::string line; std::getline(maps, line);)
        if (line.size() >= path.size() && line.compare(line.size() - path.size(), path.size(), path) == 0)
            return true;
    return false;
}

// A sung line: harmonics falling as 1/k over a fundamental that glides between 180 and 260 Hz with vibrato, so the
// auto-tune effects have notes to pull.
std::vector<float> voice(int samples)
{
    std::vector<float> out(static_cast<std::size_t>(samples));
    double phase = 0.0;
    for (int i = 0; i < samples; ++i) {
        const double t = i / sampleRate;
        const double f0 = 220.0 + 40.0 * std::sin(testing_support::twoPi * 0.3 * t) +
                          4.0 * std::sin(testing_support::twoPi * 5.5 * t);
        phase += f0 / sampleRate;
        double value = 0.0;
        for (int k = 1; k <= 10; ++k)
            value += std::sin(testing_support::twoPi * k * phase) / k;
        out[static_cast<std::size_t>(i)] = static_cast<float>(0.25 * value);
    }
    return out;
}

// A beat in A minor for the side-chain: the chord A-C-E with a noise click on every half second.
std::vector<float> beat(int samples)
{
    auto out = testing_support::harmonicTone(110.0, sampleRate, samples, 0.15f, 6);
    for (const double hz : {130.81, 164.81}) {
        const auto tone = testing_support::harmonicTone(hz, sampleRate, samples, 0.1f, 6);
        for (std::size_t i = 0; i < out.size(); ++i)
            out[i] += tone[i];
    }
    const auto clicks = testing_support::noise(samples, 0.4f, 7);
    for (int i = 0; i < samples; ++i)
        if (i % 24000 < 600)
            out[static_cast<std::size_t>(i)] += clicks[static_cast<std::size_t>(i)];
    return out;
}

// The plug-in's own parameter of that name; the host's bypass switch (the LV2 "enabled" port, the VST3 wrapper's
// extra parameter) is not one of them. LV2 hosts may list parameters in an order of their own (the framework's sorts
// them by URI), so tests find them by name.
juce::AudioProcessorParameter* parameterNamed(juce::AudioPluginInstance& plugin, const juce::String& name)
{
    for (auto* parameter : plugin.getParameters())
        if (parameter != plugin.getBypassParameter() && parameter->getName(100) == name)
            return parameter;
    ADD_FAILURE() << "no parameter " << name;
    static juce::AudioParameterFloat missing{juce::ParameterID{"missing", 1}, "missing", 0.0f, 1.0f, 0.0f};
    return &missing;
}

class BothFormats : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // The LV2 host also reads ~/.lv2: an installed copy there would be found first and shadow the build.
        homeForTheHost = std::make_unique<juce::TemporaryFile>();
        homeForTheHost->getFile().createDirectory();
        setenv("HOME", homeForTheHost->getFile().getFullPathName().toRawUTF8(), 1);

        formats = std::make_unique<juce::AudioPluginFormatManager>();
        formats->addFormat(new juce::VST3PluginFormat());
        formats->addFormat(new juce::LV2PluginFormat());
    }

    static void TearDownTestSuite()
    {
        formats.reset();
        homeForTheHost.reset();
    }

    void SetUp() override
    {
        ASSERT_TRUE(lv2Bundle.isDirectory()) << lv2Bundle.getFullPathName();
        ASSERT_TRUE(hosting::bundle().isDirectory()) << hosting::bundle().getFullPathName();

        auto& vst3Format = *formats->getFormat(0);
        auto& lv2Format = *formats->getFormat(1);
        juce::OwnedArray<juce::PluginDescription> found;
        vst3Format.findAllTypesForFile(found, hosting::bundle().getFullPathName());
        lv2Format.searchPathsForPlugins(juce::FileSearchPath(lv2Bundle.getParentDirectory().getFullPathName()), false);
        lv2Format.findAllTypesForFile(found, lv2Uri);
        ASSERT_EQ(found.size(), 2);
        vst3Description = *found[0];
        lv2Description = *found[1];

        vst3 = instantiate(vst3Description);
        lv2 = instantiate(lv2Description);
        ASSERT_NE(vst3, nullptr);
        ASSERT_NE(lv2, nullptr);
        ASSERT_TRUE(isMapped(lv2Bundle.getChildFile("Tolmar Vez.so")))
            << "another copy of " << lv2Uri << " was loaded instead of the build's (installed in /usr/lib/lv2?)";
    }

    static std::unique_ptr<juce::AudioPluginInstance> instantiate(const juce::PluginDescription& description)
    {
        juce::String error;
        auto plugin = formats->createPluginInstance(description, sampleRate, blockSize, error);
        EXPECT_NE(plugin, nullptr) << description.pluginFormatName << ": " << error;
        return plugin;
    }

    void TearDown() override
    {
        vst3.reset();
        lv2.reset();
        hosting::pumpMessages(10);
    }

    static void prepare(juce::AudioPluginInstance& plugin)
    {
        ASSERT_TRUE(
            plugin.setBusesLayout(hosting::layoutOf(juce::AudioChannelSet::stereo(), juce::AudioChannelSet::stereo())));
        plugin.setRateAndBufferSizeDetails(sampleRate, blockSize);
        plugin.prepareToPlay(sampleRate, blockSize);
    }

    // Voice on both main channels, beat on both side-chain channels; returns the left output.
    static std::vector<float> render(juce::AudioPluginInstance& plugin, const std::vector<float>& voiceIn,
                                     const std::vector<float>& beatIn)
    {
        const int total = static_cast<int>(voiceIn.size());
        std::vector<float> out(voiceIn.size());
        juce::AudioBuffer<float> buffer(4, blockSize);
        juce::MidiBuffer midi;
        for (int start = 0; start + blockSize <= total; start += blockSize) {
            for (int channel = 0; channel < 4; ++channel)
                buffer.copyFrom(channel, 0, (channel < 2 ? voiceIn : beatIn).data() + start, blockSize);
            plugin.processBlock(buffer, midi);
            std::copy(buffer.getReadPointer(0), buffer.getReadPointer(0) + blockSize, out.data() + start);
        }
        return out;
    }

    static std::unique_ptr<juce::TemporaryFile> homeForTheHost;
    static std::unique_ptr<juce::AudioPluginFormatManager> formats;
    juce::PluginDescription vst3Description, lv2Description;
    std::unique_ptr<juce::AudioPluginInstance> vst3, lv2;
};

std::unique_ptr<juce::TemporaryFile> BothFormats::homeForTheHost;
std::unique_ptr<juce::AudioPluginFormatManager> BothFormats::formats;

} // namespace

TEST_F(BothFormats, Lv2ShowsTheIdentityOfTheVst3)
{
    EXPECT_EQ(lv2Description.fileOrIdentifier, lv2Uri);
    EXPECT_EQ(lv2Description.name, vst3Description.name);
    EXPECT_EQ(lv2Description.manufacturerName, vst3Description.manufacturerName);
    EXPECT_FALSE(lv2Description.isInstrument);
    EXPECT_EQ(lv2->getName(), "Tolmar Vez");
    EXPECT_FALSE(lv2->acceptsMidi());
    EXPECT_FALSE(lv2->producesMidi());
    EXPECT_TRUE(lv2->hasEditor());
}

TEST_F(BothFormats, Lv2HasTheSameNineParametersInTheSameOrder)
{
    // Both hosts add a tenth switch for their own bypass: the VST3 wrapper's parameter, the LV2 "enabled" port.
    // The order LV2 hosts see is the order of the bundle's data, checked by the lilv test.
    const auto& expected = vst3->getParameters();
    ASSERT_EQ(expected.size(), 10);
    ASSERT_EQ(lv2->getParameters().size(), 10);
    ASSERT_NE(lv2->getBypassParameter(), nullptr);
    for (int i = 0; i < 9; ++i) {
        const auto name = expected[i]->getName(100);
        auto* parameter = parameterNamed(*lv2, name);
        EXPECT_EQ(parameter->getNumSteps(), expected[i]->getNumSteps()) << name;
        EXPECT_FLOAT_EQ(parameter->getDefaultValue(), expected[i]->getDefaultValue()) << name;
        const int steps = expected[i]->getNumSteps();
        // Each choice's text names the same value. Two quirks of the framework's LV2 host: text for a value sorts
        // the choices by text before matching values to them, so it is not asked here; and it takes the labels'
        // UTF-8 bytes as single-byte characters, so the text is given to it the same way.
        for (int step = 0; step < steps; ++step) {
            const float normalised = static_cast<float>(step) / static_cast<float>(steps - 1);
            const auto text = expected[i]->getText(normalised, 100);
            const juce::String asTheHostReadsIt(text.toRawUTF8());
            EXPECT_FLOAT_EQ(parameter->getValueForText(asTheHostReadsIt), normalised) << name << " " << text;
        }
    }
}

TEST_F(BothFormats, Lv2HasTheInputBeatSideChainAndOutput)
{
    ASSERT_EQ(lv2->getBusCount(true), 2);
    ASSERT_EQ(lv2->getBusCount(false), 1);
    EXPECT_EQ(lv2->getBus(true, 0)->getName(), "Input");
    EXPECT_EQ(lv2->getBus(true, 1)->getName(), "Beat");
    EXPECT_EQ(lv2->getBus(false, 0)->getName(), "Output");
    for (const auto* bus : {lv2->getBus(true, 0), lv2->getBus(true, 1), lv2->getBus(false, 0)})
        EXPECT_EQ(bus->getNumberOfChannels(), 2) << bus->getName();
}

TEST_F(BothFormats, Lv2ReportsTheLatencyThroughItsLatencyPort)
{
    struct Case {
        double rate;
        int latency;
    };
    for (const Case c : {Case{48000.0, 2048}, Case{96000.0, 4096}, Case{22050.0, 1024}}) {
        lv2->setRateAndBufferSizeDetails(c.rate, blockSize);
        lv2->prepareToPlay(c.rate, blockSize);
        juce::AudioBuffer<float> buffer(4, blockSize);
        buffer.clear();
        juce::MidiBuffer midi;
        lv2->processBlock(buffer, midi); // the port is written while the plug-in runs
        hosting::pumpMessages();
        EXPECT_EQ(lv2->getLatencySamples(), c.latency) << c.rate << " Hz";
        lv2->releaseResources();
    }
}

TEST_F(BothFormats, EveryEffectSoundsTheSameInBothFormats)
{
    // Normalised values of "Effect", "Dizzy mosquito", "Vocal style" and "Master Tolmar" for each effect.
    struct Case {
        const char* effect;
        float choice, wobble, style, mastering;
    };
    const Case cases[] = {
        {"Mosquito", 0.0f, 0.0f, 0.0f, 0.0f},       {"Satanic", 0.5f, 0.0f, 0.0f, 0.0f},
        {"Dizzy mosquito", 0.0f, 1.0f, 0.0f, 0.0f}, {"Trap default", 1.0f, 0.0f, 0.0f, 0.0f},
        {"Cumbia", 1.0f, 0.0f, 1.0f / 3.0f, 0.0f},  {"Reggaeton", 1.0f, 0.0f, 2.0f / 3.0f, 0.0f},
        {"Ultra edited", 1.0f, 0.0f, 1.0f, 0.0f},   {"Master Tolmar", 0.0f, 0.0f, 0.0f, 1.0f},
    };
    // Ten seconds: the beat's key is found after about eight, so the tuned effects also switch scale on the way.
    const int samples = static_cast<int>(sampleRate) * 10 / blockSize * blockSize;
    const auto voiceIn = voice(samples);
    const auto beatIn = beat(samples);

    for (const auto& c : cases) {
        SCOPED_TRACE(c.effect);
        std::vector<float> outputs[2];
        for (const auto* description : {&vst3Description, &lv2Description}) {
            const auto instance = instantiate(*description);
            ASSERT_NE(instance, nullptr);
            auto& plugin = *instance;
            prepare(plugin);
            parameterNamed(plugin, "Effect")->setValueNotifyingHost(c.choice);
            parameterNamed(plugin, "Dizzy mosquito")->setValueNotifyingHost(c.wobble);
            parameterNamed(plugin, "Vocal style")->setValueNotifyingHost(c.style);
            parameterNamed(plugin, "Master Tolmar")->setValueNotifyingHost(c.mastering);
            hosting::pumpMessages(10);
            outputs[description == &vst3Description ? 0 : 1] = render(plugin, voiceIn, beatIn);
        }
        const auto& fromVst3 = outputs[0];
        const auto& fromLv2 = outputs[1];
        ASSERT_TRUE(testing_support::allFiniteAndNormal(fromLv2.data(), fromLv2.size()));
        EXPECT_GT(testing_support::rms(fromVst3.data(), fromVst3.size()), 0.01) << "silent render proves nothing";

        std::size_t differing = 0;
        for (std::size_t i = 0; i < fromVst3.size(); ++i)
            differing += fromVst3[i] != fromLv2[i] ? 1u : 0u;
        EXPECT_EQ(differing, 0u) << "samples that differ between the VST3 and the LV2 render";
    }
}

const bool windowManagerAtomsReady = hosting::internWindowManagerAtoms();

TEST_F(BothFormats, Lv2OpensItsEditorInAHostWindowAndClosesIt)
{
    ASSERT_TRUE(windowManagerAtomsReady) << "no X display: run under xvfb-run -a";
    std::unique_ptr<juce::AudioProcessorEditor> editor(lv2->createEditorIfNeeded());
    ASSERT_NE(editor, nullptr);
    editor->setVisible(true);
    editor->addToDesktop(0);
    hosting::pumpMessages(500);
    ASSERT_NE(editor->getPeer(), nullptr);
    EXPECT_TRUE(editor->isShowing());
    EXPECT_EQ(editor->getWidth(), 920);
    EXPECT_EQ(editor->getHeight(), 670);
    editor.reset();
    hosting::pumpMessages(50);
}
