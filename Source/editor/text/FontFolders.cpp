#include "editor/text/FontFolders.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

namespace tolmar::text {

namespace {

// Faces Windows 10/11 install, with their file names (bold file empty when the family has none). Faces that are
// optional features on some editions are listed too; a face whose file is absent is skipped.
struct KnownFace {
    const char* family;
    const char* regularFile;
    const char* boldFile;
};

constexpr KnownFace knownFaces[] = {
    {"Segoe UI", "segoeui.ttf", "segoeuib.ttf"},
    {"Segoe UI Historic", "seguihis.ttf", ""},
    {"Segoe UI Symbol", "seguisym.ttf", ""},
    {"Segoe UI Emoji", "seguiemj.ttf", ""},
    {"Arial", "arial.ttf", "arialbd.ttf"},
    {"Tahoma", "tahoma.ttf", "tahomabd.ttf"},
    {"Times New Roman", "times.ttf", "timesbd.ttf"},
    {"Nirmala UI", "nirmala.ttf", "nirmalab.ttf"},
    {"Mangal", "mangal.ttf", "mangalb.ttf"},
    {"Vrinda", "vrinda.ttf", "vrindab.ttf"},
    {"Raavi", "raavi.ttf", "raavib.ttf"},
    {"Shruti", "shruti.ttf", "shrutib.ttf"},
    {"Kalinga", "kalinga.ttf", "kalingab.ttf"},
    {"Latha", "latha.ttf", "lathab.ttf"},
    {"Gautami", "gautami.ttf", "gautamib.ttf"},
    {"Tunga", "tunga.ttf", "tungab.ttf"},
    {"Kartika", "kartika.ttf", "kartikab.ttf"},
    {"Iskoola Pota", "iskpota.ttf", "iskpotab.ttf"},
    {"Leelawadee UI", "leelawui.ttf", "leelauib.ttf"},
    {"Leelawadee", "leelawad.ttf", "leelawdb.ttf"},
    {"Lao UI", "laoui.ttf", "laouib.ttf"},
    {"Khmer UI", "khmerui.ttf", "khmeruib.ttf"},
    {"Myanmar Text", "mmrtext.ttf", "mmrtextb.ttf"},
    {"Microsoft Himalaya", "himalaya.ttf", ""},
    {"Ebrima", "ebrima.ttf", "ebrimabd.ttf"},
    {"Nyala", "nyala.ttf", ""},
    {"Gadugi", "gadugi.ttf", "gadugib.ttf"},
    {"Euphemia", "euphemia.ttf", ""},
    {"MV Boli", "mvboli.ttf", ""},
    {"Estrangelo Edessa", "estre.ttf", ""},
    {"Sylfaen", "sylfaen.ttf", ""},
    {"Malgun Gothic", "malgun.ttf", "malgunbd.ttf"},
    {"Gulim", "gulim.ttc", ""},
    {"Yu Gothic", "yugothr.ttc", "yugothb.ttc"},
    {"Meiryo", "meiryo.ttc", "meiryob.ttc"},
    {"MS Gothic", "msgothic.ttc", ""},
    {"Microsoft YaHei", "msyh.ttc", "msyhbd.ttc"},
    {"SimSun", "simsun.ttc", ""},
    {"Microsoft JhengHei", "msjh.ttc", "msjhbd.ttc"},
    {"MingLiU", "mingliu.ttc", ""}, // mingliub.ttc is MingLiU-ExtB: CJK extension B only
    {"Mongolian Baiti", "monbaiti.ttf", ""},
    {"Microsoft Yi Baiti", "msyi.ttf", ""},
    {"Javanese Text", "javatext.ttf", ""},
};

// The families to try after "Segoe UI" for a language, best first, and the script's name as font files spell it
// ("NotoSansTamil-Regular.ttf"): among the other installed files, those made for the script come first, so a face
// that maps a few of its letters for another script (Grantha maps Tamil's pa and va) never wins over them.
struct LanguageFaces {
    const char* language;
    std::vector<const char*> families;
    const char* scriptInFileNames;
};

const std::vector<LanguageFaces>& languageFaces()
{
    static const std::vector<LanguageFaces> table{
        {"ar", {"Tahoma", "Arial", "Times New Roman"}, "arabic"},
        {"he", {"Arial", "Tahoma", "Times New Roman"}, "hebrew"},
        {"hi", {"Nirmala UI", "Mangal"}, "devanagari"},
        {"bn", {"Nirmala UI", "Vrinda"}, "bengali"},
        {"pa", {"Nirmala UI", "Raavi"}, "gurmukhi"},
        {"gu", {"Nirmala UI", "Shruti"}, "gujarati"},
        {"or", {"Nirmala UI", "Kalinga"}, "oriya"},
        {"ta", {"Nirmala UI", "Latha"}, "tamil"},
        {"te", {"Nirmala UI", "Gautami"}, "telugu"},
        {"kn", {"Nirmala UI", "Tunga"}, "kannada"},
        {"ml", {"Nirmala UI", "Kartika"}, "malayalam"},
        {"si", {"Nirmala UI", "Iskoola Pota"}, "sinhala"},
        {"th", {"Leelawadee UI", "Leelawadee", "Tahoma"}, "thai"},
        {"lo", {"Leelawadee UI", "Lao UI"}, "lao"},
        {"km", {"Leelawadee UI", "Khmer UI"}, "khmer"},
        {"my", {"Myanmar Text"}, "myanmar"},
        {"bo", {"Microsoft Himalaya"}, "tibetan"},
        {"am", {"Ebrima", "Nyala"}, "ethiopic"},
        {"ka", {"Sylfaen"}, "georgian"},
        {"hy", {"Sylfaen"}, "armenian"},
        {"ko", {"Malgun Gothic", "Gulim"}, "cjk"},
        {"ja", {"Yu Gothic", "Meiryo", "MS Gothic"}, "cjk"},
        {"zh-cn", {"Microsoft YaHei", "SimSun"}, "cjk"},
        {"zh-tw", {"Microsoft JhengHei", "MingLiU"}, "cjk"},
        {"iu", {"Gadugi", "Euphemia"}, "canadianaboriginal"},
        {"dv", {"MV Boli"}, "thaana"},
        {"syr", {"Segoe UI Historic", "Estrangelo Edessa"}, "syriac"},
    };
    return table;
}

// After the language's own faces: the faces that cover the other scripts a string may mix in, then symbols.
const std::vector<const char*> otherScriptFaces{
    "Segoe UI Symbol",
    "Segoe UI Historic",
    "Arial",
    "Tahoma",
    "Nirmala UI",
    "Leelawadee UI",
    "Ebrima",
    "Gadugi",
    "Myanmar Text",
    "Malgun Gothic",
    "Microsoft YaHei",
    "Yu Gothic",
    "Microsoft Himalaya",
    "Mongolian Baiti",
    "Microsoft Yi Baiti",
    "MV Boli",
    "Javanese Text",
    "Sylfaen",
    "Segoe UI Emoji",
};

std::string lowerAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string fileNameOf(const std::string& path)
{
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool endsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool isOutlineFontFile(const std::string& lowerName)
{
    return endsWith(lowerName, ".ttf") || endsWith(lowerName, ".otf") || endsWith(lowerName, ".ttc") ||
           endsWith(lowerName, ".otc");
}

// Whether a file name (lower case) is a known bold file or reads like a heavy weight: "NotoSans-Bold.ttf".
bool looksBold(const std::string& lowerName)
{
    for (const KnownFace& face : knownFaces)
        if (lowerName == face.boldFile)
            return true;
    const std::string stem = lowerName.substr(0, lowerName.find_last_of('.'));
    return stem.find("bold") != std::string::npos || stem.find("black") != std::string::npos ||
           stem.find("heavy") != std::string::npos || endsWith(stem, "bd");
}

const KnownFace* knownFace(const std::string& family)
{
    for (const KnownFace& face : knownFaces)
        if (family == face.family)
            return &face;
    return nullptr;
}

class CharacterMapCoverage final : public CharacterCoverage {
public:
    CharacterMapCoverage(std::string fontFile, int faceIndex)
        : file(std::move(fontFile))
        , index(faceIndex)
    {
    }

    bool has(char32_t c) const override
    {
        if (!loaded)
            load();
        auto after = std::upper_bound(ranges.begin(), ranges.end(), c,
                                      [](char32_t value, const Range& range) { return value < range.first; });
        return after != ranges.begin() && c <= std::prev(after)->second;
    }

private:
    using Range = std::pair<char32_t, char32_t>; // first and last character

    void load() const
    {
        loaded = true;
        FT_Library library = nullptr;
        if (FT_Init_FreeType(&library) != 0)
            return;
        FT_Face face = nullptr;
        if (openFace(library, file, index, &face) == 0) {
            if ((face->face_flags & FT_FACE_FLAG_SCALABLE) != 0 && FT_Select_Charmap(face, FT_ENCODING_UNICODE) == 0) {
                FT_UInt glyph = 0;
                for (FT_ULong c = FT_Get_First_Char(face, &glyph); glyph != 0; c = FT_Get_Next_Char(face, c, &glyph)) {
                    const auto character = static_cast<char32_t>(c);
                    if (!ranges.empty() && ranges.back().second + 1 == character)
                        ranges.back().second = character;
                    else
                        ranges.emplace_back(character, character);
                }
            }
            FT_Done_Face(face);
        }
        FT_Done_FreeType(library);
    }

    std::string file;
    int index;
    mutable bool loaded = false;
    mutable std::vector<Range> ranges;
};

} // namespace

std::shared_ptr<const CharacterCoverage> characterMapCoverage(const std::string& file, int index)
{
    static std::map<std::pair<std::string, int>, std::shared_ptr<const CharacterCoverage>> known;
    auto& coverage = known[{file, index}];
    if (coverage == nullptr)
        coverage = std::make_shared<CharacterMapCoverage>(file, index);
    return coverage;
}

std::vector<std::string> faceFamiliesOf(const std::string& file)
{
    static std::map<std::string, std::vector<std::string>> known;
    auto& families = known[file];
    if (!families.empty())
        return families;
    // Only collections are opened: a single-face file goes by its file name, and opening every file of a system's
    // fonts folder would slow the editor's first opening.
    const std::string lowerName = lowerAscii(fileNameOf(file));
    FT_Library library = nullptr;
    if ((endsWith(lowerName, ".ttc") || endsWith(lowerName, ".otc")) && FT_Init_FreeType(&library) == 0) {
        for (FT_Long index = 0, count = 1; index < count; ++index) {
            FT_Face face = nullptr;
            if (openFace(library, file, static_cast<int>(index), &face) != 0)
                break;
            count = face->num_faces;
            families.emplace_back(face->family_name != nullptr ? face->family_name : "");
            FT_Done_Face(face);
        }
        FT_Done_FreeType(library);
    }
    if (families.empty()) {
        const std::string name = fileNameOf(file);
        families.push_back(name.substr(0, name.find_last_of('.')));
    }
    return families;
}

std::vector<InstalledFace> orderFontFiles(const std::vector<std::string>& files, const std::string& language, bool bold,
                                          const FaceFamilies& familiesOf)
{
    std::map<std::string, std::string> pathByName; // lower-case file name -> first path with it
    for (const std::string& path : files) {
        const std::string name = lowerAscii(fileNameOf(path));
        if (isOutlineFontFile(name))
            pathByName.emplace(name, path);
    }

    std::vector<InstalledFace> order;
    std::set<std::string> used;
    // A known family names the collection's first face; the other faces go by their own names.
    auto add = [&](const std::string& name, const std::string& knownFamily) {
        auto found = pathByName.find(name);
        if (found == pathByName.end() || !used.insert(name).second)
            return false;
        const std::vector<std::string> families = familiesOf(found->second);
        for (size_t index = 0; index < families.size(); ++index) {
            const int face = static_cast<int>(index);
            order.push_back({found->second, face, index == 0 && !knownFamily.empty() ? knownFamily : families[index],
                             characterMapCoverage(found->second, face)});
        }
        return true;
    };
    auto addFamily = [&](const char* family) {
        const KnownFace* face = knownFace(family);
        if (face == nullptr)
            return;
        if (bold && *face->boldFile != 0 && add(face->boldFile, family))
            return;
        add(face->regularFile, family);
    };

    addFamily(requestedFamily);
    for (const LanguageFaces& entry : languageFaces())
        if (language == entry.language)
            for (const char* family : entry.families)
                addFamily(family);
    for (const char* family : otherScriptFaces)
        addFamily(family);

    // Everything else (fonts the user installed, other faces of the system): the requested weight first, then by name.
    std::vector<std::string> rest;
    for (const auto& entry : pathByName)
        if (used.count(entry.first) == 0)
            rest.push_back(entry.first);
    std::stable_partition(rest.begin(), rest.end(),
                          [bold](const std::string& name) { return looksBold(name) == bold; });
    for (const LanguageFaces& entry : languageFaces())
        if (language == entry.language)
            std::stable_partition(rest.begin(), rest.end(), [&entry](const std::string& name) {
                return name.find(entry.scriptInFileNames) != std::string::npos;
            });
    for (const std::string& name : rest)
        add(name, "");
    return order;
}

} // namespace tolmar::text
