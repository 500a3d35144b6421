// GoogleTest entry point for suites that need the framework's message thread (plug-in and hosting tests).
#include <juce_events/juce_events.h>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    const juce::ScopedJuceInitialiser_GUI framework;
    const int result = RUN_ALL_TESTS();
    juce::DeletedAtShutdown::deleteAll();
    return result;
}
