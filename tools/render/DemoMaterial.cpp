#include "render/DemoMaterial.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace tolmar::render {

namespace {

constexpr double pi = 3.141592653589793;
constexpr double twoPi = 2.0 * pi;
constexpr double beatSeconds = 0.5; // 120 BPM
constexpr double leadIn = 0.5;      // seconds before the first note
constexpr double tailSeconds = 0.75;

double midiToHz(double midi) { return 440.0 * std::exp2((midi - 69.0) / 12.0); }

struct Note {
    int midi;          // 0 for a rest
    double beats;
    double detuneCents; // how far the singer misses the note
    int vowel;          // index into vowels
};

// Two phrases in A minor ending on the tonic; every note misses by 20 to 35 cents.
constexpr std::array<Note, 16> melody{{
    {57, 1, 30, 0}, {60, 1, -25, 1}, {64, 2, 35, 0}, {62, 1, -30, 2}, {60, 1, 20, 1}, {59, 2, -35, 0},
    {0, 0.5, 0, 0},
    {60, 1, 25, 2}, {62, 1, -20, 0}, {64, 1, 30, 1}, {67, 1, -25, 0}, {64, 1, 20, 2}, {62, 1, -30, 0},
    {60, 0.5, 25, 1}, {57, 2.5, -20, 0}, {0, 0, 0, 0},
}};

// Formant centres and bandwidths in Hz of the vowels /a/, /o/, /e/ (averages for a male voice).
constexpr double vowels[3][3] = {{730, 1090, 2440}, {570, 840, 2410}, {530, 1840, 2480}};
constexpr double bandwidths[3] = {90, 110, 170};
constexpr double formantGains[3] = {1.0, 0.6, 0.3};

// xorshift32: deterministic noise in [-1, 1].
struct Noise {
    std::uint32_t state = 0x2545F491u;
    float next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<float>(state) / 2147483648.0f - 1.0f;
    }
};

// Two-pole resonator (Smith-Angell form) with the centre and bandwidth updated per sample.
struct Resonator {
    double y1 = 0.0;
    double y2 = 0.0;
    double process(double x, double centreHz, double bandwidthHz, double rate)
    {
        const double r = std::exp(-pi * bandwidthHz / rate);
        const double y = (1.0 - r) * (x - r * x) + 2.0 * r * std::cos(twoPi * centreHz / rate) * y1 - r * r * y2;
        y2 = y1;
        y1 = y;
        return y;
    }
};

double melodyBeats()
{
    double beats = 0.0;
    for (const auto& note : melody)
        beats += note.beats;
    return beats;
}

std::vector<float> synthesiseVoice(double rate, std::size_t frames)
{
    // The pitch contour: glides of 70 ms between legato notes, a scoop from below after a rest, and a
    // vibrato of 5.5 Hz and 30 cents that fades in over the first quarter second of each note.
    std::vector<float> out(frames, 0.0f);
    Noise noise;
    std::array<Resonator, 3> formants;
    double phase = 0.0;
    double previousMidi = melody[0].midi + melody[0].detuneCents / 100.0;
    double formant[3] = {vowels[0][0], vowels[0][1], vowels[0][2]};
    double level = 0.0;
    double time = leadIn;

    for (const auto& note : melody) {
        const double duration = note.beats * beatSeconds;
        const auto first = static_cast<std::size_t>(time * rate);
        const auto last = std::min(frames, static_cast<std::size_t>((time + duration) * rate));
        const double target = note.midi + note.detuneCents / 100.0;
        const bool afterRest = level < 0.05;
        for (std::size_t i = first; i < last; ++i) {
            const double t = static_cast<double>(i - first) / rate;
            const double untilEnd = static_cast<double>(last - i) / rate;
            double amplitude = 0.0;
            if (note.midi > 0) {
                double midi = target;
                if (afterRest)
                    midi -= 0.8 * std::exp(-t / 0.04);
                else if (t < 0.07)
                    midi = previousMidi + (target - previousMidi) * (0.5 - 0.5 * std::cos(pi * t / 0.07));
                const double vibrato = 0.3 * std::min(1.0, t / 0.25) * std::sin(twoPi * 5.5 * t);
                midi += vibrato;
                phase += twoPi * midiToHz(midi) / rate;
                if (phase > twoPi)
                    phase -= twoPi;
                amplitude = 1.0 + 0.1 * vibrato;
                if (untilEnd < 0.12 && (&note + 1)->midi == 0)
                    amplitude *= untilEnd / 0.12;
            }
            level += (amplitude - level) * (1.0 - std::exp(-1.0 / (0.03 * rate)));

            // Glottal-like source: harmonics falling as k^-1.2 up to 5 kHz (Chebyshev recurrence for sin(k x)).
            const double f0 = midiToHz(previousMidi);
            const int harmonics = std::max(1, static_cast<int>(5000.0 / std::max(f0, 80.0)));
            const double c = 2.0 * std::cos(phase);
            double s0 = 0.0;
            double s1 = std::sin(phase);
            double source = s1;
            for (int k = 2; k <= harmonics; ++k) {
                const double s2 = c * s1 - s0;
                source += s2 * std::pow(static_cast<double>(k), -1.2);
                s0 = s1;
                s1 = s2;
            }
            source = source * level + 0.03 * level * noise.next();

            const int vowel = note.midi > 0 ? note.vowel : 0;
            double sample = 0.0;
            for (int f = 0; f < 3; ++f) {
                formant[f] += (vowels[vowel][f] - formant[f]) * 0.002;
                sample += formantGains[f] * formants[static_cast<std::size_t>(f)].process(source, formant[f],
                                                                                          bandwidths[f], rate);
            }
            out[i] = static_cast<float>(sample);
        }
        if (note.midi > 0)
            previousMidi = target;
        time += duration;
    }

    float peak = 0.0f;
    for (const float v : out)
        peak = std::max(peak, std::fabs(v));
    if (peak > 0.0f)
        for (auto& v : out)
            v *= 0.5f / peak;
    return out;
}

