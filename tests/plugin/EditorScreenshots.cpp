// Pictures of the whole editor, for a person to look at: a few languages at the default size and the size limits.
// They land in editor-screenshots/ under the working directory (the build's tests directory under ctest), or in
// $TOLMAR_SCREENSHOT_DIR. Each is read back to prove the window rendered at its size.
#include "EditorInspector.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

TEST(EditorScreenshots, WritesTheWindowInSeveralLanguagesAndSizes)
{
    const char* chosen = std::getenv("TOLMAR_SCREENSHOT_DIR");
    const juce::File directory = chosen != nullptr
                                     ? juce::File::getCurrentWorkingDirectory().getChildFile(chosen)
                                     : juce::File::getCurrentWorkingDirectory().getChildFile("editor-screenshots");
    ASSERT_TRUE(directory.createDirectory());

    struct Shot {
        const char* name;
        int language, effect, width, height;
    };
    const Shot shots[] = {
        {"english", 2, 2, 920, 670},          {"spanish", 0, 2, 920, 670},        {"arabic", 27, 2, 920, 670},
        {"japanese", 5, 2, 920, 670},         {"russian", 3, 4, 920, 670},        {"korean", 20, 7, 920, 670},
        {"english-minimum", 2, 2, 580, 590}, {"arabic-minimum", 27, 5, 580, 590}, {"english-maximum", 2, 6, 1400, 1000},
    };
    TolmarProcessor processor;
    processor.inputLevel.store(0.62f);
    processor.outputLevel.store(0.48f);
    processor.beatStage.store(1);
    processor.beatProgress.store(0.427f);
    for (const auto& shot : shots) {
        SCOPED_TRACE(shot.name);
        TolmarEditor editor(processor);
        editor.setUiState(shot.effect, shot.language);
        editor.setSize(shot.width, shot.height);
        const juce::Image image = editor.createComponentSnapshot(editor.getLocalBounds(), true, 1.0f);
        const juce::File file = directory.getChildFile(juce::String(shot.name) + ".png");
        file.deleteFile();
        {
            juce::FileOutputStream out(file);
            ASSERT_TRUE(out.openedOk()) << file.getFullPathName();
            juce::PNGImageFormat png;
            ASSERT_TRUE(png.writeImageToStream(image, out));
        }
        const juce::Image back = juce::ImageFileFormat::loadFrom(file);
        EXPECT_EQ(back.getWidth(), shot.width);
        EXPECT_EQ(back.getHeight(), shot.height);
    }
}
