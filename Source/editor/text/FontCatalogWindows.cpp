// Installed fonts on Windows: the files of the system fonts folder (%WINDIR%\Fonts) and of the per-user one
// (%LOCALAPPDATA%\Microsoft\Windows\Fonts), ordered per language by the table of faces Windows ships.
#include "editor/text/FontCatalog.h"
#include "editor/text/FontFolders.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdio>

namespace tolmar::text {

namespace {

std::string utf8Of(const std::wstring& wide)
{
    if (wide.empty())
        return {};
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), bytes, nullptr, nullptr);
    return text;
}

std::wstring wideOf(const std::string& text)
{
    if (text.empty())
        return {};
    const int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), units);
    return wide;
}

void listFolder(const std::wstring& folder, std::vector<std::string>& files)
{
    if (folder.empty())
        return;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            files.push_back(utf8Of(folder + L"\\" + found.cFileName));
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

std::wstring systemFontsFolder()
{
    wchar_t windows[MAX_PATH];
    const UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    return std::wstring(windows, length) + L"\\Fonts";
}

std::wstring userFontsFolder()
{
    wchar_t localAppData[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", localAppData, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    return std::wstring(localAppData, length) + L"\\Microsoft\\Windows\\Fonts";
}

// Listed once per process, like fontconfig's cache: fonts installed while a host runs appear after a restart.
const std::vector<std::string>& fontFiles()
{
    static const std::vector<std::string> files = [] {
        std::vector<std::string> list;
        listFolder(systemFontsFolder(), list);
        listFolder(userFontsFolder(), list);
        return list;
    }();
    return files;
}

unsigned long readFile(FT_Stream stream, unsigned long offset, unsigned char* buffer, unsigned long count)
{
    FILE* file = static_cast<FILE*>(stream->descriptor.pointer);
    if (_fseeki64(file, static_cast<__int64>(offset), SEEK_SET) != 0)
        return count == 0 ? 1 : 0; // a seek (count 0) reports failure as non-zero
    return count == 0 ? 0 : static_cast<unsigned long>(std::fread(buffer, 1, count, file));
}

void closeFile(FT_Stream stream)
{
    std::fclose(static_cast<FILE*>(stream->descriptor.pointer));
    delete stream;
}

} // namespace

std::vector<InstalledFace> installedFaces(const std::string& language, bool bold)
{
    return orderFontFiles(fontFiles(), language, bold);
}

FT_Error openFace(FT_Library library, const std::string& file, int index, FT_Face* face)
{
    FILE* handle = _wfopen(wideOf(file).c_str(), L"rb");
    if (handle == nullptr)
        return FT_Err_Cannot_Open_Resource;
    _fseeki64(handle, 0, SEEK_END);
    const __int64 size = _ftelli64(handle);
    if (size <= 0 || size > 0x7fffffff) {
        std::fclose(handle);
        return FT_Err_Cannot_Open_Resource;
    }
    auto* stream = new FT_StreamRec{};
    stream->size = static_cast<unsigned long>(size);
    stream->descriptor.pointer = handle;
    stream->read = readFile;
    stream->close = closeFile; // FreeType calls it when the face is done, or when opening fails
    FT_Open_Args arguments{};
    arguments.flags = FT_OPEN_STREAM;
    arguments.stream = stream;
    return FT_Open_Face(library, &arguments, index, face);
}

std::string thaiDictionaryFile()
{
    // This module is "<bundle>\Contents\x86_64-win\<name>.vst3"; the dictionary is in "<bundle>\Contents\Resources".
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&thaiDictionaryFile), &module))
        return {};
    std::wstring path(32768, L'\0'); // the longest path Windows allows
    const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size())
        return {};
    path.resize(length);
    return utf8Of(path.substr(0, path.find_last_of(L"\\/") + 1) + L"..\\Resources\\thbrk.tri");
}

} // namespace tolmar::text

// libdatrie, which opens libthai's dictionary, calls this instead of fopen (scripts/windows-deps renames its calls):
// the path is UTF-8, which fopen would read in the ANSI code page.
extern "C" FILE* tolmar_utf8_fopen(const char* path, const char* mode)
{
    try {
        return _wfopen(tolmar::text::wideOf(path).c_str(), tolmar::text::wideOf(mode).c_str());
    } catch (...) {
        return nullptr; // out of memory: nothing may unwind into C
    }
}
