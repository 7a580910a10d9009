// ZipAccess: the zip reader under ResourceArchive, one per platform, in files of
// their own: ZipAccess_posix.cpp (zziplib on a POSIX descriptor) and
// ZipAccess_win32.cpp (zlib's inflater on the places the structural check
// found, on a Windows file). Only ResourceArchive uses it.
//
// Use (what ResourceArchive does):
//     std::unordered_set<std::string> refused;
//     std::vector<std::string> names;
//     ArchiveDirectory* zip = openZipDirectory(path, refused, names);
//     ArchiveFile* entry = openZipEntry(zip, "fs.glsl");   // after checking `refused`
//     std::int64_t size = rewindZipEntry(entry);
//     readZipEntry(entry, buffer, size);
//     closeZipEntry(entry); closeZipDirectory(zip);
//
// Ownership: the caller owns what the open functions return and closes each
// exactly once, every entry before its directory.
//
// Failure: nothing throws. An archive that does not open, or fails the
// structural check, gives null; entries whose own records are unsound are named
// in `refused` and must never be opened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

struct ArchiveDirectory;
struct ArchiveFile;

// Reads exactly `length` bytes at `offset` of the archive file; false if it cannot.
using ArchiveReadAt = std::function<bool(std::uint64_t offset, unsigned char* out, std::size_t length)>;

// Where a sound entry's data lies, as the check found it: enough to read it
// with nothing but an inflater.
struct ZipEntryPlace {
    std::uint64_t dataOffset;
    std::uint64_t packedSize;
    std::uint64_t size;
    std::uint32_t method;  // 0 stored, 8 deflated; others are never opened
};
using ZipEntryPlaces = std::unordered_map<std::string, ZipEntryPlace>;

// The structural check of a zip file of `fileSize` bytes that every platform
// runs before its zip reader sees the file (defined in ResourceArchive.cpp).
// False when the end record or the central directory is unsound; otherwise the
// names of entries that must not be opened are added to `refused`; when
// `places` is given, the first entry of every other name is placed there, and
// when `names` is given, every entry's name (as a C string, duplicates and
// refused ones included) is appended in the directory's order.
bool isSoundZip(std::uint64_t fileSize, const ArchiveReadAt& readAt, std::unordered_set<std::string>& refused,
                ZipEntryPlaces* places = nullptr, std::vector<std::string>* names = nullptr);

// Opens exactly `path` (no other name is tried) and checks it with isSoundZip,
// which lists the entries' names into `names`.
ArchiveDirectory* openZipDirectory(const std::filesystem::path& path, std::unordered_set<std::string>& refused,
                                   std::vector<std::string>& names);
void closeZipDirectory(ArchiveDirectory* directory);

// The entry named exactly `name` (a C string, matched byte for byte), or null.
ArchiveFile* openZipEntry(ArchiveDirectory* directory, const char* name);
// Puts the read position back at the entry's start and returns its size, or -1
// when the size cannot be known: a deflated entry whose data fails to inflate
// or is cut short before its size has none (data that ends cleanly before it
// keeps the size the directory gives).
std::int64_t rewindZipEntry(ArchiveFile* file);
// Reads up to `bytes` at the current position; the count read, or -1 on an error.
std::int64_t readZipEntry(ArchiveFile* file, void* destination, std::size_t bytes);
void closeZipEntry(ArchiveFile* file);
