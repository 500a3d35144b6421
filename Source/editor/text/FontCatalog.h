#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H

#include <memory>
#include <string>
#include <vector>

// The platform's door to installed fonts: which faces exist, in what order to try them, and how to open their files.
// One implementation per platform (fontconfig on Linux, the fonts folders on Windows); everything above it, shaping,
// ordering and line breaking included, is the same code on both.
namespace tolmar::text {

// The family every string asks for first.
constexpr const char* requestedFamily = "Segoe UI";

// Which characters a face has a glyph for.
class CharacterCoverage {
public:
    virtual ~CharacterCoverage() = default;
    virtual bool has(char32_t c) const = 0;
};

// An installed outline face the fallback may use.
struct InstalledFace {
    std::string file; // UTF-8 path
    int index = 0;    // face inside a font collection
    std::string family;
    std::shared_ptr<const CharacterCoverage> coverage;
};

// The installed faces to try for text written in `language` (a language tag such as "ja" or "zh-cn", or empty),
// best first: the "Segoe UI" request first, then the platform's fallbacks for that language. Message thread only.
std::vector<InstalledFace> installedFaces(const std::string& language, bool bold);

// Opens a face from a UTF-8 path (FreeType's own file access on Windows takes the ANSI code page).
FT_Error openFace(FT_Library library, const std::string& file, int index, FT_Face* face);

// libthai's word-break dictionary as a UTF-8 path; empty for libthai's own default (the system's dictionary on
// Linux). On Windows it is "thbrk.tri" in the Resources folder beside the module's folder (the bundle's).
std::string thaiDictionaryFile();

} // namespace tolmar::text
