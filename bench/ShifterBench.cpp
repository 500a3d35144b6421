#include "dsp/LiveCorrector.h"
#include "dsp/PitchShifter.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

// CPU time of the pitch shifter per second of stereo 48 kHz audio (two different takes, or a mono vocal on a
// stereo track) in host blocks of 512 samples, with the engine's configuration (block 2048, interval 128). The
// counter "cpuPerAudioSecond" is the ratio of CPU time to audio time measured in the run (below 1 is faster
// than real time).
namespace {

constexpr double sampleRate = 48000.0;
constexpr int hostBlock = 512;
constexpr int seconds = 2;

// A sung-vowel stand-in: a 196 Hz fundamental with 5 Hz vibrato, harmonics falling as 1/k, a little noise.
std::vector<float> voice(double vibratoPhase, std::uint32_t seed)
{
    const int length = seconds * static_cast<int>(sampleRate);
    std::vector<float> out(static_cast<std::size_t>(length));
    double phase = 0.0;
    std::uint32_t state = seed;
    for (int i = 0; i < length; ++i) {
        const double f0 = 196.0 * (1.0 + 0.01 * std::sin(6.283185307179586 * 5.0 * i / sampleRate + vibratoPhase));
        phase += 6.283185307179586 * f0 / sampleRate;
        double sample = 0.0;
        for (int k = 1; k <= 40 && k * f0 < 0.45 * sampleRate; ++k)
            sample += std::sin(k * phase) / k;
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        const double hiss = static_cast<double>(state) / 4294967296.0 - 0.5;
        out[static_cast<std::size_t>(i)] = static_cast<float>(0.2 * sample + 0.002 * hiss);
    }
    return out;
}

// Adds a 2 ms noise click every `spacing` samples: onsets close enough that every frame holds one.
void addClicks(std::vector<float>& x, int spacing)
{
    std::uint32_t state = 3;
    for (std::size_t start = 0; start < x.size(); start += static_cast<std::size_t>(spacing))
        for (std::size_t i = 0; i < 96 && start + i < x.size(); ++i) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            x[start + i] +=
                2.0f * (static_cast<float>(state) / 4294967296.0f - 0.5f) * std::exp(-static_cast<float>(i) / 48.0f);
        }
}

