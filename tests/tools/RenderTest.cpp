#include "render/App.h"
#include "render/CommandLine.h"
#include "render/Demo.h"
#include "render/DemoMaterial.h"
#include "render/Renderer.h"
#include "render/WavFile.h"

#include "Signals.h"

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_core/juce_core.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <future>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

using tolmar::Mode;
using namespace tolmar::render;

namespace {

struct RunResult {
    int code = -1;
    std::string out;
    std::string err;
};

RunResult runArgs(const std::vector<std::string>& args)
{
    std::ostringstream out;
    std::ostringstream err;
    RunResult result;
    result.code = runTool(args, out, err);
    result.out = out.str();
    result.err = err.str();
    return result;
}

AudioData makeAudio(double rate, std::vector<std::vector<float>> channels)
{
    AudioData data;
    data.sampleRate = rate;
    data.channels = std::move(channels);
    return data;
}

bool finiteAndNormal(const AudioData& data)
{
    for (const auto& channel : data.channels)
        if (!testing_support::allFiniteAndNormal(channel.data(), channel.size()))
            return false;
    return true;
}

// A fresh directory per test, removed afterwards.
class RenderFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = juce::File::getSpecialLocation(juce::File::tempDirectory).getNonexistentChildFile("tolmar-render", "");
        ASSERT_TRUE(dir.createDirectory());
    }
    void TearDown() override { dir.deleteRecursively(); }

    std::string path(const char* name) const { return dir.getChildFile(name).getFullPathName().toStdString(); }

    void write(const char* name, const AudioData& data, SampleFormat format = SampleFormat::float32) const
    {
        std::string error;
        ASSERT_TRUE(writeWav(path(name), data, format, error)) << error;
    }

    AudioData read(const char* name) const
    {
        AudioData data;
        std::string error;
        EXPECT_TRUE(readWav(path(name), data, error)) << error;
        return data;
    }

    juce::StringArray fileNames() const
    {
        juce::StringArray names;
        for (const auto& file : dir.findChildFiles(juce::File::findFiles, false))
            names.add(file.getFileName());
        names.sort(false);
        return names;
    }

    juce::File dir;
};

} // namespace

TEST(CommandLine, AcceptsEveryOptionWithItsValue)
{
    const auto parsed = parseCommandLine({"v.wav", "--beat", "b.wav", "--effect", "REGGAETÓN", "o.wav", "--root", "c#",
                                          "--source", "manual", "--bypass", "--state", "in.state", "--save-state",
                                          "out.state", "--block", "64", "--keep-latency", "--float"});
    ASSERT_EQ(parsed.error, "");
    const Options& o = parsed.options;
    EXPECT_EQ(o.voicePath, "v.wav");
    EXPECT_EQ(o.outPath, "o.wav");
    EXPECT_EQ(o.beatPath, "b.wav");
    EXPECT_EQ(o.mode, Mode::reggaeton);
    EXPECT_EQ(o.root, 1);
    EXPECT_EQ(o.tuningSource, 0);
    EXPECT_TRUE(o.bypass);
    EXPECT_EQ(o.statePath, "in.state");
    EXPECT_EQ(o.saveStatePath, "out.state");
    EXPECT_EQ(o.block, 64);
    EXPECT_TRUE(o.keepLatency);
    EXPECT_TRUE(o.floatOutput);

    const auto defaults = parseCommandLine({"v.wav", "o.wav"});
    ASSERT_EQ(defaults.error, "");
    EXPECT_FALSE(defaults.options.mode.has_value());
    EXPECT_FALSE(defaults.options.root.has_value());
    EXPECT_FALSE(defaults.options.tuningSource.has_value());
    EXPECT_EQ(defaults.options.block, 512);
    EXPECT_FALSE(defaults.options.keepLatency);
    EXPECT_FALSE(defaults.options.floatOutput);

    const auto demo = parseCommandLine({"--demo", "out"});
    ASSERT_EQ(demo.error, "");
    EXPECT_EQ(demo.options.demoDir, "out");
}

