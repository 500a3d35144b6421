#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

// Percussive and voiced test material with known onsets and fundamentals, and the two measures the
// shifter's transient handling is judged by: pre-echo before onsets and energy between output harmonics.
// Shared by the shifter tests and the benchmarks.
namespace testing_support {

// Deterministic white noise in [-1, 1) (xorshift32), one value per call.
inline double whiteNoise(std::uint32_t& state)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return static_cast<double>(state) / 2147483648.0 - 1.0;
}

struct Hits {
    std::vector<float> signal;
    std::vector<int> onsets; // first sample of each hit
};

// Twelve isolated percussive hits, 0.6 s apart, cycling through four kinds: a bright click (noise with a
// 4 ms decay), a plucked string (harmonics of 165..330 Hz with a 1 ms attack and 120 ms decay), a "t"-like
// burst (high-passed noise, 15 ms) and a wood block (two damped partials). Each starts from silence.
inline Hits percussiveHits(double sampleRate)
{
    const double pi2 = 6.283185307179586;
    const int spacing = static_cast<int>(0.6 * sampleRate);
    Hits hits;
    hits.signal.assign(static_cast<std::size_t>(13 * spacing), 0.0f);
    std::uint32_t state = 12345u;
    auto white = [&state]() { return whiteNoise(state); };
    for (int hit = 0; hit < 12; ++hit) {
        const int onset = spacing / 2 + hit * spacing;
        hits.onsets.push_back(onset);
        const int length = static_cast<int>(0.4 * sampleRate);
        double previous = 0.0;
        for (int i = 0; i < length; ++i) {
            const double t = i / sampleRate;
            double y = 0.0;
            switch (hit % 4) {
            case 0:
                y = 0.6 * white() * std::exp(-t / 0.004);
                break;
            case 1: {
                const double f0 = 165.0 * std::pow(2.0, (hit % 3) / 3.0);
                for (int k = 1; k <= 10; ++k)
                    y += std::sin(pi2 * k * f0 * t) / k * std::exp(-t * k / 0.12);
                y *= 0.35 * std::min(1.0, t / 0.001);
                break;
            }
            case 2: {
                const double n = white();
                y = 0.5 * (n - previous) * std::exp(-t / 0.015);
                previous = n;
                break;
            }
            default:
                y = 0.5 * std::exp(-t / 0.03) * (std::sin(pi2 * 820.0 * t) + 0.6 * std::sin(pi2 * 1930.0 * t));
                break;
            }
            hits.signal[static_cast<std::size_t>(onset + i)] = static_cast<float>(y);
        }
    }
    return hits;
}

// Onsets of hits separated by silence: the first sample whose magnitude exceeds `fraction` of the loudest
// sample of the following 50 ms, at least `minimumGap` samples after the previous onset.
inline std::vector<int> findOnsets(const std::vector<float>& x, double sampleRate, float fraction = 0.01f,
                                   double minimumGapSeconds = 0.2)
{
    std::vector<int> onsets;
    const int window = static_cast<int>(0.05 * sampleRate);
    const int gap = static_cast<int>(minimumGapSeconds * sampleRate);
    float loudest = 0.0f;
    for (float v : x)
        loudest = std::max(loudest, std::fabs(v));
    for (int i = 0; i < static_cast<int>(x.size()); ++i) {
        if (!onsets.empty() && i < onsets.back() + gap)
            continue;
        if (std::fabs(x[static_cast<std::size_t>(i)]) < 0.05f * loudest)
            continue;
        // Step back to where the hit rose above `fraction` of its own peak.
        float peak = 0.0f;
        for (int j = i; j < std::min(static_cast<int>(x.size()), i + window); ++j)
            peak = std::max(peak, std::fabs(x[static_cast<std::size_t>(j)]));
        int start = i;
        while (start > 0 && std::fabs(x[static_cast<std::size_t>(start - 1)]) > fraction * peak)
            --start;
        int quiet = start;
        // The hit starts where 1 ms in a row stays below the fraction.
        const int run = std::max(1, static_cast<int>(0.001 * sampleRate));
        for (int j = start - 1; j >= 0 && start - j <= run; --j)
            if (std::fabs(x[static_cast<std::size_t>(j)]) > fraction * peak)
                quiet = start = j;
        onsets.push_back(quiet);
    }
    return onsets;
}

