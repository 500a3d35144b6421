#include "text/FontFallback.h"

#include <hb-ft.h>
#include <hb-ot.h>

namespace tolmar::text {

namespace {

constexpr const char* requestedFamily = "Segoe UI";

std::string stringOf(FcPattern* pattern, const char* object)
{
    FcChar8* value = nullptr;
    if (FcPatternGetString(pattern, object, 0, &value) == FcResultMatch && value != nullptr)
        return reinterpret_cast<const char*>(value);
    return {};
}

} // namespace

FontFallback::FontFallback()
{
    FcInit();
    FT_Init_FreeType(&library);
}

FontFallback::~FontFallback()
{
    for (auto& face : faces) {
        hb_font_destroy(face->hb);
        FT_Done_Face(face->ft);
    }
    for (auto& entry : candidateLists)
        for (auto& candidate : entry.second)
            FcCharSetDestroy(candidate.charset);
    FT_Done_FreeType(library);
}

FontFallback::CandidateList& FontFallback::candidates(const std::string& language, bool bold)
{
    const auto key = std::make_pair(language, bold);
    if (auto found = candidateLists.find(key); found != candidateLists.end())
        return found->second;

    CandidateList& list = candidateLists[key];
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(requestedFamily));
    FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern, FC_SLANT, FC_SLANT_ROMAN);
    if (!language.empty())
        FcPatternAddString(pattern, FC_LANG, reinterpret_cast<const FcChar8*>(language.c_str()));
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    // Untrimmed: a face late in the order may be the only one with a rare character.
    FcFontSet* set = FcFontSort(nullptr, pattern, FcFalse, nullptr, &result);
    if (set != nullptr) {
        for (int i = 0; i < set->nfont; ++i) {
            FcPattern* font = set->fonts[i];
            FcBool outline = FcTrue;
            FcBool colour = FcFalse;
            FcPatternGetBool(font, FC_OUTLINE, 0, &outline);
            FcPatternGetBool(font, FC_COLOR, 0, &colour);
            FcCharSet* charset = nullptr;
            // Outlines only: bitmap and colour faces cannot be filled as paths.
            if (!outline || colour || FcPatternGetCharSet(font, FC_CHARSET, 0, &charset) != FcResultMatch)
                continue;
            Candidate candidate;
            candidate.file = stringOf(font, FC_FILE);
            FcPatternGetInteger(font, FC_INDEX, 0, &candidate.index);
            candidate.family = stringOf(font, FC_FAMILY);
            if (candidate.file.empty())
                continue;
            candidate.charset = FcCharSetCopy(charset);
            list.push_back(std::move(candidate));
        }
        FcFontSetDestroy(set);
    }
    FcPatternDestroy(pattern);
    return list;
}

int FontFallback::open(Candidate& candidate)
{
    if (candidate.faceId >= 0)
        return candidate.faceId;
    const auto key = std::make_pair(candidate.file, candidate.index);
    if (auto known = faceIds.find(key); known != faceIds.end())
        return candidate.faceId = known->second;

    auto face = std::make_unique<Face>();
    face->file = candidate.file;
    face->index = candidate.index;
    face->family = candidate.family;
    if (FT_New_Face(library, candidate.file.c_str(), candidate.index, &face->ft) != 0)
        return -1;
    face->unitsPerEm = face->ft->units_per_EM > 0 ? face->ft->units_per_EM : 1000;
    face->ascender = face->ft->ascender;
    face->descender = face->ft->descender;
    if (face->ascender - face->descender <= 0) {
        face->ascender = face->unitsPerEm * 4 / 5;
        face->descender = -face->unitsPerEm / 5;
    }
    // Shaping in font units, independent of the size drawn: one shaping serves every size.
    face->hb = hb_ft_font_create_referenced(face->ft);
    hb_ot_font_set_funcs(face->hb);
    hb_font_set_scale(face->hb, face->unitsPerEm, face->unitsPerEm);

    const int id = static_cast<int>(faces.size());
    faces.push_back(std::move(face));
    faceIds[key] = id;
    return candidate.faceId = id;
}

int FontFallback::primaryFace(bool bold)
{
    for (auto& candidate : candidates({}, bold))
        if (FcCharSetHasChar(candidate.charset, 'a'))
            if (const int id = open(candidate); id >= 0)
                return id;
    for (auto& candidate : candidates({}, bold))
        if (const int id = open(candidate); id >= 0)
            return id;
    return -1;
}

int FontFallback::faceFor(char32_t c, const char* language, bool bold, int previous)
{
    if (previous >= 0) {
        FT_Face ft = faces[static_cast<size_t>(previous)]->ft;
        if (FT_Get_Char_Index(ft, c) != 0)
            return previous;
    }
    std::u32string key;
    for (const char* p = language; *p != 0; ++p)
        key.push_back(static_cast<char32_t>(static_cast<unsigned char>(*p)));
    key.push_back(bold ? U'b' : U'r');
    key.push_back(c);
    if (auto known = choiceCache.find(key); known != choiceCache.end())
        return known->second;

    int chosen = -1;
    for (auto& candidate : candidates(language, bold)) {
        if (!FcCharSetHasChar(candidate.charset, c))
            continue;
        chosen = open(candidate);
        if (chosen >= 0)
            break;
    }
    if (chosen < 0)
        chosen = primaryFace(bold); // nothing installed has it: the missing-glyph box of the main face
    choiceCache[key] = chosen;
    return chosen;
}

} // namespace tolmar::text