TEST(CommandLine, RefusesBadArgumentsWithAReason)
{
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{}, "expected VOICE.wav and OUT.wav"},
        {{"v.wav"}, "expected VOICE.wav and OUT.wav"},
        {{"a.wav", "b.wav", "c.wav"}, "unexpected argument c.wav"},
        {{"v.wav", "o.wav", "--effect", "Autotune"}, "unknown effect 'Autotune'"},
        {{"v.wav", "o.wav", "--effect"}, "missing value after --effect"},
        {{"v.wav", "o.wav", "--root", "H"}, "unknown note 'H'"},
        {{"v.wav", "o.wav", "--root", "Db"}, "unknown note 'Db'"},
        {{"v.wav", "o.wav", "--source", "sidechain"}, "unknown tuning source"},
        {{"v.wav", "o.wav", "--block", "0"}, "bad block size"},
        {{"v.wav", "o.wav", "--block", "12x"}, "bad block size"},
        {{"v.wav", "o.wav", "--block", "70000"}, "bad block size"},
        {{"v.wav", "o.wav", "--frobnicate"}, "unknown option --frobnicate"},
        {{"--demo", "dir", "v.wav"}, "--demo takes a directory"},
    };
    for (const auto& c : cases) {
        const auto parsed = parseCommandLine(c.args);
        EXPECT_NE(parsed.error.find(c.message), std::string::npos) << parsed.error;
        // The program turns it into one line on stderr and the usage exit code.
        const auto run = runArgs(c.args);
        EXPECT_EQ(run.code, 2);
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_EQ(run.out, "");
    }
}

TEST(CommandLine, KnowsEveryEffectByItsEnglishNameAndParameterText)
{
    const std::pair<const char*, Mode> names[] = {
        {"Mosquito", Mode::mosquito},        {"satanic", Mode::satanic},
        {"Dizzy mosquito", Mode::dizzyMosquito}, {"dizzy-mosquito", Mode::dizzyMosquito},
        {"Trap default", Mode::trapDefault}, {"TRAP_DEFAULT", Mode::trapDefault},
        {"Cumbia", Mode::cumbia},            {"Reggaeton", Mode::reggaeton},
        {"Reggaetón", Mode::reggaeton},      {"REGGAETÓN", Mode::reggaeton},
        {"Ultra edited", Mode::ultraEdited}, {"Master Tolmar", Mode::master},
    };
    for (const auto& [name, mode] : names)
        EXPECT_EQ(modeFromName(name), mode) << name;
    for (const char* bad : {"", "master", "mosquitoes", "trap", "Reggaetón!"})
        EXPECT_FALSE(modeFromName(bad).has_value()) << bad;
    for (int m = 0; m < 8; ++m) // the names it prints and the file names it writes read back
        EXPECT_EQ(modeFromName(modeName(static_cast<Mode>(m))), static_cast<Mode>(m));
    for (int m = 0; m < 8; ++m)
        EXPECT_EQ(modeFromName(modeSlug(static_cast<Mode>(m))), static_cast<Mode>(m));
    for (int note = 0; note < 12; ++note)
        EXPECT_EQ(noteFromName(noteName(note)), note);
}

TEST(Render, SavesTheFourModeValuesTheEditorsEffectListWrites)
{
    // The editor's list writes all four for a voice effect, and only "mastering" for Master Tolmar so that
    // switching it off brings the earlier effect back. Start from a state away from every one of them.
    juce::MemoryBlock start;
    const auto startXml = juce::parseXML("<TolmarVoz beatKey=\"-1\"><PARAM id=\"effect\" value=\"1\"/>"
                                         "<PARAM id=\"wobble\" value=\"1\"/><PARAM id=\"vocalStyle\" value=\"3\"/>"
                                         "<PARAM id=\"mastering\" value=\"1\"/></TolmarVoz>");
    ASSERT_NE(startXml, nullptr);
    juce::AudioProcessor::copyXmlToBinary(*startXml, start);

    struct Values {
        double mastering, effect, wobble, vocalStyle;
    };
    const Values expected[] = {
        {0, 0, 0, 0}, {0, 1, 0, 0}, {0, 2, 0, 0}, {0, 0, 1, 0}, // Mosquito, Satanic, Trap default, Dizzy mosquito
        {0, 2, 0, 1}, {0, 2, 0, 2}, {0, 2, 0, 3},               // Cumbia, Reggaeton, Ultra edited
        {1, 1, 1, 3},                                           // Master Tolmar: the voice values as they were
    };
    const AudioData voice = makeAudio(48000.0, {testing_support::sine(220.0, 48000.0, 960)});
    for (int m = 0; m < 8; ++m) {
        RenderJob job;
        job.voice = &voice;
        job.state.assign(static_cast<const char*>(start.getData()),
                         static_cast<const char*>(start.getData()) + start.getSize());
        job.mode = static_cast<Mode>(m);
        RenderResult result;
        std::string error;
        ASSERT_TRUE(render(job, result, error)) << error;
        const auto saved =
            juce::AudioProcessor::getXmlFromBinary(result.state.data(), static_cast<int>(result.state.size()));
        ASSERT_NE(saved, nullptr);
        const auto valueOf = [&saved](const char* id) {
            const auto* parameter = saved->getChildByAttribute("id", id);
            return parameter != nullptr ? parameter->getDoubleAttribute("value", -1.0) : -1.0;
        };
        const auto& e = expected[m];
        EXPECT_EQ(valueOf("mastering"), e.mastering) << "mode " << m;
        EXPECT_EQ(valueOf("effect"), e.effect) << "mode " << m;
        EXPECT_EQ(valueOf("wobble"), e.wobble) << "mode " << m;
        EXPECT_EQ(valueOf("vocalStyle"), e.vocalStyle) << "mode " << m;
    }
}

