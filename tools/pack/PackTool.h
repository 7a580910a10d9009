// zyr-pack: packs a content folder into an archive the player reads.
//
//     zyr-pack FOLDER OUTPUT [--logo PNG]
//
// FOLDER is a content folder as ContentFolder.h defines it: sources (tracks/
// as text, song/) are turned into their entries; every other regular file
// under FOLDER (recursively) becomes an entry named by its path relative to
// FOLDER with '/' between folders, so a folder of ready entries packs as it
// is. --logo PNG goes in as zyr.png when FOLDER has none. Entries are
// deflated, or stored when deflating does not make them smaller; they are
// sorted by name and carry a fixed time stamp, so the same files always give
// the same archive.
//
// Use: main() hands its arguments to runPackTool; tests call planPack,
// checkPack and packFolder in-process. planPack and checkPack are the rules
// (zyr_pack_rules); packFolder and runPackTool go through the content library.
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
#include <optional>
#include <string>
#include <string_view>
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
// The same for items whose bytes are in memory: bytes[i] holds items[i]'s, and
// source is only a label.
void checkPack(PackPlan& plan, const std::vector<std::string_view>& bytes);

// The folder's entries (ContentFolder.h), checked, then the archive, all or
// nothing; items then lists the entries packed (no source: some are made).
PackPlan packFolder(const std::filesystem::path& folder, const std::filesystem::path& output,
                    const std::optional<std::filesystem::path>& defaultLogo = std::nullopt);

int runPackTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace zyr
