#include "dsp/KeyAnalyzer.h"

#include "AllocationCounter.h"
#include "Signals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

namespace {

using testing_support::twoPi;
using tolmar::KeyAnalyzer;

double midiToHz(int note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); }

// A beat in `key` (0..11 minor, 12..23 major): the chords I IV I V (i iv i v in natural minor), one per
// second, stabbed on every beat at 120 bpm with a decaying envelope; a bass on the chord root, a 50 Hz kick
// and a noise hat on the off-beat. The last 60 ms of every beat are digital silence.
std::vector<float> renderBeat(int key, double rate, double seconds)
{
    const int tonic = key % 12;
    const bool major = key >= 12;
    const int chords[4][3] = {{0, major ? 4 : 3, 7}, {5, major ? 9 : 8, 12}, {0, major ? 4 : 3, 7},
                              {7, major ? 11 : 10, 14}};
    const auto length = static_cast<std::size_t>(seconds * rate);
    const auto perBeat = static_cast<std::size_t>(0.5 * rate);

    // Envelope, kick and hat repeat every beat.
    std::vector<double> envelope(perBeat), drums(perBeat);
    std::uint32_t noiseState = 7;
    for (std::size_t i = 0; i < perBeat; ++i) {
        const double tb = static_cast<double>(i) / rate;
        noiseState ^= noiseState << 13;
        noiseState ^= noiseState >> 17;
        noiseState ^= noiseState << 5;
        const bool gap = tb >= 0.44;
        envelope[i] = gap ? 0.0 : std::exp(-tb / 0.25);
        drums[i] = gap ? 0.0 : 0.4 * std::exp(-tb / 0.06) * std::sin(twoPi * 50.0 * tb);
        if (!gap && tb >= 0.25)
            drums[i] += 0.03 * std::exp(-(tb - 0.25) / 0.01) * (noiseState / 2147483648.0 - 1.0);
    }

    std::vector<double> mix(length, 0.0);
    for (std::size_t i = 0; i < length; ++i)
        mix[i] = drums[i % perBeat];
    // One chord per two beats; each partial is a rotating phasor, started in phase with sin(2 pi f t).
    for (std::size_t start = 0, segment = 0; start < length; start += 2 * perBeat, ++segment) {
        const auto& chord = chords[segment % 4];
        std::vector<std::pair<double, double>> partials;
        for (const int interval : chord)
            for (int h = 1; h <= 3; ++h)
                partials.emplace_back(h * midiToHz(60 + tonic + interval), 0.08 / h);
        const double bass = midiToHz(48 + tonic + chord[0]);
        partials.emplace_back(bass, 0.15);
        partials.emplace_back(2.0 * bass, 0.05);

        const std::size_t end = std::min(length, start + 2 * perBeat);
        for (const auto& [frequency, amplitude] : partials) {
            const double step = twoPi * frequency / rate;
            double re = std::cos(step * static_cast<double>(start));
            double im = std::sin(step * static_cast<double>(start));
            const double c = std::cos(step);
            const double sn = std::sin(step);
            for (std::size_t i = start; i < end; ++i) {
                mix[i] += amplitude * envelope[i % perBeat] * im;
                const double nextRe = re * c - im * sn;
                im = re * sn + im * c;
                re = nextRe;
            }
        }
    }
    return std::vector<float>(mix.begin(), mix.end());
}

// Beats are costly to render; each (key, rate, length) is made once per test run.
const std::vector<float>& beat(int key, double rate, double seconds = 9.0)
{
    static std::map<std::tuple<int, double, double>, std::vector<float>> cache;
    auto& entry = cache[{key, rate, seconds}];
    if (entry.empty())
        entry = renderBeat(key, rate, seconds);
    return entry;
}

// What a run through the analyser showed, block by block.
struct Trace {
    long long analysingAt = -1; // input samples consumed when the stage first read 1
    long long decidedAt = -1;   // input samples consumed when the stage first read 2 or 3
    bool stagesInOrder = true;  // 0 -> 1 -> 2 or 3, never back
    bool progressValid = true;  // finite, in [0, 1], never falling, 0 while waiting, 1 exactly once decided
};

