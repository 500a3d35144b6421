// Build-time tool: turns the language files Source/editor/i18n/languages/000.txt, 001.txt, … into the editor's
// text tables. Everything about the languages comes from the files:
//   - how many there are: the numbers run from 000 without a gap, and no other .txt file may sit beside them;
//   - each language's name: the header line "# NNN <name>";
//   - its writing direction: the second line, "direction=ltr" or "direction=rtl";
//   - the text slots: the "key=text" lines after it, up to the closing "notice=" and "credit=" lines. 000.txt
//     sets the slots' keys and their order, and every other file must list the same keys in the same order.
// A text is everything after the first '=', byte for byte. The tool writes a header (the language count, the
// LanguageText struct with one field per slot and the slots' field table) and a source file (the rows, notices,
// credits, directions and names). Any deviation stops the build with the file, the line and what was expected.
//
// Usage: tolmar_make_text_tables <languages directory> <output header> <output source>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr const char* company = "Orvane Company 3 - Quistral LLC";
constexpr int headerLines = 2; // "# NNN <name>" and the direction line
constexpr int closingKeys = 2; // "notice" and "credit"

struct Failure {
    std::string message;
};

[[noreturn]] void fail(const std::string& file, int line, const std::string& what)
{
    std::ostringstream text;
    text << file;
    if (line > 0)
        text << ':' << line;
    text << ": error: " << what;
    throw Failure{text.str()};
}

// Strict UTF-8 (no overlong forms, no surrogates) and no control characters: a tab or a carriage return in a
// translation is a mistake, not content.
bool isCleanUtf8(const std::string& text)
{
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const unsigned c = s[i];
        if (c < 0x20 || c == 0x7f)
            return false;
        if (c < 0x80) {
            ++i;
            continue;
        }
        int extra = 0;
        unsigned code = 0;
        if (c >= 0xc2 && c <= 0xdf) {
            extra = 1;
            code = c & 0x1fu;
        } else if (c >= 0xe0 && c <= 0xef) {
            extra = 2;
            code = c & 0x0fu;
        } else if (c >= 0xf0 && c <= 0xf4) {
            extra = 3;
            code = c & 0x07u;
        } else {
            return false;
        }
        if (i + static_cast<size_t>(extra) >= n)
            return false;
        for (int k = 1; k <= extra; ++k) {
            const unsigned d = s[i + static_cast<size_t>(k)];
            if ((d & 0xc0u) != 0x80u)
                return false;
            code = (code << 6) | (d & 0x3fu);
        }
        if ((extra == 2 && (code < 0x800 || (code >= 0xd800 && code <= 0xdfff))) ||
            (extra == 3 && (code < 0x10000 || code > 0x10ffff)))
            return false;
        i += static_cast<size_t>(extra) + 1;
    }
    return true;
}

bool isIdentifier(const std::string& key)
{
    if (key.empty() || (key[0] >= '0' && key[0] <= '9'))
        return false;
    for (char c : key)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
            return false;
    return true;
}

std::string threeDigits(int index)
{
    char name[16];
    std::snprintf(name, sizeof(name), "%03d", index);
    return name;
}

std::string languagePath(const std::string& directory, int index) { return directory + "/" + threeDigits(index) + ".txt"; }

// The bytes of a file; nothing when it cannot be opened.
std::optional<std::string> readWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct Entry {
    std::string key;
    std::string value;
};

// One language file, checked for its shape: the header, then "key=text" lines of clean UTF-8.
struct LanguageFile {
    std::string path;
    std::string name;
    std::vector<Entry> entries; // entry k is on line k + 2
};

LanguageFile readLanguageFile(const std::string& directory, int index)
{
    LanguageFile file;
    file.path = languagePath(directory, index);
    const std::optional<std::string> bytes = readWholeFile(file.path);
    if (!bytes)
        fail(file.path, 0, "language file is missing");
    const std::string& content = *bytes;

    std::vector<std::string> lines;
    for (size_t start = 0; start < content.size();) {
        const size_t end = content.find('\n', start);
        lines.push_back(content.substr(start, end == std::string::npos ? std::string::npos : end - start));
        start = end == std::string::npos ? content.size() : end + 1;
    }

    const std::string header = "# " + threeDigits(index) + " ";
    if (lines.empty() || lines[0].compare(0, header.size(), header) != 0 || lines[0].size() == header.size())
        fail(file.path, 1, "the first line must be \"" + header + "<language name>\"");
    if (!isCleanUtf8(lines[0]))
        fail(file.path, 1, "not clean UTF-8 (invalid bytes or control characters)");
    file.name = lines[0].substr(header.size());

    for (size_t i = 1; i < lines.size(); ++i) {
        const int lineNumber = static_cast<int>(i) + 1;
        const size_t equals = lines[i].find('=');
        if (equals == std::string::npos)
            fail(file.path, lineNumber, "malformed line, expected \"<key>=<text>\"");
        Entry entry{lines[i].substr(0, equals), lines[i].substr(equals + 1)};
        if (!isCleanUtf8(entry.value))
            fail(file.path, lineNumber, "not clean UTF-8 (invalid bytes or control characters)");
        file.entries.push_back(std::move(entry));
    }
    return file;
}

