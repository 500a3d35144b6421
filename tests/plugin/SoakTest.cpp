// A long session in one go: every mode, with automation switching mode, bypass and tuning source every
// few hundred milliseconds, a beat on the side-chain and re-analyses along the way.
#include "ProcessorFixture.h"

#include "ModeRule.h"
#include "Signals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

constexpr double sampleRate = 48000.0;

// A sample position in seconds, for failure messages.
double secondsAt(long sample) { return static_cast<double>(sample) / sampleRate; }
constexpr int blockSize = 512;

// Ten minutes by default; the sanitizer builds shorten it with TOLMAR_SOAK_SECONDS.
int soakSeconds()
{
    if (const char* text = std::getenv("TOLMAR_SOAK_SECONDS"))
        return std::max(10, std::atoi(text));
    return 600;
}

// A sung-like line: a note every half second from A minor, with vibrato, breaths of silence between phrases.
struct Voice {
    float next()
    {
        const double t = static_cast<double>(sample++) / sampleRate;
        const int note = notes[static_cast<std::size_t>(t / 0.5) % notes.size()];
        const bool breath = std::fmod(t, 4.0) > 3.6;
        const double hz = 440.0 * std::pow(2.0, (note - 69 + 0.3 * std::sin(6.0 * 6.283 * t) / 12.0 * 12.0) / 12.0);
        phase += hz / sampleRate;
        phase -= std::floor(phase);
        double value = 0.0;
        for (int k = 1; k <= 8; ++k)
            value += std::sin(6.283185307179586 * k * phase) / k;
        level += ((breath ? 0.0 : 0.25) - level) * 0.002;
        return static_cast<float>(level * value);
    }
    std::vector<int> notes{57, 60, 62, 64, 65, 64, 62, 60, 59, 57, 64, 67};
    long sample = 0;
    double phase = 0.0;
    double level = 0.0;
};

// A beat in A minor: kick on every beat, Am-F-C-G triads as stabs, at 96 bpm.
struct Beat {
    float next()
    {
        const double t = static_cast<double>(sample++) / sampleRate;
        const double beatLength = 60.0 / 96.0;
        const double inBeat = std::fmod(t, beatLength);
        const int bar = static_cast<int>(t / (4 * beatLength)) % 4;
        static const int chords[4][3] = {{57, 60, 64}, {53, 57, 60}, {48, 52, 55}, {55, 59, 62}};
        double value = 0.6 * std::exp(-inBeat * 30.0) * std::sin(6.283 * 55.0 * inBeat);
        const double envelope = std::exp(-inBeat * 4.0);
        for (const int note : chords[bar])
            value += 0.12 * envelope * std::sin(6.283185307179586 * 440.0 * std::pow(2.0, (note - 69) / 12.0) * t);
        return static_cast<float>(value);
    }
    long sample = 0;
};

struct Switch {
    long sample;
    bool involvesMastering;
    bool modeChanged;
};

} // namespace

