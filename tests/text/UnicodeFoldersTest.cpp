// Fonts and libthai's dictionary open from a folder whose name mixes Cyrillic and Japanese: on Windows the C
// library's narrow file calls read paths in the ANSI code page, which spells neither, so every path the text layer
// hands on must reach the file system in full.
#include "editor/text/FontCatalog.h"
#include "editor/text/FontFolders.h"

#include <thai/thbrk.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace {

namespace fs = std::filesystem;

// A fresh folder named "Тест 日本語" under the temporary folder (on Windows, in the user's profile), removed after.
class UnicodeFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = fs::temp_directory_path() / fs::u8path("tolmar \xd0\xa2\xd0\xb5\xd1\x81\xd1\x82 "
                                                        "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e");
        fs::remove_all(folder);
        ASSERT_TRUE(fs::create_directories(folder));
    }

    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    // Copies a file (UTF-8 path) into the folder; returns the copy's UTF-8 path.
    std::string copyIn(const std::string& file)
    {
        const fs::path source = fs::u8path(file);
        const fs::path copy = folder / source.filename();
        fs::copy_file(source, copy, fs::copy_options::overwrite_existing);
        return copy.u8string();
    }

    fs::path folder;
};

// ภาษาไทยง่าย ("Thai is easy") in TIS-620, libthai's encoding: three dictionary words, no spaces.
const unsigned char thaiIsEasy[] = {0xc0, 0xd2, 0xc9, 0xd2, 0xe4, 0xb7, 0xc2, 0xa7, 0xe8, 0xd2, 0xc2, 0};

std::vector<int> wordBreaks(const std::string& dictionary)
{
    ThBrk* breaker = th_brk_new(dictionary.empty() ? nullptr : dictionary.c_str());
    if (breaker == nullptr)
        return {};
    int positions[8] = {};
    const int count = th_brk_find_breaks(breaker, thaiIsEasy, positions, 8);
    th_brk_delete(breaker);
    return std::vector<int>(positions, positions + count);
}

TEST(ThaiDictionary, BreaksThaiIntoItsWords)
{
    EXPECT_EQ(wordBreaks(tolmar::text::thaiDictionaryFile()), (std::vector<int>{4, 7}))
        << "dictionary: '" << tolmar::text::thaiDictionaryFile() << "'";
}

TEST_F(UnicodeFolder, TheThaiDictionaryOpensFromIt)
{
    const std::string dictionary = tolmar::text::thaiDictionaryFile();
    if (dictionary.empty())
        GTEST_SKIP() << "libthai finds the system's dictionary by itself here";
    EXPECT_EQ(wordBreaks(copyIn(dictionary)), (std::vector<int>{4, 7}));
}

TEST_F(UnicodeFolder, AFontOpensFromIt)
{
    const auto faces = tolmar::text::installedFaces("", false);
    const auto latin = std::find_if(faces.begin(), faces.end(), [](const auto& face) { return face.coverage->has(U'A'); });
    ASSERT_NE(latin, faces.end()) << "no installed face covers Latin";
    EXPECT_TRUE(tolmar::text::characterMapCoverage(copyIn(latin->file), latin->index)->has(U'A')) << latin->file;
}

} // namespace