// Runs `process(inputs, outputs)` over host blocks of the two channels, round and round, and reports the CPU time
// per second of audio; `warmUp` samples run first, unmeasured.
template <typename Process>
void measureBlocks(benchmark::State& state, const std::vector<float>& left, const std::vector<float>& right,
                   int warmUp, Process process)
{
    std::vector<float> outLeft(hostBlock);
    std::vector<float> outRight(hostBlock);
    float* outputs[] = {outLeft.data(), outRight.data()};
    const int length = static_cast<int>(left.size());
    int position = 0;
    for (; position + hostBlock <= warmUp; position += hostBlock) {
        const float* inputs[] = {left.data() + position, right.data() + position};
        process(inputs, outputs);
    }
    std::int64_t samples = 0;
    for (auto _ : state) {
        if (position + hostBlock > length)
            position = 0;
        const float* inputs[] = {left.data() + position, right.data() + position};
        process(inputs, outputs);
        benchmark::DoNotOptimize(outLeft.data());
        benchmark::DoNotOptimize(outRight.data());
        position += hostBlock;
        samples += hostBlock;
    }
    state.counters["cpuPerAudioSecond"] = benchmark::Counter(static_cast<double>(samples) / sampleRate,
                                                             benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

enum class Channels { trueStereo, monoOnStereo };

void shiftStereo(benchmark::State& state, float semitones, float factor, bool compensate, float base,
                 int clickSpacing = 0, Channels channels = Channels::trueStereo)
{
    tolmar::PitchShifter shifter;
    shifter.configure(2, 2048, 128);
    shifter.setTransposeSemitones(semitones);
    shifter.setFormantFactor(factor, compensate);
    shifter.setFormantBase(base);

    std::vector<float> left = voice(0.0, 1);
    std::vector<float> right = voice(1.0, 2);
    if (clickSpacing > 0) {
        addClicks(left, clickSpacing);
        addClicks(right, clickSpacing);
    }
    if (channels == Channels::monoOnStereo)
        right = left;
    // Warm up past the latency so that every measured block carries signal.
    measureBlocks(state, left, right, 4096, [&shifter](const float* const* inputs, float* const* outputs) {
        shifter.process(inputs, hostBlock, outputs, hostBlock);
    });
}

// "Mosquito": an octave up with the formants raised further by 1.45, fundamental hint given.
void shifterOctaveUpFormant145(benchmark::State& state)
{
    shiftStereo(state, 12.0f, 1.45f, false, 196.0f / 48000.0f);
}
// A tuned style's small correction with the formants kept in place.
void shifterCorrectionCompensated(benchmark::State& state)
{
    shiftStereo(state, 0.6f, 1.0f, true, 0.0f);
}
// "Satanic": an octave down, formants 0.8.
void shifterOctaveDownFormant08(benchmark::State& state)
{
    shiftStereo(state, -12.0f, 0.8f, false, 0.0f);
}
// "Mosquito" with a click every 30 ms: the worst case of the transient handling, which shifts the parts
// before and after an onset separately in every frame that holds one.
void shifterOctaveUpDenseOnsets(benchmark::State& state)
{
    shiftStereo(state, 12.0f, 1.45f, false, 196.0f / 48000.0f, 1440);
}
// The same three on a mono vocal placed on a stereo track: identical channels.
void shifterOctaveUpFormant145MonoOnStereo(benchmark::State& state)
{
    shiftStereo(state, 12.0f, 1.45f, false, 196.0f / 48000.0f, 0, Channels::monoOnStereo);
}
void shifterCorrectionCompensatedMonoOnStereo(benchmark::State& state)
{
    shiftStereo(state, 0.6f, 1.0f, true, 0.0f, 0, Channels::monoOnStereo);
}
void shifterOctaveUpDenseOnsetsMonoOnStereo(benchmark::State& state)
{
    shiftStereo(state, 12.0f, 1.45f, false, 196.0f / 48000.0f, 1440, Channels::monoOnStereo);
}
// No shift: the identity path.
void shifterIdentity(benchmark::State& state)
{
    shiftStereo(state, 0.0f, 1.0f, false, 0.0f);
}

} // namespace

// The low-latency corrector on the same voice and blocks, with the period a detector would give: a
// correction of +0.6 semitones with the formants kept, and with Ultra edited's formant factor.
void correctLive(benchmark::State& state, float semitones, float formantFactor)
{
    tolmar::LiveCorrector corrector;
    corrector.prepare(2, sampleRate);
    corrector.setPitch(static_cast<float>(sampleRate / 196.0), std::exp2(semitones / 12.0f), formantFactor);
    measureBlocks(state, voice(0.0, 1), voice(1.0, 2), 0,
                  [&corrector](const float* const* inputs, float* const* outputs) {
                      corrector.process(inputs, outputs, hostBlock);
                  });
}

void liveCorrectorCorrection(benchmark::State& state)
{
    correctLive(state, 0.6f, 1.0f);
}

void liveCorrectorUltraFormants(benchmark::State& state)
{
    correctLive(state, 0.6f, 0.72f);
}

BENCHMARK(shifterOctaveUpFormant145)->MinTime(1.0);
BENCHMARK(shifterCorrectionCompensated)->MinTime(1.0);
BENCHMARK(shifterOctaveDownFormant08)->MinTime(1.0);
BENCHMARK(shifterOctaveUpDenseOnsets)->MinTime(1.0);
BENCHMARK(shifterIdentity)->MinTime(1.0);
BENCHMARK(shifterOctaveUpFormant145MonoOnStereo)->MinTime(1.0);
BENCHMARK(shifterCorrectionCompensatedMonoOnStereo)->MinTime(1.0);
BENCHMARK(shifterOctaveUpDenseOnsetsMonoOnStereo)->MinTime(1.0);
BENCHMARK(liveCorrectorCorrection)->MinTime(1.0);
BENCHMARK(liveCorrectorUltraFormants)->MinTime(1.0);