TEST(Soak, TenMinutesOfAutomationStaySafeSmoothAndDecideOncePerAnalysis)
{
    PreparedProcessor host(sampleRate, blockSize);
    const int channels = host.totalChannels();
    ASSERT_EQ(channels, 4);
    const long totalSamples = static_cast<long>(soakSeconds() * sampleRate);
    const long reanalysisEvery = static_cast<long>(40 * sampleRate);

    std::mt19937 random(2024);
    Voice voice;
    Beat beat;
    juce::AudioBuffer<float> buffer(channels, blockSize);
    std::vector<float> output(static_cast<std::size_t>(totalSamples), 0.0f);
    std::vector<Switch> switches;

    int mode = 2;
    host.set("effect", 2.0f);
    long nextEvent = static_cast<long>(0.3 * sampleRate);
    int decisionsThisAnalysis = 0;
    int previousStage = 0;
    int analysesThatDecided = 0;
    int analyses = 1;

    for (long start = 0; start < totalSamples; start += blockSize) {
        if (start >= nextEvent) {
            const int previousMode = mode;
            const int what = std::uniform_int_distribution<int>(0, 9)(random);
            if (what < 5)
                mode = std::uniform_int_distribution<int>(0, 7)(random);
            else if (what < 8)
                host.set("bypass", host.raw("bypass") > 0.5f ? 0.0f : 1.0f);
            else
                host.set("tuningSource", host.raw("tuningSource") > 0.5f ? 0.0f : 1.0f);
            testing_support::setModeRow(host, mode);
            switches.push_back({start, (previousMode == 7) != (mode == 7), previousMode != mode});
            nextEvent = start + static_cast<long>(std::uniform_real_distribution<double>(0.2, 0.5)(random) * sampleRate);
        }
        if (start > 0 && start % reanalysisEvery < blockSize) {
            EXPECT_LE(decisionsThisAnalysis, 1) << "analysis ending at " << secondsAt(start) << " s";
            analysesThatDecided += decisionsThisAnalysis;
            decisionsThisAnalysis = 0;
            ++analyses;
            host.processor->reanalyzeBeat();
            previousStage = 0;
        }

        for (int i = 0; i < blockSize; ++i) {
            const float v = voice.next();
            const float b = beat.next();
            buffer.setSample(0, i, v);
            buffer.setSample(1, i, v);
            buffer.setSample(2, i, b);
            buffer.setSample(3, i, b);
        }
        host.run(buffer);

        for (int channel = 0; channel < 2; ++channel) {
            ASSERT_TRUE(testing_support::allFiniteAndNormal(buffer.getReadPointer(channel), blockSize))
                << "at " << secondsAt(start) << " s";
            ASSERT_LE(buffer.getMagnitude(channel, 0, blockSize), 0.97f) << "at " << secondsAt(start) << " s";
        }
        const long count = std::min<long>(blockSize, totalSamples - start);
        std::copy(buffer.getReadPointer(0), buffer.getReadPointer(0) + count, output.begin() + start);

        const int stage = host.processor->beatStage.load();
        ASSERT_GE(stage, 0);
        ASSERT_LE(stage, 3);
        const int key = host.processor->beatKey.load();
        ASSERT_TRUE(key >= -1 && key <= 23);
        const float progress = host.processor->beatProgress.load();
        ASSERT_TRUE(progress >= 0.0f && progress <= 1.0f);
        if (previousStage < 2 && stage >= 2)
            ++decisionsThisAnalysis;
        previousStage = stage;
    }
    EXPECT_LE(decisionsThisAnalysis, 1);
    analysesThatDecided += decisionsThisAnalysis;
    // The beat is fed about half of the time (tuned modes following the beat): most analyses get their
    // eight seconds and decide.
    EXPECT_GE(analysesThatDecided * 2, analyses);

    // A click is an isolated spike of the second difference: a loud but smooth waveform changes its curvature
    // gradually, a discontinuity does so in one sample. The whole output is scanned, bypass and tuning-source
    // switches included. A mode change swaps the effect chain at once by design (and entering or leaving
    // mastering starts from silence), so the latency plus a block after each mode change is left out.
    std::vector<bool> excluded(output.size(), false);
    for (const auto& s : switches)
        if (s.modeChanged)
            for (long n = s.sample; n < std::min<long>(totalSamples, s.sample + 2048 + 2 * blockSize); ++n)
                excluded[static_cast<std::size_t>(n)] = true;
    const auto curvature = [&output](long n) {
        const auto at = [&output](long i) { return output[static_cast<std::size_t>(i)]; };
        return at(n) - 2.0f * at(n - 1) + at(n - 2);
    };
    int checked = 0;
    for (long n = 4096; n + 32 < totalSamples; ++n) {
        if (excluded[static_cast<std::size_t>(n)])
            continue;
        double energy = 0.0;
        for (long k = n - 32; k < n + 32; ++k)
            energy += static_cast<double>(curvature(k)) * curvature(k);
        const double localRms = std::sqrt(energy / 64.0);
        ASSERT_LE(std::abs(curvature(n)), 6.0 * localRms + 0.03) << "click at " << secondsAt(n) << " s";
        ++checked;
    }
    EXPECT_GT(checked, 0);
}
