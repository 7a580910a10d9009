#include "TrackEditor.h"

#include "SyncTrackStore.h"
#include "Track.h"
#include "TrackSave.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <utility>

namespace zyr::studio {

namespace {

std::vector<SyncKey> syncKeys(const std::vector<TrackKey>& keys) {
    std::vector<SyncKey> out;
    out.reserve(keys.size());
    for (const TrackKey& key : keys) out.push_back({key.row, key.value, key.type});
    return out;
}

constexpr const char* kConflictChoice = ": Ctrl+S writes yours over the edited blocks, R takes the files and drops yours";

}  // namespace

TrackEditor::TrackEditor(SyncTrackStore& store, Source& source, ProblemBoard& problems)
    : store_(store), source_(source), problems_(problems) {
    if (!source_.isFolder()) return;
    try {
        if (source_.startTracks()) {
            take(*source_.startTracks());
            return;
        }
    } catch (const std::exception& error) {
        problems_.set(Topic::Tracks, {{"tracks", error.what(), {}, 0}});
    }
    // Where the tracks of a text that does not read live is unknown.
    textsBroken_ = true;
}

void TrackEditor::programChanged(const std::vector<ExportedUniform>& exports) {
    exports_.clear();
    for (const ExportedUniform& uniform : exports)
        if (classifyKind(uniform.kind) == ExportKind::Rocket) exports_.push_back(uniform);
    // The new program bound its tracks from the archive it started with; the
    // last tracks taken from disk replace them, then the lanes bring the edits.
    if (!store_.reloadTracks(source_.trackArchive()))
        problems_.set(Topic::Tracks, {{"tracks", "out of memory: the tracks could not be loaded again", {}, 0}});
    layOut(true);
}

void TrackEditor::take(const content::TrackPart& part) {
    auto fresh = std::make_unique<MemoryArchive>(content::packArchive(part.entries));
    if (!store_.reloadTracks(fresh->archive())) throw std::runtime_error("out of memory: the tracks could not be loaded");
    source_.takeTrackArchive(std::move(fresh));
    texts_.clear();
    for (const content::TextTrack& track : part.tracks) texts_[track.name] = {track.file, syncKeys(track.keys)};
    ready_.clear();
    for (const content::Entry& entry : part.entries)
        if (const std::optional<std::string> name = trackNameFromEntry(entry.name); name && !texts_.contains(*name))
            ready_.insert(*name);
    lastRead_ = part.texts;
    textsBroken_ = false;
    model_.clearHistory();
    layOut(false);
}

void TrackEditor::layOut(bool keepEdits) {
    static constexpr const char* kComponents[] = {".x", ".y", ".z", ".w"};
    const bool folder = source_.isFolder();
    std::map<std::string, const Lane*> old;
    for (const Lane& lane : model_.lanes()) old[lane.track] = &lane;
    const SyncDevice& device = store_.device();
    std::vector<Lane> lanes;
    for (const ExportedUniform& uniform : exports_) {
        for (std::uint32_t c = 0; c < componentCount(uniform.type); ++c) {
            Lane lane;
            lane.group = uniform.target;
            lane.track = uniform.target + kComponents[c];
            if (std::any_of(lanes.begin(), lanes.end(), [&](const Lane& l) { return l.track == lane.track; })) continue;
            if (const auto text = texts_.find(lane.track); text != texts_.end()) {
                lane.file = text->second.file;
                lane.savedKeys = text->second.keys;
            } else {
                for (std::size_t t = 0; t < device.numTracks; ++t)
                    if (lane.track == device.tracks[t]->name)
                        lane.savedKeys.assign(device.tracks[t]->keys, device.tracks[t]->keys + device.tracks[t]->count);
                // A ready .track file's (with keys or without); while a text does
                // not read, any track found in none might be in it.
                lane.readOnly = ready_.contains(lane.track) || !lane.savedKeys.empty() || textsBroken_;
            }
            lane.readOnly = lane.readOnly || !folder;
            const auto before = old.find(lane.track);
            const bool kept = keepEdits && !lane.readOnly && before != old.end() && !before->second->readOnly;
            lane.keys = kept ? before->second->keys : lane.savedKeys;
            lanes.push_back(std::move(lane));
        }
    }
    if (keepEdits) {
        // Unsaved edits of tracks no export binds now wait in lanes of their own.
        for (const Lane& lane : model_.lanes()) {
            if (lane.readOnly || !lane.dirty()) continue;
            if (std::any_of(lanes.begin(), lanes.end(), [&](const Lane& l) { return l.track == lane.track; })) continue;
            lanes.push_back(lane);
            lanes.back().orphan = true;
        }
    }
    model_.setLanes(std::move(lanes));
}

void TrackEditor::show() {
    if (model_.version() == shown_) return;
    for (const Lane& lane : model_.lanes())
        if (lane.changed > shown_ && !lane.readOnly && !lane.orphan) store_.setTrackKeys(lane.track, lane.keys);
    shown_ = model_.version();
}

bool TrackEditor::takeFromDisk(const char* said) {
    try {
        take(content::readTrackPart(source_.folder()));
    } catch (const content::ContentError& error) {
        problems_.set(Topic::Tracks, contentProblems(error, source_.folder()));
        return false;
    } catch (const std::exception& error) {
        problems_.set(Topic::Tracks, {{"tracks", error.what(), {}, 0}});
        return false;
    }
    problems_.set(Topic::Tracks, {});
    std::fprintf(stderr, "zyr-studio: %s\n", said);
    return true;
}

void TrackEditor::reportConflict(const std::string& what) {
    conflict_ = true;
    problems_.set(Topic::TrackSave, {{"tracks", what + kConflictChoice, {}, 0}});
}

bool TrackEditor::diskChanged() {
    if (model_.dirty()) {
        reportConflict("changed on disk while the timeline has unsaved edits");
        return false;
    }
    return takeFromDisk("tracks reloaded");
}

bool TrackEditor::takeDisk() {
    if (!conflict_ || !takeFromDisk("tracks taken from disk, edits dropped")) return false;
    conflict_ = false;
    problems_.set(Topic::TrackSave, {});
    return true;
}

bool TrackEditor::save() {
    if (!source_.isFolder()) return true;
    const bool overDisk = conflict_;
    const SaveOutcome out = saveLanes(source_.folder(), model_, lastRead_, overDisk);
    if (!out.changed.empty()) {
        std::string files;
        for (const std::string& file : out.changed) files += (files.empty() ? "" : ", ") + file;
        reportConflict(files + " changed on disk since the studio read it; nothing saved");
        return false;
    }
    for (const std::string& file : out.written) {
        const std::string& bytes = out.bytes.at(file);
        lastRead_[file] = bytes;
        source_.wrote(file, bytes);
    }
    for (const Lane& lane : model_.lanes())
        if (!lane.readOnly && !lane.dirty() && std::find(out.written.begin(), out.written.end(), lane.file) != out.written.end())
            texts_[lane.track] = {lane.file, lane.savedKeys};
    if (!out.errors.empty()) {
        std::vector<Problem> problems;
        for (const std::string& error : out.errors) problems.push_back({"save", error, {}, 0});
        problems_.set(Topic::TrackSave, std::move(problems));
        return false;
    }
    std::fprintf(stderr, "zyr-studio: tracks saved\n");
    problems_.set(Topic::TrackSave, {});
    conflict_ = false;
    // Written over a change on disk: the files' other blocks are the disk's, and come in now.
    if (overDisk) takeFromDisk("tracks reloaded");
    return true;
}

std::string TrackEditor::unsaved() const {
    const std::size_t dirty = model_.dirtyCount();
    const auto gone = std::count_if(model_.lanes().begin(), model_.lanes().end(), [](const Lane& lane) { return lane.orphan && lane.dirty(); });
    std::string out = std::to_string(dirty) + (dirty == 1 ? " track" : " tracks");
    if (gone > 0) out += ", " + std::to_string(gone) + " of an export the shader no longer has";
    return out;
}

}  // namespace zyr::studio
