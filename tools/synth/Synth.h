// Renders a Song to 44.1 kHz 16-bit stereo: voices on per-instrument buses,
// kick-keyed ducking, reverb and echo sends, then a look-ahead limiter so the
// result never clips.
//
//     Song song = loadSong("content/song");
//     std::vector<std::int16_t> pcm = render(song);   // L, R, L, R ...; song.frameCount() frames
//
// The result is owned by the caller. Rendering does not fail for a Song that
// loadSong/parseSong returned (they refuse anything unplayable); it only
// throws std::bad_alloc when memory runs out. The same Song always gives the
// same samples: one thread, fixed-seed noise, and a fixed order of arithmetic.
#pragma once

#include "Song.h"

#include <cstdint>
#include <vector>

namespace zyr::synth {

inline constexpr int kChannels = 2;

std::vector<std::int16_t> render(const Song& song);

}  // namespace zyr::synth
