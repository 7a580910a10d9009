// Playhead: where the studio is in the music, playing or paused, moved by the
// transport keys and the timeline's ruler, and held inside the loop.
//
// Use:
//     Playhead playhead(music, Transport(sections, music.lengthRows()));
//     playhead.start(at);                     // paused at `at`, or playing from row 0
//     playhead.move(Move::NextBeat);          // a key
//     playhead.seekTo(row);                   // the ruler
//     every frame: playhead.follow();         // loop wrap, the music's end
//     double row = playhead.row();            // what the picture and the HUD show
//
// The music is the only clock: a seek lands on its row; paused, the row is the
// one the music stands on. At the music's end the studio stays open, paused
// there; Space then plays from the start.
//
// Ownership: borrows the soundtrack, owns the transport (loop and sections).
//
// Failure: none; targets are clamped to the music.
#pragma once

#include "Soundtrack.h"
#include "Transport.h"

#include <optional>

namespace zyr::studio {

class Playhead {
public:
    Playhead(Soundtrack& music, Transport transport);
    // Paused at `at` when given, else playing from row 0.
    void start(std::optional<double> at);

    double row() const { return paused_ ? pausedRow_ : music_.playbackRow(); }
    bool paused() const { return paused_; }
    const Transport& transport() const { return transport_; }
    Transport& transport() { return transport_; }

    void move(Move move, int section = 0);
    void seekTo(double row);
    void togglePause();
    void follow();
    // A new song plays in place of the old: its sections and length.
    void replaceTransport(Transport transport);

private:
    Soundtrack& music_;
    Transport transport_;
    bool paused_ = false;
    double pausedRow_ = 0.0;
};

}  // namespace zyr::studio
