// FolderWatch: which parts of a content folder changed on disk, one answer per
// burst of changes.
//
// Use:
//     FolderWatch watch("content");
//     every frame: if (PartSet changed = watch.poll(now)) { if (changed.has(Part::Shader)) ... }
//
// The folder and every folder inside it are watched (one made or moved in
// later is picked up when it appears), so a ready .track file in a folder of
// its own counts like one at the top. Finished writes, renames in and out
// (how many editors save, ReplaceFileW included), deletions and creations all
// count, and a file counts for the part zyr::content::partOf gives it; a
// folder that comes or goes counts for every part, and so do changes the
// system lost track of. A burst of events becomes one answer once the folder
// has been quiet for a short while, so an editor's write-rename-delete
// sequence is one reload. Whether the bytes really changed is for the caller
// to decide.
//
// The system's side is one file per platform: FolderWatch_posix.cpp (inotify,
// a watch per folder) and FolderWatch_win32.cpp (ReadDirectoryChangesW over
// the whole tree at once, so no folder inside can fail on its own there).
//
// Ownership: the watch owns the system's handles, closed on destruction.
//
// Failure: the constructor throws std::runtime_error when the system cannot
// watch the folder itself; a folder inside it that cannot be watched (the
// system's limit of watches reached), or on Windows a watch the system stops
// serving, is named in failures(). poll never
// blocks, throws or allocates when nothing happened.
#pragma once

#include "ContentFolder.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace zyr::studio {

class PartSet {
public:
    void add(content::Part part) { bits_ |= bit(part); }
    bool has(content::Part part) const { return (bits_ & bit(part)) != 0; }
    explicit operator bool() const { return bits_ != 0; }

private:
    static std::uint32_t bit(content::Part part) { return 1u << static_cast<unsigned>(part); }
    std::uint32_t bits_ = 0;
};

class FolderWatch {
public:
    using Clock = std::chrono::steady_clock;
    // How long the folder must stay quiet before a burst is answered.
    static constexpr std::chrono::milliseconds kQuiet{30};

    explicit FolderWatch(const std::filesystem::path& folder);
    ~FolderWatch();

    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    PartSet poll(Clock::time_point now);
    // Folders that could not be watched, with why; saves in them are not seen.
    const std::vector<std::string>& failures() const { return failures_; }

private:
    struct Native;  // the system's handles and what they stand for; one per platform file

    // Takes in what the system reported since the last call (platform file).
    void read(Clock::time_point now);
    // What read makes of each report.
    void changedFile(const std::string& relative, Clock::time_point now);
    void changedAll(Clock::time_point now);

    std::filesystem::path folder_;
    std::unique_ptr<Native> native_;
    std::vector<std::string> failures_;
    PartSet pending_;
    Clock::time_point lastEvent_;
};

}  // namespace zyr::studio
