#include "plugin/Processor.h"

#include "editor/Editor.h"
#include "plugin/Buses.h"
#include "plugin/SavedState.h"

#include "editor/i18n/LanguageNames.h"
#include "standalone/StandaloneInputs.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace {

namespace ids = tolmar::parameterIds;

bool switchIsOn(const std::atomic<float>* raw)
{
    return tolmar::switchIsOn(raw->load());
}

int choiceIndex(const std::atomic<float>* raw, int lastIndex)
{
    return tolmar::choiceIndex(raw->load(), lastIndex);
}

// Lock-free maximum, so that a peak stays until the editor takes it however many blocks run in between.
void raiseTo(std::atomic<float>& level, float value) noexcept
{
    float current = level.load(std::memory_order_relaxed);
    while (value > current && !level.compare_exchange_weak(current, value, std::memory_order_relaxed)) {
    }
}

} // namespace

TolmarProcessor::TolmarProcessor()
    : juce::AudioProcessor(buses())
    , parameters(*this, nullptr, "TolmarVoz", layout())
{
    effectValue = rawValue(ids::effect);
    rootValue = rawValue(ids::root);
    bypassValue = rawValue(ids::bypass);
    tuningSourceValue = rawValue(ids::tuningSource);
    wobbleValue = rawValue(ids::wobble);
    vocalStyleValue = rawValue(ids::vocalStyle);
    masteringValue = rawValue(ids::mastering);
    liveValue = rawValue(ids::live);
    startTimerHz(10);
}

TolmarProcessor::BusesProperties TolmarProcessor::buses()
{
    static_assert(tolmar::busChannels == 2, "the buses are declared in stereo");
    BusesProperties properties;
    for (const auto& bus : tolmar::busTable)
        properties.addBus(bus.isInput, bus.name, juce::AudioChannelSet::stereo(), !bus.optional);
    return properties;
}

TolmarProcessor::~TolmarProcessor()
{
    stopTimer();
}

std::atomic<float>* TolmarProcessor::rawValue(const char* parameterId)
{
    auto* raw = parameters.getRawParameterValue(parameterId);
    jassert(raw != nullptr);
    return raw;
}

juce::AudioProcessorValueTreeState::ParameterLayout TolmarProcessor::layout()
{
    juce::AudioProcessorValueTreeState::ParameterLayout parameterLayout;
    for (const auto& info : tolmar::parameterTable) {
        const juce::ParameterID id{info.id, 1};
        if (info.isSwitch()) {
            parameterLayout.add(std::make_unique<juce::AudioParameterBool>(id, info.name, info.defaultIndex != 0));
            continue;
        }
        juce::StringArray choices;
        if (info.choices == nullptr)
            choices = tolmarLanguages();
        else
            for (int i = 0; i < info.choiceCount; ++i)
                choices.add(info.choices[i]);
        jassert(choices.size() == info.choiceCount);
        parameterLayout.add(std::make_unique<juce::AudioParameterChoice>(id, info.name, choices, info.defaultIndex));
    }
    return parameterLayout;
}

tolmar::Mode TolmarProcessor::effectiveMode() const
{
    return tolmar::modeFrom(*masteringValue, *effectValue, *wobbleValue, *vocalStyleValue);
}

void TolmarProcessor::selectMode(tolmar::Mode mode)
{
    const auto write = [this](const char* id, float rawValue) {
        auto* parameter = parameters.getParameter(id);
        parameter->beginChangeGesture();
        parameter->setValueNotifyingHost(parameter->convertTo0to1(rawValue));
        parameter->endChangeGesture();
    };
    const auto values = tolmar::parametersFor(mode);
    write(ids::mastering, values.mastering);
    if (mode == tolmar::Mode::master)
        return;
    write(ids::effect, values.effect);
    write(ids::wobble, values.wobble);
    write(ids::vocalStyle, values.vocalStyle);
}

const juce::String TolmarProcessor::getName() const { return "Tolmar Vez"; }

