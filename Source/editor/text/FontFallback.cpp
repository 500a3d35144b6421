#include "editor/text/FontFallback.h"

#include <hb-ft.h>
#include <hb-ot.h>

namespace tolmar::text {

FontFallback::FontFallback()
{
    FT_Init_FreeType(&library);
}

FontFallback::~FontFallback()
{
    for (auto& face : faces) {
        hb_font_destroy(face->hb);
        FT_Done_Face(face->ft);
    }
    FT_Done_FreeType(library);
}

FontFallback::CandidateList& FontFallback::candidates(const std::string& language, bool bold)
{
    const auto key = std::make_pair(language, bold);
    if (auto found = candidateLists.find(key); found != candidateLists.end())
        return found->second;

    CandidateList& list = candidateLists[key];
    for (auto& installed : installedFaces(language, bold))
        list.push_back({std::move(installed), -1});
    return list;
}

int FontFallback::open(Candidate& candidate)
{
    if (candidate.faceId >= 0)
        return candidate.faceId;
    const InstalledFace& installed = candidate.installed;
    const auto key = std::make_pair(installed.file, installed.index);
    if (auto known = faceIds.find(key); known != faceIds.end())
        return candidate.faceId = known->second;

    auto face = std::make_unique<Face>();
    face->file = installed.file;
    face->index = installed.index;
    face->family = installed.family;
    if (openFace(library, installed.file, installed.index, &face->ft) != 0)
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
        if (candidate.installed.coverage->has('a'))
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
        if (!candidate.installed.coverage->has(c))
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
