// tolmar-render: the plug-in's processor on WAV files, without a host.
#include "render/App.h"

#include <juce_events/juce_events.h>

#include <iostream>

int main(int argc, char** argv)
{
    // The parameter tree needs the framework's message thread, as in a host.
    const juce::ScopedJuceInitialiser_GUI framework;
    const std::vector<std::string> args(argv + 1, argv + argc);
    const int code = tolmar::render::runTool(args, std::cout, std::cerr);
    juce::DeletedAtShutdown::deleteAll();
    return code;
}
