// zyr-track: compiles the text form of sync tracks into the player's ".track"
// files and dumps ".track" files (loose or inside an archive) back to text.
//
//     zyr-track compile TEXT... --out FOLDER
//     zyr-track dump FILE.track...
//     zyr-track dump ARCHIVE ENTRY...
//
// Use: main() hands its arguments to runTrackTool; tests call the same
// functions in-process.
//
// Ownership: plain values; files are written only under the folder named.
//
// Failure: refusals come back as messages ("FILE:LINE: reason" for text input)
// and exit status 1, usage errors as status 2. compile validates every input
// before it creates anything, then writes each file under a temporary name and
// renames them all at the end; on any failure no track file is left changed.
#pragma once

#include "Track.h"

#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

namespace zyr {

struct CompileResult {
    std::vector<std::string> errors;
    std::vector<std::filesystem::path> written;
};

// Reads and validates every text file, then writes one file per track under
// folder at its entry name. Nothing is written unless everything is valid.
CompileResult compileTrackTexts(const std::vector<std::filesystem::path>& inputs,
                                const std::filesystem::path& folder);

// Writes the tracks' files under folder as one all-or-nothing step; returns the
// problems (empty on success) and fills written with the paths on success.
std::vector<std::string> writeTrackFiles(const std::vector<Track>& tracks, const std::filesystem::path& folder,
                                         std::vector<std::filesystem::path>& written);

// The track name a loose file holds, from its path: the shortest tail of the
// path ("sync_a.track", "sync_scene/a.track") that is a track entry name.
std::optional<std::string> trackNameFromPath(const std::filesystem::path& path);

int runTrackTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace zyr
