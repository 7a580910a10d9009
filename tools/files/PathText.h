// Paths as text: every string the tools keep, print or take from a command
// line is UTF-8, and these are the only crossings between such text and a
// path. On Windows a path is UTF-16 and path::string() would go through the
// ANSI code page (which cannot hold "C:\Users\Zoë\démo" on every machine);
// on POSIX both are the bytes as they are.
//
// Use:
//     const std::filesystem::path folder = pathFromUtf8(argument);
//     std::cerr << toUtf8(folder) << ": not a folder\n";
//
// Failure: pathFromUtf8 throws std::filesystem::filesystem_error on Windows
// for text that is not UTF-8; POSIX takes any bytes.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace zyr {

inline std::string toUtf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// With '/' between the parts on every platform, as archive entry names have.
inline std::string toGenericUtf8(const std::filesystem::path& path) {
    const std::u8string text = path.generic_u8string();
    return std::string(text.begin(), text.end());
}

inline std::filesystem::path pathFromUtf8(std::string_view text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

}  // namespace zyr
