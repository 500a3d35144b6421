#include "Processor.h"

#include "Editor.h"
#include "SavedState.h"

#include "i18n/LanguageNames.h"
#include "standalone/StandaloneInputs.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

namespace {

bool switchIsOn(const std::atomic<float>* raw) { return raw->load() > 0.5f; }

// A choice's raw value truncated toward zero and clamped to its index range.
int choiceIndex(const std::atomic<float>* raw, int lastIndex)
{
    const float value = raw->load();
    if (!(value > 0.0f)) // NaN and negatives read as the first choice
        return 0;
    return static_cast<int>(std::min(value, static_cast<float>(lastIndex)));
}

} // namespace

TolmarProcessor::TolmarProcessor()
    : juce::AudioProcessor(BusesProperties()
                               .withInput("Input", juce::AudioChannelSet::stereo(), true)
                               .withOutput("Output", juce::AudioChannelSet::stereo(), true)
                               .withInput("Beat", juce::AudioChannelSet::stereo(), false)),
      parameters(*this, nullptr, "TolmarVoz", layout())
{
    effectValue = rawValue("effect");
    rootValue = rawValue("root");
    bypassValue = rawValue("bypass");
    tuningSourceValue = rawValue("tuningSource");
    wobbleValue = rawValue("wobble");
    vocalStyleValue = rawValue("vocalStyle");
    masteringValue = rawValue("mastering");
}

TolmarProcessor::~TolmarProcessor() = default;

std::atomic<float>* TolmarProcessor::rawValue(const char* parameterId)
{
    auto* raw = parameters.getRawParameterValue(parameterId);
    jassert(raw != nullptr);
    return raw;
}

juce::AudioProcessorValueTreeState::ParameterLayout TolmarProcessor::layout()
{
    using Choice = juce::AudioParameterChoice;
    using Switch = juce::AudioParameterBool;
    const auto id = [](const char* name) { return juce::ParameterID{name, 1}; };

    juce::AudioProcessorValueTreeState::ParameterLayout parameterLayout;
    parameterLayout.add(std::make_unique<Choice>(id("effect"), "Effect",
                                                 juce::StringArray{"Mosquito", "Satanic", "Trap default"}, 0));
    parameterLayout.add(std::make_unique<Choice>(
        id("root"), "Root note (minor)",
        juce::StringArray{"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"}, 0));
    parameterLayout.add(std::make_unique<Switch>(id("bypass"), "Bypass", false));
    parameterLayout.add(std::make_unique<Choice>(id("language"), "Language", tolmarLanguages(), 0));
    parameterLayout.add(std::make_unique<Choice>(id("tuningSource"), "Tuning source",
                                                 juce::StringArray{"Manual minor", "Beat sidechain"}, 1));
    parameterLayout.add(std::make_unique<Switch>(id("wobble"), "Dizzy mosquito", false));
    parameterLayout.add(std::make_unique<Choice>(
        id("vocalStyle"), "Vocal style", juce::StringArray{"Trap default", "Cumbia", "Reggaeton", "Ultra edited"}, 0));
    parameterLayout.add(std::make_unique<Switch>(id("mastering"), "Master Tolmar", false));
    return parameterLayout;
}

tolmar::Mode TolmarProcessor::effectiveMode() const
{
    using tolmar::Mode;
    if (switchIsOn(masteringValue))
        return Mode::master;
    switch (choiceIndex(effectValue, 2)) {
    case 0:
        return switchIsOn(wobbleValue) ? Mode::dizzyMosquito : Mode::mosquito;
    case 1:
        return Mode::satanic;
    default: {
        const int style = choiceIndex(vocalStyleValue, 3);
        return style < 1 ? Mode::trapDefault : static_cast<Mode>(style + 3);
    }
    }
}

const juce::String TolmarProcessor::getName() const { return "Tolmar Vez"; }

void TolmarProcessor::prepareToPlay(double sampleRate, int maximumExpectedSamplesPerBlock)
{
    // An unsupported rate must not escape into the host: the engine and the analyser refuse it before
    // changing anything, and the callback then passes the audio through until a supported prepare.
    // While unsupported, nothing is delayed (latency 0) and the analyser, still set up for the previous rate,
    // hears nothing.
    try {
        engine.prepare(sampleRate, std::max(1, maximumExpectedSamplesPerBlock));
        keyAnalyzer.prepare(sampleRate);
        configurationSupported.store(true);
    } catch (const std::invalid_argument&) {
        configurationSupported.store(false);
    }
    setLatencySamples(configurationSupported.load() ? engine.latency() : 0);
}

void TolmarProcessor::releaseResources() { engine.reset(); }

tolmar::Settings TolmarProcessor::blockSettings(tolmar::Mode mode, bool bypass, bool beatIsTuningSource, int key,
                                                int rootChoice)
{
    tolmar::Settings settings;
    settings.mode = mode;
    settings.bypass = bypass;
    if (beatIsTuningSource && key >= 0) {
        settings.root = key % 12;
        settings.scale = key > 11 ? tolmar::Scale::major : tolmar::Scale::minor;
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

    const int request = keyRequest.exchange(-2);
    if (request != -2)
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

    if (supported && buffersMatchLayout) {
        auto voice = getBusBuffer(buffer, true, 0);
        engine.process(voice.getArrayOfWritePointers(), voice.getNumChannels(), numSamples,
                       blockSettings(mode, hostBypassed || switchIsOn(bypassValue), beatIsTuningSource, key,
                                     choiceIndex(rootValue, 11)));
    }

    inputLevel.store(engine.inputLevel());
    outputLevel.store(engine.outputLevel());
}

void TolmarProcessor::reanalyzeBeat()
{
    beatKey.store(-1);
    beatStage.store(0);
    beatProgress.store(0.0f);
    keyRequest.store(-1);
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
    state.setProperty("beatKey", pending != -2 ? pending : beatKey.load(), nullptr);
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
            const bool newer = id == "tuningSource" || id == "wobble" || id == "vocalStyle" || id == "mastering";
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
