// The WAV container for the synth's output: 44.1 kHz, 16-bit PCM, stereo.
//
//     std::string bytes = encodeWav(pcm);          // header + little-endian samples
//     writeFileAtomically("out.wav", bytes);        // all or nothing
//
// encodeWav returns an owned byte string. writeFileAtomically writes a
// temporary file next to the target and renames it into place, so a failed
// write never leaves a half file; it throws std::runtime_error naming the
// path on any failure.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace zyr::synth {

std::string encodeWav(const std::vector<std::int16_t>& interleavedStereo);
void writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

}  // namespace zyr::synth
