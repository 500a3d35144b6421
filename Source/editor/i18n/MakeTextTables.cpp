// Build-time tool: turns the language files Source/editor/i18n/languages/000.txt … 175.txt into the constant tables
// `words`, `languageNotices` and `studioCredits`. Each file is a header line "# NNN <name>" followed by exactly
// one "key=text" line per slot, in a fixed order; the text is everything after the first '=', byte for byte.
// Any deviation stops the build with the file, the line and what was expected.
//
// Usage: tolmar_make_text_tables <languages directory> <output .cpp>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int languageCount = 176;
constexpr const char* company = "Orvane Company 3 - Quistral LLC";

const char* const keys[] = {
    "effectLabel",   "effectMosquito", "effectSatanic",     "effectDizzyMosquito", "effectCumbia",
    "effectReggaeton", "effectUltraEdited", "effectMaster",  "descMosquito",        "descSatanic",
    "descTrapDefault", "descDizzyMosquito", "descCumbia",    "descReggaeton",       "descUltraEdited",
    "descMaster",    "rootLabel",      "languageLabel",     "hearOriginal",        "visitWebsite",
    "privacyNote",   "inputLabel",     "outputLabel",       "descTrapDefaultBeat", "tuningSourceLabel",
    "tuningManual",  "tuningBeat",     "estimatedKey",      "majorWord",           "minorWord",
    "beatHintConnect", "beatAnalysing", "beatNoClearKey",   "beatKeyLocked",       "analyzeAgain",
    "notice",        "credit",
};
constexpr int keyCount = static_cast<int>(sizeof(keys) / sizeof(keys[0]));
constexpr int slotCount = keyCount - 2; // the last two lines are the notice and the credit

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

std::string threeDigits(int index)
{
    char name[8];
    std::snprintf(name, sizeof(name), "%03d", index);
    return name;
}

struct Language {
    std::vector<std::string> values; // keyCount entries
};

Language readLanguage(const std::string& directory, int index)
{
    const std::string number = threeDigits(index);
    const std::string path = directory + "/" + number + ".txt";
    std::ifstream in(path, std::ios::binary);
    if (!in)
        fail(path, 0, "language file is missing");
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    std::vector<std::string> lines;
    size_t start = 0;
    while (start < content.size()) {
        const size_t end = content.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(content.substr(start));
            break;
        }
        lines.push_back(content.substr(start, end - start));
        start = end + 1;
    }

    const std::string header = "# " + number + " ";
    if (lines.empty() || lines[0].compare(0, header.size(), header) != 0 || lines[0].size() == header.size())
        fail(path, 1, "the first line must be \"" + header + "<language name>\"");
    if (!isCleanUtf8(lines[0]))
        fail(path, 1, "not clean UTF-8 (invalid bytes or control characters)");

    Language language;
    for (int k = 0; k < keyCount; ++k) {
        const int lineNumber = k + 2;
        if (static_cast<int>(lines.size()) <= k + 1)
            fail(path, lineNumber, std::string("missing line \"") + keys[k] + "=...\"");
        const std::string& line = lines[static_cast<size_t>(k) + 1];
        const size_t equals = line.find('=');
        if (equals == std::string::npos)
            fail(path, lineNumber, std::string("malformed line, expected \"") + keys[k] + "=<text>\"");
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key != keys[k])
            fail(path, lineNumber, std::string("expected key \"") + keys[k] + "\", found \"" + key + "\"");
        if (!isCleanUtf8(value))
            fail(path, lineNumber, "not clean UTF-8 (invalid bytes or control characters)");
        if (value.empty() && k < slotCount)
            fail(path, lineNumber, std::string("empty text for \"") + keys[k] + "\"");
        language.values.push_back(value);
    }
    if (lines.size() > static_cast<size_t>(keyCount) + 1)
        fail(path, keyCount + 2, "extra line after \"credit\"");

    const std::string& credit = language.values[static_cast<size_t>(keyCount) - 1];
    const std::string suffix = company;
    if (credit.size() <= suffix.size() || credit.compare(credit.size() - suffix.size(), suffix.size(), suffix) != 0)
        fail(path, keyCount + 1, std::string("the credit must end with \"") + company + "\"");
    return language;
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

void writeTables(const std::vector<Language>& languages, std::ostream& out)
{
    out << "// Generated by tolmar_make_text_tables from Source/editor/i18n/languages/*.txt. Do not edit.\n"
           "#include \"editor/i18n/LanguageTables.h\"\n\n"
           "namespace tolmar {\n\n"
           "const LanguageText words[languageCount] = {\n";
    for (size_t i = 0; i < languages.size(); ++i) {
        out << "    { // " << threeDigits(static_cast<int>(i)) << "\n";
        for (int k = 0; k < slotCount; ++k)
            out << "        " << literal(languages[i].values[static_cast<size_t>(k)]) << ",\n";
        out << "    },\n";
    }
    out << "};\n\nconst char* const languageNotices[languageCount] = {\n";
    for (const auto& language : languages)
        out << "    " << literal(language.values[static_cast<size_t>(slotCount)]) << ",\n";
    out << "};\n\nconst char* const studioCredits[languageCount] = {\n";
    for (const auto& language : languages)
        out << "    " << literal(language.values[static_cast<size_t>(slotCount) + 1]) << ",\n";
    out << "};\n\n} // namespace tolmar\n";
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: tolmar_make_text_tables <languages directory> <output .cpp>\n";
        return 2;
    }
    std::vector<Language> languages;
    std::vector<std::string> failures;
    for (int i = 0; i < languageCount; ++i) {
        try {
            languages.push_back(readLanguage(argv[1], i));
        } catch (const Failure& failure) {
            failures.push_back(failure.message);
        }
    }
    if (!failures.empty()) {
        for (const auto& message : failures)
            std::cerr << message << '\n';
        std::cerr << "text tables not generated: " << failures.size() << " language file(s) need fixing\n";
        return 1;
    }

    // Write beside the target and rename, so an interrupted run never leaves a half-written table behind.
    const std::string output = argv[2];
    const std::string temporary = output + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary);
        writeTables(languages, out);
        if (!out) {
            std::cerr << temporary << ": error: cannot write\n";
            return 1;
        }
    }
    if (std::rename(temporary.c_str(), output.c_str()) != 0) {
        std::cerr << output << ": error: cannot replace\n";
        return 1;
    }
    return 0;
}
