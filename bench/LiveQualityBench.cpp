#include "dsp/Engine.h"
#include "dsp/LiveCorrector.h"
#include "dsp/PitchDetector.h"
#include "dsp/PitchShifter.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// How well Live corrects, beside the full path where both apply: the share of voiced frames that land within
// ±5 cents of the scale note (synthetic vowels, and espeak-ng's speech sung to a melody), the settle time after a
// note change per style, the vowel's spectral envelope after a correction of ±1 semitone, the energy between the
// output's harmonics and the worst click. Figures for the README; each runs once.
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

// A sung vowel: a pulse train following the contour hzAt(sample) (0: silence), with a relative jitter of each
// period, through the vowel's resonators.
template <typename Contour> std::vector<float> vowel(Contour hzAt, double jitter, int samples, std::uint32_t seed)
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
        const double hz = hzAt(i);
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

// A steady vowel at f0 with cents of vibrato at 5.5 Hz.
std::vector<float> vowel(double f0, double vibratoCents, double jitter, int samples, std::uint32_t seed)
{
    return vowel([=](int i) { return f0 * std::exp2(vibratoCents / 1200.0 * std::sin(twoPi * 5.5 * i / rate)); },
                 jitter, samples, seed);
}

double noteOf(double hz) { return 69.0 + 12.0 * std::log2(hz / 440.0); }

// voice through the engine in `mode` (C minor), in blocks of 256, as both channels; returns the left channel.
std::vector<float> throughEngine(const std::vector<float>& voice, double sampleRate, tolmar::Mode mode, bool live,
                                 int& latency)
{
    std::vector<float> left = voice;
    std::vector<float> right = voice;
    tolmar::Engine engine;
    engine.prepare(sampleRate, 256);
    tolmar::Settings settings;
    settings.mode = mode;
    settings.live = live;
    for (std::size_t offset = 0; offset + 256 <= left.size(); offset += 256) {
        float* channels[] = {left.data() + offset, right.data() + offset};
        engine.process(channels, 2, 256, settings);
    }
    latency = engine.latencyFor(settings);
    return left;
}

// Pitch estimates of `frame` samples every `hop` (0 where unvoiced); estimate k starts at sample k * hop.
std::vector<float> pitchTrack(const std::vector<float>& x, std::size_t frame, std::size_t hop, double sampleRate)
{
    std::vector<float> track;
    for (std::size_t start = 0; start + frame <= x.size(); start += hop)
        track.push_back(tolmar::estimatePitch(x.data() + start, frame, sampleRate));
    return track;
}

// Share of the voiced output frames (4096 samples, every 1024, after the first second) within 5 cents of
// targetNote, through the engine in Ultra edited (the full correction) in C minor.
double shareOnTarget(double f0, double targetNote, bool live)
{
    int latency = 0;
    const auto out = throughEngine(vowel(f0, 15.0, 0.005, 5 * static_cast<int>(rate), 3), rate,
                                   tolmar::Mode::ultraEdited, live, latency);
    int voiced = 0;
    int onTarget = 0;
    const auto track = pitchTrack(out, 4096, 1024, rate);
    for (std::size_t k = static_cast<std::size_t>(rate) / 1024; k < track.size(); ++k) {
        if (track[k] <= 0.0f)
            continue;
        ++voiced;
        onTarget += std::fabs(100.0 * (noteOf(track[k]) - targetNote)) <= 5.0 ? 1 : 0;
    }
    return voiced > 0 ? static_cast<double>(onTarget) / voiced : 0.0;
}