// Feeds `channels` (all of equal length) in blocks whose sizes cycle through `blockSizes`.
Trace feed(KeyAnalyzer& analyzer, const std::vector<const float*>& channels, std::size_t length,
           const std::vector<int>& blockSizes = {512})
{
    Trace trace;
    int lastStage = analyzer.stage();
    float lastProgress = analyzer.progress();
    std::size_t position = 0;
    std::size_t blockIndex = 0;
    std::vector<const float*> pointers(channels.size());
    while (position < length) {
        const auto size = std::min<std::size_t>(static_cast<std::size_t>(blockSizes[blockIndex++ % blockSizes.size()]),
                                                length - position);
        for (std::size_t c = 0; c < channels.size(); ++c)
            pointers[c] = channels[c] + position;
        analyzer.process(pointers.data(), static_cast<int>(channels.size()), static_cast<int>(size));
        position += size;

        const int stage = analyzer.stage();
        const float progress = analyzer.progress();
        if (stage < lastStage || (lastStage == 0 && stage >= 2) || (lastStage >= 2 && stage != lastStage))
            trace.stagesInOrder = false;
        if (!std::isfinite(progress) || progress < lastProgress || progress > 1.0f || (stage == 0 && progress != 0.0f)
            || ((progress == 1.0f) != (stage >= 2)))
            trace.progressValid = false;
        if (stage >= 1 && trace.analysingAt < 0)
            trace.analysingAt = static_cast<long long>(position);
        if (stage >= 2 && trace.decidedAt < 0)
            trace.decidedAt = static_cast<long long>(position);
        lastStage = stage;
        lastProgress = progress;
    }
    return trace;
}

Trace feedMono(KeyAnalyzer& analyzer, const std::vector<float>& signal, const std::vector<int>& blockSizes = {512})
{
    return feed(analyzer, {signal.data()}, signal.size(), blockSizes);
}

int decimationFor(double rate) { return std::max(1, static_cast<int>(rate / 12000.0)); }

// Input samples until the first frame (4096 decimated samples), and until the decision on a beat without
// silent frames: ceil(8 s of decimated samples / 1024) frames, one every 1024 decimated samples.
long long firstFrameAt(double rate) { return 4096LL * decimationFor(rate); }
long long decisionAt(double rate)
{
    const int decimation = decimationFor(rate);
    const auto frames = static_cast<long long>(std::ceil(8.0 * rate / decimation / 1024.0));
    return (4096LL + (frames - 1) * 1024LL) * decimation;
}

void expectFresh(const KeyAnalyzer& analyzer)
{
    EXPECT_EQ(analyzer.stage(), 0);
    EXPECT_EQ(analyzer.result().key, -1);
    EXPECT_EQ(analyzer.result().score, 0.0f);
    EXPECT_EQ(analyzer.progress(), 0.0f);
}

void expectFixed(const KeyAnalyzer& analyzer, int key)
{
    EXPECT_EQ(analyzer.stage(), 3);
    EXPECT_EQ(analyzer.result().key, key);
    EXPECT_EQ(analyzer.result().score, 0.0f);
    EXPECT_EQ(analyzer.progress(), 0.0f);
}