struct PreEcho {
    double pooledDb = 0.0; // all hits' pre-onset energy against all hits' post-onset energy
    double worstDb = 0.0;  // the hit with the highest ratio
};

// Energy of `output` in the 48 ms before each onset against the 50 ms from it, in dB; output sample
// i + delay belongs to input sample i.
inline PreEcho preEcho(const std::vector<float>& output, const std::vector<int>& onsets, int delay, double sampleRate)
{
    const int before = static_cast<int>(0.048 * sampleRate);
    const int after = static_cast<int>(0.050 * sampleRate);
    double pre = 0.0;
    double post = 0.0;
    PreEcho result{0.0, -300.0};
    for (int onset : onsets) {
        const int at = onset + delay;
        if (at - before < 0 || at + after > static_cast<int>(output.size()))
            continue;
        double hitPre = 0.0;
        double hitPost = 0.0;
        for (int i = at - before; i < at; ++i)
            hitPre += static_cast<double>(output[static_cast<std::size_t>(i)]) * output[static_cast<std::size_t>(i)];
        for (int i = at; i < at + after; ++i)
            hitPost += static_cast<double>(output[static_cast<std::size_t>(i)]) * output[static_cast<std::size_t>(i)];
        pre += hitPre;
        post += hitPost;
        result.worstDb =
            std::max(result.worstDb, 10.0 * std::log10(std::max(hitPre, 1e-30) / std::max(hitPost, 1e-30)));
    }
    result.pooledDb = 10.0 * std::log10(std::max(pre, 1e-30) / std::max(post, 1e-30));
    return result;
}

struct Voiced {
    std::vector<float> signal;
    std::vector<float> fundamentalHz; // per sample, 0 where unvoiced
};

// A voice: a smooth glottal pulse (rising over 40 % of the period, closing over 20 %) with 1 % period
// jitter and breath noise that swells while the glottis is open, differentiated (radiation at the lips),
// through three resonators. Sung vowel (speechLike false): a steady 180 Hz "a" with breath noise at 0.05
// of the peak glottal flow. Speech-like: breath noise at 0.2, the fundamental drifts between 112 and
// 188 Hz with an arc on each 0.3 s syllable, the resonators move between the vowels "a", "i", "u" and
// "e", and a 0.15 s pause ends every 1.3 s phrase.
inline Voiced voicedMaterial(double sampleRate, double seconds, bool speechLike)
{
    const double pi2 = 6.283185307179586;
    const int length = static_cast<int>(seconds * sampleRate);
    Voiced v;
    v.signal.assign(static_cast<std::size_t>(length), 0.0f);
    v.fundamentalHz.assign(static_cast<std::size_t>(length), 0.0f);
    const double vowels[4][3] = {{730, 1090, 2440}, {270, 2290, 3010}, {300, 870, 2240}, {530, 1840, 2480}};
    const double breath = speechLike ? 0.2 : 0.05;
    double y1[3] = {0.0, 0.0, 0.0};
    double y2[3] = {0.0, 0.0, 0.0};
    std::uint32_t state = 777u;
    auto white = [&state]() { return whiteNoise(state); };
    double phase = 0.0;
    double periodScale = 1.0;
    double previous = 0.0;
    for (int i = 0; i < length; ++i) {
        const double t = i / sampleRate;
        double f0 = 180.0;
        bool voiced = true;
        double formants[3] = {vowels[0][0], vowels[0][1], vowels[0][2]};
        if (speechLike) {
            const double syllable = 0.3;
            const double position = std::fmod(t, syllable) / syllable;
            const int index = static_cast<int>(t / syllable);
            f0 = 150.0 + 30.0 * std::sin(pi2 * t / 2.3) + 8.0 * std::sin(0.5 * pi2 * position) * ((index % 2) ? 1 : -1);
            voiced = std::fmod(t, 1.3) < 1.15;
            const double blend = std::min(1.0, position * 4.0);
            for (int f = 0; f < 3; ++f)
                formants[f] = vowels[(index + 3) % 4][f] + blend * (vowels[index % 4][f] - vowels[(index + 3) % 4][f]);
        }
        phase += f0 * periodScale / sampleRate;
        if (phase >= 1.0) {
            phase -= 1.0;
            periodScale = 1.0 + 0.01 * white();
        }
        double flow = 0.0;
        if (phase < 0.4)
            flow = 0.5 - 0.5 * std::cos(0.5 * pi2 * phase / 0.4);
        else if (phase < 0.6)
            flow = std::cos(0.5 * pi2 * (phase - 0.4) / 0.4);
        const double source = (voiced ? flow : 0.0) + breath * white() * (voiced ? 0.5 + flow : 1.0);
        double y = source - previous;
        previous = source;
        for (int f = 0; f < 3; ++f) {
            const double bandwidth = 80.0 + 0.05 * formants[f];
            const double r = std::exp(-0.5 * pi2 * bandwidth / sampleRate);
            const double a1 = -2.0 * r * std::cos(pi2 * formants[f] / sampleRate);
            const double out = (1.0 - r) * y - a1 * y1[f] - r * r * y2[f];
            y2[f] = y1[f];
            y1[f] = out;
            y = out;
        }
        v.signal[static_cast<std::size_t>(i)] = static_cast<float>(y);
        v.fundamentalHz[static_cast<std::size_t>(i)] = voiced ? static_cast<float>(f0) : 0.0f;
    }
    float loudest = 0.0f;
    for (float s : v.signal)
        loudest = std::max(loudest, std::fabs(s));
    for (auto& s : v.signal)
        s *= 0.5f / loudest;
    return v;
}

