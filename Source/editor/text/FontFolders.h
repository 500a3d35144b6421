#pragma once

#include "editor/text/FontCatalog.h"

#include <functional>

// How the Windows font catalog orders the files of the fonts folders. Plain file-name logic over FreeType, the same
// on every platform, so the order is tested where the tests run.
namespace tolmar::text {

// The family names of the faces in a font collection (.ttc, .otc), in face-index order, read once per file. Any
// other file, or a collection that cannot be read, is one face named after the file.
std::vector<std::string> faceFamiliesOf(const std::string& file);

using FaceFamilies = std::function<std::vector<std::string>(const std::string& file)>;

// The font files (full UTF-8 paths, system folder first) in the order the fallback tries them for text in
// `language`: "Segoe UI", the faces Windows 10/11 ship for that language's script, the faces that cover the other
// scripts and symbols, then every other outline font file with the requested weight's names first. A known face
// comes in its bold file for a bold request when that file exists, else in its regular file. Every face of a
// collection is offered, in index order, as faces of one collection often cover different characters. File names
// match without regard to case, as on Windows; a name present in two folders counts once.
std::vector<InstalledFace> orderFontFiles(const std::vector<std::string>& files, const std::string& language,
                                          bool bold, const FaceFamilies& familiesOf = faceFamiliesOf);

// The characters of a face's Unicode character map, read on first use. A file that cannot be opened, or a face
// without outlines (bitmap strikes only), covers nothing. Shared per file and face index.
std::shared_ptr<const CharacterCoverage> characterMapCoverage(const std::string& file, int index);

} // namespace tolmar::text
