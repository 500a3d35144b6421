#include "dsp/Engine.h"
#include "dsp/Mastering.h"
#include "dsp/PitchDetector.h"
#include "dsp/SampleSafety.h"
#include "dsp/VoiceChains.h"

#include "AllocationCounter.h"
#include "Signals.h"
#include "VoiceChainsReference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using tolmar::Engine;
using tolmar::Mode;
using tolmar::Scale;
using tolmar::Settings;
using testing_support::allFiniteAndNormal;
using testing_support::harmonicTone;
using testing_support::noise;
using testing_support::sine;

using Channels = std::vector<std::vector<float>>;

constexpr double rate = 48000.0;
constexpr float nan = std::numeric_limits<float>::quiet_NaN();
constexpr float inf = std::numeric_limits<float>::infinity();

Settings settingsFor(Mode mode, bool bypass = false, std::int32_t root = 0, Scale scale = Scale::minor)
{
    Settings settings;
    settings.mode = mode;
    settings.root = root;
    settings.bypass = bypass;
    settings.scale = scale;
    return settings;
}

Mode modeAt(int index)
{
    return static_cast<Mode>(index);
}

bool allFinite(const Channels& channels)
{
    return std::all_of(channels.begin(), channels.end(),
                       [](const std::vector<float>& c) { return allFiniteAndNormal(c.data(), c.size()); });
}

// Runs the engine in place over whole signals in host blocks of blockSize; settingsAt gives each block's settings
// from its first sample index. Every rendered output is checked for NaN, infinities and denormals.
void renderInPlace(Engine& engine, Channels& channels, int blockSize, const std::function<Settings(int)>& settingsAt)
{
    const int total = static_cast<int>(channels[0].size());
    std::vector<float*> pointers(channels.size());
    for (int offset = 0; offset < total; offset += blockSize) {
        for (std::size_t ch = 0; ch < channels.size(); ++ch)
            pointers[ch] = channels[ch].data() + offset;
        engine.process(pointers.data(), static_cast<int>(channels.size()), std::min(blockSize, total - offset),
                       settingsAt(offset));
    }
    EXPECT_TRUE(allFinite(channels)) << "every rendered sample finite and normal";
}

Channels render(Engine& engine, Channels channels, int blockSize, Settings settings)
{
    renderInPlace(engine, channels, blockSize, [settings](int) { return settings; });
    return channels;
}

float peakOf(const std::vector<float>& x, std::size_t from = 0, std::size_t to = std::string::npos)
{
    float peak = 0.0f;
    for (std::size_t i = from; i < std::min(to, x.size()); ++i)
        peak = std::max(peak, std::fabs(x[i]));
    return peak;
}

float expectedGuard(float x)
{
    return std::clamp(tolmar::cleanSample(x), -0.97f, 0.97f);
}

double noteOf(double hz)
{
    return 69.0 + 12.0 * std::log2(hz / 440.0);
}

double hzOf(double note)
{
    return 440.0 * std::exp2((note - 69.0) / 12.0);
}

// Frequency of the strongest component between lowHz and highHz: Hann-windowed DTFT magnitude on a grid of
// stepCents, refined by a parabola through the log magnitudes around the maximum.
double spectralPeakHz(const float* x, int n, double lowHz, double highHz, double stepCents = 2.0)
{
    std::vector<double> windowed(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        windowed[static_cast<std::size_t>(i)] =
            x[i] * (0.5 - 0.5 * std::cos(testing_support::twoPi * (i + 0.5) / n));
    auto magnitude = [&](double hz) {
        const double w = testing_support::twoPi * hz / rate;
        const double c = std::cos(w);
        const double s = std::sin(w);
        double re = 0.0, im = 0.0, rotRe = 1.0, rotIm = 0.0;
        for (double v : windowed) {
            re += v * rotRe;
            im += v * rotIm;
            const double next = rotRe * c - rotIm * s;
            rotIm = rotRe * s + rotIm * c;
            rotRe = next;
        }
        return std::log(std::hypot(re, im) + 1e-30);
    };
    const int steps = static_cast<int>(1200.0 * std::log2(highHz / lowHz) / stepCents);
    std::vector<double> values(static_cast<std::size_t>(steps) + 1);
    for (int k = 0; k <= steps; ++k)
        values[static_cast<std::size_t>(k)] = magnitude(lowHz * std::exp2(k * stepCents / 1200.0));
    const auto best = static_cast<int>(std::max_element(values.begin(), values.end()) - values.begin());
    double offset = 0.0;
    if (best > 0 && best < steps) {
        const auto at = static_cast<std::size_t>(best);
        offset = tolmar::refinePeriod(best, values[at - 1], values[at], values[at + 1]) - best;
    }
    return lowHz * std::exp2((best + offset) * stepCents / 1200.0);
}

// Lag in samples (0..maxLag) at which out best matches in, by cross-correlation over count samples from `from`.
int bestLag(const std::vector<float>& in, const std::vector<float>& out, int from, int count, int maxLag)
{
    int best = 0;
    double bestValue = -1.0;
    for (int lag = 0; lag <= maxLag; ++lag) {
        double sum = 0.0;
        for (int i = from; i < from + count; ++i)
            sum += static_cast<double>(out[static_cast<std::size_t>(i)]) * in[static_cast<std::size_t>(i - lag)];
        if (sum > bestValue) {
            bestValue = sum;
            best = lag;
        }
    }
    return best;
}

Channels stereoTestSignal(int samples)
{
    auto left = harmonicTone(220.0, rate, samples, 0.3f);
    auto right = noise(samples, 0.2f, 7);
    for (std::size_t i = 0; i < right.size(); ++i)
        right[i] += 0.5f * left[i];
    return {left, right};
}

// ---------------------------------------------------------------------------------------------------------------
// Preparation and latency

struct PrepareCase {
    double sampleRate;
    int maxBlock;
    bool accepted;
};

TEST(EnginePrepare, AcceptsOnlySupportedConfigurations)
{
    const PrepareCase cases[] = {
        {7999.9, 512, false},  {384000.5, 512, false}, {48000.0, 0, false},         {48000.0, -4, false},
        {std::nan(""), 512, false}, {inf, 512, false},   {8000.0, 1, true},           {384000.0, 1, true},
        {44100.0, 4096, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.sampleRate << " Hz, block " << c.maxBlock);
        Engine engine;
        if (c.accepted) {
            EXPECT_NO_THROW(engine.prepare(c.sampleRate, c.maxBlock));
            continue;
        }
        try {
            engine.prepare(c.sampleRate, c.maxBlock);
            ADD_FAILURE() << "no exception";
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), "Unsupported audio configuration");
        }
    }
}

TEST(EnginePrepare, FailedPrepareKeepsThePreviousConfiguration)
{
    Engine engine;
    engine.prepare(96000.0, 256);
    EXPECT_THROW(engine.prepare(4000.0, 256), std::invalid_argument);
    EXPECT_EQ(engine.latency(), 4096);

    auto out = render(engine, {sine(440.0, 96000.0, 600)}, 600, settingsFor(Mode::satanic));
    EXPECT_GT(engine.inputLevel(), 0.4f) << "still prepared: the call was processed";
    EXPECT_TRUE(allFinite(out));
}

