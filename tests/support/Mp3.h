// MP3 files for tests, encoded with lame from generated tones.
//
//     const std::string& mono = toneMp3(1.0);                  // 44.1 kHz mono, 440 Hz
//     const std::string& wide = toneMp3(2.0, 440.0, {22050, 2});  // 22.05 kHz stereo
//
// Each file is encoded once per process and kept to its end (lame is slow next to
// a test), so the returned bytes may be lent to a player for as long as needed.
// lame writes its gapless header, so a decoder that honours it gives back exactly
// round(seconds * sampleRate) frames. Encoding failures throw std::runtime_error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ToneFormat {
    int sampleRate = 44100;
    // 1 or 2. A stereo tone has the given frequency on the left and 1.5 times it on
    // the right, so swapped or merged channels show.
    int channels = 1;
};

// A mono 44.1 kHz MP3 of the given length holding a sine tone; bytes of the file.
// Made once per (seconds, frequency) in a process and reused.
const std::string& toneMp3(double seconds, double frequency = 440.0);
// The same in another sample rate and channel count.
const std::string& toneMp3(double seconds, double frequency, ToneFormat format);

// Interleaved 16-bit samples as the bytes of a WAV file.
std::string wavBytes(const std::vector<std::int16_t>& samples, ToneFormat format);
// A WAV file encoded by lame at 128 kbit/s, as the content's soundtrack is.
std::string mp3FromWav(const std::string& wav, ToneFormat format);
