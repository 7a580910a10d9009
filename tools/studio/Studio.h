// Studio: the live authoring window. The presentation of a content folder (or
// an archive) drawn through the player's own shader, sync track store,
// soundtrack and screen quad, with transport keys, a HUD, and reloads on save.
//
// Use:
//     zyr::studio::Studio studio(options);     // window up, music playing (or paused at --at)
//     while (studio.frame()) {}                 // until Escape, the window closes or a stop request
//
// The picture is drawn into a framebuffer of the chosen size (the window's own
// unless --size gave one), then scaled into the window keeping its aspect; the
// overlays (HUD, help, problems) are drawn over the window afterwards and never
// enter the picture. The music is the only clock: the sync store evaluates and
// the shader uploads at its position, whether it plays or is paused.
//
// Reloads (content folders only): a burst of changes is looked at once, and a
// part whose source bytes did not change reloads nothing. fs.glsl builds a new
// program (exports recorded, tracks bound and parameters applied again);
// fsshader.ini is applied again; tracks/ is compiled and loaded again; the song
// is rendered on a thread of its own and then continues at the same row. A
// part that fails keeps its last good state in use and shows a problem (file,
// line, column, the line itself, the message) until its next good save.
//
// Ownership: the studio owns the window, the archive bytes (in memory), the
// shader, store, soundtrack, overlays, the folder watch and the song thread,
// torn down song thread first and window last.
//
// Failure: the constructor throws std::runtime_error (and ContentError) for
// what leaves nothing to show: no display or OpenGL 4.6, an unreadable source,
// no music or music that does not decode. Problems found afterwards are shown,
// never thrown.
#pragma once

#include "StudioOptions.h"

#include <cstddef>
#include <memory>

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

// Parses the arguments, runs the studio and prints errors as
// "zyr-studio: <message>"; returns the exit status (0, 1, 2 for usage).
int studioMain(int argc, char** argv);

}  // namespace zyr::studio