TEST(Render, SelectsEveryModeThroughTheParametersWhateverTheStateHeld)
{
    // A state with all four mode parameters away from what each mode needs: mastering on, wobble on, the
    // last vocal style and the middle effect.
    const AudioData voice = makeAudio(48000.0, {testing_support::harmonicTone(220.0, 48000.0, 4800)});
    std::vector<char> state;
    {
        RenderJob job;
        job.voice = &voice;
        job.mode = Mode::ultraEdited;
        RenderResult first;
        std::string error;
        ASSERT_TRUE(render(job, first, error)) << error;
        job.state = first.state;
        job.mode = Mode::dizzyMosquito;
        ASSERT_TRUE(render(job, first, error)) << error;
        job.state = first.state;
        job.mode = Mode::satanic;
        ASSERT_TRUE(render(job, first, error)) << error;
        job.state = first.state;
        job.mode = Mode::master;
        ASSERT_TRUE(render(job, first, error)) << error;
        state = first.state;
    }
    for (int m = 0; m < 8; ++m) {
        RenderJob job;
        job.voice = &voice;
        job.state = state;
        job.mode = static_cast<Mode>(m);
        RenderResult result;
        std::string error;
        ASSERT_TRUE(render(job, result, error)) << error;
        EXPECT_EQ(result.mode, static_cast<Mode>(m));
        EXPECT_TRUE(finiteAndNormal(result.output)) << m;
    }
}

TEST(WavFiles, RoundTripEachFormatAndChannelCount)
{
    struct Case {
        SampleFormat format;
        int channels;
        double rate;
        float tolerance;
    };
    const Case cases[] = {
        {SampleFormat::int16, 1, 44100.0, 1.0f / 32768.0f},
        {SampleFormat::int16, 2, 48000.0, 1.0f / 32768.0f},
        {SampleFormat::int24, 1, 96000.0, 1.0f / 8388608.0f},
        {SampleFormat::int24, 2, 44100.0, 1.0f / 8388608.0f},
        {SampleFormat::float32, 1, 48000.0, 0.0f},
        {SampleFormat::float32, 2, 96000.0, 0.0f},
    };
    const auto dir = juce::File::getSpecialLocation(juce::File::tempDirectory).getNonexistentChildFile("wav", "");
    ASSERT_TRUE(dir.createDirectory());
    for (const auto& c : cases) {
        AudioData data;
        data.sampleRate = c.rate;
        for (int ch = 0; ch < c.channels; ++ch)
            data.channels.push_back(testing_support::noise(1001, 0.9f, static_cast<std::uint32_t>(ch + 7)));
        data.channels[0][5] = -1.0f; // full scale survives
        const auto file = dir.getChildFile("round.wav").getFullPathName().toStdString();
        std::string error;
        ASSERT_TRUE(writeWav(file, data, c.format, error)) << error;
        AudioData back;
        ASSERT_TRUE(readWav(file, back, error)) << error;
        EXPECT_EQ(back.sampleRate, c.rate);
        ASSERT_EQ(back.numChannels(), c.channels);
        ASSERT_EQ(back.numFrames(), data.numFrames());
        for (int ch = 0; ch < c.channels; ++ch)
            for (std::size_t i = 0; i < data.numFrames(); ++i)
                ASSERT_NEAR(back.channels[ch][i], data.channels[ch][i], c.tolerance) << ch << " " << i;
    }
    dir.deleteRecursively();
}

