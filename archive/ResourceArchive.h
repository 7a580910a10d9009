// ResourceArchive: the one zip archive ("zyr.dat") all content comes from.
//
// Use:
//     ResourceArchive archive;                    // zyr.dat in the current directory
//     if (ArchiveFile* f = archive.openFile("fs.glsl")) {
//         std::string text = archive.readText(f);
//         archive.closeFile(f);
//     }
//
// Ownership: the archive owns the zip directory and every handle it hands out.
// A handle is borrowed: it stays valid until the first closeFile of it or the
// archive's destruction, which closes whatever is still open, then the directory.
// Opening a name that is already open returns the very same handle, at whatever
// read position it was left, so two users must never interleave reads of one
// entry.
//
// Failure: nothing here throws or logs. A missing or unreadable archive yields an
// archive whose every openFile returns null, and so does an archive whose
// directory cannot be walked safely. A missing entry, one stored with a method
// other than stored/deflated, and one whose own headers disagree with the file
// (sizes, offsets, a zip64 marker) return null; the other entries are served. Names match exactly
// (case-sensitive, folder part included). A read that comes up short keeps the
// pre-fill (spaces for text, zero bytes for binary) for what was not delivered;
// a deflated entry whose data fails to inflate or is cut short reads whole as
// empty, never as the part before the damage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// An open archive entry; opaque outside the archive.
struct ArchiveFile;
// The open zip directory; opaque outside the archive.
struct ArchiveDirectory;

class ResourceArchive {
public:
    // Opens "zyr.dat" in the current working directory.
    ResourceArchive();
    // Opens the archive at an explicit path (authoring tools, tests).
    explicit ResourceArchive(const std::filesystem::path& path);
    ~ResourceArchive();

    ResourceArchive(const ResourceArchive&) = delete;
    ResourceArchive& operator=(const ResourceArchive&) = delete;

    // True when the zip directory could be opened.
    bool isOpen() const { return directory_ != nullptr; }

    ArchiveFile* openFile(const std::string& name);
    // The whole entry as text; the handle stays open.
    std::string readText(ArchiveFile* file);
    // The whole entry as bytes; the handle stays open.
    std::vector<std::uint8_t> readBytes(ArchiveFile* file);
    // Reads up to size * count bytes at the current position; returns whole items read.
    std::size_t read(void* destination, std::size_t size, std::size_t count, ArchiveFile* file);
    // Closes a handle obtained from openFile; null or an unknown handle does nothing.
    void closeFile(ArchiveFile* file);

    // Number of handles currently open (for checks; normally 0 between operations).
    std::size_t openCount() const { return cache_.size(); }

    // Every entry's name in the archive's directory order, as C strings (cut
    // at a NUL byte), duplicates and entries that do not open included; empty
    // when the archive is not open. For tools that report on the archive.
    const std::vector<std::string>& entryNames() const { return names_; }

private:
    // Size of the entry found by seeking to its end, then rewound to the start.
    // A size that cannot be determined reads as 0.
    std::size_t entrySize(ArchiveFile* file);

    ArchiveDirectory* directory_ = nullptr;
    std::unordered_map<std::string, ArchiveFile*> cache_;
    // Entries whose headers disagree with the file: never handed to the zip library.
    std::unordered_set<std::string> refused_;
    std::vector<std::string> names_;
};

// The archive stream callbacks, with the shape of fopen/fread/fclose. They act on
// the process-wide archive set by setStreamArchive (the sync track store sets it).
void setStreamArchive(ResourceArchive* archive);
void* archiveOpen(const char* path, const char* mode);
std::size_t archiveRead(void* destination, std::size_t size, std::size_t count, void* handle);
int archiveClose(void* handle);
