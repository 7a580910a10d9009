#include "CurrentDirectory.h"

#include <windows.h>

#include <string>

std::filesystem::path defaultArchivePath() {
    char directory[256] = {};
    const DWORD length = GetCurrentDirectoryA(sizeof directory, directory);
    // A directory that does not fit comes back as the size it would need, with
    // the buffer untouched or cut: any path made from it could name some other
    // archive. No path at all makes the open fail like a missing archive.
    if (length == 0 || length >= sizeof directory) return {};
    const std::string narrow = std::string(directory, length) + "\\zyr.dat";
    // The name is in the ANSI code page, as the query gave it; the wide form
    // opens that very file whatever the C++ library assumes about narrow text.
    std::wstring wide(narrow.size(), L'\0');
    const int converted = MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(narrow.size()),
                                              wide.data(), static_cast<int>(wide.size()));
    if (converted <= 0) return {};
    wide.resize(static_cast<std::size_t>(converted));
    return wide;
}
