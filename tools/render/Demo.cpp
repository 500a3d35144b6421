#include "render/Demo.h"

#include "dsp/PitchDetector.h"
#include "render/CommandLine.h"
#include "render/DemoMaterial.h"
#include "render/Renderer.h"
#include "render/WavFile.h"

#include <juce_core/juce_core.h>

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <sstream>

namespace tolmar::render {

namespace {

constexpr int frameLength = 1024; // samples after decimation
constexpr int hop = 512;

// The first channel, box-car decimated to about 24 kHz, one YIN estimate per hop; 0 where silent or unvoiced.
std::vector<double> pitchTrack(const AudioData& audio)
{
    const int factor = std::max(1, static_cast<int>(audio.sampleRate / 24000.0));
    const double rate = audio.sampleRate / factor;
    const auto& source = audio.channels.front();
    std::vector<float> decimated(source.size() / static_cast<std::size_t>(factor));
    for (std::size_t i = 0; i < decimated.size(); ++i) {
        float sum = 0.0f;
        for (int k = 0; k < factor; ++k)
            sum += source[i * static_cast<std::size_t>(factor) + static_cast<std::size_t>(k)];
        decimated[i] = sum / static_cast<float>(factor);
    }
    std::vector<double> track;
    for (std::size_t start = 0; start + frameLength <= decimated.size(); start += hop) {
        double energy = 0.0;
        for (int i = 0; i < frameLength; ++i)
            energy += decimated[start + static_cast<std::size_t>(i)] * decimated[start + static_cast<std::size_t>(i)];
        const bool loud = std::sqrt(energy / frameLength) > 0.02;
        track.push_back(loud ? tolmar::estimatePitch(decimated.data() + start, frameLength, rate) : 0.0);
    }
    return track;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2), values.end());
    return values[values.size() / 2];
}

double midiOf(double hz) { return 69.0 + 12.0 * std::log2(hz / 440.0); }

bool inKey(int pitchClass, int key)
{
    static constexpr int minorSteps[7] = {0, 2, 3, 5, 7, 8, 10};
    static constexpr int majorSteps[7] = {0, 2, 4, 5, 7, 9, 11};
    const int* steps = keyIsMajor(key) ? majorSteps : minorSteps;
    const int degree = ((pitchClass - keyRoot(key)) % 12 + 12) % 12;
    return std::find(steps, steps + 7, degree) != steps + 7;
}

// Signed distance in cents from a MIDI pitch to the nearest note of the key.
double centsToScale(double midi, int key)
{
    double best = 1e9;
    const int nearest = static_cast<int>(std::lround(midi));
    for (int note = nearest - 2; note <= nearest + 2; ++note)
        if (inKey(note, key) && std::fabs(midi - note) < std::fabs(best))
            best = midi - note;
    return 100.0 * best;
}

double medianAbsCentsToScale(const std::vector<double>& track, int key)
{
    std::vector<double> errors;
    for (const double hz : track)
        if (hz > 0.0)
            errors.push_back(std::fabs(centsToScale(midiOf(hz), key)));
    return median(errors);
}

double rmsOf(const AudioData& audio)
{
    double sum = 0.0;
    std::size_t count = 0;
    for (const auto& channel : audio.channels) {
        for (const float v : channel)
            sum += static_cast<double>(v) * v;
        count += channel.size();
    }
    return count > 0 ? std::sqrt(sum / static_cast<double>(count)) : 0.0;
}

bool finiteAndNormal(const AudioData& audio)
{
    for (const auto& channel : audio.channels)
        for (const float v : channel)
            if (!std::isfinite(v) || (v != 0.0f && std::fpclassify(v) == FP_SUBNORMAL))
                return false;
    return true;
}

void measure(DemoRow& row, const AudioData& input, const AudioData& output, int key)
{
    row.finite = finiteAndNormal(output);
    if (row.mode == Mode::master) {
        row.levelChangeDb = 20.0 * std::log10(std::max(rmsOf(output), 1e-9) / std::max(rmsOf(input), 1e-9));
        return;
    }
    const auto in = pitchTrack(input);
    const auto out = pitchTrack(output);
    std::vector<double> shifts;
    for (std::size_t i = 0; i < std::min(in.size(), out.size()); ++i)
        if (in[i] > 0.0 && out[i] > 0.0)
            shifts.push_back(12.0 * std::log2(out[i] / in[i]));
    row.shiftSemitones = median(shifts);
    if (!isTunedMode(row.mode) || key < 0)
        return;

    row.inputErrorCents = medianAbsCentsToScale(in, key);
    row.errorCents = medianAbsCentsToScale(out, key);
    // The last sung note: the output over the input's last twelve voiced frames (about a quarter second).
    std::vector<double> lastNote;
    for (std::size_t i = std::min(in.size(), out.size()); i-- > 0 && lastNote.size() < 12;)
        if (in[i] > 0.0 && out[i] > 0.0)
            lastNote.push_back(midiOf(out[i]));
    const double lastMidi = median(lastNote);
    row.endsOnScaleNote = !lastNote.empty() && std::fabs(centsToScale(lastMidi, key)) < 30.0;
}

std::string measuredText(const DemoRow& row)
{
    std::ostringstream text;
    text << std::fixed;
    if (row.mode == Mode::master)
        text << "level " << std::showpos << std::setprecision(1) << row.levelChangeDb << " dB (mix in)";
    else if (isTunedMode(row.mode))
        text << "off-key " << std::setprecision(0) << row.inputErrorCents << " -> " << row.errorCents
             << " cents, last note " << (row.endsOnScaleNote ? "in key" : "OFF KEY");
    else
        text << "shift " << std::showpos << std::setprecision(2) << row.shiftSemitones << " st";
    return text.str();
}

} // namespace

