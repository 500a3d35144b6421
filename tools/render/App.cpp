#include "render/App.h"

#include "render/CommandLine.h"
#include "render/Demo.h"
#include "render/Renderer.h"
#include "render/WavFile.h"

#include <juce_core/juce_core.h>

#include <cmath>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <unistd.h>

namespace tolmar::render {

namespace {

constexpr int exitFailure = 1;
constexpr int exitUsage = 2;
constexpr double progressAfterSeconds = 5.0;

double decibels(float linear) { return linear > 0.0f ? 20.0 * std::log10(static_cast<double>(linear)) : -120.0; }

bool readBytes(const std::string& path, std::vector<char>& bytes, std::string& error)
{
    const auto file = juce::File::getCurrentWorkingDirectory().getChildFile(juce::String::fromUTF8(path.c_str()));
    juce::MemoryBlock block;
    if (!file.existsAsFile() || !file.loadFileAsData(block)) {
        error = "cannot read '" + path + "': no such file";
        return false;
    }
    const auto* data = static_cast<const char*>(block.getData());
    bytes.assign(data, data + block.getSize());
    return true;
}

// A one-line bar redrawn in place; only ever on a terminal.
class ProgressBar {
public:
    void operator()(double fraction)
    {
        const int percent = static_cast<int>(fraction * 100.0);
        if (percent == shown)
            return;
        shown = percent;
        const int filled = percent * 30 / 100;
        std::cerr << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
                  << std::string(static_cast<std::size_t>(30 - filled), ' ') << "] " << std::setw(3) << percent << " %"
                  << std::flush;
    }
    void finish() const
    {
        if (shown >= 0)
            std::cerr << "\r" << std::string(40, ' ') << "\r" << std::flush;
    }

private:
    int shown = -1;
};

void printSummary(std::ostream& out, const Options& options, const AudioData& voice, const RenderResult& result)
{
    const auto rate = voice.sampleRate;
    out << std::fixed;
    out << "mode     " << modeName(result.mode) << (options.bypass ? " (bypassed)" : "")
        << (options.live ? " (Live)" : "") << "\n";
    out << "latency  " << result.latency << " samples (" << std::setprecision(1)
        << 1000.0 * result.latency / rate << " ms), " << (options.keepLatency ? "kept" : "compensated") << "\n";
    out << "key      ";
    if (result.keyFromState)
        out << keyName(result.key) << ", from the saved state";
    else if (result.stage == KeyStage::keyKnown)
        out << keyName(result.key) << ", found after " << std::setprecision(2) << result.keyFoundSeconds << " s";
    else if (result.stage == KeyStage::noClearKey)
        out << "no clear key, decided after " << std::setprecision(2) << result.keyFoundSeconds << " s";
    else if (result.keyAnalysed)
        out << "not found yet (" << static_cast<int>(result.beatProgress * 100.0f)
            << " % of the beat needed was heard)";
    else if (!isTunedMode(result.mode))
        out << "not used by this mode";
    else
        out << "none (no beat analysed)";
    out << "\n";
    out << "input    peak " << std::setprecision(3) << result.inputPeak << " (" << std::setprecision(1)
        << decibels(result.inputPeak) << " dBFS), " << std::setprecision(2)
        << static_cast<double>(voice.numFrames()) / rate << " s, " << static_cast<long>(rate) << " Hz, "
        << (voice.numChannels() == 1 ? "mono" : "stereo") << "\n";
    out << "output   peak " << std::setprecision(3) << result.outputPeak << " (" << std::setprecision(1)
        << decibels(result.outputPeak) << " dBFS), " << (options.floatOutput ? "32-bit float" : "24-bit") << " "
        << options.outPath << "\n";
    out << "speed    " << std::setprecision(1) << result.realTimeFactor << "x real time\n";
}

int renderFiles(const Options& options, std::ostream& out, std::ostream& err)
{
    std::string error;
    AudioData voice;
    AudioData beat;
    std::vector<char> state;
    const auto fail = [&err](const std::string& message) {
        err << "tolmar-render: " << message << "\n";
        return exitFailure;
    };

    if (!readWav(options.voicePath, voice, error))
        return fail(error);
    if (!options.beatPath.empty() && !readWav(options.beatPath, beat, error))
        return fail(error);
    if (!options.statePath.empty() && !readBytes(options.statePath, state, error))
        return fail(error);
    // Refuse an unwritable destination before the long part, not after it.
    if (!canCreate(options.outPath, error)
        || (!options.saveStatePath.empty() && !canCreate(options.saveStatePath, error)))
        return fail(error);

    RenderJob job;
    job.voice = &voice;
    job.beat = options.beatPath.empty() ? nullptr : &beat;
    job.mode = options.mode;
    job.root = options.root;
    job.tuningSource = options.tuningSource;
    job.bypass = options.bypass;
    job.live = options.live;
    job.state = std::move(state);
    job.block = options.block;
    job.keepLatency = options.keepLatency;

    ProgressBar bar;
    if (stderrIsTerminal() && static_cast<double>(voice.numFrames()) / voice.sampleRate > progressAfterSeconds)
        job.progress = [&bar](double fraction) { bar(fraction); };

    RenderResult result;
    const bool rendered = render(job, result, error);
    bar.finish();
    if (!rendered)
        return fail(error);

    if (!writeWav(options.outPath, result.output, options.floatOutput ? SampleFormat::float32 : SampleFormat::int24,
                  error))
        return fail(error);
    if (!options.saveStatePath.empty() &&
        !writeOutputFile(options.saveStatePath, result.state.data(), result.state.size(), error))
        return fail(error);

    printSummary(out, options, voice, result);
    return 0;
}

} // namespace

bool stderrIsTerminal() { return isatty(fileno(stderr)) != 0; }

int runTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    const auto parsed = parseCommandLine(args);
    if (!parsed.error.empty()) {
        err << "tolmar-render: " << parsed.error << " (try --help)\n";
        return exitUsage;
    }
    if (parsed.options.help) {
        out << usageText();
        return 0;
    }
    if (!parsed.options.demoDir.empty()) {
        std::string error;
        if (!runDemo(parsed.options.demoDir, out, error)) {
            err << "tolmar-render: " << error << "\n";
            return exitFailure;
        }
        return 0;
    }
    return renderFiles(parsed.options, out, err);
}

} // namespace tolmar::render