TEST(KeyAnalyzer, PrepareRejectsUnsupportedRatesAndChangesNothing)
{
    const double rates[] = {7999.0, 384001.0, 0.0, -48000.0, std::numeric_limits<double>::quiet_NaN(),
                            std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
    KeyAnalyzer analyzer;
    analyzer.prepare(48000.0);
    analyzer.restore(5);
    for (const double rate : rates) {
        try {
            analyzer.prepare(rate);
            ADD_FAILURE() << "no exception at " << rate;
        } catch (const std::invalid_argument& error) {
            EXPECT_EQ(std::string(error.what()), "Unsupported key-analysis sample rate") << rate;
        }
        expectFixed(analyzer, 5);
    }

    // A failed first prepare leaves the analyser unprepared: input is still ignored.
    KeyAnalyzer fresh;
    EXPECT_THROW(fresh.prepare(7999.0), std::invalid_argument);
    EXPECT_EQ(feedMono(fresh, beat(12, 48000.0)).analysingAt, -1);
    expectFresh(fresh);
}

TEST(KeyAnalyzer, DecimationFollowsTheRateAtTheLimitsAndBetween)
{
    // The first frame needs 4096 decimated samples; decimation is rate / 12000 truncated, at least 1.
    const std::pair<double, long long> cases[] = {{8000.0, 4096},   {22050.0, 4096},  {44100.0, 12288},
                                                  {48000.0, 16384}, {96000.0, 32768}, {384000.0, 131072}};
    for (const auto& [rate, expected] : cases) {
        KeyAnalyzer analyzer;
        analyzer.prepare(rate);
        // Up to just before the second frame: exactly one frame analysed.
        const auto tone = testing_support::sine(440.0, rate, static_cast<int>(expected) + 1023 * decimationFor(rate));
        const auto trace = feedMono(analyzer, tone, {1});
        EXPECT_EQ(trace.analysingAt, expected) << rate;
        EXPECT_NEAR(analyzer.progress(), 1024.0 / (8.0 * rate / decimationFor(rate)), 1e-7) << rate;
    }
}

TEST(KeyAnalyzer, UnpreparedIgnoresInput)
{
    KeyAnalyzer analyzer;
    expectFresh(analyzer);
    const auto trace = feedMono(analyzer, beat(12, 48000.0));
    EXPECT_EQ(trace.analysingAt, -1);
    expectFresh(analyzer);
}

struct BeatCase {
    int key;
    double rate;
    int channels;
};

class KeyAnalyzerBeats : public ::testing::TestWithParam<BeatCase> {};

TEST_P(KeyAnalyzerBeats, FindsTheKeyOnThePredictedFrame)
{
    const auto& c = GetParam();
    const auto& signal = beat(c.key, c.rate);
    // The second channel carries the same music at a different balance.
    std::vector<float> right(signal.size());
    for (std::size_t i = 0; i < signal.size(); ++i)
        right[i] = 0.6f * signal[i];
    std::vector<const float*> channels{signal.data()};
    if (c.channels == 2)
        channels.push_back(right.data());

    KeyAnalyzer analyzer;
    analyzer.prepare(c.rate);
    const auto trace = feed(analyzer, channels, signal.size(), {1});

    EXPECT_EQ(analyzer.result().key, c.key);
    EXPECT_EQ(analyzer.stage(), 3);
    EXPECT_GE(analyzer.result().score, 0.6f);
    EXPECT_LE(analyzer.result().score, 1.0f);
    EXPECT_EQ(analyzer.progress(), 1.0f);
    EXPECT_EQ(trace.analysingAt, firstFrameAt(c.rate));
    EXPECT_EQ(trace.decidedAt, decisionAt(c.rate));
    EXPECT_TRUE(trace.stagesInOrder);
    EXPECT_TRUE(trace.progressValid);
}

INSTANTIATE_TEST_SUITE_P(Rates, KeyAnalyzerBeats,
                         ::testing::Values(BeatCase{9, 44100.0, 1}, BeatCase{19, 44100.0, 2}, BeatCase{2, 48000.0, 2},
                                           BeatCase{15, 48000.0, 1}, BeatCase{11, 96000.0, 2},
                                           BeatCase{12, 96000.0, 1},
                                           // Eight seconds are exactly 128 frames here: the decision is on the 128th.
                                           BeatCase{22, 16384.0, 1}),
                         [](const ::testing::TestParamInfo<BeatCase>& caseInfo) {
                             const auto& c = caseInfo.param;
                             return "Key" + std::to_string(c.key) + "At" + std::to_string(static_cast<int>(c.rate))
                                    + (c.channels == 1 ? "Mono" : "Stereo");
                         });

TEST(KeyAnalyzer, FindsEveryMajorAndMinorKey)
{
    // 12 kHz analyses without decimation, which keeps 24 beats cheap.
    for (int key = 0; key < 24; ++key) {
        KeyAnalyzer analyzer;
        analyzer.prepare(12000.0);
        feedMono(analyzer, beat(key, 12000.0));
        EXPECT_EQ(analyzer.result().key, key);
        EXPECT_EQ(analyzer.stage(), 3) << key;
    }
}

TEST(KeyAnalyzer, PeaksArePlacedBetweenBins)
{
    // At 23999 Hz there is no decimation and a bin is 5.86 Hz, about a semitone near 100 Hz. G#2 and C3 played
    // about 27 cents flat sit closest to bins that read G and C#; only the parabolic peak position gives back
    // G#, C and D#: A-flat major.
    constexpr double rate = 23999.0;
    constexpr int length = 9 * 23999;
    const auto gSharp = testing_support::sine(102.2, rate, length, 0.3f);
    const auto c = testing_support::sine(132.5, rate, length, 0.3f);
    const auto dSharp = testing_support::sine(midiToHz(51), rate, length, 0.3f);
    std::vector<float> chord(static_cast<std::size_t>(length));
    for (std::size_t i = 0; i < chord.size(); ++i)
        chord[i] = gSharp[i] + c[i] + dSharp[i];

    KeyAnalyzer analyzer;
    analyzer.prepare(rate);
    feedMono(analyzer, chord);
    EXPECT_EQ(analyzer.stage(), 3);
    EXPECT_EQ(analyzer.result().key, 20);
}

TEST(KeyAnalyzer, EveryFrameCountsTheSameWhateverItsLoudness)
{
    // A second and a half of a loud A, then an A minor beat some 50 dB quieter. Summed by loudness the A would
    // hold nearly all of the profile (no clear key); as one profile per frame the beat decides.
    constexpr double rate = 24000.0;
    const auto& music = beat(9, rate);
    const auto tone = testing_support::sine(220.0, rate, static_cast<int>(1.5 * rate), 4.0f);
    std::vector<float> signal(tone);
    for (std::size_t i = tone.size(); i < music.size(); ++i)
        signal.push_back(0.01f * music[i]);

    KeyAnalyzer analyzer;
    analyzer.prepare(rate);
    feedMono(analyzer, signal);
    EXPECT_EQ(analyzer.stage(), 3);
    EXPECT_EQ(analyzer.result().key, 9);
}

TEST(KeyAnalyzer, QuietNotesAreCompressedNotDropped)
{
    // E3 at 15 % of the level of A4 and C5, each tone centred on a bin at 12 kHz. Counted by magnitude the E
    // stays below 18 % of the strongest pitch class and the profile is too thin for a key; with magnitudes
    // compressed for the note search and the notes' votes compressed again, it weighs nearly as much as A and
    // C: A minor.
    constexpr double rate = 12000.0;
    constexpr int length = 9 * 12000;
    const auto binHz = [](int bin) { return bin * rate / 4096.0; };
    const auto e = testing_support::sine(binHz(56), rate, length, 0.045f);
    const auto a = testing_support::sine(binHz(150), rate, length, 0.3f);
    const auto c = testing_support::sine(binHz(179), rate, length, 0.3f);
    std::vector<float> chord(static_cast<std::size_t>(length));
    for (std::size_t i = 0; i < chord.size(); ++i)
        chord[i] = e[i] + a[i] + c[i];

    KeyAnalyzer analyzer;
    analyzer.prepare(rate);
    feedMono(analyzer, chord);
    EXPECT_EQ(analyzer.stage(), 3);
    EXPECT_EQ(analyzer.result().key, 9);
}

TEST(KeyAnalyzer, TheFortyEightKilohertzTimeline)
{
    // Stereo, continuous beat: analysing after 16384 input samples, decided on the 94th frame at sample 397312.
    const auto& signal = beat(7, 48000.0);
    KeyAnalyzer analyzer;
    analyzer.prepare(48000.0);
    const auto trace = feed(analyzer, {signal.data(), signal.data()}, signal.size(), {1});
    EXPECT_EQ(trace.analysingAt, 16384);
    EXPECT_EQ(trace.decidedAt, 397312);
    EXPECT_EQ(analyzer.result().key, 7);
}

TEST(KeyAnalyzer, SustainedSineEndsWithoutKey)
{
    const auto tone = testing_support::sine(440.0, 48000.0, 9 * 48000);
    KeyAnalyzer analyzer;
    analyzer.prepare(48000.0);
    const auto trace = feedMono(analyzer, tone);
    EXPECT_EQ(analyzer.stage(), 2);
    EXPECT_EQ(analyzer.result().key, -1);
    EXPECT_EQ(analyzer.result().score, 0.0f);
    EXPECT_EQ(analyzer.progress(), 1.0f);
    EXPECT_EQ(trace.decidedAt, decisionAt(48000.0));
    EXPECT_TRUE(trace.stagesInOrder);
    EXPECT_TRUE(trace.progressValid);
}

TEST(KeyAnalyzer, SilenceNeverStartsTheAnalysis)
{
    constexpr double rate = 24000.0;
    constexpr int length = 10 * 24000;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        const char* name;
        std::vector<float> signal;
        bool heard;
    };
    std::vector<Case> cases{
        {"digital silence", std::vector<float>(length, 0.0f), false},
        // Mean square 8.4e-9, just under the 1e-8 gate (about -80 dBFS), per channel and so also in stereo.
        {"sine just under the gate", testing_support::sine(440.0, rate, length, 1.3e-4f), false},
        {"not-a-number", std::vector<float>(length, nan), false},
        {"infinities", std::vector<float>(length, inf), false},
        // Mean square 1.1e-8, just over it: heard.
        {"sine just over the gate", testing_support::sine(440.0, rate, length, 1.5e-4f), true},
    };
    for (std::size_t i = 0; i < length; i += 2)
        cases[3].signal[i] = -inf;

    for (const auto& c : cases)
        for (const int channels : {1, 2}) {
            KeyAnalyzer analyzer;
            analyzer.prepare(rate);
            feed(analyzer, std::vector<const float*>(static_cast<std::size_t>(channels), c.signal.data()), length);
            EXPECT_EQ(analyzer.stage() > 0, c.heard) << c.name << ", channels " << channels;
            EXPECT_EQ(analyzer.progress() > 0.0f, c.heard) << c.name << ", channels " << channels;
        }
}

