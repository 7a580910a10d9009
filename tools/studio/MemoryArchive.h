// MemoryArchive: archive bytes made in memory, opened the way the player opens
// zyr.dat, without a file on disk.
//
// Use:
//     MemoryArchive packed(zyr::content::packArchive(entries));
//     ResourceArchive& archive = packed.archive();   // reads like any zyr.dat
//
// The studio writes no files: the bytes go into an anonymous in-memory file
// whose path the archive opens, like any other zip.
//
// Ownership: the object owns the archive and the in-memory file, which lives as
// long as the archive holds it open.
//
// Failure: throws std::runtime_error when the in-memory file cannot be made.
// Bytes that are no zip give an archive whose every openFile returns null, as
// with a damaged zyr.dat.
#pragma once

#include "ResourceArchive.h"

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
    int fd_ = -1;
    std::unique_ptr<ResourceArchive> archive_;
};

}  // namespace zyr::studio
