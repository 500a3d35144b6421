#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H
#include <hb.h>

#include "editor/text/FontCatalog.h"

#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace tolmar::text {

// An installed face opened for shaping (HarfBuzz, in font units) and for outlines (FreeType).
struct Face {
    std::string file;
    int index = 0;
    std::string family;
    FT_Face ft = nullptr;
    hb_font_t* hb = nullptr;
    int unitsPerEm = 1000;
    int ascender = 800; // typographic extents in font units, descender negative
    int descender = -200;
};

// Per-script font fallback over the platform's font catalog: the "Segoe UI" request first, then the installed faces
// in the catalog's order for the script's language, the first that has the character winning. Faces open once and stay
// open for the life of the process. Message thread only.
class FontFallback {
public:
    FontFallback();
    ~FontFallback();
    FontFallback(const FontFallback&) = delete;
    FontFallback& operator=(const FontFallback&) = delete;

    // Face id for a character of the given script, written in `language` (a language tag such as "ja", or empty).
    // `previous` (or -1) is kept when it has the character, so punctuation and marks stay in their word's face.
    int faceFor(char32_t c, const char* language, bool bold, int previous);

    // The face whose metrics set the em size: the first match of the plain request.
    int primaryFace(bool bold);

    const Face& face(int id) const { return *faces[static_cast<size_t>(id)]; }
    FT_Library freeType() const { return library; }

private:
    struct Candidate {
        InstalledFace installed;
        int faceId = -1; // opened lazily
    };
    using CandidateList = std::vector<Candidate>;

    CandidateList& candidates(const std::string& language, bool bold);
    int open(Candidate& candidate);

    FT_Library library = nullptr;
    std::vector<std::unique_ptr<Face>> faces;
    std::map<std::pair<std::string, int>, int> faceIds;
    std::map<std::pair<std::string, bool>, CandidateList> candidateLists;
    std::unordered_map<std::u32string, int> choiceCache; // key: language, weight and character
};

} // namespace tolmar::text
