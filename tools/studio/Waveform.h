// Waveform: the music's loudness along the timeline, one peak per row, worked
// out where the frame loop does not wait for it (a song build's thread).
//
// Use:
//     std::vector<float> peaks = waveformPeaks(mp3, rowsPerSecond);   // off the frame thread
//     panel.setPeaks(std::move(peaks));
//     std::vector<float> same = rowPeaks(samples, channels, frequency, rowsPerSecond);
//
// A peak is the largest magnitude of any sample in its row, 0 to 1. The MP3
// is decoded as the player's audio layer decodes it (16-bit samples at the
// file's own rate and channels), a block at a time, so the whole song is never
// held as samples.
//
// Ownership: plain values; thread-safe (each call has a decoder of its own).
//
// Failure: bytes that do not decode give the peaks of what did (none for no
// audio at all); nothing throws but std::bad_alloc.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace zyr::studio {

std::vector<float> rowPeaks(std::span<const std::int16_t> samples, unsigned channels, unsigned frequency,
                            double rowsPerSecond);

std::vector<float> waveformPeaks(std::string_view mp3, double rowsPerSecond);

}  // namespace zyr::studio
