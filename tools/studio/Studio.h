// Studio: the live authoring window. The presentation of a content folder (or
// an archive) drawn through the player's own frame, with transport keys, a
// HUD, a timeline of the sync tracks, a uniform inspector, and reloads on save.
//
// Use:
//     zyr::studio::Studio studio(options);     // window up, music playing (or paused at --at)
//     while (studio.frame()) {}                 // until it is closed or a stop is requested
//
// The studio is a handful of rooms, each in files of its own name:
//     StudioSource  what is shown (folder or archive), what was last read of it
//     Problems      mistakes in the author's terms, the board they are shown from
//     Stage         the player's objects, the picture through the player's frame
//     Playhead      where in the music, playing or paused, the loop
//     Input         the window's events, the key table
//     Overlays      the ImGui frame: HUD, problems, quit prompt, help
//     TrackEditor   lanes, edits shown from memory, save and conflict (TrackSave)
//     Inspector     the uniforms, the parameters and their overrides
//     Reloader      the folder watched, each changed part to its room, song builds
// Studio.cpp makes them, runs a frame through them, and asks before a close
// would lose unsaved work (only a signal ends the studio without asking).
//
// Ownership: the studio owns every room; they are torn down song thread and
// watch first, the player's objects in the player's order, the archives last.
//
// Failure: the constructor throws std::runtime_error (and ContentError) for
// what leaves nothing to show: no display or OpenGL 4.6, no such folder or
// archive, no music or music that does not decode. Problems found afterwards
// are shown, never thrown.
#pragma once

#include "StudioOptions.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace zyr::studio {

class StudioSession;

class Studio {
public:
    explicit Studio(const StudioOptions& options);
    ~Studio();

    Studio(const Studio&) = delete;
    Studio& operator=(const Studio&) = delete;

    // Runs one frame; false once the studio should end.
    bool frame();
    // Overlays off (true), for measuring what they cost.
    void hideOverlays(bool hidden);
    // Reloads applied so far (a part that failed is not counted): the frame
    // that follows an increase is the first to show the change.
    std::size_t reloads() const;

private:
    std::unique_ptr<StudioSession> session_;
};

// Parses the arguments (UTF-8, without the program's name), runs the studio
// and prints errors as "zyr-studio: <message>"; returns the exit status (0,
// 1, 2 for usage).
int studioMain(const std::vector<std::string>& arguments);

}  // namespace zyr::studio