TEST(KeyAnalyzer, ABeatThatStopsHoldsItsProgress)
{
    constexpr double rate = 24000.0;
    const auto& music = beat(16, rate, 12.0);
    // Four seconds of beat, three of silence, then the beat again from where it stopped.
    const auto pause = static_cast<std::size_t>(4 * rate);
    const auto gap = static_cast<std::size_t>(3 * rate);
    std::vector<float> signal(music.begin(), music.begin() + static_cast<std::ptrdiff_t>(pause));
    signal.resize(pause + gap, 0.0f);
    signal.insert(signal.end(), music.begin() + static_cast<std::ptrdiff_t>(pause), music.end());

    KeyAnalyzer analyzer;
    analyzer.prepare(rate);
    const float* data = signal.data();
    // Once the last window holding beat has passed (4096 decimated samples), nothing moves.
    const auto settled = pause + 2 * 4096 + 1024;
    feed(analyzer, {data}, settled);
    const float held = analyzer.progress();
    EXPECT_EQ(analyzer.stage(), 1);
    EXPECT_GT(held, 0.3f);
    EXPECT_LT(held, 0.7f);
    feed(analyzer, {data + settled}, pause + gap - settled);
    EXPECT_EQ(analyzer.stage(), 1);
    EXPECT_EQ(analyzer.progress(), held);

    const auto trace = feed(analyzer, {data + pause + gap}, signal.size() - pause - gap);
    EXPECT_EQ(analyzer.result().key, 16);
    EXPECT_EQ(analyzer.stage(), 3);
    // The silent frames did not count: the decision comes about three seconds later than without the gap.
    ASSERT_GE(trace.decidedAt, 0);
    const auto decidedAt = static_cast<long long>(pause + gap) + trace.decidedAt;
    EXPECT_GT(decidedAt, decisionAt(rate) + static_cast<long long>(2.5 * rate));
    EXPECT_TRUE(trace.stagesInOrder);
    EXPECT_TRUE(trace.progressValid);
}