// Power of a Hann-windowed frame at one frequency (a single DFT term).
inline double powerAt(const float* frame, int length, double cyclesPerSample)
{
    const double pi2 = 6.283185307179586;
    double re = 0.0;
    double im = 0.0;
    for (int i = 0; i < length; ++i) {
        const double w = 0.5 - 0.5 * std::cos(pi2 * (i + 0.5) / length);
        re += w * frame[i] * std::cos(pi2 * cyclesPerSample * i);
        im -= w * frame[i] * std::sin(pi2 * cyclesPerSample * i);
    }
    return re * re + im * im;
}

// Energy between the output harmonics of an octave-up transposition: in frames of 2048 samples (hop 1024)
// whose input was voiced throughout with a fundamental steady within 2 %, the power at the odd multiples of
// the input fundamental against the power at its even multiples (the output's harmonics), up to 4 kHz. Returns the
// given percentile over frames, in dB. Output sample i + delay belongs to input sample i.
inline double octaveUpBetweenHarmonicsDb(const std::vector<float>& output, const std::vector<float>& fundamentalHz,
                                         int delay, double sampleRate, double percentile)
{
    const int frame = 2048;
    std::vector<double> ratios;
    for (int start = delay; start + frame <= static_cast<int>(output.size()); start += frame / 2) {
        const int in = start - delay;
        float lowest = 1e9f;
        float highest = 0.0f;
        for (int i = in; i < in + frame; ++i) {
            lowest = std::min(lowest, fundamentalHz[static_cast<std::size_t>(i)]);
            highest = std::max(highest, fundamentalHz[static_cast<std::size_t>(i)]);
        }
        if (lowest <= 0.0f || highest > 1.02f * lowest)
            continue; // unvoiced somewhere, or gliding: high harmonics would smear
        const double f0 = fundamentalHz[static_cast<std::size_t>(in + frame / 2)];
        double odd = 0.0;
        double even = 1e-30;
        for (int k = 1; k * f0 < 4000.0; ++k) {
            const double p = powerAt(output.data() + start, frame, k * f0 / sampleRate);
            (k % 2 == 0 ? even : odd) += p;
        }
        ratios.push_back(10.0 * std::log10(std::max(odd, 1e-30) / even));
    }
    if (ratios.empty())
        return 0.0;
    std::sort(ratios.begin(), ratios.end());
    const auto index = static_cast<std::size_t>(percentile * static_cast<double>(ratios.size() - 1) + 0.5);
    return ratios[std::min(index, ratios.size() - 1)];
}

} // namespace testing_support
