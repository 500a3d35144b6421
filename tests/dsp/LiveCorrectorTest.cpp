#include "dsp/LiveCorrector.h"

#include "dsp/PitchDetector.h"

#include "AllocationCounter.h"
#include "Signals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

using testing_support::twoPi;
using tolmar::LiveCorrector;

// Runs both channels through the corrector in blocks of `block`, asking the pitch detector for the period of the
// last 2048 input samples every 256 samples (as a host's blocks would), with the pitch ratio and formant factor.
struct Corrected {
    std::vector<float> left, right;
};

Corrected correct(LiveCorrector& corrector, const std::vector<float>& left, const std::vector<float>& right, double rate,
            float ratio, float formantFactor, int block = 256, bool detectPitch = true)
{
    Corrected out{std::vector<float>(left.size()), std::vector<float>(right.size())};
    for (std::size_t start = 0; start < left.size(); start += static_cast<std::size_t>(block)) {
        const int length = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(block), left.size() - start));
        float period = 0.0f;
        if (detectPitch && start >= 2048) {
            const float hz = tolmar::estimatePitch(left.data() + start - 2048, 2048, rate);
            period = hz > 0.0f ? static_cast<float>(rate / hz) : 0.0f;
        }
        corrector.setPitch(period, ratio, formantFactor);
        const float* inputs[] = {left.data() + start, right.data() + start};
        float* outputs[] = {out.left.data() + start, out.right.data() + start};
        corrector.process(inputs, outputs, length);
    }
    return out;
}

float cents(double hz, double reference) { return static_cast<float>(1200.0 * std::log2(hz / reference)); }

TEST(LiveCorrector, UnvoicedInputPassesThroughExactlyAfterItsLatency)
{
    struct Case {
        double rate;
        int latency;
        int block;
    };
    for (const Case c : {Case{44100.0, 176, 1}, Case{48000.0, 192, 37}, Case{96000.0, 384, 512}}) {
        SCOPED_TRACE(c.rate);
        LiveCorrector corrector;
        corrector.prepare(2, c.rate);
        EXPECT_EQ(corrector.latency(), c.latency);
        const auto left = testing_support::noise(20000, 0.5f, 3);
        const auto right = testing_support::noise(20000, 0.5f, 7);
        // No period: breaths and consonants are never corrected, whatever the ratio and formant factor asked.
        const Corrected out = correct(corrector, left, right, c.rate, 1.3f, 1.4f, c.block, false);
        for (std::size_t i = 0; i < left.size(); ++i) {
            const bool delayed = i >= static_cast<std::size_t>(c.latency);
            ASSERT_EQ(out.left[i], delayed ? left[i - static_cast<std::size_t>(c.latency)] : 0.0f) << i;
            ASSERT_EQ(out.right[i], delayed ? right[i - static_cast<std::size_t>(c.latency)] : 0.0f) << i;
        }
    }
}

TEST(LiveCorrector, TheVoiceLandsOnTheAskedPitchFromLowToHigh)
{
    constexpr double rate = 48000.0;
    struct Case {
        double hz;
        float semitones;
    };
    for (const Case c : {Case{82.0, 0.6f}, Case{82.0, -0.8f}, Case{220.0, 1.0f}, Case{660.0, -0.5f}, Case{660.0, 0.7f}}) {
        SCOPED_TRACE(::testing::Message() << c.hz << " Hz, " << c.semitones << " st");
        LiveCorrector corrector;
        corrector.prepare(2, rate);
        const auto voice = testing_support::harmonicTone(c.hz, rate, 96000, 0.3f, 16);
        const float ratio = std::exp2(c.semitones / 12.0f);
        const Corrected out = correct(corrector, voice, voice, rate, ratio, 1.0f);
        // Every window of 4096 samples after the first half second is within 5 cents of the target.
        for (std::size_t start = 24000; start + 4096 <= out.left.size(); start += 4096) {
            const float hz = tolmar::estimatePitch(out.left.data() + start, 4096, rate);
            ASSERT_GT(hz, 0.0f) << start;
            EXPECT_NEAR(cents(hz, c.hz * ratio), 0.0f, 5.0f) << start;
        }
        EXPECT_EQ(out.left, out.right);
        EXPECT_TRUE(testing_support::allFiniteAndNormal(out.left.data(), out.left.size()));
    }
}

