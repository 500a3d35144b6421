// tolmar-hostinfo [BUNDLE.vst3]: loads a VST3 bundle through the framework's VST3 host, as a DAW does,
// and prints what the host sees: identity, buses, parameters, latency per sample rate.
#include <juce_audio_processors/juce_audio_processors.h>

#include <iostream>

namespace {

// Where the installation instructions put the bundle.
juce::String defaultBundle()
{
#ifdef _WIN32
    return juce::File::getSpecialLocation(juce::File::globalApplicationsDirectory)
        .getChildFile("Common Files")
        .getChildFile("VST3")
        .getChildFile("Tolmar Vez.vst3")
        .getFullPathName();
#else
    return juce::File::getSpecialLocation(juce::File::userHomeDirectory)
        .getChildFile(".vst3")
        .getChildFile("Tolmar Vez.vst3")
        .getFullPathName();
#endif
}

// On Windows this framework version loads a bundle only through the module binary inside it.
juce::String pluginFileOf(const juce::String& bundlePath)
{
#ifdef _WIN32
    const juce::File bundle(bundlePath);
    if (bundle.isDirectory())
        return bundle.getChildFile("Contents").getChildFile("x86_64-win").getChildFile(bundle.getFileName())
            .getFullPathName();
#endif
    return bundlePath;
}

void printBuses(juce::AudioPluginInstance& plugin, bool isInput)
{
    for (int index = 0; index < plugin.getBusCount(isInput); ++index) {
        const auto* bus = plugin.getBus(isInput, index);
        std::cout << "  " << (isInput ? "in " : "out") << " " << index << ": \"" << bus->getName() << "\" "
                  << (bus->isEnabled() ? bus->getCurrentLayout().getDescription() : juce::String("disabled")) << "\n";
    }
}

int inspect(const juce::String& bundlePath)
{
    if (!juce::File(bundlePath).exists()) {
        std::cerr << "tolmar-hostinfo: no bundle at " << bundlePath << "\n";
        return 1;
    }
    juce::AudioPluginFormatManager formats;
    formats.addFormat(new juce::VST3PluginFormat());
    juce::OwnedArray<juce::PluginDescription> found;
    formats.getFormat(0)->findAllTypesForFile(found, pluginFileOf(bundlePath));
    if (found.isEmpty()) {
        std::cerr << "tolmar-hostinfo: " << bundlePath << " holds no VST3 plug-in a host can load\n";
        return 1;
    }

    for (const auto* description : found) {
        juce::String error;
        auto plugin = formats.createPluginInstance(*description, 48000.0, 512, error);
        if (plugin == nullptr) {
            std::cerr << "tolmar-hostinfo: cannot instantiate " << description->name << ": " << error << "\n";
            return 1;
        }
        std::cout << description->name << " " << description->version << " by " << description->manufacturerName
                  << "\n  format " << description->pluginFormatName << ", category " << description->category
                  << ", " << (description->isInstrument ? "instrument" : "effect") << "\n  file "
                  << description->fileOrIdentifier << "\n";
        printBuses(*plugin, true);
        printBuses(*plugin, false);
        std::cout << "  MIDI in " << (plugin->acceptsMidi() ? "yes" : "no") << ", MIDI out "
                  << (plugin->producesMidi() ? "yes" : "no") << ", tail " << plugin->getTailLengthSeconds()
                  << " s, editor " << (plugin->hasEditor() ? "yes" : "no") << "\n";

        const auto& parameters = plugin->getParameters();
        std::cout << "  " << parameters.size() << " parameters:\n";
        for (auto* parameter : parameters)
            std::cout << "    " << parameter->getName(64) << " = " << parameter->getCurrentValueAsText() << " ("
                      << parameter->getNumSteps() << " steps)\n";

        std::cout << "  latency:";
        for (const double rate : {44100.0, 48000.0, 96000.0}) {
            plugin->setRateAndBufferSizeDetails(rate, 512);
            plugin->prepareToPlay(rate, 512);
            // The host learns a latency change through the message loop.
            juce::MessageManager::getInstance()->runDispatchLoopUntil(50);
            std::cout << " " << plugin->getLatencySamples() << " samples at " << rate / 1000.0 << " kHz;";
            plugin->releaseResources();
        }
        std::cout << "\n";
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const juce::ScopedJuceInitialiser_GUI framework;
    const juce::String bundlePath = argc > 1 ? juce::String::fromUTF8(argv[1]) : defaultBundle();
    const int result = inspect(bundlePath);
    juce::DeletedAtShutdown::deleteAll();
    return result;
}
