// The Windows zip reader (archive/ZipAccess_win32.cpp, plain zlib) as the
// fuzzers build it on Linux, beside the Linux one: its entry points and records
// under names of their own (WindowsZipAccessBuild.h renames them when that file
// is compiled).
//
//     WindowsArchiveDirectory* zip = windowsOpenZipDirectory(path, refused, names);
//     WindowsArchiveFile* entry = windowsOpenZipEntry(zip, "fs.glsl");
//
// Ownership and failure as in archive/ZipAccess.h, whose contract they share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <unordered_set>
#include <vector>

struct WindowsArchiveDirectory;
struct WindowsArchiveFile;
WindowsArchiveDirectory* windowsOpenZipDirectory(const std::filesystem::path& path,
                                                 std::unordered_set<std::string>& refused,
                                                 std::vector<std::string>& names);
void windowsCloseZipDirectory(WindowsArchiveDirectory* directory);
WindowsArchiveFile* windowsOpenZipEntry(WindowsArchiveDirectory* directory, const char* name);
std::int64_t windowsRewindZipEntry(WindowsArchiveFile* file);
std::int64_t windowsReadZipEntry(WindowsArchiveFile* file, void* destination, std::size_t bytes);
void windowsCloseZipEntry(WindowsArchiveFile* file);