// The centre of the spectral envelope: the power-weighted mean frequency of the harmonics of f0 between 300 Hz
// and 4 kHz, over a Hann-windowed stretch.
double formantCentre(const std::vector<float>& samples, std::size_t start, std::size_t length, double f0, double rate)
{
    double weighted = 0.0;
    double total = 0.0;
    for (int k = 1; k * f0 < 4000.0; ++k) {
        if (k * f0 < 300.0)
            continue;
        double re = 0.0;
        double im = 0.0;
        for (std::size_t i = 0; i < length; ++i) {
            const double window = 0.5 - 0.5 * std::cos(twoPi * static_cast<double>(i) / static_cast<double>(length));
            const double angle = twoPi * k * f0 * static_cast<double>(i) / rate;
            re += window * samples[start + i] * std::cos(angle);
            im -= window * samples[start + i] * std::sin(angle);
        }
        const double power = re * re + im * im;
        weighted += power * k * f0;
        total += power;
    }
    return weighted / total;
}

struct Resonance {
    double hz, bandwidthHz, gain;
};
constexpr Resonance oneResonance[] = {{1200.0, 150.0, 1.0}};
constexpr Resonance ah[] = {{750.0, 90.0, 1.0}, {1200.0, 110.0, 0.6}, {2600.0, 160.0, 0.25}};

// A sung vowel: a pulse train at hzAt(sample) Hz (0: no pulse) through parallel resonances, whose ringing puts
// lesser peaks between the pulses.
template <typename Contour, std::size_t count>
std::vector<float> vowel(double rate, int samples, Contour hzAt, const Resonance (&resonances)[count])
{
    std::vector<float> out(static_cast<std::size_t>(samples));
    double y1[count] = {};
    double y2[count] = {};
    double phase = 0.0;
    for (int i = 0; i < samples; ++i) {
        phase += hzAt(i) / rate;
        const double pulse = phase >= 1.0 ? 1.0 : 0.0;
        phase -= std::floor(phase);
        double sum = 0.0;
        for (std::size_t k = 0; k < count; ++k) {
            const double radius = std::exp(-twoPi * resonances[k].bandwidthHz / 2.0 / rate);
            const double y =
                pulse + 2.0 * radius * std::cos(twoPi * resonances[k].hz / rate) * y1[k] - radius * radius * y2[k];
            y2[k] = y1[k];
            y1[k] = y;
            sum += resonances[k].gain * y;
        }
        out[static_cast<std::size_t>(i)] = static_cast<float>(0.05 * sum);
    }
    return out;
}

// A 150 Hz voice through one resonance at 1.2 kHz.
std::vector<float> vowel(double rate, int samples)
{
    return vowel(
        rate, samples, [](int) { return 150.0; }, oneResonance);
}

TEST(LiveCorrector, KeepsTheVowelsFormantsOrMovesThemByTheFactor)
{
    constexpr double rate = 48000.0;
    const auto input = vowel(rate, 48000);
    const double before = formantCentre(input, 24000, 8192, 150.0, rate);
    struct Case {
        float semitones;
        float formantFactor;
    };
    for (const Case c : {Case{1.0f, 1.0f}, Case{-1.0f, 1.0f}, Case{0.0f, 0.72f}, Case{1.0f, 0.72f}}) {
        SCOPED_TRACE(::testing::Message() << c.semitones << " st, formants x" << c.formantFactor);
        LiveCorrector corrector;
        corrector.prepare(1, rate);
        const float ratio = std::exp2(c.semitones / 12.0f);
        const Corrected out = correct(corrector, input, input, rate, ratio, c.formantFactor);
        const double after = formantCentre(out.left, 24000, 8192, 150.0 * ratio, rate);
        if (c.formantFactor == 1.0f)
            EXPECT_NEAR(after / before, 1.0, 0.025) << before << " Hz -> " << after << " Hz"; // resampling: 6 %
        else
            EXPECT_NEAR(after / before, c.formantFactor, 0.1 * c.formantFactor) << before << " Hz -> " << after << " Hz";
    }
}