// The slot keys, in order, as the reference file lists them between the direction line and the closing lines.
std::vector<std::string> slotKeysOf(const LanguageFile& reference)
{
    const auto& entries = reference.entries;
    const int count = static_cast<int>(entries.size()) - 1 - closingKeys;
    if (count < 1 || entries[entries.size() - 2].key != "notice" || entries.back().key != "credit")
        fail(reference.path, 0, "the reference file must end with at least one text line, then \"notice=\" and \"credit=\"");
    std::vector<std::string> keys;
    std::set<std::string> seen{"direction", "notice", "credit"};
    for (int k = 0; k < count; ++k) {
        const std::string& key = entries[static_cast<size_t>(k) + 1].key;
        const int lineNumber = k + headerLines + 1;
        if (!isIdentifier(key))
            fail(reference.path, lineNumber, "the key \"" + key + "\" is not a name (letters, digits, '_')");
        if (!seen.insert(key).second)
            fail(reference.path, lineNumber, "the key \"" + key + "\" appears twice");
        keys.push_back(key);
    }
    return keys;
}

struct Language {
    std::string name;
    bool rightToLeft = false;
    std::vector<std::string> slots;
    std::string notice;
    std::string credit;
};

Language languageOf(const LanguageFile& file, const std::vector<std::string>& slotKeys)
{
    std::vector<std::string> expected{"direction"};
    expected.insert(expected.end(), slotKeys.begin(), slotKeys.end());
    expected.push_back("notice");
    expected.push_back("credit");
    for (size_t k = 0; k < expected.size(); ++k) {
        const int lineNumber = static_cast<int>(k) + headerLines;
        if (k >= file.entries.size())
            fail(file.path, lineNumber, "missing line \"" + expected[k] + "=...\"");
        if (file.entries[k].key != expected[k])
            fail(file.path, lineNumber, "expected key \"" + expected[k] + "\", found \"" + file.entries[k].key + "\"");
    }
    if (file.entries.size() > expected.size())
        fail(file.path, static_cast<int>(expected.size()) + headerLines, "extra line after \"credit\"");

    Language language;
    language.name = file.name;
    const std::string& direction = file.entries.front().value;
    if (direction != "ltr" && direction != "rtl")
        fail(file.path, headerLines, "the direction must be \"ltr\" or \"rtl\", found \"" + direction + "\"");
    language.rightToLeft = direction == "rtl";
    for (size_t k = 0; k < slotKeys.size(); ++k) {
        const std::string& text = file.entries[k + 1].value;
        if (text.empty())
            fail(file.path, static_cast<int>(k) + headerLines + 1, "empty text for \"" + slotKeys[k] + "\"");
        language.slots.push_back(text);
    }
    language.notice = file.entries[expected.size() - 2].value;
    language.credit = file.entries.back().value;
    const std::string suffix = company;
    const std::string& credit = language.credit;
    if (credit.size() <= suffix.size() || credit.compare(credit.size() - suffix.size(), suffix.size(), suffix) != 0)
        fail(file.path, static_cast<int>(expected.size()) + headerLines - 1,
             std::string("the credit must end with \"") + company + "\"");
    return language;
}

// How many languages there are: the files 000.txt, 001.txt, … up to the first gap, and nothing else named *.txt.
int countLanguageFiles(const std::string& directory)
{
    int count = 0;
    while (std::filesystem::exists(languagePath(directory, count)))
        ++count;
    if (count == 0)
        fail(languagePath(directory, 0), 0, "language file is missing");
    for (const auto& item : std::filesystem::directory_iterator(directory)) {
        if (item.path().extension() != ".txt")
            continue;
        const std::string stem = item.path().stem().string();
        const bool inSequence = stem.size() == 3 && stem.find_first_not_of("0123456789") == std::string::npos &&
                                std::stoi(stem) < count;
        if (!inSequence)
            fail(item.path().string(), 0,
                 "not part of the numbered sequence 000.txt … " + threeDigits(count - 1) + ".txt (is a number missing?)");
    }
    return count;
}

