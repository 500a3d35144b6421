#include "dsp/PitchShifter.h"

#include "dsp/RealFft.h"

#include "AllocationCounter.h"
#include "Signals.h"
#include "TransientMaterial.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

using testing_support::allFiniteAndNormal;
using testing_support::harmonicTone;
using testing_support::noise;
using testing_support::rms;
using testing_support::sine;
using testing_support::twoPi;

namespace {

using Channels = std::vector<std::vector<float>>;

struct Settings {
    float semitones = 0.0f;
    float factor = 1.0f;
    bool compensate = false;
    float base = 0.0f;
};

std::ostream& operator<<(std::ostream& out, const Settings& s)
{
    return out << s.semitones << " st, formant " << s.factor << (s.compensate ? " compensated" : "") << ", base "
               << s.base;
}

void apply(tolmar::PitchShifter& shifter, const Settings& settings)
{
    shifter.setTransposeSemitones(settings.semitones);
    shifter.setFormantFactor(settings.factor, settings.compensate);
    shifter.setFormantBase(settings.base);
}

// Runs the input through the shifter in chunks of at most `chunk` samples. When given, `schedule` is called
// with the sample position every `scheduleEvery` samples (chunks are cut there) to change the settings.
Channels render(tolmar::PitchShifter& shifter, const Channels& input, int chunk,
                const std::function<void(int)>& schedule = {}, int scheduleEvery = 0)
{
    const int length = static_cast<int>(input[0].size());
    Channels output(input.size(), std::vector<float>(input[0].size(), -1.0f));
    std::vector<const float*> in(input.size());
    std::vector<float*> out(input.size());
    int position = 0;
    while (position < length) {
        if (schedule && scheduleEvery > 0 && position % scheduleEvery == 0)
            schedule(position);
        int step = std::min(chunk, length - position);
        if (scheduleEvery > 0)
            step = std::min(step, scheduleEvery - position % scheduleEvery);
        for (std::size_t c = 0; c < input.size(); ++c) {
            in[c] = input[c].data() + position;
            out[c] = output[c].data() + position;
        }
        shifter.process(in.data(), step, out.data(), step);
        position += step;
    }
    return output;
}

std::vector<float> renderMono(const Settings& settings, const std::vector<float>& input, int block, int interval,
                              int chunk = 512)
{
    tolmar::PitchShifter shifter;
    shifter.configure(1, block, interval);
    apply(shifter, settings);
    return render(shifter, {input}, chunk)[0];
}

double decibels(double ratio) { return 20.0 * std::log10(std::max(ratio, 1e-30)); }

// Residual of output against the input delayed by `delay` samples, over [from, end), relative to the input.
double residualDb(const std::vector<float>& input, const std::vector<float>& output, int delay, int from)
{
    double error = 0.0;
    double reference = 0.0;
    for (std::size_t i = static_cast<std::size_t>(from); i < output.size(); ++i) {
        const double x = input[i - static_cast<std::size_t>(delay)];
        error += (output[i] - x) * (output[i] - x);
        reference += x * x;
    }
    return 10.0 * std::log10(std::max(error, 1e-300) / reference);
}

// Hann-windowed power spectrum of samples [begin, end) of x, zero padded to `size` points.
std::vector<double> powerSpectrum(const std::vector<float>& x, std::size_t begin, std::size_t end, int size)
{
    tolmar::RealFft fft;
    fft.prepare(size, false);
    float* time = fft.time();
    std::fill(time, time + size, 0.0f);
    const std::size_t length = end - begin;
    for (std::size_t i = 0; i < length; ++i)
        time[i] = x[begin + i] * static_cast<float>(0.5 - 0.5 * std::cos(twoPi * (static_cast<double>(i) + 0.5) /
                                                                        static_cast<double>(length)));
    fft.forward();
    const tolmar::Complex* freq = fft.spectrum();
    std::vector<double> power(static_cast<std::size_t>(fft.bins()));
    for (std::size_t k = 0; k < power.size(); ++k)
        power[k] = static_cast<double>(freq[k].re) * freq[k].re + static_cast<double>(freq[k].im) * freq[k].im;
    return power;
}

int fftSizeFor(std::size_t length)
{
    int size = 1;
    while (static_cast<std::size_t>(size) < 4 * length)
        size *= 2;
    return size;
}

struct Peak {
    double hz = 0.0;
    double power = 0.0;
};

// Strongest bin within [lowHz, highHz], refined by a parabola through the log powers around it.
Peak peakBetween(const std::vector<double>& power, double binHz, double lowHz, double highHz)
{
    const auto lo = static_cast<std::size_t>(std::max(1.0, std::ceil(lowHz / binHz)));
    const auto hi = std::min(power.size() - 2, static_cast<std::size_t>(highHz / binHz));
    std::size_t best = lo;
    for (std::size_t k = lo; k <= hi; ++k)
        if (power[k] > power[best])
            best = k;
    const double a = std::log(power[best - 1] + 1e-300);
    const double b = std::log(power[best] + 1e-300);
    const double c = std::log(power[best + 1] + 1e-300);
    const double divisor = a - 2.0 * b + c;
    const double delta = divisor < 0.0 ? 0.5 * (a - c) / divisor : 0.0;
    return {(static_cast<double>(best) + delta) * binHz, std::exp(b - 0.25 * (a - c) * delta)};
}

struct PitchReading {
    double cents = 0.0;            // fundamental against the target
    double harmonicFraction = 0.0; // share of the power within a tenth of f0 of the target's harmonics
};

// Fundamental as the amplitude-weighted mean of (harmonic frequency / harmonic number) over the first
// eight harmonics, each located by an interpolated spectral peak of a long Hann window.
PitchReading readPitch(const std::vector<float>& x, std::size_t begin, double sampleRate, double targetHz)
{
    const int size = fftSizeFor(x.size() - begin);
    const auto power = powerSpectrum(x, begin, x.size(), size);
    const double binHz = sampleRate / size;
    const double top = std::min(0.45 * sampleRate, 12000.0);

    double weighted = 0.0;
    double weights = 0.0;
    for (int h = 1; h <= 8 && h * targetHz < top; ++h) {
        const Peak peak = peakBetween(power, binHz, (h - 0.25) * targetHz, (h + 0.25) * targetHz);
        const double amplitude = std::sqrt(peak.power);
        weighted += amplitude * peak.hz / h;
        weights += amplitude;
    }
    double onHarmonics = 0.0;
    double total = 0.0;
    for (std::size_t k = static_cast<std::size_t>(20.0 / binHz); k < static_cast<std::size_t>(top / binHz); ++k) {
        const double hz = static_cast<double>(k) * binHz;
        const double harmonic = std::round(hz / targetHz);
        total += power[k];
        if (harmonic >= 1.0 && std::fabs(hz - harmonic * targetHz) <= 0.1 * targetHz)
            onHarmonics += power[k];
    }
    return {1200.0 * std::log2(weighted / weights / targetHz), onHarmonics / total};
}

std::string settingsName(const Settings& s)
{
    // Tenths of a semitone: "Up6" is +0.6.
    std::string name = s.semitones < 0 ? "Down" : "Up";
    name += std::to_string(static_cast<int>(std::lround(std::fabs(s.semitones) * 10)));
    name += "_Formant" + std::to_string(static_cast<int>(std::lround(s.factor * 100)));
    name += s.compensate ? "Compensated" : "";
    name += s.base > 0.0f ? "WithBase" : "";
    return name;
}

} // namespace

