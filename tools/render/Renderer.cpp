#include "render/Renderer.h"

#include "dsp/SampleRate.h"
#include "plugin/Parameters.h"
#include "plugin/Processor.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>

namespace tolmar::render {

namespace {

namespace ids = parameterIds;

void setRaw(TolmarProcessor& processor, const char* id, float raw)
{
    if (auto* parameter = processor.parameters.getParameter(id))
        parameter->setValueNotifyingHost(parameter->convertTo0to1(raw));
}

juce::AudioChannelSet channelSet(int channels)
{
    return channels == 1 ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo();
}

float peakOf(const AudioData& data)
{
    float peak = 0.0f;
    for (const auto& channel : data.channels)
        for (const float sample : channel)
            peak = std::max(peak, std::fabs(sample));
    return peak;
}

int beatChannelsOf(const RenderJob& job)
{
    return job.beat != nullptr ? job.beat->numChannels() : 0;
}

// What can be refused before a processor exists: channel counts, the beat's rate, a state of another kind. Returns
// false with the reason in `error`.
bool checkJob(const RenderJob& job, std::string& error)
{
    const AudioData& voice = *job.voice;
    const int voiceChannels = voice.numChannels();
    const int beatChannels = beatChannelsOf(job);
    if (voiceChannels < 1 || voiceChannels > 2) {
        error = "unsupported channel count " + std::to_string(voiceChannels) + " in the voice (mono or stereo)";
        return false;
    }
    if (job.beat != nullptr) {
        if (beatChannels < 1 || beatChannels > 2) {
            error = "unsupported channel count " + std::to_string(beatChannels) + " in the beat (mono or stereo)";
            return false;
        }
        if (job.beat->sampleRate != voice.sampleRate) {
            error = "the beat's sample rate (" + std::to_string(static_cast<long>(job.beat->sampleRate))
                    + " Hz) differs from the voice's (" + std::to_string(static_cast<long>(voice.sampleRate)) + " Hz)";
            return false;
        }
    }
    if (!job.state.empty() && !looksLikeSavedState(job.state)) {
        error = "the state file is not a saved Tolmar Vez state";
        return false;
    }
    return true;
}

// Sets the buses, rate and block size and prepares, as a host does before playing. Returns false with the reason in
// `error` when the processor refuses the layout or the rate.
bool prepareProcessor(TolmarProcessor& processor, const RenderJob& job, int block, std::string& error)
{
    const AudioData& voice = *job.voice;
    const int voiceChannels = voice.numChannels();
    const int beatChannels = beatChannelsOf(job);
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add(channelSet(voiceChannels));
    layout.inputBuses.add(beatChannels > 0 ? channelSet(beatChannels) : juce::AudioChannelSet::disabled());
    layout.outputBuses.add(channelSet(voiceChannels));
    if (!processor.setBusesLayout(layout)) {
        error = "the processor refuses this bus layout";
        return false;
    }

    processor.setRateAndBufferSizeDetails(voice.sampleRate, block);
    processor.prepareToPlay(voice.sampleRate, block);
    if (!processor.isConfigurationSupported()) {
        error = "unsupported sample rate " + std::to_string(static_cast<long>(std::lround(voice.sampleRate)))
                + " Hz (" + std::to_string(static_cast<long>(tolmar::minSampleRateHz)) + " to "
                + std::to_string(static_cast<long>(tolmar::maxSampleRateHz)) + " Hz)";
        return false;
    }
    return true;
}

// A loaded state comes first; the command line then overrides what it names, as a user would after reopening a
// project.
void applySettings(TolmarProcessor& processor, const RenderJob& job)
{
    if (!job.state.empty())
        processor.setStateInformation(job.state.data(), static_cast<int>(job.state.size()));
    if (job.mode)
        processor.selectMode(*job.mode);
    if (job.root)
        setRaw(processor, ids::root, static_cast<float>(*job.root));
    if (job.tuningSource)
        setRaw(processor, ids::tuningSource, static_cast<float>(*job.tuningSource));
    if (job.bypass)
        setRaw(processor, ids::bypass, 1.0f);
    if (job.live)
        setRaw(processor, ids::live, 1.0f);
}

// The result before the first block: what the settings decided, the input's peak, and a silent output of
// outputFrames frames in the voice's channels and rate.
void startResult(TolmarProcessor& processor, const RenderJob& job, int latency, std::int64_t outputFrames,
                 RenderResult& result)
{
    const AudioData& voice = *job.voice;
    result = RenderResult{};
    result.mode = processor.effectiveMode();
    result.latency = latency;
    result.inputPeak = peakOf(voice);
    result.output.sampleRate = voice.sampleRate;
    result.output.channels.assign(static_cast<std::size_t>(voice.numChannels()),
                                  std::vector<float>(static_cast<std::size_t>(outputFrames), 0.0f));
    result.keyAnalysed = beatChannelsOf(job) > 0 && isTunedMode(result.mode) &&
                         switchIsOn(processor.parameters.getRawParameterValue(ids::tuningSource)->load());
}

// Copies frames start .. start + n of source, as far as it reaches, into the buffer's channels from firstChannel on.
void fillFrom(juce::AudioBuffer<float>& buffer, const AudioData& source, int firstChannel, std::int64_t start, int n)
{
    const auto available = static_cast<std::int64_t>(source.numFrames());
    if (start >= available)
        return;
    const int count = static_cast<int>(std::min<std::int64_t>(n, available - start));
    for (int ch = 0; ch < source.numChannels(); ++ch)
        buffer.copyFrom(firstChannel + ch, 0, source.channels[static_cast<std::size_t>(ch)].data() + start, count);
}

// After each block: whether the key was fixed by the loaded state (known at the first block, before anything was
// heard), else the voice time at the end of the block in which the analyser first decided.
void noteKeyDecision(const TolmarProcessor& processor, std::optional<KeyStage>& previousStage, double blockEndSeconds,
                     RenderResult& result)
{
    const auto stage = keyStageFrom(processor.beatStage.load());
    if (!previousStage && stage == KeyStage::keyKnown && isKey(processor.beatKey.load()))
        result.keyFromState = true;
    else if (result.keyFoundSeconds < 0 && !result.keyFromState && isDecided(stage) &&
             !(previousStage && isDecided(*previousStage)))
        result.keyFoundSeconds = blockEndSeconds;
    previousStage = stage;
}

// Copies the block's n output frames to the output from frame `at` on, leaving out those before frame 0 (the
// latency that is dropped).
void copyOutput(const juce::AudioBuffer<float>& view, int n, std::int64_t at, AudioData& output)
{
    for (int i = 0; i < n; ++i) {
        const std::int64_t frame = at + i;
        if (frame < 0)
            continue;
        for (int ch = 0; ch < output.numChannels(); ++ch)
            output.channels[static_cast<std::size_t>(ch)][static_cast<std::size_t>(frame)] = view.getSample(ch, i);
    }
}

// Feeds total frames (the voice, then silence) through the processor in blocks, collecting the output after the
// first `skip` frames and the key decision. Returns the seconds spent in processBlock.
double processBlocks(TolmarProcessor& processor, const RenderJob& job, int block, std::int64_t total, std::int64_t skip,
                     RenderResult& result)
{
    const AudioData& voice = *job.voice;
    // The framework's process buffer: main bus channels first, then the side-chain's.
    juce::AudioBuffer<float> buffer(voice.numChannels() + beatChannelsOf(job), block);
    juce::MidiBuffer midi;
    double processingSeconds = 0.0;
    std::optional<KeyStage> previousStage; // none before the first block

    for (std::int64_t start = 0; start < total; start += block) {
        const int n = static_cast<int>(std::min<std::int64_t>(block, total - start));
        buffer.clear();
        fillFrom(buffer, voice, 0, start, n);
        if (job.beat != nullptr)
            fillFrom(buffer, *job.beat, voice.numChannels(), start, n);

        juce::AudioBuffer<float> view(buffer.getArrayOfWritePointers(), buffer.getNumChannels(), n);
        const auto t0 = std::chrono::steady_clock::now();
        processor.processBlock(view, midi);
        processingSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

        noteKeyDecision(processor, previousStage, static_cast<double>(start + n) / voice.sampleRate, result);
        copyOutput(view, n, start - skip, result.output);
        if (job.progress)
            job.progress(static_cast<double>(start + n) / static_cast<double>(total));
    }
    return processingSeconds;
}

// What the render leaves behind: the analyser's state, the output's peak, the speed and the saved state.
void finishResult(TolmarProcessor& processor, double renderedSeconds, double processingSeconds, RenderResult& result)
{
    result.key = processor.beatKey.load();
    result.stage = keyStageFrom(processor.beatStage.load());
    result.beatProgress = processor.beatProgress.load();
    result.outputPeak = peakOf(result.output);
    result.realTimeFactor = processingSeconds > 0.0 ? renderedSeconds / processingSeconds : 0.0;

    juce::MemoryBlock saved;
    processor.getStateInformation(saved);
    const auto* bytes = static_cast<const char*>(saved.getData());
    result.state.assign(bytes, bytes + saved.getSize());
}

} // namespace

bool looksLikeSavedState(const std::vector<char>& bytes)
{
    if (bytes.empty() || bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        return false;
    const auto xml = juce::AudioProcessor::getXmlFromBinary(bytes.data(), static_cast<int>(bytes.size()));
    return xml != nullptr && xml->hasTagName("TolmarVoz");
}

bool render(const RenderJob& job, RenderResult& result, std::string& error)
{
    if (!checkJob(job, error))
        return false;

    TolmarProcessor processor;
    const int block = std::max(1, job.block);
    if (!prepareProcessor(processor, job, block, error))
        return false;
    applySettings(processor, job);
    processor.reportLatency(); // no message loop runs here to do it

    const int latency = processor.getLatencySamples();
    const auto frames = static_cast<std::int64_t>(job.voice->numFrames());
    // The input followed by latency() samples of silence: enough to flush everything that lines up with it.
    const std::int64_t total = frames + latency;
    const std::int64_t skip = job.keepLatency ? 0 : latency;

    startResult(processor, job, latency, total - skip, result);
    const double processingSeconds = processBlocks(processor, job, block, total, skip, result);
    finishResult(processor, static_cast<double>(total) / job.voice->sampleRate, processingSeconds, result);
    return true;
}

} // namespace tolmar::render