TEST(EnginePrepare, LatencyDependsOnlyOnTheSampleRate)
{
    const std::pair<double, int> cases[] = {
        {8000.0, 1024},  {22050.0, 1024}, {32000.0, 2048},  {44100.0, 2048},   {48000.0, 2048},   {88200.0, 4096},
        {96000.0, 4096}, {176400.0, 8192}, {192000.0, 8192}, {352800.0, 16384}, {384000.0, 16384},
    };
    for (const auto& [sampleRate, latency] : cases) {
        for (int maxBlock : {1, 4096}) {
            Engine engine;
            engine.prepare(sampleRate, maxBlock);
            EXPECT_EQ(engine.latency(), latency) << sampleRate << " Hz, block " << maxBlock;
        }
    }
}

// ---------------------------------------------------------------------------------------------------------------
// The guard: calls the engine cannot serve leave the buffer and the meters exactly as they were.

TEST(EngineGuard, UnsupportedCallsLeaveBufferAndMetersUntouched)
{
    struct Case {
        const char* name;
        bool prepare;
        int channels;
        int samples;
        int mode;
    };
    const Case cases[] = {
        {"unprepared", false, 2, 256, 2}, {"three channels", true, 3, 256, 2}, {"zero samples", true, 2, 0, 2},
        {"negative samples", true, 1, -5, 2}, {"mode outside 0..7", true, 2, 256, 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Engine engine;
        if (c.prepare) {
            engine.prepare(rate, 512);
            auto warm = render(engine, stereoTestSignal(512), 512, settingsFor(Mode::trapDefault));
            ASSERT_TRUE(allFinite(warm));
        }
        const float inputBefore = engine.inputLevel();
        const float outputBefore = engine.outputLevel();

        Channels buffer = {sine(300.0, rate, 256), noise(256), harmonicTone(150.0, rate, 256)};
        buffer[0][3] = nan;
        buffer[1][9] = -inf;
        buffer[2][0] = 12.0f;
        const Channels original = buffer;
        float* pointers[3] = {buffer[0].data(), buffer[1].data(), buffer[2].data()};
        engine.process(pointers, c.channels, c.samples, settingsFor(modeAt(c.mode)));

        for (std::size_t ch = 0; ch < buffer.size(); ++ch)
            EXPECT_EQ(std::memcmp(buffer[ch].data(), original[ch].data(), buffer[ch].size() * sizeof(float)), 0);
        EXPECT_EQ(engine.inputLevel(), inputBefore);
        EXPECT_EQ(engine.outputLevel(), outputBefore);
    }
}

TEST(EngineGuard, NonFiniteAndHugeInputNeverReachTheOutput)
{
    for (int mode = 0; mode <= 7; ++mode) {
        SCOPED_TRACE(testing::Message() << "mode " << mode);
        Engine engine;
        engine.prepare(rate, 512);
        Channels input = stereoTestSignal(12000);
        for (std::size_t i = 100; i < input[0].size(); i += 397) {
            input[0][i] = (i / 397) % 2 == 0 ? nan : inf;
            input[1][i + 1] = (i / 397) % 3 == 0 ? -inf : 1e30f;
        }
        for (std::size_t i = 5000; i < 5300; ++i)
            input[1][i] = 50.0f;
        const Channels out = render(engine, input, 512, settingsFor(modeAt(mode), mode == 5));
        EXPECT_TRUE(allFinite(out));
        EXPECT_LE(std::max(peakOf(out[0]), peakOf(out[1])), 0.97f);
        EXPECT_LE(engine.outputLevel(), 0.97f);
        EXPECT_LE(engine.inputLevel(), 8.0f);
        EXPECT_GT(engine.outputLevel(), 0.0f);
    }
}

TEST(EngineGuard, EveryModeRunsAcrossTheSupportedRates)
{
    for (double sampleRate : {8000.0, 22050.0, 44100.0, 96000.0, 384000.0}) {
        for (int mode = 0; mode <= 7; ++mode) {
            SCOPED_TRACE(testing::Message() << sampleRate << " Hz, mode " << mode);
            Engine engine;
            engine.prepare(sampleRate, 480);
            const int samples = static_cast<int>(0.15 * sampleRate);
            auto voice = harmonicTone(180.0, sampleRate, samples, 0.4f);
            const auto breath = noise(samples, 0.05f, 2);
            for (std::size_t i = 0; i < voice.size(); ++i)
                voice[i] += breath[i];
            const Channels out = render(engine, {voice, breath}, 1000, settingsFor(modeAt(mode), false, 3));
            EXPECT_LE(std::max(peakOf(out[0]), peakOf(out[1])), 0.97f);
            EXPECT_GT(peakOf(out[0]), 0.0f);
        }
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Chunking and host block sizes

TEST(EngineBlocks, LongBlocksAreCutIntoChunksLikeSeparateCalls)
{
    // 2000 samples with maxBlock 512 run as 512, 512, 512, 464, with the same output as separate calls.
    const int sizes[] = {512, 512, 512, 464};
    for (int mode = 0; mode <= 7; ++mode) {
        SCOPED_TRACE(testing::Message() << "mode " << mode);
        Engine whole;
        Engine pieces;
        whole.prepare(rate, 512);
        pieces.prepare(rate, 512);
        const Channels input = stereoTestSignal(6000);
        const Settings settings = settingsFor(modeAt(mode), false, 4);

        Channels a = render(whole, input, 2000, settings);
        Channels b = input;
        std::vector<float*> pointers(2);
        for (int offset = 0; offset < 6000;) {
            for (int size : sizes) {
                pointers[0] = b[0].data() + offset;
                pointers[1] = b[1].data() + offset;
                pieces.process(pointers.data(), 2, size, settings);
                offset += size;
            }
        }
        EXPECT_TRUE(a == b);
        EXPECT_TRUE(allFinite(a));
    }
}

// Modes whose settings cannot depend on where chunks begin come out the same whatever the host block size:
// mastering works per sample, and Satanic holds a constant -12 semitones from its first chunk on. The other
// voice modes differ by design: their glide steps and target shifts are taken per chunk (and mode 0 hands the
// latest estimate to the formant stage per chunk), so the shift's timing follows the host block length.
TEST(EngineBlocks, OutputDoesNotDependOnHostBlockSizeWhereSettingsAreConstant)
{
    for (Mode mode : {Mode::master, Mode::satanic}) {
        Engine reference;
        reference.prepare(rate, 512);
        const Channels input = stereoTestSignal(9000);
        const Channels expected = render(reference, input, 512, settingsFor(mode));
        ASSERT_TRUE(allFinite(expected));
        for (int blockSize : {1, 250, 333, 512}) {
            SCOPED_TRACE(testing::Message() << "mode " << static_cast<int>(mode) << ", blocks of " << blockSize);
            Engine engine;
            engine.prepare(rate, 512);
            const Channels out = render(engine, input, blockSize, settingsFor(mode));
            double worst = 0.0;
            for (std::size_t ch = 0; ch < 2; ++ch)
                for (std::size_t i = 0; i < out[ch].size(); ++i)
                    worst = std::max(worst, static_cast<double>(std::fabs(out[ch][i] - expected[ch][i])));
            EXPECT_LE(worst, 1e-6);
        }
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Latency-compensated bypass

TEST(EngineBypass, BypassGivesTheCleanedInputDelayedByTheLatency)
{
    for (int mode : {0, 2, 5, 7}) {
        for (int channelCount : {1, 2}) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << ", channels " << channelCount);
            Engine engine;
            engine.prepare(rate, 512);
            const int latency = engine.latency();
            Channels input = stereoTestSignal(9000);
            input.resize(static_cast<std::size_t>(channelCount));
            input[0][3000] = 1.5f;
            input[0][3001] = nan;
            input[0][3002] = inf;
            input[0][3003] = -20.0f;
            const Channels out = render(engine, input, 300, settingsFor(modeAt(mode), true));

            // The fade lands exactly on the dry path after about 1150 samples.
            for (std::size_t ch = 0; ch < out.size(); ++ch) {
                int mismatches = 0;
                for (int i = 1150; i < 9000; ++i) {
                    const float expected =
                        i >= latency ? expectedGuard(input[ch][static_cast<std::size_t>(i - latency)]) : 0.0f;
                    mismatches += out[ch][static_cast<std::size_t>(i)] != expected;
                }
                EXPECT_EQ(mismatches, 0);
            }
            EXPECT_EQ(out[0][static_cast<std::size_t>(3000 + latency)], 0.97f);
            EXPECT_EQ(out[0][static_cast<std::size_t>(3001 + latency)], 0.0f);
            EXPECT_EQ(out[0][static_cast<std::size_t>(3002 + latency)], 0.0f);
            EXPECT_EQ(out[0][static_cast<std::size_t>(3003 + latency)], -0.97f);
            EXPECT_TRUE(allFinite(out));
        }
    }
}

TEST(EngineBypass, DryAndWetStayAlignedAcrossModeAndBypassSwitches)
{
    // Broadband input so that the cross-correlation has a single clear peak; a segment per setting.
    const int segment = 24000;
    struct Step {
        int mode;
        bool bypass;
    };
    const std::vector<std::vector<Step>> runs = {
        {{2, false}, {5, false}, {5, true}, {2, false}},
        {{7, false}, {7, true}, {7, false}},
    };
    for (const auto& steps : runs) {
        Engine engine;
        engine.prepare(rate, 512);
        const int latency = engine.latency();
        const auto total = static_cast<int>(steps.size()) * segment;
        Channels input = {noise(total, 0.25f, 3), noise(total, 0.25f, 4)};
        Channels out = input;
        renderInPlace(engine, out, 480, [&](int offset) {
            const Step& step = steps[static_cast<std::size_t>(offset / segment)];
            return settingsFor(modeAt(step.mode), step.bypass);
        });
        ASSERT_TRUE(allFinite(out));
        for (std::size_t k = 0; k < steps.size(); ++k) {
            SCOPED_TRACE(testing::Message() << "mode " << steps[k].mode << (steps[k].bypass ? " bypassed" : " wet"));
            const int from = static_cast<int>(k) * segment + 12000;
            const int lag = bestLag(input[0], out[0], from, 8000, 2 * latency);
            if (steps[k].bypass)
                EXPECT_EQ(lag, latency);
            else
                EXPECT_NEAR(lag, latency, 2);
        }
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Mode changes, buses and the real-time contract

TEST(EngineModes, EnteringAndLeavingMasteringStartsFromSilence)
{
    Engine engine;
    engine.prepare(rate, 512);
    const Channels loud = stereoTestSignal(20000);
    const Channels silence(2, std::vector<float>(8000, 0.0f));

    render(engine, loud, 512, settingsFor(Mode::trapDefault));
    ASSERT_GT(engine.outputLevel(), 0.0f);

    // Into mastering: every line restarts, so silence in gives exact silence out and the meters start from 0.
    auto out = render(engine, silence, 512, settingsFor(Mode::master));
    EXPECT_EQ(peakOf(out[0]) + peakOf(out[1]), 0.0f);
    EXPECT_EQ(engine.outputLevel(), 0.0f);
    EXPECT_EQ(engine.inputLevel(), 0.0f);

    render(engine, loud, 512, settingsFor(Mode::master));
    ASSERT_GT(engine.outputLevel(), 0.0f);

    // And out again: no mastering delay content and no earlier echo reach the voice path.
    out = render(engine, silence, 512, settingsFor(Mode::trapDefault));
    EXPECT_EQ(peakOf(out[0]) + peakOf(out[1]), 0.0f);
    EXPECT_EQ(engine.outputLevel(), 0.0f);

    // Between voice modes nothing is cleared: the echo of trap default rings on in cumbia.
    render(engine, loud, 512, settingsFor(Mode::trapDefault));
    out = render(engine, silence, 512, settingsFor(Mode::cumbia));
    EXPECT_GT(peakOf(out[0]), 1e-3f);
    EXPECT_TRUE(allFinite(out));
}

TEST(EngineModes, MonoBusWritesOnlyChannelZero)
{
    for (int mode : {0, 2, 6, 7}) {
        SCOPED_TRACE(testing::Message() << "mode " << mode);
        Engine engine;
        engine.prepare(rate, 512);
        Channels buffers = {harmonicTone(200.0, rate, 6000), noise(6000, 0.3f, 9)};
        const Channels original = buffers;
        float* pointers[2] = {buffers[0].data(), buffers[1].data()};
        for (int offset = 0; offset < 6000; offset += 500) {
            float* block[2] = {pointers[0] + offset, pointers[1] + offset};
            engine.process(block, 1, 500, settingsFor(modeAt(mode)));
        }
        EXPECT_EQ(std::memcmp(buffers[1].data(), original[1].data(), 6000 * sizeof(float)), 0);
        EXPECT_NE(buffers[0], original[0]);
        EXPECT_TRUE(allFiniteAndNormal(buffers[0].data(), buffers[0].size()));
        EXPECT_LE(engine.outputLevel(), 0.97f);
    }
}

TEST(EngineModes, ResetReturnsToTheFreshlyPreparedState)
{
    for (Mode mode : {Mode::trapDefault, Mode::ultraEdited, Mode::master}) {
        SCOPED_TRACE(testing::Message() << "mode " << static_cast<int>(mode));
        Engine used;
        Engine fresh;
        used.prepare(rate, 512);
        fresh.prepare(rate, 512);
        render(used, stereoTestSignal(30000), 400, settingsFor(Mode::reggaeton, true));
        render(used, stereoTestSignal(9000), 400, settingsFor(mode));
        used.reset();
        EXPECT_EQ(used.inputLevel(), 0.0f);
        EXPECT_EQ(used.detectedPitch(), 0.0f);
        const Channels input = stereoTestSignal(12000);
        EXPECT_TRUE(render(used, input, 512, settingsFor(mode)) == render(fresh, input, 512, settingsFor(mode)));
    }
}

TEST(EngineModes, TheHostsBypassGivesTheDelayedInputExactlyInEveryMode)
{
    // Above 0 dBFS, with a not-a-number sample; the plug-in's own bypass would guard both.
    Channels input = stereoTestSignal(12000);
    for (auto& channel : input)
        for (auto& sample : channel)
            sample *= 4.0f;
    input[0][6000] = nan;
    for (int mode = 0; mode <= 7; ++mode) {
        SCOPED_TRACE(testing::Message() << "mode " << mode);
        Engine engine;
        engine.prepare(rate, 512);
        const int latency = engine.latency();
        Settings settings = settingsFor(modeAt(mode), true, 2);
        settings.hostBypass = true;
        const Channels output = render(engine, input, 512, settings);
        // The fade into the bypass settles within about 1150 samples.
        for (std::size_t c = 0; c < 2; ++c)
            for (std::size_t i = static_cast<std::size_t>(latency) + 2048; i < output[c].size(); ++i) {
                const float in = input[c][i - static_cast<std::size_t>(latency)];
                ASSERT_EQ(output[c][i], std::isfinite(in) ? in : 0.0f) << "channel " << c << ", sample " << i;
            }
    }
}

TEST(EngineModes, MetersHoldPeaksAndFallInTimeWhateverTheCalls)
{
    Engine engine;
    engine.prepare(rate, 512);
    // Longer than the latency, so that the shifted signal itself reaches the output.
    std::vector<float> loud(3000, 0.25f);
    loud[500] = -12.0f;
    render(engine, {loud, loud}, 3000, settingsFor(Mode::satanic));
    EXPECT_EQ(engine.inputLevel(), 8.0f) << "cleaned input is limited to 8";
    const float output = engine.outputLevel();
    EXPECT_GT(output, 0.0f);
    EXPECT_LE(output, 0.97f);

    // 2000 silent samples lower the meters by exp(-2000 / (0.128 s * 48 kHz)), whether they come as one call
    // (four chunks inside) or as 2000 calls of one sample.
    const auto fall = static_cast<float>(std::exp(-2000.0 / (0.128 * rate)));
    Engine split;
    split.prepare(rate, 512);
    render(split, {loud, loud}, 3000, settingsFor(Mode::satanic));
    render(engine, Channels(2, std::vector<float>(2000, 0.0f)), 2000, settingsFor(Mode::satanic));
    render(split, Channels(2, std::vector<float>(2000, 0.0f)), 1, settingsFor(Mode::satanic));
    EXPECT_NEAR(engine.inputLevel(), 8.0f * fall, 1e-4f);
    EXPECT_NEAR(split.inputLevel(), 8.0f * fall, 1e-3f);
    EXPECT_GE(engine.outputLevel(), output * fall * 0.999f);
}

TEST(EngineModes, ProcessAndResetAllocateNothingAfterWarmUp)
{
    Engine engine;
    engine.prepare(rate, 512);
    Channels buffer = stereoTestSignal(2000);
    std::vector<float*> pointers = {buffer[0].data(), buffer[1].data()};
    engine.process(pointers.data(), 2, 512, settingsFor(Mode::mosquito));

    const int sequence[] = {1, 2, 3, 4, 5, 6, 7, 2, 0, 6, 7, 7, 3, 5};
    std::size_t allocations = 0;
    {
        testing_support::ScopedAllocationCounter counter;
        for (int mode : sequence) {
            engine.process(pointers.data(), 2, 512, settingsFor(modeAt(mode), mode == 3, 5, Scale::major));
            engine.process(pointers.data(), 2, 2000, settingsFor(modeAt(mode)));
            engine.process(pointers.data(), 1, 77, settingsFor(modeAt(mode)));
        }
        engine.reset();
        engine.process(pointers.data(), 2, 512, settingsFor(Mode::ultraEdited));
        allocations = counter.allocations();
    }
    EXPECT_EQ(allocations, 0u);
    EXPECT_TRUE(allFinite(buffer));
}

// ---------------------------------------------------------------------------------------------------------------
// Pitch through the whole engine, measured on the output

double outputNote(const std::vector<float>& out, int from, int count, double expectedNote, double searchCents = 150.0)
{
    const double low = hzOf(expectedNote - searchCents / 100.0);
    const double high = hzOf(expectedNote + searchCents / 100.0);
    return noteOf(spectralPeakHz(out.data() + from, count, low, high));
}

TEST(EnginePitch, EachModeMovesASteadyVoiceWhereItShould)
{
    struct Case {
        const char* name;
        int mode;
        std::int32_t root;
        Scale scale;
        double inputNote;
        double expectedNote;
    };
    const double vowel = noteOf(220.0);
    const Case cases[] = {
        {"mosquito: an octave up", 0, 0, Scale::minor, vowel, vowel + 12.0},
        {"satanic: an octave down", 1, 0, Scale::minor, vowel, vowel - 12.0},
        {"trap default: E sharp to F in C minor", 2, 0, Scale::minor, 64.4, 65.0},
        {"trap default: E stays E in C major", 2, 0, Scale::major, 64.4, 64.0},
        {"trap default: A in A minor untouched", 2, 9, Scale::minor, 69.0, 69.0},
        {"cumbia: 0.55 of the correction", 4, 0, Scale::minor, 64.4, 64.4 + 0.55 * 0.6},
        {"reggaeton: 0.9 of the correction", 5, 0, Scale::minor, 64.4, 64.4 + 0.9 * 0.6},
        {"ultra edited: the full correction", 6, 0, Scale::minor, 64.4, 65.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Engine engine;
        engine.prepare(rate, 512);
        const auto voice = harmonicTone(hzOf(c.inputNote), rate, 40000, 0.3f);
        const Channels out = render(engine, {voice, voice}, 512, settingsFor(modeAt(c.mode), false, c.root, c.scale));
        ASSERT_TRUE(allFinite(out));
        EXPECT_NEAR(outputNote(out[0], 40000 - 16384, 16384, c.expectedNote), c.expectedNote, 0.1);
        EXPECT_NEAR(outputNote(out[1], 40000 - 16384, 16384, c.expectedNote), c.expectedNote, 0.1);
    }
}

TEST(EnginePitch, DetectorRunsEvery128DecimatedSamples)
{
    // Sample rate, samples between estimates (128 x the decimation).
    const std::pair<double, int> cases[] = {{48000.0, 512}, {44100.0, 384}, {22050.0, 128}, {96000.0, 1024}};
    for (const auto& [sampleRate, interval] : cases) {
        SCOPED_TRACE(testing::Message() << sampleRate << " Hz");
        Engine engine;
        engine.prepare(sampleRate, 512);
        const int total = 8 * interval + 2048;
        const auto voice = harmonicTone(220.0, sampleRate, total, 0.3f);
        float last = 0.0f;
        int changes = 0;
        for (int offset = 0; offset + 32 <= total; offset += 32) {
            std::vector<float> block(voice.begin() + offset, voice.begin() + offset + 32);
            float* pointers[1] = {block.data()};
            engine.process(pointers, 1, 32, settingsFor(Mode::trapDefault));
            if (engine.detectedPitch() != last) {
                EXPECT_EQ((offset + 32) % interval, 0) << "estimate changed after sample " << offset + 32;
                last = engine.detectedPitch();
                ++changes;
            }
        }
        EXPECT_GE(changes, 2);
        EXPECT_NEAR(engine.detectedPitch(), 220.0f, 1.0f);
    }
}

TEST(EnginePitch, RightChannelIsAnalysedOnlyWhenClearlyLouder)
{
    // Whole periods per 512-sample chunk, so the chunk energies are exact: left 187.5 Hz, right 281.25 Hz.
    for (const auto& [energyRatio, analysedHz] : {std::pair<double, double>{1.3, 281.25}, {1.2, 187.5}}) {
        SCOPED_TRACE(testing::Message() << "right/left energy " << energyRatio);
        Engine engine;
        engine.prepare(rate, 512);
        const float rightAmplitude = static_cast<float>(0.3 * std::sqrt(energyRatio));
        const Channels input = {sine(187.5, rate, 8192, 0.3f), sine(281.25, rate, 8192, rightAmplitude)};
        const Channels out = render(engine, input, 512, settingsFor(Mode::cumbia));
        ASSERT_TRUE(allFinite(out));
        EXPECT_NEAR(engine.detectedPitch(), analysedHz, 1.0);
        EXPECT_NEAR(engine.inputLevel(), analysedHz > 200.0 ? rightAmplitude : 0.3f, 0.002f) << "metered channel";
    }
}

TEST(EnginePitch, UnpitchedInputRelaxesTheCorrection)
{
    // A sung note that is corrected by +0.6, then a 50 Hz hum, too low for the detector: no correction remains.
    Engine engine;
    engine.prepare(rate, 512);
    auto input = harmonicTone(hzOf(64.4), rate, 24000, 0.3f);
    const auto hum = sine(50.0, rate, 40000, 0.5f);
    input.insert(input.end(), hum.begin(), hum.end());
    const Channels out = render(engine, {input, input}, 512, settingsFor(Mode::trapDefault));
    ASSERT_TRUE(allFinite(out));
    EXPECT_EQ(engine.detectedPitch(), 0.0f);
    const double note = noteOf(spectralPeakHz(out[0].data() + 64000 - 16384, 16384, 44.0, 57.0));
    EXPECT_NEAR(note, noteOf(50.0), 0.1);
}

// Note of the output over time, in windows of 2048 samples every 480 samples.
std::vector<double> noteTrack(const std::vector<float>& out, int from, double lowHz, double highHz)
{
    std::vector<double> notes;
    for (int start = from; start + 2048 <= static_cast<int>(out.size()); start += 480)
        notes.push_back(noteOf(spectralPeakHz(out.data() + start, 2048, lowHz, highHz, 5.0)));
    return notes;
}

TEST(EnginePitch, DizzyMosquitoSwingsEightToSixteenSemitonesEvery800Ms)
{
    Engine engine;
    engine.prepare(rate, 512);
    const auto voice = harmonicTone(220.0, rate, 120000, 0.3f);
    const Channels out = render(engine, {voice, voice}, 512, settingsFor(Mode::dizzyMosquito));
    ASSERT_TRUE(allFinite(out));
    const auto track = noteTrack(out[0], 8000, 320.0, 600.0);
    const double vowel = noteOf(220.0);
    const auto [low, high] = std::minmax_element(track.begin(), track.end());
    EXPECT_NEAR(*low - vowel, 8.0, 0.5);
    EXPECT_NEAR(*high - vowel, 16.0, 0.5);

    // Period: the lag (in 10 ms steps) of the track's strongest self-similarity between 0.5 and 1.2 s.
    double mean = 0.0;
    for (double v : track)
        mean += v / static_cast<double>(track.size());
    int bestStep = 0;
    double bestValue = -1e30;
    for (int step = 50; step <= 120; ++step) {
        double sum = 0.0;
        for (std::size_t i = 0; i + static_cast<std::size_t>(step) < track.size(); ++i)
            sum += (track[i] - mean) * (track[i + static_cast<std::size_t>(step)] - mean);
        sum /= static_cast<double>(track.size() - static_cast<std::size_t>(step));
        if (sum > bestValue) {
            bestValue = sum;
            bestStep = step;
        }
    }
    EXPECT_NEAR(bestStep * 0.01, 0.8, 0.03);
}

TEST(EnginePitch, UltraEditedJumpsWhereCumbiaGlides)
{
    // The voice starts on F (in C minor, no correction) and drops to a sharp E (corrected towards F).
    auto input = harmonicTone(hzOf(65.0), rate, 24000, 0.3f);
    const auto sharpE = harmonicTone(hzOf(64.4), rate, 36000, 0.3f);
    input.insert(input.end(), sharpE.begin(), sharpE.end());

    std::vector<std::vector<double>> corrections;
    for (Mode mode : {Mode::ultraEdited, Mode::cumbia}) {
        Engine engine;
        engine.prepare(rate, 512);
        const Channels out = render(engine, {input, input}, 512, settingsFor(mode));
        ASSERT_TRUE(allFinite(out));
        const auto track = noteTrack(out[0], 24000 + engine.latency(), hzOf(63.5), hzOf(66.0));
        std::vector<double> correction;
        for (double note : track)
            correction.push_back(note - 64.4);
        corrections.push_back(correction);
    }
    const auto& jump = corrections[0];
    const auto& glide = corrections[1];
    const double jumpFinal = jump.back();
    const double glideFinal = glide.back();
    EXPECT_NEAR(jumpFinal, 0.6, 0.1);
    EXPECT_NEAR(glideFinal, 0.33, 0.1);

    // Where the hard tuning has arrived, the 60 ms glide is still on its way.
    std::size_t arrived = 0;
    while (arrived < jump.size() && jump[arrived] < 0.9 * jumpFinal)
        ++arrived;
    ASSERT_LT(arrived + 12, jump.size());
    EXPECT_LT(glide[arrived] / glideFinal, 0.8) << "window " << arrived;
    EXPECT_NEAR(glide[arrived + 12] / glideFinal, 1.0, 0.3) << "120 ms later";
}

// ---------------------------------------------------------------------------------------------------------------
// Voice chains, examined at the shifter's output. The stages are examined one by one in the sample-by-sample
// reference model; the block path that the engine runs must equal that model bit for bit.

// ---------------------------------------------------------------------------------------------------------------
// Live: the tuning styles through the low-latency corrector

Settings liveSettings(Mode mode, bool live = true)
{
    Settings settings = settingsFor(mode);
    settings.live = live;
    return settings;
}

TEST(EngineLive, OnlyTheTuningStylesTakeTheLowLatencyPath)
{
    for (const double sampleRate : {44100.0, 48000.0, 96000.0}) {
        Engine engine;
        engine.prepare(sampleRate, 512);
        EXPECT_LE(engine.liveLatency(), sampleRate < 50000.0 ? 256 : 512) << sampleRate;
        for (int mode = 0; mode <= 7; ++mode) {
            const bool tuned = mode == 2 || mode == 4 || mode == 5 || mode == 6;
            EXPECT_EQ(engine.latencyFor(liveSettings(modeAt(mode))), tuned ? engine.liveLatency() : engine.latency())
                << "mode " << mode;
            EXPECT_EQ(engine.latencyFor(liveSettings(modeAt(mode), false)), engine.latency()) << "mode " << mode;
        }
    }
}

TEST(EngineLive, TheReportedLatencyIsTheDelayOfTheDryAndTheWetPath)
{
    const Channels input = {noise(24000, 0.3f, 5), noise(24000, 0.3f, 9)};
    for (const double sampleRate : {44100.0, 48000.0, 96000.0}) {
        SCOPED_TRACE(sampleRate);
        Engine engine;
        engine.prepare(sampleRate, 512);
        const int latency = engine.liveLatency();
        // The host's bypass: the dry line, exactly.
        Settings bypassed = liveSettings(Mode::trapDefault);
        bypassed.bypass = true;
        bypassed.hostBypass = true;
        const Channels dry = render(engine, input, 512, bypassed);
        for (std::size_t c = 0; c < 2; ++c)
            for (std::size_t i = 4096; i < dry[c].size(); ++i)
                ASSERT_EQ(dry[c][i], input[c][i - static_cast<std::size_t>(latency)]) << "channel " << c << ", " << i;
        // The wet path: noise is unvoiced, so the corrector passes it and the chain's direct sound leads.
        for (const Mode mode : {Mode::trapDefault, Mode::cumbia, Mode::reggaeton}) {
            Engine wetEngine;
            wetEngine.prepare(sampleRate, 512);
            const Channels wet = render(wetEngine, input, 512, liveSettings(mode));
            EXPECT_NEAR(bestLag(input[0], wet[0], 8192, 8192, 2 * latency), latency, 2) << static_cast<int>(mode);
        }
    }
}

TEST(EngineLive, ALowAndAHighVoiceLandOnTheScale)
{
    struct Case {
        double inputNote;
        double expectedNote;
    };
    // In C minor: G#2 + 0.2 to A flat, and A#4 - 0.4 to B flat.
    for (const Case c : {Case{44.2, 44.0}, Case{69.6, 70.0}}) {
        SCOPED_TRACE(c.inputNote);
        Engine engine;
        engine.prepare(rate, 256);
        const auto voice = harmonicTone(hzOf(c.inputNote), rate, 48000, 0.3f);
        const Channels out = render(engine, {voice, voice}, 256, liveSettings(Mode::ultraEdited));
        for (int from = 16384; from + 8192 <= 48000; from += 8192)
            EXPECT_NEAR(outputNote(out[0], from, 8192, c.expectedNote), c.expectedNote, 0.05) << from;
    }
}

TEST(EngineLive, SwitchingWhilePlayingFadesWithoutAClickOrAnAllocation)
{
    // A steady voice in Trap default; Live flips every 100 ms, then the mode goes to Mosquito and back.
    const auto voice = harmonicTone(hzOf(65.0), rate, 48000, 0.3f);
    const auto settingsAt = [](int sample) {
        const int tenth = sample / 4800;
        Settings settings = liveSettings(tenth >= 8 ? Mode::mosquito : Mode::trapDefault, tenth % 2 == 1 || tenth >= 8);
        return settings;
    };
    Engine engine;
    engine.prepare(rate, 512);
    // Warmed up in the state the run starts in, so that its first samples hold no mode change.
    Channels warm = {voice, voice};
    renderInPlace(engine, warm, 480, [&](int) { return settingsAt(0); });
    Channels out = {voice, voice};
    {
        testing_support::ScopedAllocationCounter counter;
        for (int offset = 0; offset < 48000; offset += 480) {
            float* channels[] = {out[0].data() + offset, out[1].data() + offset};
            engine.process(channels, 2, 480, settingsAt(offset));
        }
        EXPECT_EQ(counter.allocations(), 0u);
    }
    // No step: the steepest sample-to-sample change anywhere stays within that of a steady stretch of the full
    // path, the low-latency one and Mosquito.
    const auto steepest = [&](std::size_t from, std::size_t to) {
        float most = 0.0f;
        for (std::size_t i = from + 1; i < to; ++i)
            most = std::max(most, std::fabs(out[0][i] - out[0][i - 1]));
        return most;
    };
    const float steadyTrap = std::max(steepest(2400, 4700), steepest(7200, 9500));
    EXPECT_LT(steepest(1, 38000), 1.25f * steadyTrap) << "flipping Live";
    EXPECT_LT(steepest(38000, out[0].size()), 1.25f * std::max(steadyTrap, steepest(43200, 47900)))
        << "changing to a mode without a low-latency path";
}

struct ChainRun {
    Mode mode;
    float targetHz; // texture oscillator note
};

// Runs the block path and the reference over the same stereo input in chunks of varying length (one sample, a
// sub-block and one more, odd lengths, long ones) and counts the samples where they differ in any bit. Chunks of
// several modes in a row check that every state carries across mode changes as in the model.
int blockPathMismatches(const std::vector<ChainRun>& runs, const Channels& input)
{
    tolmar::ScopedFlushDenormals noDenormals;
    tolmar::VoiceChains chains;
    testing_support::VoiceChainsReference reference;
    chains.prepare(rate);
    reference.prepare(rate);
    const int chunkLengths[] = {1, 64, 65, 333, 512, 7, 2048, 129};
    const int total = static_cast<int>(input[0].size());
    std::vector<float> left(2048), right(2048), oscillator(2048);
    int mismatches = 0;
    int chunk = 0;
    for (int offset = 0; offset < total; ++chunk) {
        const ChainRun& run = runs[static_cast<std::size_t>(chunk) % runs.size()];
        const int length = std::min(chunkLengths[static_cast<std::size_t>(chunk) % 8], total - offset);
        chains.setProfile(run.mode);
        reference.setProfile(run.mode);
        const bool texture = tolmar::voiceProfile(run.mode).texture;
        if (texture)
            chains.oscillatorBlock(run.targetHz, oscillator.data(), length);
        std::copy_n(input[0].begin() + offset, length, left.begin());
        std::copy_n(input[1].begin() + offset, length, right.begin());
        float* block[2] = {left.data(), right.data()};
        chains.processChannels(block, length, texture ? oscillator.data() : nullptr);
        chains.advance(length);

        for (int i = 0; i < length; ++i) {
            const auto at = static_cast<std::size_t>(offset + i);
            float o = 0.0f;
            if (texture) {
                // The block oscillator uses a recurrence between exact anchors: within rounding of the model's.
                o = reference.oscillator(run.targetHz);
                EXPECT_NEAR(oscillator[static_cast<std::size_t>(i)], o, 1e-6f) << "sample " << at;
                o = oscillator[static_cast<std::size_t>(i)];
            }
            const float expectedLeft = reference.processSample(0, input[0][at], o);
            const float expectedRight = reference.processSample(1, input[1][at], o);
            reference.advance();
            const bool same = std::memcmp(&expectedLeft, &left[static_cast<std::size_t>(i)], sizeof(float)) == 0 &&
                              std::memcmp(&expectedRight, &right[static_cast<std::size_t>(i)], sizeof(float)) == 0;
            if (!same && mismatches++ == 0)
                ADD_FAILURE() << "first difference at sample " << at << " (mode " << static_cast<int>(run.mode)
                              << "): block " << left[static_cast<std::size_t>(i)] << ", "
                              << right[static_cast<std::size_t>(i)] << "; model " << expectedLeft << ", "
                              << expectedRight;
        }
        offset += length;
    }
    return mismatches;
}

TEST(VoiceChainsBlockPath, EqualsTheReferenceModelInEveryVoiceMode)
{
    // Half a second of a loud vowel (compressor, clippers and de-esser at work), breath noise, silence for the
    // tails, and faults to clean; longer than the echo line, so every line wraps inside chunks.
    const int total = 36000;
    Channels input = stereoTestSignal(total);
    for (std::size_t i = 0; i < input[0].size(); ++i) {
        const float swell = i < 12000 ? 3.0f : i < 24000 ? 0.2f : 0.0f;
        input[0][i] *= swell;
        input[1][i] *= swell * 0.7f;
    }
    input[0][100] = nan;
    input[1][5000] = inf;
    input[0][7000] = 20.0f;

    const std::vector<ChainRun> cases[] = {
        {{Mode::mosquito, 0.0f}},
        {{Mode::satanic, 0.0f}},
        {{Mode::trapDefault, 0.0f}},
        {{Mode::dizzyMosquito, 0.0f}},
        {{Mode::cumbia, 0.0f}},
        {{Mode::reggaeton, 0.0f}},
        {{Mode::ultraEdited, 440.0f}},
        {{Mode::ultraEdited, 0.0f}},
        // Every voice mode in turn, chunk after chunk.
        {{Mode::mosquito, 0.0f},
         {Mode::ultraEdited, 261.6f},
         {Mode::satanic, 0.0f},
         {Mode::trapDefault, 0.0f},
         {Mode::dizzyMosquito, 0.0f},
         {Mode::reggaeton, 0.0f},
         {Mode::cumbia, 0.0f}},
    };
    for (const auto& runs : cases) {
        SCOPED_TRACE(testing::Message() << "first mode " << static_cast<int>(runs[0].mode) << ", " << runs.size()
                                        << " mode(s)");
        EXPECT_EQ(blockPathMismatches(runs, input), 0);
    }
}

class VoiceChainsTest : public testing::Test {
protected:
    void SetUp() override
    {
        chains.prepare(rate);
        product.prepare(rate);
    }

    // Runs the whole chain on channel 0 over input, mode fixed.
    std::vector<float> run(Mode mode, const std::vector<float>& input)
    {
        chains.setProfile(mode);
        std::vector<float> out(input.size());
        for (std::size_t i = 0; i < input.size(); ++i) {
            const float o = chains.oscillator(0.0f);
            out[i] = chains.processSample(0, input[i], o);
            chains.processSample(1, input[i], o);
            chains.advance();
        }
        EXPECT_TRUE(allFiniteAndNormal(out.data(), out.size()));
        return out;
    }

    tolmar::ScopedFlushDenormals noDenormals;
    testing_support::VoiceChainsReference chains;
    tolmar::VoiceChains product;
};

TEST_F(VoiceChainsTest, LineLengthsAt48kHz)
{
    EXPECT_EQ(product.echoLength(), 24000);
    EXPECT_EQ(product.combLength(0, 0), 1425);
    EXPECT_EQ(product.combLength(1, 0), 1459);
    EXPECT_EQ(product.combLength(0, 2), 2107);
    EXPECT_EQ(product.allpassLength(0, 0), 240);
    EXPECT_EQ(product.allpassLength(1, 1), 364);
}

TEST_F(VoiceChainsTest, TrapDefaultEchoRepeatsEvery320MsAt028Then034)
{
    chains.setProfile(Mode::trapDefault);
    EXPECT_EQ(chains.echoDelay(), 15360);
    std::vector<float> out(50000);
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = chains.echo(0, i == 0 ? 1.0f : 0.0f);
        chains.advance();
    }
    EXPECT_EQ(out[0], 1.0f);
    EXPECT_NEAR(out[15360], 0.28f, 1e-7f);
    EXPECT_NEAR(out[30720], 0.28f * 0.34f, 1e-7f);
    EXPECT_NEAR(out[46080], 0.28f * 0.34f * 0.34f, 1e-7f);
    int others = 0;
    for (std::size_t i = 1; i < out.size(); ++i)
        others += i % 15360 != 0 && out[i] != 0.0f;
    EXPECT_EQ(others, 0);
}

TEST_F(VoiceChainsTest, SatanicEchoOfTheWholeChainIsAScaledCopy)
{
    // Small impulse: 115 ms echo (5520 samples) at 0.18, each repeat 0.21 of the one before; no ambience.
    std::vector<float> input(16000, 0.0f);
    input[0] = 1e-3f;
    const auto out = run(Mode::satanic, input);
    float direct = 0.0f;
    for (std::size_t k = 0; k < 300; ++k) {
        direct = std::max(direct, std::fabs(out[k]));
        EXPECT_NEAR(out[5520 + k], 0.18f * out[k], 1e-6f * std::fabs(out[k]) + 1e-12f);
        EXPECT_NEAR(out[11040 + k], 0.21f * out[5520 + k], 1e-6f * std::fabs(out[k]) + 1e-12f);
    }
    EXPECT_GT(direct, 2e-4f);
    EXPECT_LT(peakOf(out, 3000, 5500), 1e-3f * direct) << "nothing but the echo sounds after the direct part";
}

TEST_F(VoiceChainsTest, ReggaetonDoublesTheEchoLineAt12And16Ms)
{
    chains.setProfile(Mode::reggaeton);
    const auto echoAt = static_cast<std::size_t>(chains.echoDelay());
    EXPECT_NEAR(static_cast<double>(echoAt), 0.072 * rate, 1.0);
    std::vector<float> left(4400), right(4400);
    for (std::size_t i = 0; i < left.size(); ++i) {
        const float x = i == 0 ? 1.0f : 0.0f;
        left[i] = chains.doubleTap(0, chains.echo(0, x));
        right[i] = chains.doubleTap(1, chains.echo(1, x));
        chains.advance();
    }
    EXPECT_NEAR(left[576], 0.08f, 1e-7f);
    EXPECT_NEAR(right[768], 0.08f, 1e-7f);
    EXPECT_NEAR(left[echoAt], 0.22f, 1e-7f) << "72 ms echo";
    EXPECT_NEAR(left[echoAt + 576], 0.08f * 0.21f, 1e-7f) << "the tap also doubles the stored feedback";
    EXPECT_EQ(peakOf(left, 1, 576) + peakOf(left, 577, echoAt), 0.0f);
    EXPECT_EQ(peakOf(right, 1, 768) + peakOf(right, 769, echoAt), 0.0f);
}

TEST_F(VoiceChainsTest, UltraEditedTextureIsA7BitStaircase)
{
    EXPECT_EQ(chains.oscillator(0.0f), 0.0f);
    EXPECT_EQ(tolmar::quantize7Bit(0.5f / 128.0f), 1.0f / 128.0f) << "halves away from zero";
    EXPECT_EQ(tolmar::quantize7Bit(-0.5f / 128.0f), -1.0f / 128.0f);
    EXPECT_EQ(tolmar::quantize7Bit(0.49f / 128.0f), 0.0f);

    // Without a target note every value before the echo is a multiple of 1/128.
    chains.setProfile(Mode::ultraEdited);
    const auto input = noise(4000, 0.9f, 5);
    int offGrid = 0;
    for (float x : input) {
        float y = chains.bandFilter(0, x);
        chains.followEnvelope(0, y);
        y = chains.texture(0, chains.character(0, y), chains.oscillator(0.0f));
        offGrid += y * 128.0f != std::round(y * 128.0f);
    }
    EXPECT_EQ(offGrid, 0);

    // With one, the oscillator sounds the note within ±1.
    std::vector<float> tone(4800);
    product.oscillatorBlock(440.0f, tone.data(), 4800);
    EXPECT_LE(peakOf(tone), 1.0f);
    EXPECT_GT(peakOf(tone), 0.75f);
    EXPECT_NEAR(spectralPeakHz(tone.data(), 4800, 300.0, 600.0), 440.0, 0.5);
}

TEST_F(VoiceChainsTest, MosquitoPresenceIsFiveDecibelsAt2100Hz)
{
    // Small signals keep the saturation linear (0.65 x 3.2 = 2.08); the band filter is left out.
    chains.setProfile(Mode::mosquito);
    auto gainAt = [&](double hz) {
        chains.reset();
        const auto x = sine(hz, rate, 9600, 1e-3f);
        std::vector<float> y(x.size());
        for (std::size_t i = 0; i < x.size(); ++i)
            y[i] = chains.character(0, x[i]) / 2.08f;
        return testing_support::rms(y.data() + 4800, 4800) / testing_support::rms(x.data() + 4800, 4800);
    };
    EXPECT_NEAR(20.0 * std::log10(gainAt(2100.0)), 5.0, 0.05);
    EXPECT_NEAR(20.0 * std::log10(gainAt(50.0)), 0.0, 0.05);
}

TEST_F(VoiceChainsTest, CompressorGain)
{
    EXPECT_NEAR(tolmar::compressorGain(0.5f, 0.18f, 0.75f), 0.465f, 0.001f);
    EXPECT_EQ(tolmar::compressorGain(0.18f, 0.18f, 0.75f), 1.0f);
    EXPECT_EQ(tolmar::compressorGain(0.01f, 0.18f, 0.75f), 1.0f);
    EXPECT_EQ(tolmar::compressorGain(0.0f, 0.12f, 0.875f), 1.0f);
}

TEST_F(VoiceChainsTest, SoftClippersHoldTheirCeilings)
{
    // A full-scale burst after silence: the envelope is still low, so the clippers are driven hard.
    const std::pair<Mode, float> cases[] = {
        {Mode::mosquito, 0.65f},         {Mode::satanic, 0.7f},       {Mode::trapDefault, 1.0f / 1.15f},
        {Mode::cumbia, 1.0f / 1.05f},    {Mode::reggaeton, 1.0f / 1.3f}, {Mode::ultraEdited, 1.0f / 2.4f},
    };
    for (const auto& [mode, ceiling] : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << static_cast<int>(mode));
        chains.reset();
        chains.setProfile(mode);
        auto burst = sine(1500.0, rate, 2000, 8.0f);
        burst.insert(burst.begin(), 200, 0.0f);
        float peak = 0.0f;
        for (float x : burst) {
            float y = chains.bandFilter(0, x);
            chains.followEnvelope(0, y);
            peak = std::max(peak, std::fabs(chains.character(0, y)));
        }
        EXPECT_LE(peak, ceiling);
        EXPECT_GT(peak, 0.98f * ceiling);
    }
}

TEST_F(VoiceChainsTest, MosquitoAndDizzyFillTheirLinesWithoutSoundingThem)
{
    for (Mode mode : {Mode::mosquito, Mode::dizzyMosquito}) {
        SCOPED_TRACE(testing::Message() << "mode " << static_cast<int>(mode));
        chains.reset();
        std::vector<float> input(6000, 0.0f);
        input[0] = 0.5f;
        const auto quiet = run(mode, input);
        EXPECT_GT(peakOf(quiet, 0, 100), 0.01f);
        EXPECT_LT(peakOf(quiet, 2000), 1e-9f) << "no echo, no ambience";

        // The tails were stored all along: a tuned mode now sounds the ambience at once and the echo at 320 ms.
        const auto tail = run(Mode::trapDefault, std::vector<float>(12000, 0.0f));
        EXPECT_GT(peakOf(tail, 0, 1000), 1e-4f);
        EXPECT_GT(peakOf(tail, 15360 - 6000 - 50, 15360 - 6000 + 50), 0.02f);
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Mastering

TEST(EngineMastering, SilenceStaysSilenceWithUnityGain)
{
    Engine engine;
    engine.prepare(rate, 512);
    const Channels out = render(engine, Channels(2, std::vector<float>(10000, 0.0f)), 512, settingsFor(Mode::master));
    EXPECT_EQ(peakOf(out[0]) + peakOf(out[1]), 0.0f);

    tolmar::Mastering mastering;
    mastering.prepare(2048, rate);
    EXPECT_EQ(mastering.lookaheadSamples(), 240);
    for (int i = 0; i < 5000; ++i) {
        const auto y = mastering.process(0.0f, 0.0f);
        ASSERT_EQ(y.left, 0.0f);
        ASSERT_EQ(y.right, 0.0f);
    }
    EXPECT_EQ(mastering.limiterGain(), 1.0f);
}

TEST(EngineMastering, FullScaleSineLeavesAtTheCeiling)
{
    Engine engine;
    engine.prepare(rate, 512);
    const auto tone = sine(1000.0, rate, 96000, 1.0f);
    const Channels out = render(engine, {tone, tone}, 512, settingsFor(Mode::master));
    ASSERT_TRUE(allFinite(out));
    const float peak = peakOf(out[0], 48000);
    EXPECT_LE(peak, tolmar::Mastering::ceiling);
    EXPECT_GT(peak, 0.995f * tolmar::Mastering::ceiling);
}

TEST(EngineMastering, LimiterNeverExceedsTheCeilingBeforeTheSafetyClamp)
{
    // A hot, uneven mix with isolated spikes and runs of equal peaks.
    tolmar::ScopedFlushDenormals noDenormals;
    tolmar::Mastering mastering;
    mastering.prepare(2048, rate);
    auto left = noise(96000, 1.5f, 11);
    auto right = noise(96000, 0.6f, 12);
    const auto tone = sine(80.0, rate, 96000, 2.0f);
    for (std::size_t i = 0; i < left.size(); ++i) {
        left[i] += tone[i];
        if (i % 3001 == 0)
            right[i] = 7.5f;
        if (i % 5003 < 20)
            left[i] = -6.0f;
    }
    float worst = 0.0f;
    float smallestGain = 1.0f;
    for (std::size_t i = 0; i < left.size(); ++i) {
        const auto y = mastering.process(left[i], right[i]);
        worst = std::max({worst, std::fabs(y.left), std::fabs(y.right)});
        smallestGain = std::min(smallestGain, mastering.limiterGain());
    }
    EXPECT_LE(worst, tolmar::Mastering::ceiling * (1.0f + 1e-6f));
    EXPECT_GT(worst, 0.99f * tolmar::Mastering::ceiling);
    EXPECT_LT(smallestGain, 0.2f);
}

TEST(EngineMastering, LoneSpikeIsMetExactlyOneLookaheadEarly)
{
    // A quiet tone (below the compressor threshold) with one spike, against the same tone without it.
    Engine withSpike;
    Engine reference;
    withSpike.prepare(rate, 512);
    reference.prepare(rate, 512);
    const int latency = withSpike.latency();
    const int lookahead = 240;
    const auto tone = sine(700.0, rate, 12000, 0.05f);
    auto spiked = tone;
    const int spikeAt = 6000;
    spiked[spikeAt] = 1.0f;
    const Channels out = render(withSpike, {spiked, spiked}, 512, settingsFor(Mode::master));
    const Channels ref = render(reference, {tone, tone}, 512, settingsFor(Mode::master));
    ASSERT_TRUE(allFinite(out));

    const auto at = static_cast<std::size_t>(spikeAt + latency);
    EXPECT_NEAR(out[0][at], tolmar::Mastering::ceiling, 1e-6f);
    const double gain = out[0][at - 1] / ref[0][at - 1];
    EXPECT_LT(gain, 0.85);
    for (int k = 1; k <= lookahead; ++k) {
        const auto i = at - static_cast<std::size_t>(k);
        if (std::fabs(ref[0][i]) > 1e-3f) {
            EXPECT_NEAR(out[0][i] / ref[0][i], gain, 1e-4) << k << " samples before the spike";
        }
    }
    for (int k = lookahead + 1; k <= lookahead + 400; ++k)
        EXPECT_EQ(out[0][at - static_cast<std::size_t>(k)], ref[0][at - static_cast<std::size_t>(k)]);
    // Afterwards the gain recovers smoothly.
    std::size_t after = at + 2000;
    while (std::fabs(ref[0][after]) < 0.02f)
        ++after;
    const double later = out[0][after] / ref[0][after];
    EXPECT_GT(later, gain);
    EXPECT_LT(later, 1.0);
}

} // namespace