// ---------------------------------------------------------------------------------------------------------------
// Latency and identity

struct IdentityCase {
    int block;
    int interval;
    bool compensate;
};

std::ostream& operator<<(std::ostream& out, const IdentityCase& c)
{
    return out << c.block << "/" << c.interval << (c.compensate ? " compensated" : "");
}

class PitchShifterIdentity : public ::testing::TestWithParam<IdentityCase> {};

TEST_P(PitchShifterIdentity, OutputIsInputDelayedByExactlyTheBlockLength)
{
    const auto c = GetParam();
    tolmar::PitchShifter shifter;
    shifter.configure(2, c.block, c.interval);
    EXPECT_EQ(shifter.inputLatency(), c.block / 2);
    EXPECT_EQ(shifter.outputLatency(), c.block / 2);
    apply(shifter, {0.0f, 1.0f, c.compensate, 0.0f});

    const int length = 4 * c.block + 20000;
    auto left = noise(length, 0.3f, 5);
    const auto tone = sine(1234.5, 48000.0, length, 0.4f);
    for (std::size_t i = 0; i < left.size(); ++i)
        left[i] += tone[i];
    const auto right = harmonicTone(180.0, 48000.0, length);
    const Channels input{left, right};

    const auto output = render(shifter, input, 333);
    const int delay = shifter.inputLatency() + shifter.outputLatency();
    ASSERT_EQ(delay, c.block);
    for (std::size_t ch = 0; ch < 2; ++ch) {
        ASSERT_TRUE(allFiniteAndNormal(output[ch].data(), output[ch].size()));
        // Nothing but transform rounding arrives before the latency.
        const double level = rms(input[ch].data(), input[ch].size());
        for (int i = 0; i < delay; ++i)
            ASSERT_LT(std::fabs(output[ch][static_cast<std::size_t>(i)]), 1e-6 * level) << "sample " << i;
        const double residual = residualDb(input[ch], output[ch], delay, delay);
        RecordProperty("residualDb" + std::to_string(ch), std::to_string(residual));
        EXPECT_LT(residual, -60.0) << "channel " << ch;
        // One sample off must be far worse: the delay is exact, not merely close.
        EXPECT_GT(residualDb(input[ch], output[ch], delay - 1, delay), -30.0) << "channel " << ch;
    }
}

INSTANTIATE_TEST_SUITE_P(EngineConfigurations, PitchShifterIdentity,
                         ::testing::Values(IdentityCase{1024, 64, false}, IdentityCase{2048, 128, false},
                                           IdentityCase{2048, 128, true}, IdentityCase{4096, 256, false},
                                           IdentityCase{16384, 1024, true}));

TEST(PitchShifterIdentityRecovery, ReturnsToTransparentAfterShiftingAndAfterReset)
{
    tolmar::PitchShifter shifter;
    shifter.configure(1, 2048, 128);
    const int second = 48000;
    const auto input = harmonicTone(210.0, 48000.0, 5 * second);

    // Shift for a second, then back to 0: the phases drift back to the input's own.
    auto schedule = [&](int position) {
        apply(shifter, {position < second ? 3.7f : 0.0f, 1.0f, true, 0.0f});
    };
    const auto output = render(shifter, {input}, 512, schedule, 512)[0];
    ASSERT_TRUE(allFiniteAndNormal(output.data(), output.size()));
    EXPECT_LT(residualDb(input, output, 2048, 4 * second), -60.0);

    // A reset forgets the shift at once.
    apply(shifter, {-5.0f, 0.8f, false, 0.0f});
    render(shifter, {input}, 512);
    shifter.reset();
    apply(shifter, {0.0f, 1.0f, false, 0.0f});
    const auto afterReset = render(shifter, {input}, 512)[0];
    EXPECT_LT(residualDb(input, afterReset, 2048, 2048), -60.0);
}