bool runDemo(const std::string& dir, std::ostream& out, std::string& error, DemoReport* report)
{
    const auto folder = juce::File::getCurrentWorkingDirectory().getChildFile(juce::String::fromUTF8(dir.c_str()));
    if (!folder.createDirectory()) {
        error = "cannot create the directory '" + dir + "'";
        return false;
    }
    const auto pathOf = [&folder](const std::string& name) {
        return folder.getChildFile(name).getFullPathName().toStdString();
    };

    const DemoMaterial material = makeDemoMaterial(48000.0);
    if (!writeWav(pathOf("demo-voice.wav"), material.voice, SampleFormat::int24, error)
        || !writeWav(pathOf("demo-beat.wav"), material.beat, SampleFormat::int24, error))
        return false;

    // Let the processor hear the beat once, as it would in a session, and keep its saved state: every mode
    // then starts with the key known, as after reopening a project.
    AudioData silence = material.beat;
    for (auto& channel : silence.channels)
        std::fill(channel.begin(), channel.end(), 0.0f);
    RenderJob listen;
    listen.voice = &silence;
    listen.beat = &material.beat;
    listen.mode = Mode::trapDefault;
    listen.tuningSource = 1;
    RenderResult heard;
    if (!render(listen, heard, error))
        return false;
    if (!writeOutputFile(pathOf("demo.state"), heard.state.data(), heard.state.size(), error))
        return false;

    DemoReport local;
    DemoReport& result = report != nullptr ? *report : local;
    result = DemoReport{};
    result.beatKey = heard.stage == KeyStage::keyKnown ? heard.key : noKey;
    result.keyFoundSeconds = heard.keyFoundSeconds;

    // The mastering chain gets what it is made for: the whole mix.
    AudioData mix = material.voice;
    for (std::size_t ch = 0; ch < mix.channels.size(); ++ch)
        for (std::size_t i = 0; i < mix.channels[ch].size(); ++i)
            mix.channels[ch][i] = 0.7f * mix.channels[ch][i] + 0.7f * material.beat.channels[ch][i];

    out << "Tolmar Vez demo: a " << std::fixed << std::setprecision(1)
        << static_cast<double>(material.voice.numFrames()) / material.voice.sampleRate
        << " s sung phrase, each note 20 to 35 cents off, over a beat in " << keyName(material.beatKey) << ", "
        << static_cast<long>(material.voice.sampleRate) << " Hz\n";
    out << "The processor heard the beat as " << keyName(result.beatKey);
    if (result.keyFoundSeconds >= 0.0)
        out << " after " << std::setprecision(2) << result.keyFoundSeconds << " s";
    out << "; every mode starts from that saved state (" << pathOf("demo.state") << ").\n\n";
    out << std::left << std::setw(23) << "mode" << std::setw(10) << "key" << std::setw(44)
        << "measured (core's YIN pitch estimate)" << std::setw(11) << "latency" << std::setw(12) << "peak"
        << std::setw(10) << "speed" << "file\n";

    // Every mode, then the four tuning styles again with Live, so the two paths read side by side.
    std::vector<std::pair<Mode, bool>> renders;
    for (int m = 0; m < 8; ++m)
        renders.emplace_back(static_cast<Mode>(m), false);
    for (const Mode style : {Mode::trapDefault, Mode::cumbia, Mode::reggaeton, Mode::ultraEdited})
        renders.emplace_back(style, true);
    for (const auto& [mode, live] : renders) {
        DemoRow row;
        row.mode = mode;
        row.live = live;
        row.file = "demo-" + std::string(modeSlug(row.mode)) + (live ? "-live" : "") + ".wav";
        RenderJob job;
        job.voice = row.mode == Mode::master ? &mix : &material.voice;
        job.beat = &material.beat;
        job.mode = row.mode;
        job.live = live;
        job.state = heard.state;
        RenderResult rendered;
        if (!render(job, rendered, error)
            || !writeWav(pathOf(row.file), rendered.output, SampleFormat::int24, error))
            return false;
        row.latency = rendered.latency;
        row.key = isTunedMode(row.mode) ? rendered.key : -1;
        row.peak = rendered.outputPeak;
        row.realTimeFactor = rendered.realTimeFactor;
        measure(row, *job.voice, rendered.output, row.key);

        std::ostringstream peak;
        peak << std::fixed << std::setprecision(1) << 20.0 * std::log10(std::max(row.peak, 1e-6f)) << " dBFS";
        std::ostringstream speed;
        speed << std::fixed << std::setprecision(0) << row.realTimeFactor << "x";
        std::ostringstream latency;
        latency << std::fixed << std::setprecision(1) << 1000.0 * row.latency / material.voice.sampleRate << " ms";
        out << std::left << std::setw(23) << std::string(modeName(row.mode)) + (live ? " (Live)" : "")
            << std::setw(10) << (row.key >= 0 ? keyName(row.key) : "-") << std::setw(44) << measuredText(row)
            << std::setw(11) << latency.str() << std::setw(12) << peak.str() << std::setw(10) << speed.str()
            << row.file << "\n";
        result.rows.push_back(row);
    }
    out << "\nFiles in " << folder.getFullPathName().toStdString()
        << " (the voice and beat alone: demo-voice.wav, demo-beat.wav)\n";
    return true;
}

} // namespace tolmar::render