void TolmarProcessor::prepareToPlay(double sampleRate, int maximumExpectedSamplesPerBlock)
{
    // Neither an unsupported rate nor a failed allocation may escape into the host: the engine and the analyser
    // refuse a rate before changing anything, and an engine whose allocation failed stays unprepared. The
    // callback then passes the audio through until a prepare succeeds. Meanwhile nothing is delayed (latency 0)
    // and the analyser, still set up for the previous rate, hears nothing.
    configurationSupported.store(false);
    try {
        engine.prepare(sampleRate, std::max(1, maximumExpectedSamplesPerBlock));
        keyAnalyzer.prepare(sampleRate);
        fullPathLatency.store(engine.latency());
        livePathLatency.store(engine.liveLatency());
        configurationSupported.store(true);
    } catch (const std::exception&) {
    }
    reportLatency();
}

int TolmarProcessor::pathLatency() const
{
    if (!configurationSupported.load())
        return 0;
    tolmar::Settings settings;
    settings.mode = effectiveMode();
    settings.live = switchIsOn(liveValue);
    return tolmar::usesLivePath(settings) ? livePathLatency.load() : fullPathLatency.load();
}

void TolmarProcessor::reportLatency()
{
    // The host's preparing thread and the timer's message thread both report; the framework's latency is a
    // plain value, so they take turns. The audio thread never comes here.
    const std::lock_guard<std::mutex> turn(latencyReport);
    const int latency = pathLatency();
    if (latency != getLatencySamples())
        setLatencySamples(latency);
}

void TolmarProcessor::timerCallback()
{
    reportLatency();
}

void TolmarProcessor::releaseResources() { engine.reset(); }

tolmar::Settings TolmarProcessor::blockSettings(tolmar::Mode mode, bool bypass, bool beatIsTuningSource, int key,
                                                int rootChoice)
{
    tolmar::Settings settings;
    settings.mode = mode;
    settings.bypass = bypass;
    if (beatIsTuningSource && tolmar::isKey(key)) {
        settings.root = tolmar::keyRoot(key);
        settings.scale = tolmar::keyIsMajor(key) ? tolmar::Scale::major : tolmar::Scale::minor;
    } else {
        settings.root = rootChoice;
        settings.scale = tolmar::Scale::minor;
    }
    return settings;
}

void TolmarProcessor::processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi)
{
    processVoice(buffer, midi, false);
}

void TolmarProcessor::processBlockBypassed(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi)
{
    processVoice(buffer, midi, true);
}

void TolmarProcessor::processVoice(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi, bool hostBypassed)
{
    juce::ScopedNoDenormals noDenormals;
    midi.clear();

    const int request = keyRequest.exchange(noKeyRequest);
    if (request != noKeyRequest)
        keyAnalyzer.restore(request);

    const auto mode = effectiveMode();
    const bool beatIsTuningSource = switchIsOn(tuningSourceValue);
    const int numSamples = buffer.getNumSamples();
    // A host that hands over fewer channels than its announced layout gets its audio back untouched.
    const bool buffersMatchLayout =
        buffer.getNumChannels() >= std::max(getTotalNumInputChannels(), getTotalNumOutputChannels());
    const bool supported = configurationSupported.load();

    if (supported && buffersMatchLayout && !hostBypassed && tolmar::isTunedMode(mode) && beatIsTuningSource &&
        getBusCount(true) > 1) {
        const auto beat = getBusBuffer(buffer, true, 1);
        if (beat.getNumChannels() > 0)
            keyAnalyzer.process(beat.getArrayOfReadPointers(), beat.getNumChannels(), numSamples);
    }

    const int key = keyAnalyzer.result().key;
    beatKey.store(key);
    beatStage.store(keyAnalyzer.stage());
    beatProgress.store(keyAnalyzer.progress());

    // While audio passes through untouched the meters show nothing.
    const bool engineRuns = supported && buffersMatchLayout;
    if (engineRuns) {
        auto voice = getBusBuffer(buffer, true, 0);
        auto settings = blockSettings(mode, hostBypassed || switchIsOn(bypassValue), beatIsTuningSource, key,
                                      choiceIndex(rootValue, 11));
        settings.hostBypass = hostBypassed;
        settings.live = switchIsOn(liveValue);
        engine.process(voice.getArrayOfWritePointers(), voice.getNumChannels(), numSamples, settings);
    }

    raiseTo(inputLevel, engineRuns ? engine.inputLevel() : 0.0f);
    raiseTo(outputLevel, engineRuns ? engine.outputLevel() : 0.0f);
}

TolmarProcessor::MeterLevels TolmarProcessor::takeMeterLevels() noexcept
{
    return {inputLevel.exchange(noNewLevel, std::memory_order_relaxed),
            outputLevel.exchange(noNewLevel, std::memory_order_relaxed)};
}