// ---------------------------------------------------------------------------------------------------------------
// Pitch accuracy and purity

struct PitchCase {
    double sampleRate;
    int block;
    Settings settings;
};

std::ostream& operator<<(std::ostream& out, const PitchCase& c)
{
    return out << c.sampleRate << " Hz, block " << c.block << ", " << c.settings;
}

class PitchShifterPitch : public ::testing::TestWithParam<PitchCase> {};

TEST_P(PitchShifterPitch, VowelToneLandsOnTheTargetHarmonics)
{
    const auto c = GetParam();
    const double fundamental = 220.0;
    const auto input = harmonicTone(fundamental, c.sampleRate, static_cast<int>(c.sampleRate));
    const auto output = renderMono(c.settings, input, c.block, c.block / 16);
    ASSERT_TRUE(allFiniteAndNormal(output.data(), output.size()));

    const double target = fundamental * std::pow(2.0, c.settings.semitones / 12.0);
    const auto reading = readPitch(output, static_cast<std::size_t>(3 * c.block), c.sampleRate, target);
    RecordProperty("cents", std::to_string(reading.cents));
    RecordProperty("harmonicFraction", std::to_string(reading.harmonicFraction));
    EXPECT_NEAR(reading.cents, 0.0, 5.0) << "target " << target << " Hz";
    EXPECT_GT(reading.harmonicFraction, 0.9) << "target " << target << " Hz";
    EXPECT_GT(rms(output.data() + 3 * c.block, output.size() - static_cast<std::size_t>(3 * c.block)),
              0.25 * rms(input.data(), input.size()));
}

// The formant settings the modes pair with each shift.
const Settings modeSettings[] = {
    {-12.0f, 0.8f, false, 0.0f},   {12.0f, 1.45f, false, 220.0f / 48000.0f}, {12.0f, 1.15f, false, 0.0f},
    {8.0f, 1.15f, false, 0.0f},    {16.0f, 1.15f, false, 0.0f},             {-2.0f, 1.0f, true, 0.0f},
    {-2.0f, 0.72f, true, 0.0f},    {-0.6f, 1.0f, true, 0.0f},               {-0.6f, 0.72f, true, 0.0f},
    {0.6f, 1.0f, true, 0.0f},      {0.6f, 0.72f, true, 0.0f},               {2.0f, 1.0f, true, 0.0f},
    {2.0f, 0.72f, true, 0.0f},
};

