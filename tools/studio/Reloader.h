// Reloader: a content folder's saves turned into the studio's state at the
// same music position: the folder watched, each changed part handed to the
// room it belongs to, the song built on a thread of its own and swapped in.
//
// Use:
//     Reloader reloader({source, stage, editor, inspector, problems, playhead, panel});
//     reloader.buildShader(text);           // the start's program
//     every frame: reloader.poll();         // changes on disk, a finished song
//
// A burst of changes is looked at once (FolderWatch), and a part whose bytes
// are as the studio last read them reloads nothing. fs.glsl builds a new
// program (the inspector and the lanes follow its exports); fsshader.ini is
// applied again; tracks/ (and ready .track files anywhere in the folder) go
// to the track editor; the song is rendered, encoded, and its waveform and
// sections worked out off the frame thread, then plays on from the same row.
// A part that fails keeps its last good state in use and goes on the board.
//
// Ownership: owns the watch and the song builder (its thread ends first when
// the reloader goes); borrows the rooms, which must outlive it.
//
// Failure: a folder that cannot be watched goes on the board (saves are then
// not seen); nothing here throws after construction.
#pragma once

#include "FolderWatch.h"
#include "Inspector.h"
#include "Playhead.h"
#include "Problems.h"
#include "SongBuilder.h"
#include "Stage.h"
#include "StudioSource.h"
#include "TimelinePanel.h"
#include "TrackEditor.h"

#include <cstddef>
#include <memory>
#include <string>

namespace zyr::studio {

class Reloader {
public:
    struct Rooms {
        Source& source;
        Stage& stage;
        TrackEditor& editor;
        Inspector& inspector;
        ProblemBoard& problems;
        Playhead& playhead;
        TimelinePanel& panel;
    };

    explicit Reloader(Rooms rooms);
    ~Reloader();

    // Builds source as the program; false (the last good one in use, the log
    // on the board) when it does not build.
    bool buildShader(const std::string& source);
    void poll();
    // Reloads applied so far (a part that failed is not counted).
    std::size_t reloads() const { return reloads_; }
    // A reload the author asked for (R: the tracks taken from disk).
    void countReload() { ++reloads_; }

private:
    void reloadShader();
    void reloadParameters();
    void takeSong();

    Rooms rooms_;
    std::unique_ptr<FolderWatch> watch_;
    std::unique_ptr<SongBuilder> songs_;
    std::size_t reloads_ = 0;
};

}  // namespace zyr::studio
