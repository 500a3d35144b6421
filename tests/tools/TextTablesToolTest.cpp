// The build-time text table tool on small language folders: a clean folder gives a header and tables that say
// what the files say (count, slots, names, directions), and every kind of broken folder stops the build with the
// file and what was wrong.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& path, const std::string& content) { std::ofstream(path, std::ios::binary) << content; }

const std::string credit = "Developed by Orvane Company 3 - Quistral LLC";

std::string languageFile(const std::string& header, const std::string& direction, const std::string& greeting)
{
    return header + "\ndirection=" + direction + "\ngreeting=" + greeting + "\nfarewell=Bye\nnotice=\ncredit=" +
           credit + "\n";
}

struct ToolRun {
    int exitCode = -1;
    std::string output;
};

class TextTablesTool : public testing::Test {
protected:
    void SetUp() override
    {
        const auto* test = testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(test->test_suite_name()) + "-" + test->name();
        std::replace(name.begin(), name.end(), '/', '-');
        folder = fs::temp_directory_path() / ("tolmar-text-tables-" + name);
        fs::remove_all(folder);
        fs::create_directories(folder / "languages");
        writeFile(folder / "languages/000.txt", languageFile("# 000 English", "ltr", "Hello"));
        writeFile(folder / "languages/001.txt", languageFile("# 001 العربية", "rtl", "مرحبا"));
    }
    void TearDown() override { fs::remove_all(folder); }

    ToolRun run() const
    {
        const std::string command = std::string("\"") + TOLMAR_TEXT_TABLE_TOOL + "\" \"" +
                                    (folder / "languages").string() + "\" \"" + header().string() + "\" \"" +
                                    tables().string() + "\" 2>&1";
        ToolRun result;
        FILE* pipe = popen(command.c_str(), "r");
        if (pipe == nullptr)
            return result;
        char buffer[256];
        while (std::fgets(buffer, sizeof(buffer), pipe) != nullptr)
            result.output += buffer;
        const int status = pclose(pipe);
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return result;
    }

    fs::path header() const { return folder / "LanguageFiles.h"; }
    fs::path tables() const { return folder / "LanguageTexts.cpp"; }
    fs::path language(int index) const
    {
        char name[16];
        std::snprintf(name, sizeof(name), "%03d.txt", index);
        return folder / "languages" / name;
    }

    fs::path folder;
};

TEST_F(TextTablesTool, WritesWhatTheFilesSay)
{
    const ToolRun result = run();
    ASSERT_EQ(result.exitCode, 0) << result.output;
    const std::string h = readFile(header());
    EXPECT_NE(h.find("constexpr int languageCount = 2;"), std::string::npos) << h;
    EXPECT_NE(h.find("constexpr int languageTextSlots = 2;"), std::string::npos) << h;
    EXPECT_NE(h.find("    const char* greeting;\n    const char* farewell;\n"), std::string::npos) << h;
    EXPECT_NE(h.find("&LanguageText::greeting,\n    &LanguageText::farewell,"), std::string::npos) << h;
    const std::string t = readFile(tables());
    EXPECT_NE(t.find("languageRtl[languageCount] = {\n    false, // 000\n    true, // 001\n"), std::string::npos) << t;
    EXPECT_NE(t.find("\"العربية\", // 001"), std::string::npos) << t;
    EXPECT_NE(t.find("\"مرحبا\","), std::string::npos) << t;
    EXPECT_NE(t.find("\"" + credit + "\""), std::string::npos) << t;
}

TEST_F(TextTablesTool, LeavesAnUnchangedHeaderAloneWhenOnlyATranslationChanges)
{
    ASSERT_EQ(run().exitCode, 0);
    const auto headerTime = fs::last_write_time(header());
    const std::string before = readFile(tables());
    fs::last_write_time(header(), headerTime - std::chrono::hours(1));
    writeFile(language(1), languageFile("# 001 العربية", "rtl", "أهلا"));

    ASSERT_EQ(run().exitCode, 0);
    EXPECT_EQ(fs::last_write_time(header()), headerTime - std::chrono::hours(1));
    EXPECT_NE(readFile(tables()), before);
    EXPECT_NE(readFile(tables()).find("\"أهلا\","), std::string::npos);
}

