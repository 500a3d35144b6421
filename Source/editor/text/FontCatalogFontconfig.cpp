// Installed fonts through fontconfig (Linux): its sorted match for the "Segoe UI" request in the script's language.
#include "editor/text/FontCatalog.h"

#include <fontconfig/fontconfig.h>

namespace tolmar::text {

namespace {

class FontconfigCoverage final : public CharacterCoverage {
public:
    explicit FontconfigCoverage(FcCharSet* characters)
        : charset(FcCharSetCopy(characters))
    {
    }
    ~FontconfigCoverage() override { FcCharSetDestroy(charset); }
    FontconfigCoverage(const FontconfigCoverage&) = delete;
    FontconfigCoverage& operator=(const FontconfigCoverage&) = delete;

    bool has(char32_t c) const override { return FcCharSetHasChar(charset, c) != FcFalse; }

private:
    FcCharSet* charset;
};

std::string stringOf(FcPattern* pattern, const char* object)
{
    FcChar8* value = nullptr;
    if (FcPatternGetString(pattern, object, 0, &value) == FcResultMatch && value != nullptr)
        return reinterpret_cast<const char*>(value);
    return {};
}

} // namespace

std::vector<InstalledFace> installedFaces(const std::string& language, bool bold)
{
    static const bool initialised = FcInit() != FcFalse;
    std::vector<InstalledFace> list;
    if (!initialised)
        return list;

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
            InstalledFace face;
            face.file = stringOf(font, FC_FILE);
            FcPatternGetInteger(font, FC_INDEX, 0, &face.index);
            face.family = stringOf(font, FC_FAMILY);
            if (face.file.empty())
                continue;
            face.coverage = std::make_shared<FontconfigCoverage>(charset);
            list.push_back(std::move(face));
        }
        FcFontSetDestroy(set);
    }
    FcPatternDestroy(pattern);
    return list;
}

FT_Error openFace(FT_Library library, const std::string& file, int index, FT_Face* face)
{
    return FT_New_Face(library, file.c_str(), index, face);
}

std::string thaiDictionaryFile()
{
    return {};
}

} // namespace tolmar::text