std::vector<PitchCase> pitchCases()
{
    std::vector<PitchCase> cases;
    for (const auto& s : modeSettings)
        cases.push_back({48000.0, 2048, s});
    // The other rates with one pairing per shift.
    const Settings others[] = {{-12.0f, 0.8f, false, 0.0f}, {-2.0f, 0.72f, true, 0.0f}, {-0.6f, 1.0f, true, 0.0f},
                               {0.6f, 0.72f, true, 0.0f},   {2.0f, 1.0f, true, 0.0f},   {8.0f, 1.15f, false, 0.0f},
                               {12.0f, 1.45f, false, 0.0f}, {16.0f, 1.15f, false, 0.0f}};
    for (const auto& s : others) {
        cases.push_back({44100.0, 2048, s});
        cases.push_back({96000.0, 4096, s});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(ModeShifts, PitchShifterPitch, ::testing::ValuesIn(pitchCases()),
                         [](const ::testing::TestParamInfo<PitchCase>& param) {
                             return std::to_string(static_cast<int>(param.param.sampleRate)) + "Hz_" +
                                    settingsName(param.param.settings);
                         });

// ---------------------------------------------------------------------------------------------------------------
// Formant movement

namespace {

// A 150 Hz pulse train at 48 kHz through two-pole resonators at 700 Hz and 1900 Hz: a vowel-like envelope.
std::vector<float> resonantPulses(int length)
{
    std::vector<float> x(static_cast<std::size_t>(length), 0.0f);
    for (std::size_t i = 0; i < x.size(); i += 320)
        x[i] = 1.0f;
    for (const auto& [hz, bandwidth] : {std::pair{700.0, 160.0}, std::pair{1900.0, 260.0}}) {
        const double r = std::exp(-0.5 * twoPi * bandwidth / 48000.0);
        const double a1 = -2.0 * r * std::cos(twoPi * hz / 48000.0);
        const double a2 = r * r;
        double y1 = 0.0;
        double y2 = 0.0;
        for (auto& sample : x) {
            const double y = sample - a1 * y1 - a2 * y2;
            y2 = y1;
            y1 = y;
            sample = static_cast<float>(y);
        }
    }
    const float peak =
        *std::max_element(x.begin(), x.end(), [](float a, float b) { return std::fabs(a) < std::fabs(b); });
    for (auto& sample : x)
        sample *= 0.5f / std::fabs(peak);
    return x;
}

struct Harmonic {
    double hz;
    double logAmplitude;
};

std::vector<Harmonic> harmonicAmplitudes(const std::vector<float>& x, std::size_t begin, double fundamental)
{
    const int size = fftSizeFor(x.size() - begin);
    const auto power = powerSpectrum(x, begin, x.size(), size);
    const double binHz = 48000.0 / size;
    std::vector<Harmonic> result;
    for (int h = 1; h * fundamental < 0.42 * 48000.0; ++h) {
        const Peak peak = peakBetween(power, binHz, (h - 0.2) * fundamental, (h + 0.2) * fundamental);
        result.push_back({peak.hz, 0.5 * std::log(peak.power + 1e-30)});
    }
    return result;
}

double interpolate(const std::vector<Harmonic>& curve, double hz)
{
    auto above = std::lower_bound(curve.begin(), curve.end(), hz, [](const Harmonic& h, double f) { return h.hz < f; });
    const auto& hi = *above;
    const auto& lo = *(above - 1);
    return lo.logAmplitude + (hz - lo.hz) / (hi.hz - lo.hz) * (hi.logAmplitude - lo.logAmplitude);
}

// The factor s for which the output's harmonic amplitudes best match the input envelope read at f / s
// (least squares in log amplitude, level offset removed), searched over 0.25 .. 4 in 0.2 % steps. Only
// output harmonics that map into the resonances (150 .. 3300 Hz of the input) count: the smooth tail above
// looks alike at any scale.
double envelopeScale(const std::vector<Harmonic>& in, const std::vector<Harmonic>& out)
{
    double bestScale = 0.0;
    double bestError = std::numeric_limits<double>::infinity();
    for (double s = 0.25; s < 4.0; s *= 1.002) {
        std::vector<double> differences;
        for (const auto& h : out) {
            const double source = h.hz / s;
            if (source < 150.0 || source > 3300.0)
                continue;
            differences.push_back(h.logAmplitude - interpolate(in, source));
        }
        if (differences.size() < 8)
            continue;
        double mean = 0.0;
        for (double d : differences)
            mean += d;
        mean /= static_cast<double>(differences.size());
        double error = 0.0;
        for (double d : differences)
            error += (d - mean) * (d - mean);
        error /= static_cast<double>(differences.size());
        if (error < bestError) {
            bestError = error;
            bestScale = s;
        }
    }
    return bestScale;
}

} // namespace

struct FormantCase {
    Settings settings;
    double expectedScale;
};

std::ostream& operator<<(std::ostream& out, const FormantCase& c)
{
    return out << c.settings << ", envelope x" << c.expectedScale;
}

class PitchShifterFormants : public ::testing::TestWithParam<FormantCase> {};

TEST_P(PitchShifterFormants, EnvelopeMovesByTheRequestedFactor)
{
    const auto c = GetParam();
    const auto input = resonantPulses(48000);
    const auto output = renderMono(c.settings, input, 2048, 128);
    ASSERT_TRUE(allFiniteAndNormal(output.data(), output.size()));

    const double ratio = std::pow(2.0, c.settings.semitones / 12.0);
    const auto inHarmonics = harmonicAmplitudes(input, 6144, 150.0);
    const auto outHarmonics = harmonicAmplitudes(output, 6144, 150.0 * ratio);
    const double scale = envelopeScale(inHarmonics, outHarmonics);
    RecordProperty("scaleError", std::to_string(scale / c.expectedScale - 1.0));
    EXPECT_NEAR(scale / c.expectedScale, 1.0, 0.10) << "measured " << scale << ", expected " << c.expectedScale;
}

INSTANTIATE_TEST_SUITE_P(
    ModeFormants, PitchShifterFormants,
    ::testing::Values(FormantCase{{12.0f, 1.45f, false, 150.0f / 48000.0f}, 2.0 * 1.45},
                      FormantCase{{12.0f, 1.45f, false, 0.0f}, 2.0 * 1.45},
                      FormantCase{{-12.0f, 0.8f, false, 0.0f}, 0.5 * 0.8},
                      FormantCase{{8.0f, 1.15f, false, 0.0f}, 1.5874 * 1.15},
                      FormantCase{{5.0f, 1.0f, false, 0.0f}, 1.3348},
                      FormantCase{{2.0f, 1.0f, true, 0.0f}, 1.0}, FormantCase{{-2.0f, 0.72f, true, 0.0f}, 0.72},
                      FormantCase{{0.0f, 0.72f, true, 0.0f}, 0.72}, FormantCase{{0.6f, 1.0f, true, 0.0f}, 1.0}),
    [](const ::testing::TestParamInfo<FormantCase>& param) { return settingsName(param.param.settings); });

// ---------------------------------------------------------------------------------------------------------------
// Timing: the delay does not move with the settings

TEST(PitchShifterDelay, ToneBurstCentreArrivesOneBlockLaterForAnySettings)
{
    // A Gaussian tone burst; its energy centroid in time marks where it is.
    const int length = 24000;
    const double centre = 9000.0;
    std::vector<float> burst(static_cast<std::size_t>(length));
    for (int i = 0; i < length; ++i) {
        const double t = (i - centre) / 1500.0;
        burst[static_cast<std::size_t>(i)] =
            static_cast<float>(0.5 * std::exp(-0.5 * t * t) * (std::sin(twoPi * 330.0 * i / 48000.0) +
                                                                0.5 * std::sin(twoPi * 660.0 * i / 48000.0)));
    }
    auto centroid = [](const std::vector<float>& x) {
        double weighted = 0.0;
        double total = 0.0;
        for (std::size_t i = 0; i < x.size(); ++i) {
            weighted += static_cast<double>(i) * x[i] * x[i];
            total += static_cast<double>(x[i]) * x[i];
        }
        return weighted / total;
    };
    const double inputCentre = centroid(burst);
    for (const auto& s : {Settings{0.0f, 1.0f, false, 0.0f}, Settings{-12.0f, 0.8f, false, 0.0f},
                          Settings{-3.0f, 0.72f, true, 0.0f}, Settings{7.0f, 1.0f, false, 0.0f},
                          Settings{12.0f, 1.45f, false, 0.0f}, Settings{16.0f, 1.15f, false, 0.0f}}) {
        const auto output = renderMono(s, burst, 2048, 128, 100);
        const double delay = centroid(output) - inputCentre;
        RecordProperty("delay_" + settingsName(s), std::to_string(delay));
        EXPECT_NEAR(delay, 2048.0, 48.0) << settingsName(s);
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Continuity and silence

namespace {

// Largest share of power above 12 kHz in any 512-sample Hann frame (hop 256) from `begin` on.
double worstHighBandShare(const std::vector<float>& x, std::size_t begin)
{
    double worst = 0.0;
    for (std::size_t start = begin; start + 512 <= x.size(); start += 256) {
        const auto power = powerSpectrum(x, start, start + 512, 512);
        double high = 0.0;
        double total = 1e-30;
        for (std::size_t k = 0; k < power.size(); ++k) {
            total += power[k];
            if (static_cast<double>(k) * 48000.0 / 512.0 >= 12000.0)
                high += power[k];
        }
        worst = std::max(worst, high / total);
    }
    return worst;
}

} // namespace

TEST(PitchShifterContinuity, WobblingShiftClicksNowhere)
{
    // The wobble: 12 + 4 sin(2.5 pi t) semitones, updated every 512 samples, on a vowel tone whose highest
    // shifted harmonic stays below 7 kHz. A click would put broadband power above 12 kHz.
    tolmar::PitchShifter shifter;
    shifter.configure(1, 2048, 128);
    const auto input = harmonicTone(220.0, 48000.0, 72000);
    auto wobble = [&](int position) {
        const double t = position / 48000.0;
        apply(shifter, {static_cast<float>(12.0 + 4.0 * std::sin(1.25 * twoPi * t)), 1.15f, false, 0.0f});
    };
    const auto output = render(shifter, {input}, 512, wobble, 512)[0];
    ASSERT_TRUE(allFiniteAndNormal(output.data(), output.size()));
    const double share = worstHighBandShare(output, 4096);
    RecordProperty("highBandDb", std::to_string(decibels(std::sqrt(share))));
    EXPECT_LT(decibels(std::sqrt(share)), -50.0);

    // Nor does the level dip where partials would cancel: the short-time level stays within 3 dB of its median.
    std::vector<double> levels;
    for (std::size_t start = 4096; start + 1024 <= output.size(); start += 256)
        levels.push_back(decibels(rms(output.data() + start, 1024)));
    auto sorted = levels;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2), sorted.end());
    const double median = sorted[sorted.size() / 2];
    const auto [lowest, highest] = std::minmax_element(levels.begin(), levels.end());
    RecordProperty("levelSpreadDb", std::to_string(*highest - *lowest));
    EXPECT_GT(*lowest, median - 3.0);
    EXPECT_LT(*highest, median + 3.0);

    // The measure does see a click: one sample stepped by a tenth of the signal's level.
    auto clicked = output;
    clicked[30000] += 0.1f * static_cast<float>(rms(output.data() + 29000, 2000));
    EXPECT_GT(worstHighBandShare(clicked, 29000), 10.0 * share);
}

TEST(PitchShifterSilence, SilenceGivesExactZerosOnceTheWindowHasPassed)
{
    for (const auto& s : {Settings{12.0f, 1.45f, false, 0.0f}, Settings{-12.0f, 0.8f, false, 0.0f},
                          Settings{0.6f, 0.72f, true, 0.0f}, Settings{0.0f, 1.0f, false, 0.0f}}) {
        // Silence from the start: zeros throughout.
        const std::vector<float> silence(20000, 0.0f);
        const auto quiet = renderMono(s, silence, 2048, 128);
        EXPECT_TRUE(std::all_of(quiet.begin(), quiet.end(), [](float y) { return y == 0.0f; })) << settingsName(s);

        // A tone that stops at sample 12000: exact zeros from the stop plus latency plus one window on.
        auto toneThenSilence = harmonicTone(220.0, 48000.0, 30000);
        std::fill(toneThenSilence.begin() + 12000, toneThenSilence.end(), 0.0f);
        const auto output = renderMono(s, toneThenSilence, 2048, 128);
        ASSERT_TRUE(allFiniteAndNormal(output.data(), output.size()));
        EXPECT_GT(rms(output.data() + 4096, 4000), 0.05) << settingsName(s);
        EXPECT_TRUE(std::all_of(output.begin() + 12000 + 2 * 2048, output.end(), [](float y) { return y == 0.0f; }))
            << settingsName(s);
    }
}

TEST(PitchShifterRobustness, NonFiniteInputActsAsSilenceAndHugeInputStaysFinite)
{
    const auto tone = harmonicTone(200.0, 48000.0, 30000);
    auto broken = tone;
    auto zeroed = tone;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (int i = 0; i < 300; ++i) {
        broken[static_cast<std::size_t>(5000 + i)] = i % 3 == 0 ? nan : (i % 3 == 1 ? inf : -inf);
        zeroed[static_cast<std::size_t>(5000 + i)] = 0.0f;
    }
    broken[20000] = nan;
    zeroed[20000] = 0.0f;
    for (const auto& s : {Settings{12.0f, 1.45f, false, 0.0f}, Settings{0.7f, 0.72f, true, 0.0f}}) {
        const auto fromBroken = renderMono(s, broken, 2048, 128);
        const auto fromZeroed = renderMono(s, zeroed, 2048, 128);
        ASSERT_TRUE(allFiniteAndNormal(fromBroken.data(), fromBroken.size()));
        EXPECT_EQ(0, std::memcmp(fromBroken.data(), fromZeroed.data(), sizeof(float) * fromBroken.size()));

        auto huge = tone;
        huge[7000] = std::numeric_limits<float>::max();
        huge[7001] = -std::numeric_limits<float>::max();
        const auto fromHuge = renderMono(s, huge, 2048, 128);
        EXPECT_TRUE(allFiniteAndNormal(fromHuge.data(), fromHuge.size()));
        // Once the disturbance has left the window the level is that of the undisturbed run again.
        const auto clean = renderMono(s, tone, 2048, 128);
        const double level = rms(fromHuge.data() + 16000, 14000) / rms(clean.data() + 16000, 14000);
        EXPECT_NEAR(decibels(level), 0.0, 1.0);
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Host chunking, channels and the real-time contract

TEST(PitchShifterChunking, OutputIsBitIdenticalForAnyChunking)
{
    const int length = 30000;
    const Channels input{harmonicTone(190.0, 48000.0, length), noise(length, 0.2f, 9)};
    // Settings change every 300 samples, between frames as well as in the middle of them.
    auto run = [&](const Channels& in, int chunk) {
        tolmar::PitchShifter shifter;
        shifter.configure(static_cast<int>(in.size()), 2048, 128);
        auto schedule = [&](int position) {
            const int step = position / 300;
            apply(shifter, {static_cast<float>(step % 7) - 2.5f, step % 2 == 0 ? 0.8f : 1.2f, step % 3 == 0,
                            step % 4 == 0 ? 0.004f : 0.0f});
        };
        return render(shifter, in, chunk, schedule, 300);
    };
    const auto reference = run(input, length);
    for (std::size_t c = 0; c < 2; ++c)
        ASSERT_TRUE(allFiniteAndNormal(reference[c].data(), reference[c].size()));
    for (int chunk : {1, 7, 250, 512, 4097}) {
        const auto output = run(input, chunk);
        for (std::size_t c = 0; c < 2; ++c)
            EXPECT_EQ(0, std::memcmp(output[c].data(), reference[c].data(), sizeof(float) * length))
                << "chunk " << chunk << ", channel " << c;
    }
    // In place, as a host buffer would be: the same result.
    tolmar::PitchShifter shifter;
    shifter.configure(1, 2048, 128);
    apply(shifter, {-2.5f, 0.8f, true, 0.004f});
    auto buffer = input[0];
    for (int position = 0; position < length; position += 250) {
        float* channel[] = {buffer.data() + position};
        const int step = std::min(250, length - position);
        shifter.process(channel, step, channel, step);
    }
    const auto separate = renderMono({-2.5f, 0.8f, true, 0.004f}, input[0], 2048, 128);
    EXPECT_EQ(0, std::memcmp(buffer.data(), separate.data(), sizeof(float) * length));
}

// ---------------------------------------------------------------------------------------------------------------
// Stereo: one set of spectral decisions for both channels

namespace {

// A sung voice with hits over it: tone, breath, onsets.
std::vector<float> voiceWithHits(int length)
{
    auto x = testing_support::voicedMaterial(48000.0, length / 48000.0 + 0.01, true).signal;
    x.resize(static_cast<std::size_t>(length));
    const auto hits = testing_support::percussiveHits(48000.0);
    for (std::size_t i = 0; i < x.size() && i < hits.signal.size(); ++i)
        x[i] = 0.6f * x[i] + 0.5f * hits.signal[i];
    return x;
}

// x delayed by `delay` samples and scaled.
std::vector<float> delayed(const std::vector<float>& x, int delay, float gain)
{
    std::vector<float> out(x.size(), 0.0f);
    for (std::size_t i = static_cast<std::size_t>(delay); i < x.size(); ++i)
        out[i] = gain * x[i - static_cast<std::size_t>(delay)];
    return out;
}

// Normalised cross-correlation of a[t] with b[t + lag] over [from, to).
double correlation(const std::vector<float>& a, const std::vector<float>& b, int lag, int from, int to)
{
    double ab = 0.0;
    double aa = 0.0;
    double bb = 0.0;
    for (int t = from; t < to; ++t) {
        const double x = a[static_cast<std::size_t>(t)];
        const double y = b[static_cast<std::size_t>(t + lag)];
        ab += x * y;
        aa += x * x;
        bb += y * y;
    }
    return ab / std::sqrt(aa * bb);
}

float steepestStep(const std::vector<float>& x, int from, int to)
{
    float most = 0.0f;
    for (int i = std::max(1, from); i < to; ++i)
        most = std::max(most, std::fabs(x[static_cast<std::size_t>(i)] - x[static_cast<std::size_t>(i - 1)]));
    return most;
}

const Settings stereoSettings[] = {
    {12.0f, 1.45f, false, 0.0f}, {0.6f, 1.0f, true, 0.0f}, {-12.0f, 0.8f, false, 0.0f}, {-2.0f, 0.72f, true, 0.0f}};

} // namespace

TEST(PitchShifterStereo, IdenticalChannelsGiveTheMonoOutputExactly)
{
    const int length = 96000;
    const auto voice = voiceWithHits(length);
    for (const auto& s : stereoSettings) {
        SCOPED_TRACE(::testing::Message() << s);
        const auto mono = renderMono(s, voice, 2048, 128);
        tolmar::PitchShifter shifter;
        shifter.configure(2, 2048, 128);
        apply(shifter, s);
        const auto stereo = render(shifter, {voice, voice}, 333);
        for (std::size_t c = 0; c < 2; ++c)
            EXPECT_EQ(0, std::memcmp(stereo[c].data(), mono.data(), sizeof(float) * mono.size())) << "channel " << c;
    }
}

TEST(PitchShifterStereo, ChannelsThatStartAndStopDifferingDoNotClick)
{
    // A mono vocal on a stereo track whose right channel becomes a second microphone's (12 samples later at
    // 0.8) for one second and then the same again.
    const int length = 144000;
    const int differFrom = 48000;
    const int differUntil = 96000;
    const auto voice = testing_support::voicedMaterial(48000.0, 3.01, false).signal;
    const auto second = delayed(voice, 12, 0.8f);
    std::vector<float> left(voice.begin(), voice.begin() + length);
    std::vector<float> right = left;
    // 10 ms cross-fades, so that the input itself has no step.
    for (int i = differFrom; i < differUntil + 480; ++i) {
        const double into = std::min(i - differFrom, differUntil + 480 - i) / 480.0;
        const auto gain = static_cast<float>(into >= 1.0 ? 1.0 : 0.5 - 0.5 * std::cos(twoPi / 2.0 * into));
        const auto at = static_cast<std::size_t>(i);
        right[at] = left[at] + gain * (second[at] - left[at]);
    }
    for (const auto& s : stereoSettings) {
        SCOPED_TRACE(::testing::Message() << s);
        tolmar::PitchShifter shifter;
        shifter.configure(2, 2048, 128);
        apply(shifter, s);
        const auto out = render(shifter, {left, right}, 512);
        // Until the first different sample, both channels are the mono output.
        const auto mono = renderMono(s, left, 2048, 128);
        for (std::size_t c = 0; c < 2; ++c) {
            EXPECT_EQ(0, std::memcmp(out[c].data(), mono.data(), sizeof(float) * differFrom)) << "channel " << c;
            // Around each change the steepest step stays within that of the steady stretches on either side.
            const float steady = std::max(steepestStep(out[c], 20000, 44000), steepestStep(out[c], 70000, 92000));
            for (const int change : {differFrom, differUntil})
                EXPECT_LT(steepestStep(out[c], change - 1000, change + 4096), 1.25f * steady)
                    << "channel " << c << " around " << change;
            EXPECT_TRUE(allFiniteAndNormal(out[c].data(), out[c].size()));
        }
    }
}

TEST(PitchShifterStereo, KeepsTheStereoImage)
{
    // The output's channel correlation at the input's lag stays that of the input: a second microphone (12
    // samples later at 0.8), and two different takes (a speech-like phrase with hits, and a sung vowel).
    // Two takes share the regions' shifts, taken from the louder take's partial; an octave down, that moves the
    // quieter take's partial in a region by up to half its distance from the louder's, and the takes come a
    // little closer than they were (by 0.022 here, where shifting each channel on its own gave 0.046).
    const int length = 96000;
    std::vector<float> speech = voiceWithHits(length);
    auto sung = testing_support::voicedMaterial(48000.0, 2.01, false).signal;
    sung.resize(static_cast<std::size_t>(length));
    struct Case {
        const char* name;
        std::vector<float> left, right;
        int lag;
        double toleranceOctaveDown;
    };
    const Case cases[] = {{"second microphone", speech, delayed(speech, 12, 0.8f), 12, 0.02},
                          {"two takes", speech, sung, 0, 0.03}};
    for (const Case& k : cases) {
        const double before = correlation(k.left, k.right, k.lag, 4096, length - 4096);
        for (const auto& s : stereoSettings) {
            SCOPED_TRACE(::testing::Message() << k.name << ", " << s);
            tolmar::PitchShifter shifter;
            shifter.configure(2, 2048, 128);
            apply(shifter, s);
            const auto out = render(shifter, {k.left, k.right}, 512);
            const double after = correlation(out[0], out[1], k.lag, 6144, length - 2048);
            EXPECT_NEAR(after, before, s.semitones == -12.0f ? k.toleranceOctaveDown : 0.02);
        }
    }
}

TEST(PitchShifterRealTime, ProcessResetAndSettersNeverAllocate)
{
    tolmar::PitchShifter shifter;
    shifter.configure(2, 2048, 128);
    const Channels input{harmonicTone(230.0, 48000.0, 4096), noise(4096, 0.3f, 3)};
    std::vector<float> left(4096);
    std::vector<float> right(4096);
    const float* in[] = {input[0].data(), input[1].data()};
    float* out[] = {left.data(), right.data()};

    testing_support::ScopedAllocationCounter counter;
    for (const auto& s : {Settings{12.0f, 1.45f, false, 0.0046f}, Settings{-12.0f, 0.8f, false, 0.0f},
                          Settings{0.6f, 0.72f, true, 0.0f}, Settings{0.0f, 1.0f, false, 0.0f}}) {
        apply(shifter, s);
        shifter.process(in, 4096, out, 4096);
        shifter.process(in, 37, out, 37);
        shifter.process(in, 0, out, 0);
        shifter.reset();
    }
    EXPECT_EQ(counter.allocations(), 0u);
}

// ---------------------------------------------------------------------------------------------------------------
// Transients: percussive onsets are not announced before they happen

namespace {

// Pre-echo of the synthesised hits through the shifter, in chunks of `chunk` samples.
testing_support::PreEcho hitsPreEcho(const Settings& settings, const testing_support::Hits& hits, int chunk = 512)
{
    const auto output = renderMono(settings, hits.signal, 2048, 128, chunk);
    EXPECT_TRUE(allFiniteAndNormal(output.data(), output.size()));
    return testing_support::preEcho(output, hits.onsets, 2048, 48000.0);
}

} // namespace

TEST(PitchShifterTransients, HitsAreNotSpreadAheadOfTheirOnsetForAnyShift)
{
    // Clicks, plucks, "t" bursts and wood blocks from silence. A plain phase vocoder spreads each over the
    // whole window, 15 to 20 dB below the hit; the onset must stay where it is.
    const auto hits = testing_support::percussiveHits(48000.0);
    for (const auto& s :
         {Settings{12.0f, 1.45f, false, 0.0f}, Settings{-12.0f, 0.8f, false, 0.0f}, Settings{16.0f, 1.15f, false, 0.0f},
          Settings{7.0f, 1.0f, false, 0.0f}, Settings{-2.0f, 0.72f, true, 0.0f}, Settings{0.6f, 1.0f, true, 0.0f}}) {
        const auto echo = hitsPreEcho(s, hits);
        RecordProperty("preEchoDb_" + settingsName(s), std::to_string(echo.pooledDb));
        EXPECT_LT(echo.pooledDb, -40.0) << settingsName(s);
        EXPECT_LT(echo.worstDb, -30.0) << settingsName(s);
    }
}

TEST(PitchShifterTransients, OnsetHandlingIsBitIdenticalForAnyChunking)
{
    // Hits from silence and over a tone while the settings change every 300 samples: where the onset
    // detector looks and where it cuts must not depend on the host's blocks.
    const auto hits = testing_support::percussiveHits(48000.0);
    const int length = 120000;
    auto input = harmonicTone(190.0, 48000.0, length, 0.1f);
    std::fill(input.begin(), input.begin() + 20000, 0.0f);
    for (int i = 0; i < length; ++i)
        input[static_cast<std::size_t>(i)] += hits.signal[static_cast<std::size_t>(i)];
    auto run = [&](int chunk) {
        tolmar::PitchShifter shifter;
        shifter.configure(1, 2048, 128);
        auto schedule = [&](int position) {
            const int step = position / 300;
            apply(shifter, {step % 2 == 0 ? 12.0f : -7.5f, step % 3 == 0 ? 1.45f : 0.9f, step % 5 == 0, 0.0f});
        };
        return render(shifter, {input}, chunk, schedule, 300)[0];
    };
    const auto reference = run(length);
    ASSERT_TRUE(allFiniteAndNormal(reference.data(), reference.size()));
    for (int chunk : {1, 7, 512, 4097})
        EXPECT_EQ(0, std::memcmp(run(chunk).data(), reference.data(), sizeof(float) * length)) << "chunk " << chunk;
}

// ---------------------------------------------------------------------------------------------------------------
// Octave up with the formant move: nothing between the output's harmonics

TEST(PitchShifterHarmonics, OctaveUpWithFormantMoveLeavesTheGapsBetweenHarmonicsClear)
{
    // A breathy sung vowel at 180 Hz. An octave up, the odd multiples of 180 Hz lie halfway between the
    // output's harmonics; breath and jitter peaks between the input's harmonics must not land there.
    const auto vowel = testing_support::voicedMaterial(48000.0, 3.0, false);
    auto gapsDb = [&](float hintHz) {
        const auto output = renderMono({12.0f, 1.45f, false, hintHz / 48000.0f}, vowel.signal, 2048, 128);
        EXPECT_TRUE(allFiniteAndNormal(output.data(), output.size()));
        return testing_support::octaveUpBetweenHarmonicsDb(output, vowel.fundamentalHz, 2048, 48000.0, 0.9);
    };
    const double withHint = gapsDb(180.0f);
    const double withoutHint = gapsDb(0.0f);
    const double octaveHighHint = gapsDb(360.0f);
    RecordProperty("gapsDbWithHint", std::to_string(withHint));
    RecordProperty("gapsDbWithoutHint", std::to_string(withoutHint));
    EXPECT_LT(withHint, -38.0);
    // A hint the spectrum contradicts (an octave too high) is not used to merge peaks, so it does no harm.
    EXPECT_LT(octaveHighHint, withoutHint + 1.0);
}
