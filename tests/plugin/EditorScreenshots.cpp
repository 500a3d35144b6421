// Pictures of the whole editor, for a person to look at: a few languages at the default size and the size limits.
// They land in editor-screenshots/ under the working directory (the build's tests directory under ctest), or in
// $TOLMAR_SCREENSHOT_DIR. Each is read back to prove the window rendered at its size.
#include "EditorProbe.h"

#include "editor/i18n/LanguageNames.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

juce::File screenshotDirectory()
{
    const char* chosen = std::getenv("TOLMAR_SCREENSHOT_DIR");
    return chosen != nullptr ? juce::File::getCurrentWorkingDirectory().getChildFile(chosen)
                             : juce::File::getCurrentWorkingDirectory().getChildFile("editor-screenshots");
}

void writePng(const juce::Image& image, const juce::File& file)
{
    file.deleteFile();
    juce::FileOutputStream out(file);
    ASSERT_TRUE(out.openedOk()) << file.getFullPathName();
    juce::PNGImageFormat png;
    ASSERT_TRUE(png.writeImageToStream(image, out));
}

} // namespace

TEST(EditorScreenshots, WritesTheWindowInSeveralLanguagesAndSizes)
{
    const juce::File directory = screenshotDirectory();
    ASSERT_TRUE(directory.createDirectory());

    struct Shot {
        const char* name;
        int language, effect, width, height;
    };
    const Shot shots[] = {
        {"english", 2, 2, 920, 670},          {"spanish", 0, 2, 920, 670},        {"arabic", 27, 2, 920, 670},
        {"japanese", 5, 2, 920, 670},         {"russian", 3, 4, 920, 670},        {"korean", 20, 7, 920, 670},
        {"english-minimum", 2, 2, 580, 590}, {"arabic-minimum", 27, 5, 580, 590}, {"english-maximum", 2, 6, 1400, 1000},
        {"hebrew", 67, 2, 920, 670},          {"hindi", 69, 2, 920, 670},         {"thai", 142, 2, 920, 670},
        {"amharic", 26, 2, 920, 670},         {"tibetan", 143, 2, 920, 670},      {"georgian", 60, 2, 920, 670},
        {"khmer", 80, 6, 920, 670},           {"sinhala", 131, 5, 920, 670},      {"persian", 119, 4, 920, 670},
        {"malayalam-minimum", 100, 2, 580, 590}, {"tamil-minimum", 139, 2, 580, 590},
    };
    TolmarProcessor processor;
    processor.beatStage.store(1);
    processor.beatProgress.store(0.427f);
    for (const auto& shot : shots) {
        SCOPED_TRACE(shot.name);
        // Each new editor takes the levels when it opens.
        processor.inputLevel.store(0.62f);
        processor.outputLevel.store(0.48f);
        TolmarEditor editor(processor);
        editor.setUiState(shot.effect, shot.language);
        editor.setSize(shot.width, shot.height);
        const juce::Image image = editor.createComponentSnapshot(editor.getLocalBounds(), true, 1.0f);
        const juce::File file = directory.getChildFile(juce::String(shot.name) + ".png");
        writePng(image, file);
        const juce::Image back = juce::ImageFileFormat::loadFrom(file);
        EXPECT_EQ(back.getWidth(), shot.width);
        EXPECT_EQ(back.getHeight(), shot.height);
    }
}

// The language list as its pop-up menu draws it: all 176 names, item by item through the editor's look, in four
// columns, with one item highlighted and one ticked.
TEST(EditorScreenshots, WritesTheLanguageList)
{
    const juce::File directory = screenshotDirectory();
    ASSERT_TRUE(directory.createDirectory());
    TolmarLook look;
    constexpr int columns = 4;
    constexpr int columnWidth = 300;
    int itemWidth = 0;
    int itemHeight = 0;
    look.getIdealPopupMenuItemSize("English", false, 0, itemWidth, itemHeight);
    const int rows = (tolmar::languageCount + columns - 1) / columns;
    juce::Image image(juce::Image::ARGB, columns * columnWidth, rows * itemHeight, true);
    juce::Graphics g(image);
    g.fillAll(look.findColour(juce::PopupMenu::backgroundColourId));
    for (int i = 0; i < tolmar::languageCount; ++i) {
        const juce::Rectangle<int> area((i / rows) * columnWidth, (i % rows) * itemHeight, columnWidth, itemHeight);
        look.drawPopupMenuItem(g, area, false, true, i == 27, i == 2, false,
                               juce::String::fromUTF8(tolmar::languageName(i)), {}, nullptr, nullptr);
    }
    const juce::File file = directory.getChildFile("language-list.png");
    writePng(image, file);
    EXPECT_EQ(juce::ImageFileFormat::loadFrom(file).getHeight(), rows * itemHeight);
}
