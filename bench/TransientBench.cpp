#include "dsp/Engine.h"
#include "dsp/PitchShifter.h"

#include "TransientMaterial.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

// Sound figures of the pitch shifter rather than timings; each benchmark runs its measurement once.
//
// preEchoDb / worstHitDb: energy in the 48 ms before each percussive onset against the 50 ms after it, pooled
// over the hits and for the worst hit; for the shifter alone with the modes' transposition and formant
// settings, and through the whole "Mosquito" and "Satanic" modes. "Synth" material is twelve synthesised
// hits; "Castanets" is twelve General MIDI castanet hits rendered by bench/render-percussion, read from the
// file named by the environment variable TOLMAR_PERCUSSION (skipped when it is not set).
//
// betweenHarmonicsDb: for an octave up, the 90th percentile over frames of the power at odd multiples of the
// input fundamental against the output harmonics, for a sung vowel and for speech-like material, with the
// "Mosquito" formant move (1.45, fundamental hint) and without it.
namespace {

constexpr double sampleRate = 48000.0;

using testing_support::Hits;

std::vector<float> shift(const std::vector<float>& input, float semitones, float factor, float base)
{
    tolmar::PitchShifter shifter;
    shifter.configure(1, 2048, 128);
    shifter.setTransposeSemitones(semitones);
    shifter.setFormantFactor(factor, false);
    shifter.setFormantBase(base);
    std::vector<float> output(input.size(), 0.0f);
    for (std::size_t at = 0; at < input.size(); at += 512) {
        const int step = static_cast<int>(std::min<std::size_t>(512, input.size() - at));
        const float* in[] = {input.data() + at};
        float* out[] = {output.data() + at};
        shifter.process(in, step, out, step);
    }
    return output;
}

std::vector<float> throughMode(const std::vector<float>& input, tolmar::Mode mode, int& latency)
{
    tolmar::Engine engine;
    engine.prepare(sampleRate, 512);
    latency = engine.latency();
    std::vector<float> buffer = input;
    tolmar::Settings settings;
    settings.mode = mode;
    for (std::size_t at = 0; at < buffer.size(); at += 512) {
        const int step = static_cast<int>(std::min<std::size_t>(512, buffer.size() - at));
        float* channels[] = {buffer.data() + at};
        engine.process(channels, 1, step, settings);
    }
    return buffer;
}

bool loadCastanets(Hits& hits)
{
    const char* path = std::getenv("TOLMAR_PERCUSSION");
    if (path == nullptr)
        return false;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr)
        return false;
    float value = 0.0f;
    while (std::fread(&value, sizeof(value), 1, file) == 1)
        hits.signal.push_back(value);
    std::fclose(file);
    hits.onsets = testing_support::findOnsets(hits.signal, sampleRate);
    return !hits.onsets.empty();
}

bool material(benchmark::State& state, bool castanets, Hits& hits)
{
    if (!castanets) {
        hits = testing_support::percussiveHits(sampleRate);
        return true;
    }
    if (loadCastanets(hits))
        return true;
    state.SkipWithError("TOLMAR_PERCUSSION names no castanet recording (bench/render-percussion makes one)");
    return false;
}

void report(benchmark::State& state, const testing_support::PreEcho& echo, std::size_t hits)
{
    state.counters["preEchoDb"] = echo.pooledDb;
    state.counters["worstHitDb"] = echo.worstDb;
    state.counters["hits"] = static_cast<double>(hits);
}

void shifterPreEcho(benchmark::State& state, bool castanets, float semitones, float factor)
{
    Hits hits;
    if (!material(state, castanets, hits))
        return;
    for (auto _ : state) {
        const auto output = shift(hits.signal, semitones, factor, 0.0f);
        report(state, testing_support::preEcho(output, hits.onsets, 2048, sampleRate), hits.onsets.size());
    }
}

void modePreEcho(benchmark::State& state, bool castanets, tolmar::Mode mode)
{
    Hits hits;
    if (!material(state, castanets, hits))
        return;
    for (auto _ : state) {
        int latency = 0;
        const auto output = throughMode(hits.signal, mode, latency);
        report(state, testing_support::preEcho(output, hits.onsets, latency, sampleRate), hits.onsets.size());
    }
}

void betweenHarmonics(benchmark::State& state, bool speechLike, bool formantMove)
{
    const auto voice = testing_support::voicedMaterial(sampleRate, 8.0, speechLike);
    for (auto _ : state) {
        // The mode hands the detected fundamental as a hint; here the true one, per host block.
        tolmar::PitchShifter shifter;
        shifter.configure(1, 2048, 128);
        shifter.setTransposeSemitones(12.0f);
        std::vector<float> output(voice.signal.size(), 0.0f);
        for (std::size_t at = 0; at < output.size(); at += 512) {
            const int step = static_cast<int>(std::min<std::size_t>(512, output.size() - at));
            shifter.setFormantFactor(formantMove ? 1.45f : 1.0f, false);
            shifter.setFormantBase(formantMove ? voice.fundamentalHz[at] / static_cast<float>(sampleRate) : 0.0f);
            const float* in[] = {voice.signal.data() + at};
            float* out[] = {output.data() + at};
            shifter.process(in, step, out, step);
        }
        state.counters["betweenHarmonicsDb"] =
            testing_support::octaveUpBetweenHarmonicsDb(output, voice.fundamentalHz, 2048, sampleRate, 0.9);
    }
}

} // namespace

BENCHMARK_CAPTURE(shifterPreEcho, synthUp12Formant145, false, 12.0f, 1.45f)->Iterations(1);
BENCHMARK_CAPTURE(shifterPreEcho, synthDown12Formant08, false, -12.0f, 0.8f)->Iterations(1);
BENCHMARK_CAPTURE(modePreEcho, synthMosquito, false, tolmar::Mode::mosquito)->Iterations(1);
BENCHMARK_CAPTURE(modePreEcho, synthSatanic, false, tolmar::Mode::satanic)->Iterations(1);
BENCHMARK_CAPTURE(shifterPreEcho, castanetsUp12Formant145, true, 12.0f, 1.45f)->Iterations(1);
BENCHMARK_CAPTURE(shifterPreEcho, castanetsDown12Formant08, true, -12.0f, 0.8f)->Iterations(1);
BENCHMARK_CAPTURE(modePreEcho, castanetsMosquito, true, tolmar::Mode::mosquito)->Iterations(1);
BENCHMARK_CAPTURE(modePreEcho, castanetsSatanic, true, tolmar::Mode::satanic)->Iterations(1);
BENCHMARK_CAPTURE(betweenHarmonics, vowelOctaveUp, false, false)->Iterations(1);
BENCHMARK_CAPTURE(betweenHarmonics, vowelOctaveUpFormant145, false, true)->Iterations(1);
BENCHMARK_CAPTURE(betweenHarmonics, speechOctaveUp, true, false)->Iterations(1);
BENCHMARK_CAPTURE(betweenHarmonics, speechOctaveUpFormant145, true, true)->Iterations(1);
