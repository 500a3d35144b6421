#include "StandaloneInputs.h"

#include <algorithm>

// Shows the plug-in's editor inside the standalone window and follows its size both ways.
class StandaloneInputs::Editor : public juce::AudioProcessorEditor {
public:
    Editor(StandaloneInputs& owner, juce::AudioProcessor& plugin)
        : juce::AudioProcessorEditor(owner)
        , content(plugin.createEditorIfNeeded())
    {
        const auto size = content->getBounds().getBottomRight();
        addAndMakeVisible(*content);
        if (content->isResizable()) {
            setResizable(true, false);
            if (const auto* limits = content->getConstrainer())
                setResizeLimits(limits->getMinimumWidth(), limits->getMinimumHeight(), limits->getMaximumWidth(),
                                limits->getMaximumHeight());
        }
        setSize(size.x, size.y); // after the limits, which resize this window and with it the content
    }

    // The plug-in's editor goes first: its destructor tells its own processor.
    ~Editor() override { content.reset(); }

    void resized() override { content->setBounds(getLocalBounds()); }
    void childBoundsChanged(juce::Component*) override { setSize(content->getWidth(), content->getHeight()); }

private:
    std::unique_ptr<juce::AudioProcessorEditor> content;
};

StandaloneInputs::StandaloneInputs(std::unique_ptr<juce::AudioProcessor> pluginToWrap)
    : juce::AudioProcessor(BusesProperties()
                               .withInput("Input", juce::AudioChannelSet::discreteChannels(4), true)
                               .withOutput("Output", juce::AudioChannelSet::stereo(), true))
    , wrapped(std::move(pluginToWrap))
{
}

StandaloneInputs::~StandaloneInputs() = default;

juce::AudioProcessor::BusesLayout StandaloneInputs::pluginLayout(int deviceInputs, int deviceOutputs)
{
    const int voice = std::clamp(deviceOutputs, 1, 2);
    const int beat = std::clamp(deviceInputs - voice, 0, 2);
    BusesLayout layout;
    layout.inputBuses.add(juce::AudioChannelSet::canonicalChannelSet(voice));
    layout.inputBuses.add(beat == 0 ? juce::AudioChannelSet::disabled()
                                    : juce::AudioChannelSet::canonicalChannelSet(beat));
    layout.outputBuses.add(juce::AudioChannelSet::canonicalChannelSet(voice));
    return layout;
}

bool StandaloneInputs::isBusesLayoutSupported(const BusesLayout& layouts) const
{
    if (layouts.inputBuses.size() != 1 || layouts.outputBuses.size() != 1)
        return false;
    const int inputs = layouts.getMainInputChannels();
    const int outputs = layouts.getMainOutputChannels();
    return inputs >= 1 && (outputs == 1 || outputs == 2) &&
           wrapped->checkBusesLayoutSupported(pluginLayout(inputs, outputs));
}

void StandaloneInputs::prepareToPlay(double sampleRate, int maximumExpectedSamplesPerBlock)
{
    const auto layout = pluginLayout(getTotalNumInputChannels(), getTotalNumOutputChannels());
    wrapped->setBusesLayout(layout);
    voiceChannels = layout.getMainOutputChannels();
    beatChannels = layout.getNumChannels(true, 1);
    wrapped->setRateAndBufferSizeDetails(sampleRate, maximumExpectedSamplesPerBlock);
    wrapped->prepareToPlay(sampleRate, maximumExpectedSamplesPerBlock);
    setLatencySamples(wrapped->getLatencySamples());
}

void StandaloneInputs::releaseResources()
{
    wrapped->releaseResources();
}

void StandaloneInputs::processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi)
{
    // The player hands over max(inputs, outputs) channels, inputs first: voice, then beat, then inputs left unused.
    if (getTotalNumInputChannels() < voiceChannels)
        buffer.copyFrom(1, 0, buffer, 0, 0, buffer.getNumSamples());
    // A view of the first channels, as the plug-in lays them out; up to 32 channels it allocates nothing.
    juce::AudioBuffer<float> pluginChannels(buffer.getArrayOfWritePointers(), voiceChannels + beatChannels,
                                            buffer.getNumSamples());
    wrapped->processBlock(pluginChannels, midi);
}

const juce::String StandaloneInputs::getName() const
{
    return wrapped->getName();
}
double StandaloneInputs::getTailLengthSeconds() const
{
    return wrapped->getTailLengthSeconds();
}
bool StandaloneInputs::acceptsMidi() const
{
    return wrapped->acceptsMidi();
}
bool StandaloneInputs::producesMidi() const
{
    return wrapped->producesMidi();
}
juce::AudioProcessorEditor* StandaloneInputs::createEditor()
{
    return new Editor(*this, *wrapped);
}
bool StandaloneInputs::hasEditor() const
{
    return wrapped->hasEditor();
}

int StandaloneInputs::getNumPrograms()
{
    return wrapped->getNumPrograms();
}
int StandaloneInputs::getCurrentProgram()
{
    return wrapped->getCurrentProgram();
}
void StandaloneInputs::setCurrentProgram(int index)
{
    wrapped->setCurrentProgram(index);
}
const juce::String StandaloneInputs::getProgramName(int index)
{
    return wrapped->getProgramName(index);
}
void StandaloneInputs::changeProgramName(int index, const juce::String& newName)
{
    wrapped->changeProgramName(index, newName);
}

void StandaloneInputs::getStateInformation(juce::MemoryBlock& destData)
{
    wrapped->getStateInformation(destData);
}
void StandaloneInputs::setStateInformation(const void* data, int sizeInBytes)
{
    wrapped->setStateInformation(data, sizeInBytes);
}
