#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

// Test signals and checks shared by the suites.
namespace testing_support {

constexpr double twoPi = 6.283185307179586;

inline std::vector<float> sine(double frequencyHz, double sampleRate, int samples, float amplitude = 0.5f)
{
    std::vector<float> out(static_cast<std::size_t>(samples));
    for (int i = 0; i < samples; ++i)
        out[static_cast<std::size_t>(i)] = amplitude * static_cast<float>(std::sin(twoPi * frequencyHz * i / sampleRate));
    return out;
}

// A vowel-like tone: harmonics of the fundamental with amplitudes falling as 1/k.
inline std::vector<float> harmonicTone(double fundamentalHz, double sampleRate, int samples, float amplitude = 0.3f,
                                       int harmonics = 12)
{
    std::vector<float> out(static_cast<std::size_t>(samples), 0.0f);
    for (int k = 1; k <= harmonics && k * fundamentalHz < sampleRate * 0.45; ++k)
        for (int i = 0; i < samples; ++i)
            out[static_cast<std::size_t>(i)] +=
                amplitude / static_cast<float>(k) * static_cast<float>(std::sin(twoPi * k * fundamentalHz * i / sampleRate));
    return out;
}

// Deterministic white noise in [-amplitude, amplitude] (xorshift32).
inline std::vector<float> noise(int samples, float amplitude = 0.5f, std::uint32_t seed = 1)
{
    std::vector<float> out(static_cast<std::size_t>(samples));
    std::uint32_t state = seed == 0 ? 1 : seed;
    for (auto& value : out) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        value = amplitude * (static_cast<float>(state) / 2147483648.0f - 1.0f);
    }
    return out;
}

// True when every sample is finite and not denormal.
inline bool allFiniteAndNormal(const float* samples, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const float value = samples[i];
        if (!std::isfinite(value) || (value != 0.0f && std::fpclassify(value) == FP_SUBNORMAL))
            return false;
    }
    return true;
}

inline double rms(const float* samples, std::size_t count)
{
    double sum = 0.0;
    for (std::size_t i = 0; i < count; ++i)
        sum += static_cast<double>(samples[i]) * samples[i];
    return count > 0 ? std::sqrt(sum / static_cast<double>(count)) : 0.0;
}

} // namespace testing_support
