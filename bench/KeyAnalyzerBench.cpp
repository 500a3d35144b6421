#include "dsp/Key.h"
#include "dsp/KeyAnalyzer.h"
#include "dsp/NoteSalience.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <vector>

// The key analyser's share of one core on stereo 48 kHz in blocks of 512, restarted whenever it decides so it
// always works: on chords of harmonic tones (a few dozen peaks per frame) and on white noise (hundreds of peaks
// above the threshold, the most the per-peak overtone search ever sees).
namespace {

constexpr double rate = 48000.0;
constexpr int block = 512;
constexpr int total = static_cast<int>(rate) * 4;
constexpr double twoPi = 6.283185307179586;

double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

std::vector<float> input(bool noise)
{
    std::vector<float> out(static_cast<std::size_t>(total));
    std::uint32_t state = 1;
    const double notes[] = {110.0, 220.0, 261.63, 329.63, 392.0}; // A2, A3, C4, E4, G4
    for (int i = 0; i < total; ++i) {
        double v = 0.0;
        if (noise) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            v = 0.5 * (static_cast<double>(state) / 2147483648.0 - 1.0);
        } else {
            for (const double f : notes)
                for (int n = 1; n <= 8; ++n)
                    v += 0.05 / n * std::sin(twoPi * n * f * i / rate);
        }
        out[static_cast<std::size_t>(i)] = static_cast<float>(v);
    }
    return out;
}

void keyAnalyzer(benchmark::State& state)
{
    const auto signal = input(state.range(0) == 1);
    tolmar::KeyAnalyzer analyzer;
    analyzer.prepare(rate);
    double cpu = 0.0;
    double audio = 0.0;
    for (auto _ : state) {
        const double start = threadCpuSeconds();
        for (int at = 0; at + block <= total; at += block) {
            const float* channels[] = {signal.data() + at, signal.data() + at};
            analyzer.process(channels, 2, block);
            if (tolmar::isDecided(tolmar::keyStageFrom(analyzer.stage())))
                analyzer.restore(-1);
        }
        cpu += threadCpuSeconds() - start;
        audio += total / rate;
    }
    state.counters["core_pct"] = 100.0 * cpu / audio;
}

// The note search alone on the most peaks a frame can hold (one every other bin), as the share of a core at
// 48 kHz, where a frame comes every 1024 / 12000 s.
void noteSearchWorstFrame(benchmark::State& state)
{
    std::vector<tolmar::SpectralPeak> peaks;
    std::uint32_t noise = 1;
    for (int k = 2; k < 2048; k += 2) {
        noise ^= noise << 13;
        noise ^= noise >> 17;
        noise ^= noise << 5;
        peaks.push_back({k * 12000.0 / 4096.0, 0.5f + static_cast<float>(noise % 1000) / 1000.0f});
    }
    tolmar::NoteSalience notes;
    double cpu = 0.0;
    double frames = 0.0;
    for (auto _ : state) {
        std::array<float, 12> weights{};
        const double start = threadCpuSeconds();
        benchmark::DoNotOptimize(
            notes.addPitchClassWeights(peaks.data(), static_cast<int>(peaks.size()), 4000.0, weights));
        cpu += threadCpuSeconds() - start;
        frames += 1.0;
    }
    state.counters["core_pct_at_48k"] = 100.0 * cpu / frames * (12000.0 / 1024.0);
}

} // namespace

BENCHMARK(keyAnalyzer)->Arg(0)->Arg(1)->ArgName("noise")->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(noteSearchWorstFrame)->Unit(benchmark::kMicrosecond);
