#include "dsp/Engine.h"
#include "dsp/PitchDetector.h"
#include "dsp/PitchShifter.h"
#include "dsp/VoiceChains.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <vector>

// The engine per mode against the pitch shifter alone, both fed the same second of stereo 48 kHz audio in
// blocks of 512 within each iteration, so the ratio comes from one run on one machine state.
namespace {

constexpr double rate = 48000.0;
constexpr int block = 512;
constexpr int seconds = 1;
constexpr int total = static_cast<int>(rate) * seconds;

double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// A sung vowel with a slow vibrato on the left, the same a little quieter with breath noise on the right.
std::vector<std::vector<float>> voiceInput()
{
    std::vector<std::vector<float>> channels(2, std::vector<float>(total));
    double phase = 0.0;
    std::uint32_t state = 1;
    for (int i = 0; i < total; ++i) {
        const double hz = 196.0 * std::exp2(0.3 / 12.0 * std::sin(6.283185307179586 * 5.0 * i / rate));
        phase += 6.283185307179586 * hz / rate;
        double v = 0.0;
        for (int k = 1; k <= 10; ++k)
            v += 0.3 / k * std::sin(k * phase);
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        const double breath = 0.02 * (static_cast<double>(state) / 2147483648.0 - 1.0);
        channels[0][static_cast<std::size_t>(i)] = static_cast<float>(v);
        channels[1][static_cast<std::size_t>(i)] = static_cast<float>(0.8 * v + breath);
    }
    return channels;
}

void engineAgainstShifter(benchmark::State& state)
{
    const auto mode = static_cast<tolmar::Mode>(state.range(0));
    const tolmar::VoiceProfile& profile = tolmar::voiceProfile(mode);
    const auto input = voiceInput();
    std::vector<std::vector<float>> work = input;
    std::vector<std::vector<float>> shifted(2, std::vector<float>(block));

    tolmar::Engine engine;
    engine.prepare(rate, block);
    tolmar::PitchShifter shifter;
    shifter.configure(2, 2048, 2048 / 16);

    tolmar::Settings settings;
    settings.mode = mode;
    settings.root = 7;

    auto runEngine = [&] {
        work = input;
        for (int offset = 0; offset < total; offset += block) {
            float* channels[2] = {work[0].data() + offset, work[1].data() + offset};
            engine.process(channels, 2, std::min(block, total - offset), settings);
        }
        benchmark::DoNotOptimize(work[0].data());
    };
    // The tuned modes always move the voice a little; an exact 0 would let the shifter pass frames through.
    const float referenceShift = profile.baseSemitones + (tolmar::isTunedMode(mode) ? 0.3f : 0.0f);
    auto runShifter = [&] {
        for (int offset = 0; offset < total; offset += block) {
            shifter.setTransposeSemitones(referenceShift);
            shifter.setFormantFactor(profile.formantFactor, tolmar::isTunedMode(mode));
            shifter.setFormantBase(0.0f);
            const float* in[2] = {input[0].data() + offset, input[1].data() + offset};
            float* out[2] = {shifted[0].data(), shifted[1].data()};
            const int length = std::min(block, total - offset);
            shifter.process(in, length, out, length);
        }
        benchmark::DoNotOptimize(shifted[0].data());
    };
    // The engine's share spent in the pitch detector: one estimate per 512 samples on a 512-sample frame at
    // 12 kHz (mastering never estimates).
    std::vector<float> frame(512);
    for (std::size_t i = 0; i < frame.size(); ++i)
        frame[i] = input[0][4 * i];
    const int estimates = mode == tolmar::Mode::master ? 0 : total / 512;
    auto runDetector = [&] {
        float sum = 0.0f;
        for (int k = 0; k < estimates; ++k) {
            frame[static_cast<std::size_t>(k) % frame.size()] += 1e-7f;
            sum += tolmar::estimatePitch(frame.data(), frame.size(), 12000.0);
        }
        benchmark::DoNotOptimize(sum);
    };
    runEngine();
    runShifter();

    double engineCpu = 0.0;
    double detectorCpu = 0.0;
    double shifterCpu = 0.0;
    double audioSeconds = 0.0;
    for (auto _ : state) {
        const double t0 = threadCpuSeconds();
        runEngine();
        const double t1 = threadCpuSeconds();
        runShifter();
        const double t2 = threadCpuSeconds();
        runDetector();
        const double t3 = threadCpuSeconds();
        engineCpu += t1 - t0;
        shifterCpu += t2 - t1;
        detectorCpu += t3 - t2;
        audioSeconds += seconds;
    }
    state.counters["engine_cpu_per_s"] = engineCpu / audioSeconds;
    state.counters["shifter_cpu_per_s"] = shifterCpu / audioSeconds;
    state.counters["engine_over_shifter"] = engineCpu / shifterCpu;
    state.counters["engine_x_realtime"] = audioSeconds / engineCpu;
    state.counters["detector_over_shifter"] = detectorCpu / shifterCpu;
}

} // namespace

BENCHMARK(engineAgainstShifter)->DenseRange(0, 7)->ArgName("mode")->Unit(benchmark::kMillisecond)->UseRealTime();