class TextTablesToolRefuses;

struct BrokenFolder {
    const char* name;
    std::function<void(const TextTablesToolRefuses&)> breakIt;
    const char* expectedFile;
    const char* expectedMessage;
};

class TextTablesToolRefuses : public TextTablesTool, public testing::WithParamInterface<int> {
public:
    static const BrokenFolder cases[];
    void replaceIn(int index, const std::string& from, const std::string& to) const
    {
        std::string text = readFile(language(index));
        text.replace(text.find(from), from.size(), to);
        writeFile(language(index), text);
    }
};

const BrokenFolder TextTablesToolRefuses::cases[] = {
    {"DirectionMissing", [](const auto& t) { t.replaceIn(1, "direction=rtl\n", ""); }, "001.txt:2",
     "expected key \"direction\", found \"greeting\""},
    {"DirectionUnknown", [](const auto& t) { t.replaceIn(1, "direction=rtl", "direction=right"); }, "001.txt:2",
     "the direction must be \"ltr\" or \"rtl\""},
    {"SlotsInAnotherOrder", [](const auto& t) { t.replaceIn(1, "greeting=مرحبا\nfarewell=Bye", "farewell=Bye\ngreeting=x"); },
     "001.txt:3", "expected key \"greeting\", found \"farewell\""},
    {"SlotMissing", [](const auto& t) { t.replaceIn(1, "farewell=Bye\n", ""); }, "001.txt:4",
     "expected key \"farewell\", found \"notice\""},
    {"ExtraLine", [](const auto& t) { t.replaceIn(1, "Quistral LLC\n", "Quistral LLC\nmore=text\n"); }, "001.txt:7",
     "extra line after \"credit\""},
    {"EmptyText", [](const auto& t) { t.replaceIn(1, "farewell=Bye", "farewell="); }, "001.txt:4",
     "empty text for \"farewell\""},
    {"CreditWithoutCompany", [](const auto& t) { t.replaceIn(0, " - Quistral LLC", ""); }, "000.txt:6",
     "the credit must end with"},
    {"InvalidUtf8", [](const auto& t) { t.replaceIn(0, "Hello", "H\xc3(llo"); }, "000.txt:3", "not clean UTF-8"},
    {"HeaderNumberWrong", [](const auto& t) { t.replaceIn(1, "# 001", "# 002"); }, "001.txt:1",
     "the first line must be \"# 001 <language name>\""},
    {"KeyIsNotAName", [](const auto& t) { t.replaceIn(0, "greeting=", "greet ing="); }, "000.txt:3",
     "is not a name"},
    {"KeyTwice", [](const auto& t) { t.replaceIn(0, "farewell=", "greeting="); }, "000.txt:4", "appears twice"},
    {"GapInTheNumbers", [](const auto& t) { fs::rename(t.language(1), t.language(2)); }, "002.txt",
     "not part of the numbered sequence 000.txt … 000.txt"},
    {"StrayFile", [](const auto& t) { writeFile(t.folder / "languages/english.txt", "x"); }, "english.txt",
     "not part of the numbered sequence"},
    {"NoFiles", [](const auto& t) { fs::remove(t.language(0)); }, "000.txt", "language file is missing"},
};

TEST_P(TextTablesToolRefuses, NamesTheFileAndTheFault)
{
    const BrokenFolder& broken = cases[GetParam()];
    broken.breakIt(*this);
    const ToolRun result = run();
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_NE(result.output.find(broken.expectedFile), std::string::npos) << result.output;
    EXPECT_NE(result.output.find(broken.expectedMessage), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("text tables not generated"), std::string::npos) << result.output;
    EXPECT_FALSE(fs::exists(header()));
    EXPECT_FALSE(fs::exists(tables()));
}

INSTANTIATE_TEST_SUITE_P(BrokenFolders, TextTablesToolRefuses,
                         testing::Range(0, static_cast<int>(std::size(TextTablesToolRefuses::cases))),
                         [](const testing::TestParamInfo<int>& param) {
                             return std::string(TextTablesToolRefuses::cases[param.param].name);
                         });

} // namespace