// Milliseconds from a note change (a vowel 30 cents sharp of G3 stepping to 30 cents flat of C4) until the pitch
// of `mode`'s output stays within 5 cents of where it settles; the step is taken at its output time, after the
// path's latency. The styles' chains add layers an octave or two down and slow pitch movement of their own, so
// pitch is read modulo the octave, on 2048 samples, through a median of five estimates 128 samples apart.
// mode < 0: the input itself (the measure's own resolution).
double settleMs(int mode, bool live)
{
    const int step = 2 * static_cast<int>(rate);
    const double before = 196.0 * std::exp2(0.3 / 12.0);
    const double after = 261.63 * std::exp2(-0.3 / 12.0);
    const auto voice = vowel([=](int i) { return i < step ? before : after; }, 0.0, 4 * static_cast<int>(rate), 7);
    int latency = 0;
    const auto out = mode < 0 ? voice : throughEngine(voice, rate, static_cast<tolmar::Mode>(mode), live, latency);

    constexpr std::size_t frame = 2048;
    constexpr std::size_t hop = 128;
    const auto track = pitchTrack(out, frame, hop, rate);
    const auto fromC4 = [](float hz) { // cents from C4, folded into -600 .. 600
        const double cents = 100.0 * (noteOf(hz) - 60.0);
        return cents - 1200.0 * std::round(cents / 1200.0);
    };
    std::vector<double> smoothed(track.size(), 0.0);
    for (std::size_t k = 4; k < track.size(); ++k) {
        double five[5];
        for (std::size_t j = 0; j < 5; ++j)
            five[j] = track[k - j] > 0.0f ? fromC4(track[k - j]) : 1e9;
        std::nth_element(five, five + 2, five + 5);
        smoothed[k] = five[2];
    }
    // Where it settles: the median of the last half second.
    std::vector<double> tail(smoothed.end() - static_cast<std::ptrdiff_t>(rate / 2 / hop), smoothed.end());
    std::nth_element(tail.begin(), tail.begin() + static_cast<std::ptrdiff_t>(tail.size() / 2), tail.end());
    const double settled = tail[tail.size() / 2];
    double lastOff = 0.0; // output time of the last smoothed estimate more than 5 cents away
    for (std::size_t k = 4; k < smoothed.size(); ++k) {
        const double end = static_cast<double>(k * hop + frame);
        if (end > step + latency && std::fabs(smoothed[k] - settled) > 5.0)
            lastOff = end;
    }
    return lastOff > 0.0 ? 1000.0 * (lastOff - step - latency) / rate : 0.0;
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

// The corrector alone (or the full path's shifter) on a steady vowel at f0 moved by `semitones`, formants kept.
Spectral spectralAfterCorrection(double f0, double semitones, bool live = true)
{
    const auto voice = vowel(f0, 0.0, 0.0, 2 * static_cast<int>(rate), 5);
    std::vector<float> out(voice.size());
    const float* inputs[] = {voice.data()};
    float* outputs[] = {out.data()};
    const auto ratio = static_cast<float>(std::exp2(semitones / 12.0));
    if (live) {
        tolmar::LiveCorrector corrector;
        corrector.prepare(1, rate);
        // No correction: no period, so the input passes as it is (the measure's own floor).
        corrector.setPitch(semitones == 0.0 ? 0.0f : static_cast<float>(rate / f0), ratio, 1.0f);
        corrector.process(inputs, outputs, static_cast<int>(voice.size()));
    } else {
        tolmar::PitchShifter shifter;
        shifter.configure(1, 2048, 128); // as the engine configures it at 48 kHz
        shifter.setTransposeSemitones(static_cast<float>(semitones));
        shifter.setFormantFactor(1.0f, true);
        shifter.process(inputs, static_cast<int>(voice.size()), outputs, static_cast<int>(voice.size()));
    }

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

// Eighth-order Butterworth high-pass (four biquads), for the click measure.
class HighPass {
public:
    explicit HighPass(double hz)
    {
        constexpr double qs[] = {0.5097956, 0.6013449, 0.8999762, 2.5629154};
        for (std::size_t s = 0; s < 4; ++s) {
            const double w = twoPi * hz / rate;
            const double alpha = std::sin(w) / (2.0 * qs[s]);
            const double a0 = 1.0 + alpha;
            Section& section = sections[s];
            section.b0 = (1.0 + std::cos(w)) / 2.0 / a0;
            section.b1 = -(1.0 + std::cos(w)) / a0;
            section.b2 = section.b0;
            section.a1 = -2.0 * std::cos(w) / a0;
            section.a2 = (1.0 - alpha) / a0;
        }
    }
    double operator()(double x)
    {
        for (Section& s : sections) {
            const double y = s.b0 * x + s.b1 * s.x1 + s.b2 * s.x2 - s.a1 * s.y1 - s.a2 * s.y2;
            s.x2 = s.x1;
            s.x1 = x;
            s.y2 = s.y1;
            s.y1 = y;
            x = y;
        }
        return x;
    }

private:
    struct Section {
        double b0 = 0, b1 = 0, b2 = 0, a1 = 0, a2 = 0, x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    };
    Section sections[4];
};

// The vowel built from its harmonics below 4 kHz (so that nothing above 7 kHz is its own), at f0 with 15 cents
// of vibrato and 0.5 % jitter, faded out over 10 ms for two 150 ms pauses. gainAt(t) is its level at t seconds.
double pausingGain(double t)
{
    const double pauses[] = {1.5, 2.7};
    double gain = 1.0;
    for (const double start : pauses) {
        const double into = std::min(t - (start - 0.01), (start + 0.16) - t); // seconds inside pause and fades
        if (into > 0.0)
            gain = std::min(gain, into >= 0.01 ? 0.0 : 0.5 + 0.5 * std::cos(twoPi / 2.0 * into / 0.01));
    }
    return gain;
}

double vibratoHz(double f0, double t)
{
    return f0 * std::exp2(15.0 / 1200.0 * std::sin(twoPi * 5.5 * t));
}

std::vector<float> bandLimitedVowel(double f0, int samples)
{
    std::vector<float> out(static_cast<std::size_t>(samples));
    std::vector<double> amplitudes;
    double phase = 0.0;
    double periodScale = 1.0;
    std::uint32_t random = 11;
    for (int i = 0; i < samples; ++i) {
        const double t = i / rate;
        const double hz = vibratoHz(f0, t);
        if (i % 64 == 0) {
            amplitudes.clear();
            for (int k = 1; k * hz < 4000.0; ++k)
                amplitudes.push_back(envelopeAt(k * hz) * std::min(1.0, (4000.0 - k * hz) / 500.0));
        }
        phase += hz / rate / periodScale;
        if (phase >= 1.0) {
            phase -= 1.0;
            random ^= random << 13;
            random ^= random >> 17;
            random ^= random << 5;
            periodScale = 1.0 + 0.005 * (static_cast<double>(random) / 2147483648.0 - 1.0);
        }
        double sum = 0.0;
        for (std::size_t k = 0; k < amplitudes.size(); ++k)
            sum += amplitudes[k] * std::sin(twoPi * static_cast<double>(k + 1) * phase);
        out[static_cast<std::size_t>(i)] = static_cast<float>(0.001 * pausingGain(t) * sum);
    }
    return out;
}

// The worst click: the loudest millisecond of the output above 7 kHz ÷ the output's mean power over the voiced
// time. The corrector alone moves the band-limited vowel by `semitones` (0: the input itself, the measure's own
// floor), told the true period every 64 samples (none in the pauses), as the engine tells it the detected one.
double clickLevelDb(double f0, double semitones)
{
    const int samples = 4 * static_cast<int>(rate);
    const auto voice = bandLimitedVowel(f0, samples);
    std::vector<float> out(voice.size());
    tolmar::LiveCorrector corrector;
    corrector.prepare(1, rate);
    const auto ratio = static_cast<float>(std::exp2(semitones / 12.0));
    for (int offset = 0; offset < samples; offset += 64) {
        const double t = offset / rate;
        const bool voiced = pausingGain(t) > 0.0 && semitones != 0.0;
        corrector.setPitch(voiced ? static_cast<float>(rate / vibratoHz(f0, t)) : 0.0f, ratio, 1.0f);
        const float* inputs[] = {voice.data() + offset};
        float* outputs[] = {out.data() + offset};
        corrector.process(inputs, outputs, std::min(64, samples - offset));
    }

    HighPass highPass(7000.0);
    constexpr int millisecond = 48;
    double loudest = 0.0;
    double power = 0.0;
    int voicedSamples = 0;
    const int start = static_cast<int>(rate / 2); // past the first grains and the filter's own start
    for (int i = 0; i < samples; i += millisecond) {
        double high = 0.0;
        for (int k = i; k < std::min(i + millisecond, samples); ++k) {
            const double sample = out[static_cast<std::size_t>(k)];
            const double filtered = highPass(sample);
            high += filtered * filtered;
            if (k >= start && pausingGain(k / rate) == 1.0) {
                power += sample * sample;
                ++voicedSamples;
            }
        }
        if (i >= start)
            loudest = std::max(loudest, high / millisecond);
    }
    return 10.0 * std::log10(loudest / (power / voicedSamples));
}

// espeak-ng's speech sung to a melody: each syllable on one held pitch, a male (en) or female (en+f3) voice,
// resampled to 48 kHz. Empty when espeak-ng cannot be run.
std::vector<float> espeakSinging(bool female)
{
    static constexpr const char* syllables[] = {"laa", "moo", "nay", "saa", "lee", "vaa",
                                                "too", "maa", "ree", "naa", "hoo", "laa"};
    static constexpr int pitches[] = {30, 45, 60, 40, 70, 55, 35, 65, 50, 80, 45, 30};
    std::string ssml = "<speak>";
    for (std::size_t k = 0; k < std::size(syllables); ++k)
        ssml += "<prosody pitch=\"" + std::to_string(pitches[k]) + "\" range=\"0\">" + syllables[k] + "</prosody> ";
    ssml += "</speak>";
    const std::string command =
        std::string("espeak-ng -m -s 80 --stdout -v ") + (female ? "en+f3" : "en") + " '" + ssml + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return {};
    std::vector<unsigned char> bytes;
    unsigned char buffer[65536];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        bytes.insert(bytes.end(), buffer, buffer + got);
    pclose(pipe);

    // A 16-bit mono WAV: the rate in "fmt ", the samples after "data" (espeak-ng leaves the sizes open on a pipe).
    const auto find = [&](const char* tag) {
        for (std::size_t i = 12; i + 8 <= bytes.size(); ++i)
            if (std::equal(tag, tag + 4, bytes.begin() + static_cast<std::ptrdiff_t>(i)))
                return i;
        return bytes.size();
    };
    const std::size_t format = find("fmt ");
    const std::size_t data = find("data");
    if (format + 16 > bytes.size() || data + 8 > bytes.size())
        return {};
    const double fileRate = bytes[format + 12] | bytes[format + 13] << 8 | bytes[format + 14] << 16;
    std::vector<float> speech;
    for (std::size_t i = data + 8; i + 1 < bytes.size(); i += 2)
        speech.push_back(static_cast<float>(static_cast<std::int16_t>(bytes[i] | bytes[i + 1] << 8)) / 32768.0f);

    // Windowed-sinc resampling (8 zero crossings a side, Hann), below the file's Nyquist.
    std::vector<float> out(static_cast<std::size_t>(static_cast<double>(speech.size()) * rate / fileRate));
    constexpr int halfTaps = 8;
    for (std::size_t n = 0; n < out.size(); ++n) {
        const double t = static_cast<double>(n) * fileRate / rate;
        const auto centre = static_cast<long>(t);
        double sum = 0.0;
        for (long k = centre - halfTaps + 1; k <= centre + halfTaps; ++k) {
            if (k < 0 || k >= static_cast<long>(speech.size()))
                continue;
            const double x = t - static_cast<double>(k);
            const double sinc = x == 0.0 ? 1.0 : std::sin(twoPi / 2.0 * x) / (twoPi / 2.0 * x);
            sum += speech[static_cast<std::size_t>(k)] * sinc * (0.5 + 0.5 * std::cos(twoPi / 2.0 * x / halfTaps));
        }
        out[n] = static_cast<float>(sum);
    }
    return out;
}

// Cents from hz to the nearest note of C minor.
double centsFromScale(double hz)
{
    const double note = noteOf(hz);
    const int minor[] = {0, 2, 3, 5, 7, 8, 10};
    double best = 1200.0;
    for (int octave = -1; octave <= 10; ++octave)
        for (const int degree : minor)
            best = std::min(best, std::fabs(100.0 * (note - 12.0 * octave - degree)));
    return best;
}

// Share of the settled voiced frames of `mode`'s output (2048 samples every 256) within 5 cents of a note of C
// minor: frames whose input, at the output's time less the latency, was voiced then and 100 ms before, within
// 20 cents of the same pitch (a held note, not a glide between syllables).
// mode < 0: the input itself.
double speechShareOnScale(const std::vector<float>& speech, int mode, bool live)
{
    int latency = 0;
    const auto out = mode < 0 ? speech : throughEngine(speech, rate, static_cast<tolmar::Mode>(mode), live, latency);
    constexpr std::size_t hop = 256;
    const auto input = pitchTrack(speech, 2048, hop, rate);
    const auto output = pitchTrack(out, 2048, hop, rate);
    const auto settledAt = static_cast<std::size_t>(0.1 * rate / hop);
    int voiced = 0;
    int onScale = 0;
    for (std::size_t k = 0; k < output.size(); ++k) {
        const auto source = static_cast<std::ptrdiff_t>(k) - latency / static_cast<std::ptrdiff_t>(hop);
        if (output[k] <= 0.0f || source < static_cast<std::ptrdiff_t>(settledAt))
            continue;
        const auto s = static_cast<std::size_t>(source);
        if (input[s] <= 0.0f || input[s - settledAt] <= 0.0f ||
            std::fabs(100.0 * (noteOf(input[s]) - noteOf(input[s - settledAt]))) > 20.0)
            continue;
        ++voiced;
        onScale += centsFromScale(output[k]) <= 5.0 ? 1 : 0;
    }
    return voiced > 0 ? static_cast<double>(onScale) / voiced : 0.0;
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
    Spectral fullUp;
    Spectral fullDown;
    for (auto _ : state) {
        up = spectralAfterCorrection(f0, 1.0);
        down = spectralAfterCorrection(f0, -1.0);
        input = spectralAfterCorrection(f0, 0.0);
        fullUp = spectralAfterCorrection(f0, 1.0, false);
        fullDown = spectralAfterCorrection(f0, -1.0, false);
    }
    state.counters["fullEnvelopeRmsDbUp"] = fullUp.envelopeRmsDb;
    state.counters["fullEnvelopeRmsDbDown"] = fullDown.envelopeRmsDb;
    state.counters["fullBetweenHarmonicsDbUp"] = fullUp.betweenHarmonicsDb;
    state.counters["fullBetweenHarmonicsDbDown"] = fullDown.betweenHarmonicsDb;
    state.counters["envelopeRmsDbInput"] = input.envelopeRmsDb;
    state.counters["envelopeRmsDbUp"] = up.envelopeRmsDb;
    state.counters["envelopeRmsDbDown"] = down.envelopeRmsDb;
    state.counters["betweenHarmonicsDbUp"] = up.betweenHarmonicsDb;
    state.counters["betweenHarmonicsDbDown"] = down.betweenHarmonicsDb;
}

void liveQualitySettle(benchmark::State& state)
{
    const auto mode = static_cast<int>(state.range(0));
    double live = 0.0;
    double full = 0.0;
    double input = 0.0;
    for (auto _ : state) {
        live = settleMs(mode, true);
        full = settleMs(mode, false);
        input = settleMs(-1, false);
    }
    state.counters["liveSettleMs"] = live;
    state.counters["fullSettleMs"] = full;
    state.counters["inputSettleMs"] = input;
}

void liveQualityClicks(benchmark::State& state)
{
    const auto f0 = static_cast<double>(state.range(0));
    double up = 0.0;
    double down = 0.0;
    double input = 0.0;
    for (auto _ : state) {
        up = clickLevelDb(f0, 1.0);
        down = clickLevelDb(f0, -1.0);
        input = clickLevelDb(f0, 0.0);
    }
    state.counters["clickDbUp"] = up;
    state.counters["clickDbDown"] = down;
    state.counters["clickDbInput"] = input;
}

void liveQualitySpeech(benchmark::State& state)
{
    const auto speech = espeakSinging(state.range(0) == 1);
    if (speech.empty()) {
        state.SkipWithError("espeak-ng could not be run (scripts/install-deps espeak-ng)");
        return;
    }
    constexpr int ultraEdited = static_cast<int>(tolmar::Mode::ultraEdited);
    double live = 0.0;
    double full = 0.0;
    double input = 0.0;
    for (auto _ : state) {
        live = speechShareOnScale(speech, ultraEdited, true);
        full = speechShareOnScale(speech, ultraEdited, false);
        input = speechShareOnScale(speech, -1, false);
    }
    state.counters["liveWithin5CentsPct"] = 100.0 * live;
    state.counters["fullWithin5CentsPct"] = 100.0 * full;
    state.counters["inputWithin5CentsPct"] = 100.0 * input;
    // The voice's range: the 5th and 95th percentiles of its voiced estimates.
    auto track = pitchTrack(speech, 2048, 256, rate);
    track.erase(std::remove(track.begin(), track.end(), 0.0f), track.end());
    std::sort(track.begin(), track.end());
    state.counters["inputLowHz"] = track[track.size() / 20];
    state.counters["inputHighHz"] = track[track.size() - 1 - track.size() / 20];
}

} // namespace

BENCHMARK(liveQualityPitch)->ArgName("hz")->Arg(82)->Arg(110)->Arg(165)->Arg(220)->Arg(330)->Arg(440)->Arg(550)->Arg(700)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(liveQualitySpectrum)->ArgName("hz")->Arg(110)->Arg(220)->Arg(440)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(liveQualitySettle)
    ->ArgName("mode")
    ->Arg(2)
    ->Arg(4)
    ->Arg(5)
    ->Arg(6)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(liveQualityClicks)->ArgName("hz")->Arg(110)->Arg(220)->Arg(440)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(liveQualitySpeech)->ArgName("female")->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);
