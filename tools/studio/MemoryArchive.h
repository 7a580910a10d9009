// MemoryArchive: archive bytes made in memory, opened the way the player opens
// zyr.dat, without a file on disk.
//
// Use:
//     MemoryArchive packed(zyr::content::packArchive(entries));
//     ResourceArchive& archive = packed.archive();   // reads like any zyr.dat
//
// The studio writes no files of its own: the bytes go into a file the archive
// opens by its path, like any other zip. On POSIX that is an anonymous
// in-memory file (MemoryArchive_posix.cpp) that goes with the process. On
// Windows it is a temporary file the system keeps in its cache, in the
// user's temporary folder, deleted with the object; one a crashed studio
// left is deleted by the next studio to start (MemoryArchive_win32.cpp).
//
// Ownership: the object owns the archive and the file, which lives as long
// as the archive holds it open.
//
// Failure: throws std::runtime_error when the in-memory file cannot be made.
// Bytes that are no zip give an archive whose every openFile returns null, as
// with a damaged zyr.dat.
#pragma once

#include "ResourceArchive.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>

namespace zyr::studio {

class MemoryArchive {
public:
    explicit MemoryArchive(std::string_view bytes);
    ~MemoryArchive();

    MemoryArchive(const MemoryArchive&) = delete;
    MemoryArchive& operator=(const MemoryArchive&) = delete;

    ResourceArchive& archive() { return *archive_; }

private:
    std::intptr_t file_ = -1;     // the file's descriptor (POSIX) or handle (Windows)
    std::filesystem::path path_;  // its name, as the archive opens it
    std::unique_ptr<ResourceArchive> archive_;
};

}  // namespace zyr::studio