// A C++ string literal of the bytes: UTF-8 stays readable, only the quote and the backslash are escaped.
std::string literal(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

constexpr const char* generatedNote = "// Generated by tolmar_make_text_tables from Source/editor/i18n/languages/*.txt. Do not edit.\n";

void writeHeader(size_t languageCount, const std::vector<std::string>& slotKeys, std::ostream& out)
{
    out << generatedNote
        << "#pragma once\n\n"
           "namespace tolmar {\n\n"
           "constexpr int languageCount = "
        << languageCount
        << ";\n\n"
           "// The editor's texts in one language, UTF-8, one field per text line of a language file, in file order.\n"
           "struct LanguageText {\n";
    for (const auto& key : slotKeys)
        out << "    const char* " << key << ";\n";
    out << "};\n\nconstexpr int languageTextSlots = " << slotKeys.size()
        << ";\n\n"
           "// The fields in file order: slot numbers reach their text without assuming the struct's layout.\n"
           "inline constexpr const char* LanguageText::*languageTextFields[languageTextSlots] = {\n";
    for (const auto& key : slotKeys)
        out << "    &LanguageText::" << key << ",\n";
    out << "};\n\n} // namespace tolmar\n";
}

void writeTables(const std::vector<Language>& languages, std::ostream& out)
{
    out << generatedNote
        << "#include \"editor/i18n/LanguageTables.h\"\n\n"
           "namespace tolmar {\n\n"
           "const LanguageText words[languageCount] = {\n";
    for (size_t i = 0; i < languages.size(); ++i) {
        out << "    { // " << threeDigits(static_cast<int>(i)) << "\n";
        for (const auto& text : languages[i].slots)
            out << "        " << literal(text) << ",\n";
        out << "    },\n";
    }
    out << "};\n\nconst char* const languageNotices[languageCount] = {\n";
    for (const auto& language : languages)
        out << "    " << literal(language.notice) << ",\n";
    out << "};\n\nconst char* const studioCredits[languageCount] = {\n";
    for (const auto& language : languages)
        out << "    " << literal(language.credit) << ",\n";
    out << "};\n\nconst bool languageRtl[languageCount] = {\n";
    for (size_t i = 0; i < languages.size(); ++i)
        out << "    " << (languages[i].rightToLeft ? "true" : "false") << ", // " << threeDigits(static_cast<int>(i)) << "\n";
    out << "};\n\nconst char* const languageNames[languageCount] = {\n";
    for (size_t i = 0; i < languages.size(); ++i)
        out << "    " << literal(languages[i].name) << ", // " << threeDigits(static_cast<int>(i)) << "\n";
    out << "};\n\n} // namespace tolmar\n";
}

// Replaces the file only when its content changes, so that a new translation does not make every user of the
// header compile again; writes beside it and renames, so an interrupted run never leaves half a file behind.
bool writeIfChanged(const std::string& path, const std::string& content)
{
    if (readWholeFile(path) == content)
        return true;
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary);
        out << content;
        if (!out) {
            std::cerr << temporary << ": error: cannot write\n";
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::cerr << path << ": error: cannot replace\n";
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::cerr << "usage: tolmar_make_text_tables <languages directory> <output header> <output source>\n";
        return 2;
    }
    const std::string directory = argv[1];
    std::vector<Language> languages;
    std::vector<std::string> slotKeys;
    std::vector<std::string> failures;
    try {
        const int count = countLanguageFiles(directory);
        slotKeys = slotKeysOf(readLanguageFile(directory, 0));
        for (int i = 0; i < count; ++i) {
            try {
                languages.push_back(languageOf(readLanguageFile(directory, i), slotKeys));
            } catch (const Failure& failure) {
                failures.push_back(failure.message);
            }
        }
    } catch (const Failure& failure) {
        failures.push_back(failure.message);
    }
    if (!failures.empty()) {
        for (const auto& message : failures)
            std::cerr << message << '\n';
        std::cerr << "text tables not generated: " << failures.size() << " language file(s) need fixing\n";
        return 1;
    }

    std::ostringstream header;
    std::ostringstream tables;
    writeHeader(languages.size(), slotKeys, header);
    writeTables(languages, tables);
    return writeIfChanged(argv[2], header.str()) && writeIfChanged(argv[3], tables.str()) ? 0 : 1;
}