TEST(WavFiles, ReadsThirtyTwoBitIntegerFilesWrittenByHand)
{
    // A minimal canonical header: PCM, stereo, 22050 Hz, 32-bit, three frames.
    const std::int32_t samples[6] = {0, 1 << 30, -(1 << 30), 0x7fffffff, -0x7fffffff - 1, 1 << 29};
    juce::MemoryOutputStream wav;
    wav.write("RIFF", 4);
    wav.writeInt(36 + 24);
    wav.write("WAVEfmt ", 8);
    wav.writeInt(16);
    wav.writeShort(1);
    wav.writeShort(2);
    wav.writeInt(22050);
    wav.writeInt(22050 * 8);
    wav.writeShort(8);
    wav.writeShort(32);
    wav.write("data", 4);
    wav.writeInt(24);
    for (const auto s : samples)
        wav.writeInt(s);
    const auto file = juce::File::getSpecialLocation(juce::File::tempDirectory).getNonexistentChildFile("int32", ".wav");
    ASSERT_TRUE(file.replaceWithData(wav.getData(), wav.getDataSize()));

    AudioData data;
    std::string error;
    ASSERT_TRUE(readWav(file.getFullPathName().toStdString(), data, error)) << error;
    file.deleteFile();
    EXPECT_EQ(data.sampleRate, 22050.0);
    ASSERT_EQ(data.numChannels(), 2);
    ASSERT_EQ(data.numFrames(), 3u);
    EXPECT_NEAR(data.channels[1][0], 0.5f, 1e-6f);
    EXPECT_NEAR(data.channels[0][1], -0.5f, 1e-6f);
    EXPECT_NEAR(data.channels[1][1], 1.0f, 1e-6f);
    EXPECT_NEAR(data.channels[0][2], -1.0f, 1e-6f);
    EXPECT_NEAR(data.channels[1][2], 0.25f, 1e-6f);
}

TEST_F(RenderFiles, BypassedImpulseComesOutAtSampleZeroAtEveryRateChannelCountAndBlock)
{
    struct Case {
        double rate;
        int channels;
        const char* block;
    };
    const Case cases[] = {{44100.0, 1, "512"}, {48000.0, 2, "173"}, {96000.0, 2, "512"}, {96000.0, 1, "1"}};
    for (const auto& c : cases) {
        const int frames = static_cast<int>(c.rate / 10);
        AudioData voice;
        voice.sampleRate = c.rate;
        voice.channels.assign(static_cast<std::size_t>(c.channels), std::vector<float>(static_cast<std::size_t>(frames)));
        for (int ch = 0; ch < c.channels; ++ch)
            voice.channels[ch][0] = ch == 0 ? 0.5f : -0.25f;
        write("impulse.wav", voice);

        auto run = runArgs({path("impulse.wav"), path("out.wav"), "--bypass", "--float", "--block", c.block});
        ASSERT_EQ(run.code, 0) << run.err;
        EXPECT_NE(run.out.find("compensated"), std::string::npos);
        const auto out = read("out.wav");
        ASSERT_EQ(out.numChannels(), c.channels);
        ASSERT_EQ(out.numFrames(), static_cast<std::size_t>(frames));
        EXPECT_EQ(out.sampleRate, c.rate);
        for (int ch = 0; ch < c.channels; ++ch) {
            EXPECT_EQ(out.channels[ch][0], voice.channels[ch][0]) << c.rate << " " << c.channels << " " << c.block;
            float rest = 0.0f;
            for (int i = 1; i < frames; ++i)
                rest = std::max(rest, std::fabs(out.channels[ch][i]));
            EXPECT_LT(rest, 1e-4f);
        }

        // With the latency kept the impulse sits at latency() and nothing is dropped.
        run = runArgs({path("impulse.wav"), path("raw.wav"), "--bypass", "--float", "--keep-latency", "--block",
                       c.block});
        ASSERT_EQ(run.code, 0) << run.err;
        const auto raw = read("raw.wav");
        const auto peak = std::max_element(raw.channels[0].begin(), raw.channels[0].end(),
                                           [](float a, float b) { return std::fabs(a) < std::fabs(b); });
        const auto latency = static_cast<std::size_t>(peak - raw.channels[0].begin());
        EXPECT_EQ(raw.numFrames(), static_cast<std::size_t>(frames) + latency);
        EXPECT_EQ(*peak, 0.5f);
        EXPECT_NE(run.out.find("latency  " + std::to_string(latency) + " samples"), std::string::npos) << run.out;
    }
}

