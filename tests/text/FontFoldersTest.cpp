// The Windows font catalog's order over a listing of the fonts folders, and the character coverage it reads from a
// face's character map, checked against the platform catalog's own coverage of the same installed faces.
#include "editor/text/FontFolders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstddef>

#include <string>
#include <vector>

namespace {

using tolmar::text::characterMapCoverage;
using tolmar::text::installedFaces;
using tolmar::text::orderFontFiles;

const std::string systemFolder = "C:\\Windows\\Fonts\\";
const std::string userFolder = "C:\\Users\\Jos\xc3\xa9\\AppData\\Local\\Microsoft\\Windows\\Fonts\\";

// Part of a Windows 11 fonts folder, in the listing's own (unsorted, mixed-case) order, plus files that are not
// outline fonts.
const std::vector<std::string> windowsListing{
    systemFolder + "YuGothB.ttc",         systemFolder + "meiryo.ttc",
    systemFolder + "seguisym.ttf",        systemFolder + "arial.ttf",
    systemFolder + "NirmalaB.ttf",        systemFolder + "segoeuib.ttf",
    systemFolder + "Nirmala.ttf",         systemFolder + "msgothic.ttc",
    systemFolder + "desktop.ini",         systemFolder + "SEGOEUI.TTF",
    systemFolder + "YuGothR.ttc",         systemFolder + "LeelawUI.ttf",
    systemFolder + "LeelaUIb.ttf",        systemFolder + "msyh.ttc",
    systemFolder + "coure.fon",           systemFolder + "seguiemj.ttf",
    systemFolder + "tahoma.ttf",          systemFolder + "tahomabd.ttf",
    userFolder + "NotoSansThai-Bold.ttf", userFolder + "NotoSansThai-Regular.ttf",
    userFolder + "segoeui.ttf",           userFolder + "Zawgyi.otf",
};

std::vector<std::string> familiesOf(const std::vector<tolmar::text::InstalledFace>& faces)
{
    std::vector<std::string> families;
    for (const auto& face : faces)
        families.push_back(face.family);
    return families;
}

std::vector<std::string> filesOf(const std::vector<tolmar::text::InstalledFace>& faces)
{
    std::vector<std::string> files;
    for (const auto& face : faces)
        files.push_back(face.file);
    return files;
}

TEST(FontFolders, LanguagesTryTheirOwnFacesAfterSegoeUi)
{
    struct Case {
        const char* language;
        std::vector<std::string> firstFamilies;
    };
    const Case cases[] = {
        {"", {"Segoe UI", "Segoe UI Symbol", "Arial", "Tahoma", "Nirmala UI", "Leelawadee UI"}},
        {"ja", {"Segoe UI", "Yu Gothic", "Meiryo", "MS Gothic", "Segoe UI Symbol", "Arial"}},
        {"hi", {"Segoe UI", "Nirmala UI", "Segoe UI Symbol", "Arial", "Tahoma", "Leelawadee UI"}},
        {"th", {"Segoe UI", "Leelawadee UI", "Tahoma", "Segoe UI Symbol", "Arial", "Nirmala UI"}},
        {"ar", {"Segoe UI", "Tahoma", "Arial", "Segoe UI Symbol", "Nirmala UI", "Leelawadee UI"}},
        {"zh-cn", {"Segoe UI", "Microsoft YaHei", "Segoe UI Symbol", "Arial", "Tahoma", "Nirmala UI"}},
    };
    for (const Case& c : cases) {
        const auto families = familiesOf(orderFontFiles(windowsListing, c.language, false));
        ASSERT_GE(families.size(), c.firstFamilies.size()) << c.language;
        EXPECT_EQ(std::vector<std::string>(families.begin(),
                                           families.begin() + static_cast<std::ptrdiff_t>(c.firstFamilies.size())),
                  c.firstFamilies)
            << "language \"" << c.language << "\"";
    }
}

TEST(FontFolders, WeightPicksTheFileAndFallsBackToRegular)
{
    const auto regular = orderFontFiles(windowsListing, "ja", false);
    const auto bold = orderFontFiles(windowsListing, "ja", true);
    // Case-insensitive match, system folder first: the upper-case system file wins over the per-user copy.
    EXPECT_EQ(regular[0].file, systemFolder + "SEGOEUI.TTF");
    EXPECT_EQ(bold[0].file, systemFolder + "segoeuib.ttf");
    EXPECT_EQ(regular[1].file, systemFolder + "YuGothR.ttc");
    EXPECT_EQ(bold[1].file, systemFolder + "YuGothB.ttc");
    // Meiryo's bold file is not installed: its regular file serves the bold request.
    EXPECT_EQ(bold[2].file, systemFolder + "meiryo.ttc");
}

TEST(FontFolders, EveryOtherOutlineFileComesLastOnceWithTheRequestedWeightFirst)
{
    for (const bool bold : {false, true}) {
        const auto files = filesOf(orderFontFiles(windowsListing, "th", bold));
        const std::string thai = userFolder + (bold ? "NotoSansThai-Bold.ttf" : "NotoSansThai-Regular.ttf");
        const std::string otherThai = userFolder + (bold ? "NotoSansThai-Regular.ttf" : "NotoSansThai-Bold.ttf");
        const auto position = [&](const std::string& file) {
            return std::find(files.begin(), files.end(), file) - files.begin();
        };
        EXPECT_LT(position(systemFolder + "seguiemj.ttf"), position(thai)) << "known faces before the rest";
        EXPECT_LT(position(thai), position(otherThai)) << "bold " << bold;
        EXPECT_LT(position(otherThai), static_cast<std::ptrdiff_t>(files.size()));
        EXPECT_NE(std::find(files.begin(), files.end(), userFolder + "Zawgyi.otf"), files.end());
        for (const char* skipped : {"desktop.ini", "coure.fon"})
            EXPECT_EQ(std::find(files.begin(), files.end(), systemFolder + skipped), files.end()) << skipped;
        // Each file name once, although "segoeui.ttf" is in both folders.
        std::vector<std::string> names;
        for (const auto& file : files) {
            std::string name = file.substr(file.find_last_of('\\') + 1);
            for (char& ch : name)
                ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end());
        EXPECT_EQ(files.size(), windowsListing.size() - 3); // minus the two non-fonts and the duplicate
    }
}

TEST(FontFolders, OtherFilesMadeForTheLanguagesScriptComeFirst)
{
    // Without Nirmala UI or Latha, Tamil falls to the other files; Grantha's faces also map some Tamil letters and
    // sort before them by name.
    const std::vector<std::string> listing{
        userFolder + "NotoSansGrantha-Regular.ttf", userFolder + "NotoSansThai-Regular.ttf",
        userFolder + "NotoSansTamil-Bold.ttf", userFolder + "NotoSansTamil-Regular.ttf"};
    struct Case {
        const char* language;
        bool bold;
        std::vector<std::string> files;
    };
    const Case cases[] = {
        {"ta",
         false,
         {"NotoSansTamil-Regular.ttf", "NotoSansTamil-Bold.ttf", "NotoSansGrantha-Regular.ttf",
          "NotoSansThai-Regular.ttf"}},
        {"ta",
         true,
         {"NotoSansTamil-Bold.ttf", "NotoSansTamil-Regular.ttf", "NotoSansGrantha-Regular.ttf",
          "NotoSansThai-Regular.ttf"}},
        {"th",
         false,
         {"NotoSansThai-Regular.ttf", "NotoSansGrantha-Regular.ttf", "NotoSansTamil-Regular.ttf",
          "NotoSansTamil-Bold.ttf"}},
        {"",
         false,
         {"NotoSansGrantha-Regular.ttf", "NotoSansTamil-Regular.ttf", "NotoSansThai-Regular.ttf",
          "NotoSansTamil-Bold.ttf"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> expected;
        for (const std::string& name : c.files)
            expected.push_back(userFolder + name);
        EXPECT_EQ(filesOf(orderFontFiles(listing, c.language, c.bold)), expected) << c.language << " bold " << c.bold;
    }
}

TEST(FontFolders, EveryFaceOfACollectionComesInIndexOrder)
{
    // A Traditional Chinese system: MingLiU is mingliu.ttc (MingLiU, PMingLiU, MingLiU_HKSCS); mingliub.ttc is
    // MingLiU-ExtB, which covers only the rare ideographs of extension B.
    const std::vector<std::string> listing{systemFolder + "mingliub.ttc", systemFolder + "msjh.ttc",
                                           systemFolder + "segoeui.ttf", systemFolder + "mingliu.ttc"};
    const auto families = [](const std::string& file) -> std::vector<std::string> {
        if (file == systemFolder + "mingliu.ttc")
            return {"MingLiU", "PMingLiU", "MingLiU_HKSCS"};
        if (file == systemFolder + "mingliub.ttc")
            return {"MingLiU-ExtB", "PMingLiU-ExtB", "MingLiU_HKSCS-ExtB"};
        if (file == systemFolder + "msjh.ttc")
            return {"Microsoft JhengHei", "Microsoft JhengHei UI"};
        return {"Segoe UI"};
    };
    struct Expected {
        std::string file;
        int index;
        std::string family;
    };
    const std::vector<Expected> expected{
        {"segoeui.ttf", 0, "Segoe UI"},
        {"msjh.ttc", 0, "Microsoft JhengHei"},
        {"msjh.ttc", 1, "Microsoft JhengHei UI"},
        {"mingliu.ttc", 0, "MingLiU"},
        {"mingliu.ttc", 1, "PMingLiU"},
        {"mingliu.ttc", 2, "MingLiU_HKSCS"},
        {"mingliub.ttc", 0, "MingLiU-ExtB"},
        {"mingliub.ttc", 1, "PMingLiU-ExtB"},
        {"mingliub.ttc", 2, "MingLiU_HKSCS-ExtB"},
    };
    const auto order = orderFontFiles(listing, "zh-tw", false, families);
    ASSERT_EQ(order.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(order[i].file, systemFolder + expected[i].file) << i;
        EXPECT_EQ(order[i].index, expected[i].index) << i;
        EXPECT_EQ(order[i].family, expected[i].family) << i;
    }
}

TEST(FontFolders, ACollectionsFacesAreReadFromTheFile)
{
    const auto installed = installedFaces("", false);
    const auto collection = std::find_if(installed.begin(), installed.end(), [](const auto& face) {
        const std::string name = face.file.substr(face.file.size() - 4);
        return (name == ".ttc" || name == ".TTC") && face.coverage->has(U'\u4e00');
    });
    if (collection == installed.end())
        GTEST_SKIP() << "no collection of Chinese, Japanese or Korean faces installed";
    const auto families = tolmar::text::faceFamiliesOf(collection->file);
    ASSERT_GE(families.size(), 2u) << collection->file;
    for (size_t index = 0; index < families.size(); ++index) {
        EXPECT_FALSE(families[index].empty()) << index;
        EXPECT_TRUE(characterMapCoverage(collection->file, static_cast<int>(index))->has(U'\u4e00')) << index;
    }
    // A file that is not there is one face named after it.
    EXPECT_EQ(tolmar::text::faceFamiliesOf(systemFolder + "missing.ttc"), std::vector<std::string>{"missing"});
}

TEST(FontFolders, NoFontsGiveAnEmptyOrder)
{
    EXPECT_TRUE(orderFontFiles({}, "ja", false).empty());
    EXPECT_TRUE(orderFontFiles({systemFolder + "desktop.ini"}, "", true).empty());
}

TEST(FontFolders, UnreadableFileCoversNothing)
{
    const auto coverage = characterMapCoverage("/nonexistent/segoeui.ttf", 0);
    EXPECT_FALSE(coverage->has('a'));
    EXPECT_FALSE(coverage->has(0x0627));
}

// The character map read by FreeType agrees with the platform catalog's coverage of the same installed faces.
TEST(FontFolders, CharacterMapCoverageMatchesTheCatalog)
{
#ifdef _WIN32
    GTEST_SKIP() << "on Windows the catalog's coverage is this character map itself";
#endif
    const char32_t samples[] = {U'a',      U'Z',      U'0',      U'\u00e9', U'\u0416', U'\u05d0', U'\u0627', U'\u0915',
                                U'\u0e01', U'\u3042', U'\u4e2d', U'\uac00', U'\u20ac', U'\u2192', 0x1f600,   0x10ffff};
    int compared = 0;
    for (const char* language : {"", "ar", "hi", "th", "ja"}) {
        const auto faces = installedFaces(language, false);
        ASSERT_FALSE(faces.empty()) << "no fonts installed for \"" << language << "\"";
        const auto& face = faces.front();
        const auto read = characterMapCoverage(face.file, face.index);
        for (const char32_t c : samples) {
            EXPECT_EQ(read->has(c), face.coverage->has(c))
                << face.file << " U+" << std::hex << static_cast<unsigned>(c);
            ++compared;
        }
    }
    EXPECT_GT(compared, 0);
}

} // namespace
