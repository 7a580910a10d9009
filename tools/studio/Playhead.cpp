#include "Playhead.h"

#include <algorithm>
#include <utility>

namespace zyr::studio {

Playhead::Playhead(Soundtrack& music, Transport transport) : music_(music), transport_(std::move(transport)) {}

void Playhead::start(std::optional<double> at) {
    if (at) {
        paused_ = true;
        seekTo(*at);
    } else {
        music_.play();
    }
}

void Playhead::move(Move move, int section) {
    if (const std::optional<double> to = transport_.target(move, row(), section)) seekTo(*to);
}

void Playhead::seekTo(double row) {
    // The row shown while paused must be one the music can stand on.
    row = std::clamp(row, 0.0, std::max(0.0, music_.lengthRows()));
    music_.seekToRow(row);
    if (paused_) pausedRow_ = row;
    // A stream that had reached its end is stopped by the seek; it plays on.
    else music_.play();
}

void Playhead::togglePause() {
    if (paused_) {
        // From the very end there is nothing to play: start over.
        if (pausedRow_ >= transport_.length()) seekTo(0.0);
        paused_ = false;
        music_.play();
        return;
    }
    music_.pause();
    paused_ = true;
    pausedRow_ = music_.playbackRow();
}

void Playhead::follow() {
    if (paused_) return;
    if (const std::optional<double> back = transport_.wrap(music_.playbackRow())) {
        seekTo(*back);
    } else if (!music_.isPlaying()) {
        paused_ = true;
        pausedRow_ = music_.playbackRow();
    }
}

void Playhead::replaceTransport(Transport transport) {
    transport_ = std::move(transport);
    if (paused_) pausedRow_ = std::min(pausedRow_, transport_.length());
}

}  // namespace zyr::studio