TEST(KeyAnalyzer, RestoreFixesAKeyOrStartsAgain)
{
    const auto& signal = beat(21, 48000.0);
    KeyAnalyzer analyzer;
    analyzer.prepare(48000.0);

    analyzer.restore(5);
    expectFixed(analyzer, 5);
    feedMono(analyzer, signal); // a fixed key ignores input
    expectFixed(analyzer, 5);

    for (const int request : {-1, 24, -5, 1000}) {
        analyzer.restore(5);
        analyzer.restore(request);
        expectFresh(analyzer);
    }
    analyzer.restore(0);
    expectFixed(analyzer, 0);
    analyzer.restore(23);
    expectFixed(analyzer, 23);

    // Starting again mid-way, even between two decimated samples, is as good as new.
    KeyAnalyzer fresh;
    fresh.prepare(48000.0);
    const auto reference = feedMono(fresh, signal, {333});
    analyzer.restore(-1);
    feed(analyzer, {signal.data()}, 50001);
    ASSERT_EQ(analyzer.stage(), 1);
    analyzer.restore(-1);
    expectFresh(analyzer);
    EXPECT_EQ(feedMono(analyzer, signal, {333}).decidedAt, reference.decidedAt);
    EXPECT_EQ(analyzer.result().score, fresh.result().score);
    EXPECT_EQ(analyzer.result().key, 21);

    // After a decision, starting again gives the same decision at the same point.
    analyzer.restore(-1);
    const auto first = feedMono(analyzer, signal, {333});
    const auto decided = analyzer.result();
    ASSERT_EQ(decided.key, 21);
    for (int i = 0; i < 2; ++i) {
        if (i == 0)
            analyzer.restore(-1);
        else
            analyzer.reset();
        expectFresh(analyzer);
        const auto again = feedMono(analyzer, signal, {333});
        EXPECT_EQ(again.decidedAt, first.decidedAt);
        EXPECT_EQ(analyzer.result().key, decided.key);
        EXPECT_EQ(analyzer.result().score, decided.score);
    }
}

