// StudioSource: what the studio shows, a content folder or an archive, read
// the way the player reads zyr.dat; and, for a folder, the bytes last read of
// each of its parts, so a change that leaves them as they were reloads
// nothing and a save of the studio's own is no change.
//
// Use:
//     Source source("content", problems);
//     Presentation's objects on source.archive();
//     if (source.changed(Part::Shader)) text = source.read("fs.glsl");
//     source.wrote("tracks/cam.txt", bytes);            // after the studio wrote it
//
// A folder is packed in memory part by part: a part that does not read (a
// shader that cannot be read, a track text with a mistake) is left out and
// put on the problem board, so the studio still starts; only the music is
// needed. An archive is opened as it is and never read again.
//
// Ownership: the source owns the archives (and the in-memory files behind a
// folder's) and the snapshots, and outlives every other room, so the
// archives close last, as the player's does; the problem board is borrowed
// for the call.
//
// Failure: the constructor throws std::runtime_error (ContentError for a song
// that does not build) when there is nothing to show: no such folder or
// archive, an archive the player cannot open, no music. read throws FileError
// for a file that exists but cannot be read.
#pragma once

#include "ContentFolder.h"
#include "MemoryArchive.h"
#include "Problems.h"
#include "ResourceArchive.h"

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace zyr::studio {

class Source {
public:
    Source(const std::filesystem::path& path, ProblemBoard& problems);

    bool isFolder() const { return !folder_.empty(); }
    // Empty for an archive.
    const std::filesystem::path& folder() const { return folder_; }
    // The folder's or the archive's name, for the window's title.
    const std::string& name() const { return name_; }
    ResourceArchive& archive() { return *archive_; }
    // The folder's tracks as read at the start; nullopt for an archive or
    // texts that did not read.
    const std::optional<content::TrackPart>& startTracks() const { return startTracks_; }
    // The music's bytes as it was first played.
    const std::string& music() const { return music_; }
    // The tracks as last taken from the folder, packed (the start's archive
    // until the first are taken); an editor hands over what it packed.
    ResourceArchive& trackArchive() { return tracks_ ? tracks_->archive() : *archive_; }
    void takeTrackArchive(std::unique_ptr<MemoryArchive> tracks) { tracks_ = std::move(tracks); }

    // A file of the folder by its relative name; nullopt when there is none.
    std::optional<std::string> read(const std::string& name) const;
    // Whether any file of the part differs from what was last read of it; what
    // is read now is what was last read from then on.
    bool changed(content::Part part);
    // The studio wrote this file (relative name) itself, with these bytes.
    void wrote(const std::string& name, const std::string& bytes);

private:
    using Snapshot = std::map<std::string, std::string>;  // relative name -> bytes
    Snapshot snapshot(content::Part part) const;
    void openFolder(ProblemBoard& problems);

    std::filesystem::path folder_;
    std::string name_;
    std::unique_ptr<ResourceArchive> file_;
    std::unique_ptr<MemoryArchive> packed_;
    ResourceArchive* archive_ = nullptr;
    std::unique_ptr<MemoryArchive> tracks_;
    std::optional<content::TrackPart> startTracks_;
    std::string music_;
    std::map<content::Part, Snapshot> snapshots_;
};

}  // namespace zyr::studio
