// AudioLayer: the small audio library the soundtrack plays through.
//
// It offers one call for each operation the soundtrack needs of an audio
// library: device init and start, a stream created from an MP3 in memory (with
// an exact-length prescan), play, byte position of what is being heard, bytes
// to seconds, activity state, stream free, device free.
//
// Use:
//     audioInit(-1, 44100);
//     audioStart();
//     AudioStream s = audioStreamCreate(bytes.data(), 0, bytes.size(), kAudioPrescan);
//     audioChannelPlay(s, false);
//     double seconds = audioChannelBytes2Seconds(s, audioChannelGetPosition(s));
//     ...
//     audioStreamFree(s);
//     audioFree();
//
// Ownership: the memory handed to audioStreamCreate is borrowed and must stay
// alive and unchanged until audioStreamFree; the stream decodes from it as
// playback goes. One device and any number of streams per process.
//
// Failure: nothing throws. Bytes that do not decode give stream 0; every call on
// stream 0 (or on an unknown handle) does nothing, a position of 0 and a state of
// kAudioStopped. When no output device can be opened, audioInit falls back to a
// silent device that consumes audio at the real rate, so the playback clock still
// runs. All calls come from one thread; decoding and output run on the audio
// back end's own thread.
#pragma once

#include <cstddef>
#include <cstdint>

using AudioStream = std::uint32_t;

constexpr std::uint32_t kAudioPrescan = 0x20000;
constexpr int kAudioStopped = 0;
constexpr int kAudioPlaying = 1;

// device -1 is the default output device, 0 a silent one, n > 0 the n-th output.
bool audioInit(int device, unsigned frequency);
bool audioStart();
// Decodes the length bytes that start at memory + offset.
AudioStream audioStreamCreate(const void* memory, std::uint64_t offset, std::uint64_t length,
                              std::uint32_t flags);
// restart plays from the beginning; without it a playing stream carries on and a
// stream that reached its end stays there.
bool audioChannelPlay(AudioStream stream, bool restart);
// Bytes of decoded output (interleaved 16-bit PCM of the stream's own format)
// that have been heard: monotonic, never past the stream's end.
std::uint64_t audioChannelGetPosition(AudioStream stream);
double audioChannelBytes2Seconds(AudioStream stream, std::uint64_t bytes);
int audioChannelIsActive(AudioStream stream);
bool audioStreamFree(AudioStream stream);
bool audioFree();