TEST_F(RenderFiles, ProcessedVoiceLinesUpWithTheInputInEveryModeAtBothRates)
{
    for (const double rate : {44100.0, 96000.0}) {
        // Silence, then a sung tone from a quarter second on.
        const int onset = static_cast<int>(rate / 4);
        auto tone = testing_support::harmonicTone(196.0, rate, static_cast<int>(rate), 0.3f);
        std::fill(tone.begin(), tone.begin() + onset, 0.0f);
        write("tone.wav", makeAudio(rate, {tone}), SampleFormat::int24);
        for (int m = 0; m < 8; ++m) {
            const auto run = runArgs({path("tone.wav"), path("out.wav"), "--effect", modeName(static_cast<Mode>(m)),
                                      "--source", "manual", "--root", "G"});
            ASSERT_EQ(run.code, 0) << run.err;
            const auto out = read("out.wav");
            ASSERT_EQ(out.numFrames(), tone.size());
            EXPECT_TRUE(finiteAndNormal(out));
            // The output's level crosses half its steady value where the input's does, within a few
            // milliseconds (uncompensated it would cross over 40 ms late). The shifter's window smears the
            // onset a little both ways, so the crossing is measured rather than the first non-zero sample.
            const auto& left = out.channels[0];
            const int window = static_cast<int>(rate / 500);
            const double steady = testing_support::rms(left.data() + left.size() / 2, left.size() / 2);
            int first = 0;
            while (first + window < static_cast<int>(left.size())
                   && testing_support::rms(left.data() + first, static_cast<std::size_t>(window)) < 0.5 * steady)
                first += window / 4;
            EXPECT_NEAR(first, onset, rate * 0.006) << rate << " " << modeName(static_cast<Mode>(m));
        }
    }
}

TEST_F(RenderFiles, FindsTheKeyOfABeatAndGivesItBackFromTheSavedStateWithoutOne)
{
    const auto material = makeDemoMaterial(48000.0);
    AudioData silence = material.beat;
    for (auto& channel : silence.channels)
        std::fill(channel.begin(), channel.end(), 0.0f);
    write("voice.wav", silence, SampleFormat::int16);
    write("beat.wav", material.beat, SampleFormat::int24);

    auto run = runArgs({path("voice.wav"), path("first.wav"), "--beat", path("beat.wav"), "--effect", "Cumbia",
                        "--save-state", path("song.state")});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.out.find("key      A minor, found after 8."), std::string::npos) << run.out;

    // Reopened without the beat: same key, same mode, nothing heard.
    run = runArgs({path("voice.wav"), path("second.wav"), "--state", path("song.state")});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.out.find("mode     Cumbia"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("key      A minor, from the saved state"), std::string::npos) << run.out;

    // The command line overrides what it names; the key stays.
    run = runArgs({path("voice.wav"), path("third.wav"), "--state", path("song.state"), "--effect", "Ultra edited"});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.out.find("mode     Ultra edited"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("key      A minor, from the saved state"), std::string::npos) << run.out;
}

