#include "plugin/Processor.h"
#include "dsp/Key.h"
#include "dsp/KeyAnalyzer.h"
#include "render/DemoMaterial.h"

#include <benchmark/benchmark.h>
#include <juce_events/juce_events.h>

#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <memory>
#include <vector>

// The whole plug-in processor as a host drives it: stereo voice and stereo beat on the side-chain at 48 kHz in
// blocks of 512. Reports per mode the processor's CPU per second of audio and how many instances one core runs
// in real time, the key analyser's share of a core against the processor in the same run, and the heap held by
// one prepared instance.
namespace {

constexpr double rate = 48000.0;
constexpr int block = 512;

double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

const tolmar::render::DemoMaterial& material()
{
    static const auto demo = tolmar::render::makeDemoMaterial(rate);
    return demo;
}

std::unique_ptr<TolmarProcessor> preparedProcessor()
{
    auto processor = std::make_unique<TolmarProcessor>();
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add(juce::AudioChannelSet::stereo());
    layout.inputBuses.add(juce::AudioChannelSet::stereo());
    layout.outputBuses.add(juce::AudioChannelSet::stereo());
    processor->setBusesLayout(layout);
    processor->setRateAndBufferSizeDetails(rate, block);
    processor->prepareToPlay(rate, block);
    return processor;
}

// Host-style buffer: voice channels then beat channels, one block at `offset` (wrapping around the material).
// The demo voice is a mono vocal on a stereo track (identical channels); trueStereo makes its right channel the
// left one 12 samples later at 0.8, a voice heard through two microphones.
void fillBlock(juce::AudioBuffer<float>& buffer, std::size_t offset, bool trueStereo)
{
    const auto& demo = material();
    const std::size_t frames = demo.voice.numFrames();
    for (int i = 0; i < block; ++i) {
        const std::size_t at = (offset + static_cast<std::size_t>(i)) % frames;
        const std::size_t delayed = (offset + frames + static_cast<std::size_t>(i) - 12) % frames;
        buffer.setSample(0, i, demo.voice.channels[0][at]);
        buffer.setSample(1, i, trueStereo ? 0.8f * demo.voice.channels[1][delayed] : demo.voice.channels[1][at]);
        for (int ch = 0; ch < 2; ++ch)
            buffer.setSample(2 + ch, i, demo.beat.channels[static_cast<std::size_t>(ch)][at]);
    }
}

void measureProcessor(benchmark::State& state, tolmar::Mode mode, bool live, bool trueStereo = false)
{
    const juce::ScopedJuceInitialiser_GUI framework;
    auto processor = preparedProcessor();
    processor->selectMode(mode);
    auto* liveSwitch = processor->parameters.getParameter("live");
    liveSwitch->setValueNotifyingHost(live ? 1.0f : 0.0f);
    juce::AudioBuffer<float> buffer(4, block);
    juce::MidiBuffer midi;
    const int blocksPerSecond = static_cast<int>(rate) / block;
    const double audioPerRun = blocksPerSecond * block / rate;

    // The key analyser alone on the same beat, restarted whenever it decides so it always works.
    tolmar::KeyAnalyzer analyzer;
    analyzer.prepare(rate);
    juce::AudioBuffer<float> beat(2, block);

    double processorCpu = 0.0;
    double analyzerCpu = 0.0;
    double audioSeconds = 0.0;
    std::size_t offset = 0;
    for (auto _ : state) {
        for (int b = 0; b < blocksPerSecond; ++b, offset += block) {
            fillBlock(buffer, offset, trueStereo);
            beat.copyFrom(0, 0, buffer, 2, 0, block);
            beat.copyFrom(1, 0, buffer, 3, 0, block);
            const double t0 = threadCpuSeconds();
            processor->processBlock(buffer, midi);
            const double t1 = threadCpuSeconds();
            analyzer.process(beat.getArrayOfReadPointers(), 2, block);
            if (tolmar::isDecided(tolmar::keyStageFrom(analyzer.stage())))
                analyzer.restore(tolmar::noKey);
            const double t2 = threadCpuSeconds();
            processorCpu += t1 - t0;
            analyzerCpu += t2 - t1;
        }
        audioSeconds += audioPerRun;
    }
    state.counters["cpu_per_audio_s"] = processorCpu / audioSeconds;
    state.counters["x_realtime"] = audioSeconds / processorCpu;
    state.counters["instances_per_core"] = std::floor(audioSeconds / processorCpu);
    state.counters["analyzer_core_pct"] = 100.0 * analyzerCpu / audioSeconds;
    state.counters["analyzer_over_processor"] = analyzerCpu / processorCpu;
}

void processorPerMode(benchmark::State& state)
{
    measureProcessor(state, static_cast<tolmar::Mode>(state.range(0)), false);
}

// The four tuning styles with Live on: the low-latency corrector, with the shifter still running beside it.
void processorPerModeLive(benchmark::State& state)
{
    measureProcessor(state, static_cast<tolmar::Mode>(state.range(0)), true);
}

// The same with the voice in true stereo.
void processorPerModeTrueStereo(benchmark::State& state)
{
    measureProcessor(state, static_cast<tolmar::Mode>(state.range(0)), false, true);
}

// Heap in use (glibc's arena and mmapped blocks) before and after one processor is built and prepared.
void preparedInstanceMemory(benchmark::State& state)
{
    const juce::ScopedJuceInitialiser_GUI framework;
    material();
    double processorBytes = 0.0;
    double coreBytes = 0.0;
    for (auto _ : state) {
        const auto before = mallinfo2();
        auto processor = preparedProcessor();
        const auto after = mallinfo2();
        processorBytes = static_cast<double>((after.uordblks + after.hblkhd) - (before.uordblks + before.hblkhd));

        const auto coreBefore = mallinfo2();
        {
            auto engine = std::make_unique<tolmar::Engine>();
            auto analyzer = std::make_unique<tolmar::KeyAnalyzer>();
            engine->prepare(rate, block);
            analyzer->prepare(rate);
            const auto coreAfter = mallinfo2();
            coreBytes = static_cast<double>((coreAfter.uordblks + coreAfter.hblkhd)
                                            - (coreBefore.uordblks + coreBefore.hblkhd));
        }
        benchmark::DoNotOptimize(processor.get());
    }
    state.counters["processor_MiB"] = processorBytes / (1024.0 * 1024.0);
    state.counters["engine_and_analyzer_MiB"] = coreBytes / (1024.0 * 1024.0);
}

} // namespace

BENCHMARK(processorPerMode)->DenseRange(0, 7)->ArgName("mode")->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(processorPerModeLive)->Arg(2)->Arg(4)->Arg(5)->Arg(6)->ArgName("mode")->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(processorPerModeTrueStereo)->Arg(0)->Arg(2)->ArgName("mode")->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(preparedInstanceMemory)->Iterations(1)->Unit(benchmark::kMillisecond);