void addTone(std::vector<float>& channel, double rate, double start, double hz, double decaySeconds, double amplitude,
             int harmonics, double length)
{
    const auto first = static_cast<std::size_t>(start * rate);
    const auto last = std::min(channel.size(), first + static_cast<std::size_t>(length * rate));
    for (std::size_t i = first; i < last; ++i) {
        const double t = static_cast<double>(i - first) / rate;
        const double attack = std::min(1.0, t / 0.004);
        double v = 0.0;
        for (int k = 1; k <= harmonics; ++k)
            v += std::sin(twoPi * k * hz * t) / k;
        channel[i] += static_cast<float>(amplitude * attack * std::exp(-t / decaySeconds) * v);
    }
}

std::vector<std::vector<float>> synthesiseBeat(double rate, std::size_t frames)
{
    std::vector<std::vector<float>> out(2, std::vector<float>(frames, 0.0f));
    const double seconds = static_cast<double>(frames) / rate;
    Noise noise;
    // i - iv - i - v in A minor, one chord per bar of four beats: Am, Dm, Am, Em.
    const int chords[4][3] = {{57, 60, 64}, {62, 65, 69}, {57, 60, 64}, {64, 67, 71}};
    const int bass[4] = {45, 50, 45, 40};

    for (int beat = 0; beat * beatSeconds < seconds; ++beat) {
        const double at = beat * beatSeconds;
        const int bar = (beat / 4) % 4;
        const int inBar = beat % 4;
        // Kick on 1 and 3: a sine falling from 110 to 45 Hz.
        if (inBar % 2 == 0) {
            const auto first = static_cast<std::size_t>(at * rate);
            double kickPhase = 0.0;
            for (std::size_t i = first; i < std::min(frames, first + static_cast<std::size_t>(0.4 * rate)); ++i) {
                const double t = static_cast<double>(i - first) / rate;
                kickPhase += twoPi * (45.0 + 65.0 * std::exp(-t / 0.04)) / rate;
                const auto v = static_cast<float>(0.55 * std::exp(-t / 0.16) * std::sin(kickPhase));
                out[0][i] += v;
                out[1][i] += v;
            }
        }
        // Clap on 2 and 4, hats on every eighth: noise bursts, the hats differentiated to make them bright.
        for (int eighth = 0; eighth < 2; ++eighth) {
            const auto first = static_cast<std::size_t>((at + eighth * beatSeconds / 2) * rate);
            const bool clap = eighth == 0 && inBar % 2 == 1;
            float previous = 0.0f;
            for (std::size_t i = first; i < std::min(frames, first + static_cast<std::size_t>(0.2 * rate)); ++i) {
                const double t = static_cast<double>(i - first) / rate;
                const float n = noise.next();
                const double hat = 0.07 * std::exp(-t / 0.02) * (n - previous);
                const double clapLevel = clap ? 0.18 * std::exp(-t / 0.07) * n : 0.0;
                previous = n;
                out[0][i] += static_cast<float>(hat * (eighth == 0 ? 1.0 : 0.6) + clapLevel);
                out[1][i] += static_cast<float>(hat * (eighth == 0 ? 0.6 : 1.0) + clapLevel);
            }
        }
        // A plucked arpeggio on the eighths, root - third - fifth - third: the third sets minor against major.
        for (int eighth = 0; eighth < 2; ++eighth) {
            static constexpr int arpeggio[4] = {0, 1, 2, 1};
            const double hz = midiToHz(chords[bar][arpeggio[(inBar * 2 + eighth) % 4]] - 12);
            addTone(out[eighth], rate, at + eighth * beatSeconds / 2, hz, 0.12, 0.08, 2, 0.3);
            addTone(out[1 - eighth], rate, at + eighth * beatSeconds / 2, hz, 0.12, 0.05, 2, 0.3);
        }
        // Bass on the root, on the beat; chord stabs on the off-beat, spread across the stereo image.
        if (inBar == 0 || inBar == 2) {
            addTone(out[0], rate, at, midiToHz(bass[bar]), 0.35, 0.16, 2, 0.9);
            addTone(out[1], rate, at, midiToHz(bass[bar]), 0.35, 0.16, 2, 0.9);
        }
        for (int n = 0; n < 3; ++n) {
            const double hz = midiToHz(chords[bar][n]);
            const double left = 0.09 * (1.2 - 0.2 * n);
            const double right = 0.09 * (0.8 + 0.2 * n);
            // Three partials only: the fifth would add the major third of every chord tone.
            addTone(out[0], rate, at + beatSeconds / 2, hz, 0.15, left, 3, 0.45);
            addTone(out[1], rate, at + beatSeconds / 2, hz, 0.15, right, 3, 0.45);
        }
    }
    return out;
}

} // namespace

DemoMaterial makeDemoMaterial(double sampleRateHz)
{
    DemoMaterial material;
    const double seconds = leadIn + melodyBeats() * beatSeconds + tailSeconds;
    const auto frames = static_cast<std::size_t>(seconds * sampleRateHz);
    const auto voice = synthesiseVoice(sampleRateHz, frames);
    material.voice.sampleRate = sampleRateHz;
    material.voice.channels = {voice, voice};
    material.beat.sampleRate = sampleRateHz;
    material.beat.channels = synthesiseBeat(sampleRateHz, frames);
    material.beatKey = 9;
    return material;
}

} // namespace tolmar::render