TEST(KeyAnalyzer, PrepareKeepsAFoundKeyButNotANoKeyDecision)
{
    KeyAnalyzer analyzer;
    analyzer.prepare(48000.0);
    feedMono(analyzer, beat(14, 48000.0));
    ASSERT_EQ(analyzer.result().key, 14);
    analyzer.prepare(44100.0);
    expectFixed(analyzer, 14);
    feedMono(analyzer, beat(3, 44100.0));
    expectFixed(analyzer, 14);

    // A restored key survives as well.
    analyzer.restore(8);
    analyzer.prepare(96000.0);
    expectFixed(analyzer, 8);

    KeyAnalyzer declined;
    declined.prepare(48000.0);
    feedMono(declined, testing_support::sine(440.0, 48000.0, 9 * 48000));
    ASSERT_EQ(declined.stage(), 2);
    declined.prepare(44100.0);
    expectFresh(declined);
    const auto trace = feedMono(declined, beat(3, 44100.0));
    EXPECT_EQ(declined.result().key, 3);
    EXPECT_EQ(trace.decidedAt, (decisionAt(44100.0) + 511) / 512 * 512); // end of the deciding block
}

TEST(KeyAnalyzer, BlockSizeDoesNotMatter)
{
    const auto& signal = beat(13, 48000.0);
    std::vector<float> right(signal.size());
    for (std::size_t i = 0; i < signal.size(); ++i)
        right[i] = signal[signal.size() - 1 - i]; // a different second channel

    KeyAnalyzer reference;
    reference.prepare(48000.0);
    const auto exact = feed(reference, {signal.data(), right.data()}, signal.size(), {1});
    ASSERT_GE(exact.decidedAt, 0);

    const std::vector<std::vector<int>> patterns{{7}, {512}, {4096}, {1, 300, 17, 4096, 2, 999}};
    for (const auto& pattern : patterns) {
        KeyAnalyzer analyzer;
        analyzer.prepare(48000.0);
        const auto trace = feed(analyzer, {signal.data(), right.data()}, signal.size(), pattern);
        EXPECT_EQ(analyzer.result().key, reference.result().key) << pattern[0];
        EXPECT_EQ(analyzer.result().score, reference.result().score) << pattern[0];
        EXPECT_EQ(analyzer.stage(), reference.stage());
        // The decision falls inside the block that ends at decidedAt, on the same sample as one by one.
        const int largest = *std::max_element(pattern.begin(), pattern.end());
        EXPECT_GE(trace.decidedAt, exact.decidedAt) << pattern[0];
        EXPECT_LT(trace.decidedAt - largest, exact.decidedAt) << pattern[0];
        EXPECT_TRUE(trace.stagesInOrder);
        EXPECT_TRUE(trace.progressValid);
    }
}

