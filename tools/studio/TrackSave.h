// TrackSave: the timeline's edited lanes written back into the track texts
// they came from, never over a change the studio has not seen.
//
// Use:
//     SaveOutcome out = saveLanes(folder, model, lastRead, false);   // Ctrl+S
//     if (!out.changed.empty()) ... the conflict: nothing was written
//     for (file : out.written) source.wrote(file, out.bytes[file]);
//
// Each file holding a dirty lane gets its edited blocks rewritten in the usual
// layout; every other byte (other tracks, comments, blank lines, CRLF) stays
// as the disk has it, and a track with no text goes at the end of
// tracks/new.txt. Before anything is written each such file is compared with
// what the studio last read of it (lastRead; a file missing there was absent):
// one that differs is a change on disk the author has not seen, and then no
// file is written at all, unless overDiskChanges says the author chose to
// write theirs over it. Files are written whole or not at all (replaceFile).
//
// Ownership: plain values; the model's lanes of files written are marked saved.
//
// Failure: a file that cannot be read, does not parse or cannot be written is
// named in errors with why; its lanes stay dirty and the file as it was.
#pragma once

#include "Timeline.h"

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace zyr::studio {

struct SaveOutcome {
    std::vector<std::string> written;           // relative names, as the lanes name them
    std::map<std::string, std::string> bytes;   // what each written file now holds
    std::vector<std::string> changed;           // differ from what was last read: nothing written
    std::vector<std::string> errors;
};

SaveOutcome saveLanes(const std::filesystem::path& folder, TimelineModel& model,
                      const std::map<std::string, std::string>& lastRead, bool overDiskChanges);

}  // namespace zyr::studio
