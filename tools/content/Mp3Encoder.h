// The soundtrack's MP3 encoding: libmp3lame in this process, set up the way
// the lame program encodes a WAV file with `lame --quiet -b 192` (constant
// 192 kbit/s, ReplayGain analysis, the Info frame with its LAME tag that
// gapless decoders use), so the bytes are the ones that command writes.
//
// Use:
//     std::string mp3 = encodeMp3(pcm);   // 44.1 kHz stereo, L R L R ...
//
// Ownership: nothing kept between calls; each call has its own encoder, so
// calls may run on several threads at once.
//
// Failure: ContentError naming the encoder when libmp3lame refuses the
// settings or fails while encoding.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace zyr::content {

std::string encodeMp3(std::span<const std::int16_t> interleavedStereo);

}  // namespace zyr::content
