// TrackEditor: the timeline's lanes kept in step with the shader's exports and
// the folder's track texts, the author's edits shown in the picture from
// memory, and their save, with nothing of them lost without asking.
//
// Use:
//     TrackEditor editor(stage.store(), source, problems);
//     editor.programChanged(scanExports(source));   // after every program that builds
//     every frame: editor.show();                   // edits into the store, for this frame's picture
//     editor.diskChanged();                         // tracks/ changed on disk
//     editor.save();  editor.takeDisk();            // Ctrl+S, R
//     if (editor.dirty()) ... ask before quitting (editor.unsaved() says what)
//
// A lane per track the program's rocket exports bind, in its order. An edit
// changes the store's track in memory (no archive is packed), so it shows on
// the next frame. A new program keeps every lane's edits by track name; edits
// of tracks whose export is gone stay as lanes of their own (marked, counted
// by dirty(), saved by save()) and go back into their lane when it returns.
// Tracks read from ready .track files, and every track of an archive, are
// read-only. While a track text does not read, tracks found in no text are
// read-only too: a new track could clash with one in it.
//
// Unsaved edits are never merged with a change on disk nor dropped untold: a
// change of tracks/ while edits are unsaved, or a file that differs at Ctrl+S
// from what the studio last read, is the conflict (said on the board). Ctrl+S
// then writes the edited blocks over the disk's file, R takes the disk's files
// and drops the edits.
//
// Ownership: owns the model and the texts as last read; the archive of the
// tracks last taken from disk goes to the source. Borrows the store, the
// source and the board, which must outlive it.
//
// Failure: what cannot be read, packed or written goes on the board; the last
// good tracks stay in the picture.
#pragma once

#include "ExportScan.h"
#include "Problems.h"
#include "StudioSource.h"
#include "Timeline.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

class SyncTrackStore;

namespace zyr::studio {

class TrackEditor {
public:
    TrackEditor(SyncTrackStore& store, Source& source, ProblemBoard& problems);

    TimelineModel& model() { return model_; }
    const TimelineModel& model() const { return model_; }

    void programChanged(const std::vector<ExportedUniform>& exports);
    // True when the tracks were taken from disk (a reload to count).
    bool diskChanged();
    bool takeDisk();
    // True when every edit is saved.
    bool save();
    void show();

    bool dirty() const { return model_.dirty(); }
    bool conflict() const { return conflict_; }
    // The unsaved edits in words ("2 tracks, 1 of an export the shader no longer has").
    std::string unsaved() const;

private:
    struct TextTrack {
        std::string file;
        std::vector<SyncKey> keys;
    };
    bool takeFromDisk(const char* said);
    void take(const content::TrackPart& part);
    void layOut(bool keepEdits);
    void reportConflict(const std::string& what);

    SyncTrackStore& store_;
    Source& source_;
    ProblemBoard& problems_;
    TimelineModel model_;
    std::vector<ExportedUniform> exports_;      // the rocket exports of the program in use
    std::map<std::string, TextTrack> texts_;    // by track name, as tracks/*.txt held them when read
    std::map<std::string, std::string> lastRead_;  // "tracks/a.txt" -> its bytes when last read or written
    std::set<std::string> ready_;               // tracks given as ready .track files
    bool textsBroken_ = false;
    bool conflict_ = false;
    std::uint64_t shown_ = 0;
};

}  // namespace zyr::studio
