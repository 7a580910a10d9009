// FolderWatch: which parts of a content folder changed on disk, one answer per
// burst of changes.
//
// Use:
//     FolderWatch watch("content");
//     every frame: if (PartSet changed = watch.poll(now)) { if (changed.has(Part::Shader)) ... }
//
// The folder and every folder inside it are watched (one made or moved in
// later is picked up when it appears), so a ready .track file in a folder of
// its own counts like one at the top. Writes that end in close, renames in and
// out (how many editors save), deletions and creations all count, and a file
// counts for the part zyr::content::partOf gives it; a folder that comes or
// goes counts for every part. A burst of events becomes one answer once the
// folder has been quiet for a short while, so an editor's
// write-rename-delete sequence is one reload. Whether the bytes really changed
// is for the caller to decide.
//
// Ownership: the watch owns its notification descriptor, closed on destruction.
//
// Failure: the constructor throws std::runtime_error when the system cannot
// watch the folder itself; a folder inside it that cannot be watched (the
// system's limit of watches reached) is named in failures(). poll never
// blocks, throws or allocates when nothing happened.
#pragma once

#include "ContentFolder.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <unordered_map>
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
    // Watches relative and every folder below it.
    void watchTree(const std::string& relative);
    void watch(const std::string& relative);
    void read(Clock::time_point now);
    void changedAll();

    std::filesystem::path folder_;
    int fd_ = -1;
    std::unordered_map<int, std::string> folders_;  // watch descriptor -> folder relative to the root
    std::vector<std::string> failures_;
    PartSet pending_;
    Clock::time_point lastEvent_;
};

}  // namespace zyr::studio