TEST(LiveCorrector, MarksFindTheMainPeakAgainAfterAPauseOrAJump)
{
    // After a pause or a jump, the first mark may land on the ringing between pulses; the output must still
    // settle on the asked pitch rather than keep cutting at the wrong peak.
    constexpr double rate = 48000.0;
    constexpr int change = 48000;
    struct Case {
        double before, after; // Hz
        int pause;            // samples without pulses after the change
        float formantFactor;
    };
    for (const Case c : {Case{198.0, 257.0, 768, 0.72f}, Case{198.0, 257.0, 1280, 1.0f}, Case{98.0, 131.0, 0, 1.0f},
                         Case{131.0, 98.0, 2400, 0.72f}, Case{82.0, 110.0, 4800, 1.0f}}) {
        SCOPED_TRACE(::testing::Message()
                     << c.before << " -> " << c.after << " Hz, pause " << c.pause << ", formants " << c.formantFactor);
        const auto voice = vowel(
            rate, 144000, [&](int i) { return i < change             ? c.before
                                              : i < change + c.pause ? 0.0
                                                                     : c.after; }, ah);
        LiveCorrector corrector;
        corrector.prepare(2, rate);
        const float ratio = std::exp2(0.4f / 12.0f);
        const Corrected out = correct(corrector, voice, voice, rate, ratio, c.formantFactor);
        for (std::size_t start = change + c.pause + 12000; start + 4096 <= out.left.size(); start += 4096) {
            const float hz = tolmar::estimatePitch(out.left.data() + start, 4096, rate);
            EXPECT_NEAR(cents(hz, c.after * ratio), 0.0f, 5.0f) << start;
        }
    }
}

TEST(LiveCorrector, StartingFromStandbyContinuesTheInputWithoutAClick)
{
    constexpr double rate = 48000.0;
    const auto voice = testing_support::harmonicTone(200.0, rate, 48000, 0.3f, 16);
    LiveCorrector corrector;
    corrector.prepare(1, rate);
    const int latency = corrector.latency();
    const float* input[] = {voice.data()};
    corrector.listen(input, 24000);
    corrector.setPitch(static_cast<float>(rate / 200.0), std::exp2(1.0f / 12.0f), 1.0f);
    std::vector<float> out(24000);
    const float* rest[] = {voice.data() + 24000};
    float* output[] = {out.data()};
    corrector.process(rest, output, 24000);
    EXPECT_EQ(out[0], voice[static_cast<std::size_t>(24000 - latency)]);
    float steepestIn = 0.0f;
    float steepestOut = 0.0f;
    for (std::size_t i = 1; i < out.size(); ++i) {
        steepestIn = std::max(steepestIn, std::fabs(voice[i] - voice[i - 1]));
        steepestOut = std::max(steepestOut, std::fabs(out[i] - out[i - 1]));
    }
    EXPECT_LT(steepestOut, 1.25f * steepestIn);
}

TEST(LiveCorrector, CorrectsWithoutAllocating)
{
    LiveCorrector corrector;
    corrector.prepare(2, 48000.0);
    const auto voice = testing_support::harmonicTone(180.0, 48000.0, 24000);
    std::vector<float> left(voice.size());
    std::vector<float> right(voice.size());
    testing_support::ScopedAllocationCounter counter;
    for (std::size_t start = 0; start + 256 <= voice.size(); start += 256) {
        const float semitones = static_cast<float>(start % 3072) / 1024.0f - 1.5f; // keeps changing
        corrector.setPitch(start % 4096 < 3072 ? 48000.0f / 180.0f : 0.0f, std::exp2(semitones / 12.0f), 0.8f);
        const float* inputs[] = {voice.data() + start, voice.data() + start};
        float* outputs[] = {left.data() + start, right.data() + start};
        corrector.process(inputs, outputs, 256);
    }
    EXPECT_EQ(counter.allocations(), 0u);
    corrector.reset();
    EXPECT_EQ(counter.allocations(), 0u);
}

} // namespace
