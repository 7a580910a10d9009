#include "TrackSave.h"

#include "FileWrite.h"
#include "PathText.h"
#include "Track.h"
#include "TrackText.h"

#include <optional>
#include <system_error>
#include <utility>

namespace zyr::studio {

namespace fs = std::filesystem;

SaveOutcome saveLanes(const fs::path& folder, TimelineModel& model, const std::map<std::string, std::string>& lastRead,
                      bool overDiskChanges) {
    // Every lane of a file is saved together; a lane whose file failed stays dirty.
    std::map<std::string, std::vector<Track>> files;
    for (const Lane& lane : model.lanes()) {
        if (lane.readOnly || !lane.dirty()) continue;
        Track track{lane.track, {}};
        for (const SyncKey& key : lane.keys) track.keys.push_back({key.row, key.value, static_cast<std::int8_t>(key.type)});
        files[lane.file.empty() ? kNewTrackFile : lane.file].push_back(std::move(track));
    }

    SaveOutcome out;
    std::map<std::string, std::string> now;  // each file as the disk holds it
    for (const auto& [file, tracks] : files) {
        std::optional<std::string> text;
        try {
            text = readFileIfPresent(folder / pathFromUtf8(file));
        } catch (const FileError& error) {
            out.errors.push_back(std::string(error.what()) + "; not saved");
            continue;
        }
        const auto read = lastRead.find(file);
        const bool same = text ? read != lastRead.end() && read->second == *text : read == lastRead.end();
        if (!same && !overDiskChanges) out.changed.push_back(file);
        now[file] = text.value_or(std::string());
    }
    if (!out.changed.empty()) return out;

    for (const auto& [file, tracks] : files) {
        const auto text = now.find(file);
        if (text == now.end()) continue;  // did not read
        std::string why;
        std::optional<std::string> rewritten = rewriteTracks(text->second, tracks, file, why);
        if (!rewritten) {
            out.errors.push_back(why + " (not saved: fix the file, then save again)");
            continue;
        }
        const fs::path path = folder / pathFromUtf8(file);
        try {
            std::error_code ignored;
            fs::create_directories(path.parent_path(), ignored);
            replaceFile(path, *rewritten);
        } catch (const FileError& error) {
            out.errors.push_back(std::string(error.what()) + "; not saved");
            continue;
        }
        out.written.push_back(file);
        out.bytes[file] = std::move(*rewritten);
    }
    model.markSaved(out.written);
    return out;
}

}  // namespace zyr::studio
