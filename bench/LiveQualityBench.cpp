#include "dsp/Engine.h"
#include "dsp/LiveCorrector.h"
#include "dsp/PitchDetector.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

// How well Live corrects, beside the full path where both apply: the share of voiced frames that land within
// ±5 cents of the scale note, the vowel's spectral envelope after a correction of ±1 semitone, and the energy
// between the output's harmonics. Figures for the README; each runs once.
namespace {

constexpr double rate = 48000.0;
constexpr double twoPi = 6.283185307179586;

struct Formant {
    double hz, bandwidthHz, gain;
};
// An "ah": three resonances.
constexpr Formant vowelFormants[] = {{750.0, 90.0, 1.0}, {1200.0, 110.0, 0.6}, {2600.0, 160.0, 0.25}};

// The vowel's spectral envelope (linear magnitude of the parallel resonators) at hz.
double envelopeAt(double hz)
{
    double re = 0.0;
    double im = 0.0;
    for (const Formant& f : vowelFormants) {
        const double r = std::exp(-twoPi * f.bandwidthHz / 2.0 / rate);
        const double w = twoPi * hz / rate;
        const double c = 2.0 * r * std::cos(twoPi * f.hz / rate);
        // 1 / (1 - c z^-1 + r^2 z^-2) at z = e^{jw}
        const double dr = 1.0 - c * std::cos(w) + r * r * std::cos(2.0 * w);
        const double di = c * std::sin(w) - r * r * std::sin(2.0 * w);
        const double d = dr * dr + di * di;
        re += f.gain * dr / d;
        im -= f.gain * di / d;
    }
    return std::hypot(re, im);
}

// A sung vowel: a pulse train at f0 (cents of vibrato at 5.5 Hz, a relative jitter of each period) through the
// vowel's resonators.
std::vector<float> vowel(double f0, double vibratoCents, double jitter, int samples, std::uint32_t seed)
{
    std::vector<float> out(static_cast<std::size_t>(samples));
    struct State {
        double y1 = 0.0, y2 = 0.0;
    };
    State states[3];
    double phase = 0.0;
    double periodScale = 1.0;
    std::uint32_t random = seed;
    for (int i = 0; i < samples; ++i) {
        const double hz = f0 * std::exp2(vibratoCents / 1200.0 * std::sin(twoPi * 5.5 * i / rate));
        phase += hz / rate / periodScale;
        double pulse = 0.0;
        if (phase >= 1.0) {
            phase -= 1.0;
            pulse = 1.0;
            random ^= random << 13;
            random ^= random >> 17;
            random ^= random << 5;
            periodScale = 1.0 + jitter * (static_cast<double>(random) / 2147483648.0 - 1.0);
        }
        double sum = 0.0;
        for (std::size_t k = 0; k < 3; ++k) {
            const Formant& f = vowelFormants[k];
            const double r = std::exp(-twoPi * f.bandwidthHz / 2.0 / rate);
            const double c = 2.0 * r * std::cos(twoPi * f.hz / rate);
            const double y = pulse + c * states[k].y1 - r * r * states[k].y2;
            states[k].y2 = states[k].y1;
            states[k].y1 = y;
            sum += f.gain * y;
        }
        out[static_cast<std::size_t>(i)] = static_cast<float>(0.02 * sum);
    }
    return out;
}

double noteOf(double hz) { return 69.0 + 12.0 * std::log2(hz / 440.0); }

// Share of the voiced output frames (4096 samples, every 1024, after the first second) within 5 cents of
// targetNote, through the engine in Ultra edited (the full correction) in C minor.
double shareOnTarget(double f0, double targetNote, bool live)
{
    const auto voice = vowel(f0, 15.0, 0.005, 5 * static_cast<int>(rate), 3);
    std::vector<float> left = voice;
    std::vector<float> right = voice;
    tolmar::Engine engine;
    engine.prepare(rate, 256);
    tolmar::Settings settings;
    settings.mode = tolmar::Mode::ultraEdited;
    settings.live = live;
    for (std::size_t offset = 0; offset + 256 <= left.size(); offset += 256) {
        float* channels[] = {left.data() + offset, right.data() + offset};
        engine.process(channels, 2, 256, settings);
    }
    int voiced = 0;
    int onTarget = 0;
    for (std::size_t start = static_cast<std::size_t>(rate); start + 4096 <= left.size(); start += 1024) {
        const float hz = tolmar::estimatePitch(left.data() + start, 4096, rate);
        if (hz <= 0.0f)
            continue;
        ++voiced;
        onTarget += std::fabs(100.0 * (noteOf(hz) - targetNote)) <= 5.0 ? 1 : 0;
    }
    return voiced > 0 ? static_cast<double>(onTarget) / voiced : 0.0;
}

// Power of x at hz over a Hann-windowed stretch.
double powerAt(const std::vector<float>& x, std::size_t start, std::size_t length, double hz)
{
    double re = 0.0;
    double im = 0.0;
    for (std::size_t i = 0; i < length; ++i) {
        const double window = 0.5 - 0.5 * std::cos(twoPi * static_cast<double>(i) / static_cast<double>(length));
        const double angle = twoPi * hz * static_cast<double>(i) / rate;
        re += window * x[start + i] * std::cos(angle);
        im -= window * x[start + i] * std::sin(angle);
    }
    return re * re + im * im;
}

struct Spectral {
    double envelopeRmsDb = 0.0;  // harmonics against the vowel's envelope, mean level removed
    double betweenHarmonicsDb = 0.0; // power half-way between harmonics ÷ at them
};

// The corrector alone on a steady vowel at f0 moved by `semitones`, formants kept.
Spectral spectralAfterCorrection(double f0, double semitones)
{
    const auto voice = vowel(f0, 0.0, 0.0, 2 * static_cast<int>(rate), 5);
    tolmar::LiveCorrector corrector;
    corrector.prepare(1, rate);
    const auto ratio = static_cast<float>(std::exp2(semitones / 12.0));
    // No correction: no period, so the input passes as it is (the measure's own floor).
    corrector.setPitch(semitones == 0.0 ? 0.0f : static_cast<float>(rate / f0), ratio, 1.0f);
    std::vector<float> out(voice.size());
    const float* inputs[] = {voice.data()};
    float* outputs[] = {out.data()};
    corrector.process(inputs, outputs, static_cast<int>(voice.size()));

    const double hz = f0 * ratio;
    const std::size_t start = static_cast<std::size_t>(rate);
    const std::size_t length = 16384;
    std::vector<double> differences;
    double harmonics = 0.0;
    double between = 0.0;
    for (int k = 1; k * hz < 4000.0; ++k) {
        const double at = powerAt(out, start, length, k * hz);
        harmonics += at;
        between += powerAt(out, start, length, (k + 0.5) * hz);
        if (k * hz >= 200.0)
            differences.push_back(10.0 * std::log10(at) - 20.0 * std::log10(envelopeAt(k * hz)));
    }
    double mean = 0.0;
    for (const double d : differences)
        mean += d / static_cast<double>(differences.size());
    double squares = 0.0;
    for (const double d : differences)
        squares += (d - mean) * (d - mean) / static_cast<double>(differences.size());
    return {std::sqrt(squares), 10.0 * std::log10(between / harmonics)};
}

void liveQualityPitch(benchmark::State& state)
{
    const auto f0 = static_cast<double>(state.range(0));
    // 20 cents sharp of the nearest note of C minor at or below it.
    const double note = std::floor(noteOf(f0));
    const int minor[] = {0, 2, 3, 5, 7, 8, 10};
    double target = note;
    while (std::find(std::begin(minor), std::end(minor), static_cast<int>(target) % 12) == std::end(minor))
        target -= 1.0;
    const double sung = 440.0 * std::exp2((target + 0.2 - 69.0) / 12.0);
    double live = 0.0;
    double full = 0.0;
    for (auto _ : state) {
        live = shareOnTarget(sung, target, true);
        full = shareOnTarget(sung, target, false);
    }
    state.counters["liveWithin5CentsPct"] = 100.0 * live;
    state.counters["fullWithin5CentsPct"] = 100.0 * full;
}

void liveQualitySpectrum(benchmark::State& state)
{
    const auto f0 = static_cast<double>(state.range(0));
    Spectral up;
    Spectral down;
    Spectral input;
    for (auto _ : state) {
        up = spectralAfterCorrection(f0, 1.0);
        down = spectralAfterCorrection(f0, -1.0);
        input = spectralAfterCorrection(f0, 0.0);
    }
    state.counters["envelopeRmsDbInput"] = input.envelopeRmsDb;
    state.counters["envelopeRmsDbUp"] = up.envelopeRmsDb;
    state.counters["envelopeRmsDbDown"] = down.envelopeRmsDb;
    state.counters["betweenHarmonicsDbUp"] = up.betweenHarmonicsDb;
    state.counters["betweenHarmonicsDbDown"] = down.betweenHarmonicsDb;
}

} // namespace

BENCHMARK(liveQualityPitch)->ArgName("hz")->Arg(82)->Arg(110)->Arg(165)->Arg(220)->Arg(330)->Arg(440)->Arg(550)->Arg(700)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(liveQualitySpectrum)->ArgName("hz")->Arg(110)->Arg(220)->Arg(440)->Iterations(1)->Unit(benchmark::kMillisecond);