TEST_F(RenderFiles, EveryErrorIsOneLineAndLeavesNoFileBehind)
{
    const auto voice = makeAudio(48000.0, {testing_support::sine(220.0, 48000.0, 4800)});
    write("voice.wav", voice);
    write("slow.wav", makeAudio(4000.0, {testing_support::sine(220.0, 4000.0, 400)}));
    write("beat44.wav", makeAudio(44100.0, {testing_support::sine(220.0, 44100.0, 4410)}));
    const auto three = testing_support::sine(220.0, 48000.0, 480);
    write("three.wav", makeAudio(48000.0, {three, three, three}));
    ASSERT_TRUE(dir.getChildFile("text.wav").replaceWithText("not audio"));
    ASSERT_TRUE(dir.getChildFile("bad.state").replaceWithText("<TolmarVoz/>"));
    ASSERT_TRUE(dir.getChildFile("out.wav").replaceWithText("the previous good render"));
    const auto before = fileNames();

    struct Case {
        std::vector<std::string> args;
        int code;
        std::string message;
    };
    const Case cases[] = {
        {{path("missing.wav"), path("out.wav")}, 1, "cannot read '" + path("missing.wav") + "': no such file"},
        {{path("text.wav"), path("out.wav")}, 1, "not a WAV file"},
        {{path("voice.wav"), path("out.wav"), "--beat", path("missing.wav")}, 1, "no such file"},
        {{path("slow.wav"), path("out.wav")}, 1, "unsupported sample rate 4000 Hz"},
        {{path("three.wav"), path("out.wav")}, 1, "unsupported channel count 3 in the voice"},
        {{path("voice.wav"), path("out.wav"), "--beat", path("three.wav")}, 1, "unsupported channel count 3 in the beat"},
        {{path("voice.wav"), path("out.wav"), "--beat", path("beat44.wav")}, 1, "differs from the voice's"},
        {{path("voice.wav"), path("out.wav"), "--state", path("bad.state")}, 1, "not a saved Tolmar Vez state"},
        {{path("voice.wav"), path("out.wav"), "--state", path("missing.state")}, 1, "no such file"},
        {{path("voice.wav"), path("no/such/dir/out.wav")}, 1, "no such directory"},
        {{path("voice.wav"), dir.getFullPathName().toStdString()}, 1, "is a directory"},
        {{path("voice.wav"), path("new.wav"), "--save-state", path("no/dir/s.state")}, 1, "no such directory"},
        {{path("voice.wav"), path("out.wav"), "--effect", "Chipmunk"}, 2, "unknown effect 'Chipmunk'"},
        {{path("voice.wav"), path("out.wav"), "--root", "Hb"}, 2, "unknown note 'Hb'"},
    };
    for (const auto& c : cases) {
        const auto run = runArgs(c.args);
        EXPECT_EQ(run.code, c.code) << c.message;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_EQ(run.out, "");
        // No temporary or partial file, and the earlier output untouched.
        EXPECT_EQ(fileNames(), before) << c.message;
        EXPECT_EQ(dir.getChildFile("out.wav").loadFileAsString(), "the previous good render");
    }
}

namespace {

bool isFifo(const std::string& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISFIFO(info.st_mode);
}

// Everything written into the FIFO at `path` by one writer, read until it closes; empty after `seconds` without
// a writer. Opened before the writer so that the writer's open never waits.
std::future<std::string> drainFifo(const std::string& path, int seconds)
{
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
    return std::async(std::launch::async, [descriptor, seconds] {
        std::string bytes;
        bool writerSeen = false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (descriptor >= 0 && std::chrono::steady_clock::now() < deadline) {
            pollfd wait{descriptor, POLLIN, 0};
            ::poll(&wait, 1, 50);
            char chunk[4096];
            const auto got = ::read(descriptor, chunk, sizeof chunk);
            if (got > 0) {
                bytes.append(chunk, static_cast<std::size_t>(got));
                writerSeen = true;
            } else if (got == 0 && writerSeen) {
                break; // the writer closed
            }
        }
        if (descriptor >= 0)
            ::close(descriptor);
        return bytes;
    });
}

} // namespace

