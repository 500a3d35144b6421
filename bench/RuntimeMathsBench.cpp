#include <benchmark/benchmark.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

// The C runtime's maths that the shifter calls per spectral peak (and the rest of the core in its filters), one
// call per item, on a spread of arguments. Run on Linux and under Wine by scripts/bench-windows: the ratio
// shows how much of the Windows build's cost is the runtime's maths rather than our code or the FFT.
namespace {

constexpr std::size_t count = 4096;

struct Arguments {
    std::vector<float> x, y;
    std::vector<double> angle;
    Arguments()
        : x(count)
        , y(count)
        , angle(count)
    {
        for (std::size_t i = 0; i < count; ++i) {
            x[i] = 3.0f * std::sin(0.37f * static_cast<float>(i));
            y[i] = 2.0f * std::cos(0.11f * static_cast<float>(i));
            angle[i] = 0.0123 * static_cast<double>(i % 10000) - 60.0;
        }
    }
};

const Arguments& arguments()
{
    static const Arguments made;
    return made;
}

template <typename Call>
void eachArgument(benchmark::State& state, Call call)
{
    const Arguments& a = arguments();
    for (auto _ : state)
        for (std::size_t i = 0; i < count; ++i)
            benchmark::DoNotOptimize(call(a, i));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * count));
}

void runtimeMathsAtan2f(benchmark::State& state)
{
    eachArgument(state, [](const Arguments& a, std::size_t i) { return std::atan2(a.x[i], a.y[i]); });
}
void runtimeMathsCosSinDouble(benchmark::State& state)
{
    eachArgument(state, [](const Arguments& a, std::size_t i) { return std::cos(a.angle[i]) + std::sin(a.angle[i]); });
}
void runtimeMathsLround(benchmark::State& state)
{
    eachArgument(state, [](const Arguments& a, std::size_t i) { return std::lround(a.angle[i]); });
}
void runtimeMathsExpf(benchmark::State& state)
{
    eachArgument(state, [](const Arguments& a, std::size_t i) { return std::exp(a.x[i]); });
}
void runtimeMathsLogf(benchmark::State& state)
{
    eachArgument(state, [](const Arguments& a, std::size_t i) { return std::log(std::fabs(a.x[i]) + 1e-3f); });
}
void runtimeMathsPowf(benchmark::State& state)
{
    eachArgument(state, [](const Arguments& a, std::size_t i) { return std::pow(std::fabs(a.x[i]), 0.3f); });
}
void runtimeMathsSqrtf(benchmark::State& state)
{
    eachArgument(state, [](const Arguments& a, std::size_t i) { return std::sqrt(std::fabs(a.x[i])); });
}

} // namespace

BENCHMARK(runtimeMathsAtan2f);
BENCHMARK(runtimeMathsCosSinDouble);
BENCHMARK(runtimeMathsLround);
BENCHMARK(runtimeMathsExpf);
BENCHMARK(runtimeMathsLogf);
BENCHMARK(runtimeMathsPowf);
BENCHMARK(runtimeMathsSqrtf);
