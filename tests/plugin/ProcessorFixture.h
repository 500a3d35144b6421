#pragma once

#include "plugin/Processor.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>

// A processor prepared the way a host prepares it, with helpers to set raw parameter values and run blocks.
struct PreparedProcessor {
    explicit PreparedProcessor(double sampleRate = 48000.0, int blockSize = 512, bool beatEnabled = true,
                               int mainChannels = 2)
    {
        juce::AudioProcessor::BusesLayout layout;
        const auto main = mainChannels == 1 ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo();
        layout.inputBuses.add(main);
        layout.inputBuses.add(beatEnabled ? juce::AudioChannelSet::stereo() : juce::AudioChannelSet::disabled());
        layout.outputBuses.add(main);
        processor->setBusesLayout(layout);
        processor->setRateAndBufferSizeDetails(sampleRate, blockSize);
        processor->prepareToPlay(sampleRate, blockSize);
    }

    void set(const char* id, float rawValue)
    {
        auto* parameter = processor->parameters.getParameter(id);
        parameter->setValueNotifyingHost(parameter->convertTo0to1(rawValue));
    }

    float raw(const char* id) const { return processor->parameters.getRawParameterValue(id)->load(); }

    // Runs one block; `buffer` holds the main channels followed by the side-chain channels.
    void run(juce::AudioBuffer<float>& buffer)
    {
        juce::MidiBuffer midi;
        processor->processBlock(buffer, midi);
    }

    int totalChannels() const
    {
        return std::max(processor->getTotalNumInputChannels(), processor->getTotalNumOutputChannels());
    }

    std::unique_ptr<TolmarProcessor> processor = std::make_unique<TolmarProcessor>();
};