TEST(KeyAnalyzer, NonFiniteAndHugeSamplesAreCleaned)
{
    // Sprinkle a beat with NaN, infinities and values beyond +-8 at random places; the analyser must hear
    // exactly the cleaned beat (zeros for the non-finite samples, +-8 for the huge ones).
    const auto& signal = beat(4, 48000.0);
    std::vector<float> corrupted = signal;
    std::vector<float> cleaned = signal;
    const auto dice = testing_support::noise(static_cast<int>(signal.size()), 1.0f, 99);
    for (std::size_t i = 0; i < signal.size(); ++i) {
        const float r = dice[i];
        if (r > 0.997f) {
            corrupted[i] = std::numeric_limits<float>::quiet_NaN();
            cleaned[i] = 0.0f;
        } else if (r < -0.997f) {
            corrupted[i] = (i % 2 == 0 ? 1.0f : -1.0f) * std::numeric_limits<float>::infinity();
            cleaned[i] = 0.0f;
        } else if (std::abs(r) < 0.0002f) {
            corrupted[i] = r > 0.0f ? 1e6f : -50.0f;
            cleaned[i] = r > 0.0f ? 8.0f : -8.0f;
        }
    }

    KeyAnalyzer fromCorrupted;
    fromCorrupted.prepare(48000.0);
    const auto corruptedTrace = feed(fromCorrupted, {corrupted.data(), corrupted.data()}, signal.size());
    KeyAnalyzer fromCleaned;
    fromCleaned.prepare(48000.0);
    const auto cleanedTrace = feed(fromCleaned, {cleaned.data(), cleaned.data()}, signal.size());

    EXPECT_TRUE(corruptedTrace.progressValid);
    EXPECT_EQ(corruptedTrace.decidedAt, cleanedTrace.decidedAt);
    EXPECT_EQ(fromCorrupted.stage(), fromCleaned.stage());
    EXPECT_EQ(fromCorrupted.result().key, fromCleaned.result().key);
    EXPECT_EQ(fromCorrupted.result().score, fromCleaned.result().score);
    EXPECT_TRUE(std::isfinite(fromCorrupted.result().score));
    EXPECT_EQ(fromCorrupted.result().key, 4);
}

TEST(KeyAnalyzer, MonoStereoAndUnsupportedChannelCounts)
{
    const auto& signal = beat(18, 48000.0);
    const std::vector<float> silent(signal.size(), 0.0f);

    KeyAnalyzer mono;
    mono.prepare(48000.0);
    const auto monoTrace = feedMono(mono, signal);

    // The same signal on both channels is the same power spectrum: an identical decision.
    KeyAnalyzer twin;
    twin.prepare(48000.0);
    const auto twinTrace = feed(twin, {signal.data(), signal.data()}, signal.size());
    EXPECT_EQ(twinTrace.decidedAt, monoTrace.decidedAt);
    EXPECT_EQ(twin.result().key, mono.result().key);
    EXPECT_EQ(twin.result().score, mono.result().score);
    EXPECT_EQ(mono.result().key, 18);

    // A beat on one channel only still passes the gate and is found.
    KeyAnalyzer oneSided;
    oneSided.prepare(48000.0);
    feed(oneSided, {silent.data(), signal.data()}, signal.size());
    EXPECT_EQ(oneSided.result().key, 18);

    // Three channels, no samples or a missing channel array change nothing at all.
    KeyAnalyzer ignored;
    ignored.prepare(48000.0);
    feed(ignored, {signal.data(), signal.data(), signal.data()}, signal.size());
    const float* const pointers[] = {signal.data(), signal.data()};
    ignored.process(pointers, 2, 0);
    ignored.process(pointers, 2, -5);
    ignored.process(pointers, 0, 512);
    ignored.process(nullptr, 1, 512);
    expectFresh(ignored);
    // ... and none of it disturbed what comes next.
    const auto after = feedMono(ignored, signal);
    EXPECT_EQ(after.decidedAt, monoTrace.decidedAt);
    EXPECT_EQ(ignored.result().score, mono.result().score);
}

TEST(KeyAnalyzer, PerBlockWorkDoesNotAllocate)
{
    const auto& signal = beat(10, 48000.0);
    KeyAnalyzer analyzer;
    analyzer.prepare(48000.0);
    analyzer.prepare(48000.0); // a second prepare reuses the transform
    const float* channels[] = {signal.data(), signal.data()};
    int stage = 0;
    {
        testing_support::ScopedAllocationCounter counter;
        for (std::size_t position = 0; position + 480 <= signal.size(); position += 480) {
            const float* block[] = {channels[0] + position, channels[1] + position};
            analyzer.process(block, 2, 480);
            stage = analyzer.stage() + static_cast<int>(analyzer.progress()) + analyzer.result().key * 0;
        }
        analyzer.restore(-1);
        analyzer.reset();
        analyzer.restore(12);
        EXPECT_EQ(counter.allocations(), 0u);
    }
    EXPECT_EQ(stage, 4); // decided with a key inside the measured blocks (stage 3 + progress 1)
}

} // namespace