TEST_F(RenderFiles, WritesThroughLinksAndStraightIntoPipesWithoutReplacingEitherNode)
{
    write("voice.wav", makeAudio(48000.0, {testing_support::sine(220.0, 48000.0, 4800)}));
    ASSERT_EQ(runArgs({path("voice.wav"), path("plain.wav"), "--save-state", path("plain.state")}).code, 0);
    const auto plain = dir.getChildFile("plain.wav");
    juce::MemoryBlock expected;
    ASSERT_TRUE(plain.loadFileAsData(expected));

    // A link to an existing file and a link to a file not there yet: the file is written, the link stays.
    ASSERT_TRUE(dir.getChildFile("renders").createDirectory());
    ASSERT_TRUE(dir.getChildFile("renders/take.wav").replaceWithText("an older take"));
    ASSERT_EQ(::symlink("renders/take.wav", path("linked.wav").c_str()), 0);
    ASSERT_EQ(::symlink("renders/fresh.state", path("linked.state").c_str()), 0);
    auto run = runArgs({path("voice.wav"), path("linked.wav"), "--save-state", path("linked.state")});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(dir.getChildFile("linked.wav").isSymbolicLink());
    EXPECT_TRUE(dir.getChildFile("linked.state").isSymbolicLink());
    juce::MemoryBlock taken;
    ASSERT_TRUE(dir.getChildFile("renders/take.wav").loadFileAsData(taken));
    EXPECT_EQ(taken, expected);
    EXPECT_EQ(dir.getChildFile("renders/fresh.state").getSize(), dir.getChildFile("plain.state").getSize());
    EXPECT_EQ(dir.getChildFile("renders").findChildFiles(juce::File::findFiles, false).size(), 2); // no leftovers

    // A pipe, standing in for a device such as /dev/null or /dev/stdout: the WAV goes straight into it, whole.
    ASSERT_EQ(::mkfifo(path("pipe.wav").c_str(), 0600), 0);
    auto received = drainFifo(path("pipe.wav"), 30);
    run = runArgs({path("voice.wav"), path("pipe.wav")});
    EXPECT_EQ(run.code, 0) << run.err;
    const auto bytes = received.get();
    EXPECT_TRUE(isFifo(path("pipe.wav")));
    ASSERT_EQ(bytes.size(), expected.getSize());
    EXPECT_EQ(std::memcmp(bytes.data(), expected.getData(), bytes.size()), 0);

    // A directory, also behind a link, is refused before any work.
    ASSERT_EQ(::symlink("renders", path("folder-link").c_str()), 0);
    for (const char* target : {"renders", "folder-link"}) {
        run = runArgs({path("voice.wav"), path(target)});
        EXPECT_EQ(run.code, 1);
        EXPECT_NE(run.err.find("is a directory"), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
    EXPECT_TRUE(dir.getChildFile("folder-link").isSymbolicLink());
}

TEST(Demo, RendersEveryModeWithMeasuresInsideSaneBounds)
{
    const auto dir = juce::File::getSpecialLocation(juce::File::tempDirectory).getNonexistentChildFile("demo", "");
    std::ostringstream out;
    std::string error;
    DemoReport report;
    ASSERT_TRUE(runDemo(dir.getFullPathName().toStdString(), out, error, &report)) << error;
    const auto material = makeDemoMaterial(48000.0);

    EXPECT_EQ(report.beatKey, material.beatKey);
    EXPECT_GT(report.keyFoundSeconds, 8.0);
    // Every mode, then the four tuning styles with Live.
    ASSERT_EQ(report.rows.size(), 12u);
    for (std::size_t i = 0; i < report.rows.size(); ++i)
        EXPECT_EQ(report.rows[i].live, i >= 8) << i;
    for (const auto& row : report.rows) {
        SCOPED_TRACE(::testing::Message() << modeName(row.mode) << (row.live ? " with Live" : ""));
        EXPECT_EQ(row.latency, row.live ? 192 : 2048);
        AudioData file;
        ASSERT_TRUE(readWav(dir.getChildFile(row.file).getFullPathName().toStdString(), file, error)) << error;
        EXPECT_EQ(file.numFrames(), material.voice.numFrames());
        EXPECT_EQ(file.numChannels(), 2);
        EXPECT_TRUE(row.finite);
        EXPECT_GT(row.peak, 0.05f);
        EXPECT_LE(row.peak, 0.97f);
        EXPECT_GT(row.realTimeFactor, 0.0);
        EXPECT_NE(out.str().find(row.file), std::string::npos);
        switch (row.mode) {
        case Mode::mosquito:
            EXPECT_NEAR(row.shiftSemitones, 12.0, 0.2);
            break;
        case Mode::satanic:
            EXPECT_NEAR(row.shiftSemitones, -12.0, 0.2);
            break;
        case Mode::dizzyMosquito:
            EXPECT_NEAR(row.shiftSemitones, 12.0, 1.0);
            break;
        case Mode::master:
            EXPECT_TRUE(std::isfinite(row.levelChangeDb));
            break;
        default: // the tuned modes follow the beat and land closer to its scale than the singer did
            EXPECT_EQ(row.key, material.beatKey);
            EXPECT_TRUE(row.endsOnScaleNote);
            EXPECT_LT(row.errorCents, row.inputErrorCents);
            EXPECT_GT(row.inputErrorCents, 15.0);
            break;
        }
    }
    for (const char* name : {"demo-voice.wav", "demo-beat.wav", "demo.state"})
        EXPECT_TRUE(dir.getChildFile(name).existsAsFile()) << name;
    dir.deleteRecursively();
}