void TolmarProcessor::reanalyzeBeat()
{
    beatKey.store(tolmar::noKey);
    beatStage.store(tolmar::toInt(tolmar::KeyStage::waiting));
    beatProgress.store(0.0f);
    keyRequest.store(analyseAgainRequest);
}

double TolmarProcessor::getTailLengthSeconds() const { return 3.5; }
bool TolmarProcessor::acceptsMidi() const { return false; }
bool TolmarProcessor::producesMidi() const { return false; }

juce::AudioProcessorEditor* TolmarProcessor::createEditor() { return new TolmarEditor(*this); }
bool TolmarProcessor::hasEditor() const { return true; }

int TolmarProcessor::getNumPrograms() { return 1; }
int TolmarProcessor::getCurrentProgram() { return 0; }
void TolmarProcessor::setCurrentProgram(int) {}
const juce::String TolmarProcessor::getProgramName(int) { return "Tolmar"; }
void TolmarProcessor::changeProgramName(int, const juce::String&) {}

void TolmarProcessor::getStateInformation(juce::MemoryBlock& destData)
{
    auto state = parameters.copyState();
    const int pending = keyRequest.load();
    state.setProperty("beatKey", pending != noKeyRequest ? pending : beatKey.load(), nullptr);
    if (const auto xml = state.createXml())
        copyXmlToBinary(*xml, destData);
}

void TolmarProcessor::setStateInformation(const void* data, int sizeInBytes)
{
    // A parameter the state does not mention keeps its current value (this framework version would reset it
    // to its default); those added after the first release load at 0 from older states.
    std::vector<SavedParameter> known;
    for (auto* parameter : getParameters())
        if (auto* ranged = dynamic_cast<juce::RangedAudioParameter*>(parameter)) {
            const auto& range = ranged->getNormalisableRange();
            const auto& id = ranged->paramID;
            const auto* info = tolmar::findParameter(id.toRawUTF8());
            const bool newer = info != nullptr && info->addedLater;
            known.push_back({id, range.start, range.end, ranged->convertFrom0to1(ranged->getValue()), newer,
                             ranged->convertFrom0to1(ranged->getDefaultValue())});
        }

    const auto decoded = decodeSavedState(data, sizeInBytes, parameters.state.getType(), known);
    if (!decoded.tree.isValid())
        return;
    parameters.replaceState(decoded.tree);
    // The parameter state leaves a parameter alone when the loaded value equals its current value once rounded
    // to a step, so a switch the host left at 0.3 would still report 0.3 after loading "off". Every parameter
    // is set to exactly the loaded value, and the host hears of each one that changes.
    for (auto* parameter : getParameters())
        if (auto* ranged = dynamic_cast<juce::RangedAudioParameter*>(parameter)) {
            const auto loaded = parameters.state.getChildWithProperty("id", ranged->paramID);
            if (!loaded.isValid())
                continue;
            const float normalised = ranged->convertTo0to1(static_cast<float>(loaded.getProperty("value")));
            if (ranged->getValue() != normalised)
                ranged->setValueNotifyingHost(normalised);
        }
    beatKey.store(decoded.beatKey);
    keyRequest.store(decoded.beatKey);
    if (juce::MessageManager::existsAndIsCurrentThread())
        reportLatency(); // else the timer does, within a tenth of a second
}

bool TolmarProcessor::isBusesLayoutSupported(const BusesLayout& layouts) const
{
    if (layouts.inputBuses.size() != 2 || layouts.outputBuses.size() != 1)
        return false;
    const auto& mainOut = layouts.getMainOutputChannelSet();
    if (mainOut != juce::AudioChannelSet::mono() && mainOut != juce::AudioChannelSet::stereo())
        return false;
    if (layouts.getMainInputChannelSet() != mainOut)
        return false;
    const auto& sideChain = layouts.getChannelSet(true, 1);
    return sideChain.isDisabled() || sideChain == juce::AudioChannelSet::mono()
           || sideChain == juce::AudioChannelSet::stereo();
}

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    // The standalone app takes the beat from a second input pair of the audio device.
    if (juce::PluginHostType::getPluginLoadedAs() == juce::AudioProcessor::wrapperType_Standalone)
        return new StandaloneInputs(std::make_unique<TolmarProcessor>());
    return new TolmarProcessor();
}
