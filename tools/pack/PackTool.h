// zyr-pack: packs a content folder into an archive the player reads.
//
//     zyr-pack FOLDER OUTPUT
//
// Every regular file under FOLDER (recursively) becomes an entry named by its
// path relative to FOLDER with '/' between folders; entries are deflated, or
// stored when deflating does not make them smaller. Entries are sorted by name
// and carry a fixed time stamp, so the same files always give the same archive.
//
// Use: main() hands its arguments to runPackTool; tests call planPack,
// checkPack and packFolder in-process.
//
// Ownership: plain values; the only file written is OUTPUT (through a
// temporary beside it).
//
// Failure: entries the player cannot open refuse the whole archive (status 1,
// OUTPUT untouched): names that are no valid entry names, files over the zip32
// size limit, more than 65535 files, unreadable files or folders. Things the
// player copes with but that look like mistakes are warnings.
#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

namespace zyr {

struct PackItem {
    std::string name;               // entry name
    std::filesystem::path source;   // file on disk
    std::uintmax_t size;
};

struct PackPlan {
    std::vector<PackItem> items;    // sorted by entry name
    std::vector<std::string> errors;
    std::vector<std::string> warnings;
};

// Walks folder; output, if it lies inside, is left out.
PackPlan planPack(const std::filesystem::path& folder, const std::filesystem::path& output);

// Adds the errors and warnings the items call for (names, sizes, count,
// look-alike names, track files no track loads).
void checkPack(PackPlan& plan);

// planPack + checkPack, then the archive, all or nothing.
PackPlan packFolder(const std::filesystem::path& folder, const std::filesystem::path& output);

int runPackTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace zyr
