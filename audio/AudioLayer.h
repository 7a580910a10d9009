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
// The position is what the listener hears now: the output's own latency (its
// buffers, a sound server's, the device's, as far as the system reports them)
// is counted, so a start, a seek or a pause shows when it is heard. Between
// the output's reports it runs on smoothly, never backwards (HeardClock.h).
// The outputs themselves are in AudioOutput.h.
//
// Failure: nothing throws. Bytes that do not decode give stream 0; every call on
// stream 0 (or on an unknown handle) does nothing, a position of 0 and a state of
// kAudioStopped. When no output device can be opened, or the one in use fails
// for good, the layer carries on with a silent output that consumes audio at the
// real rate, so the playback clock still runs. All calls come from one thread;
// decoding and output run on a thread of the layer's own.
//
// Offline clock (authoring tools that render frames at chosen music positions):
//     audioUseOfflineClock(true);              // before audioInit, i.e. before the Soundtrack
//     ... audioInit, audioStreamCreate, audioChannelPlay as above ...
//     audioSetPosition(s, audioChannelSeconds2Bytes(s, 2.5));
// audioInit then opens no output device and starts no audio thread; streams
// decode nothing while "playing", and the position is only what audioSetPosition
// last set (whole frames, clamped to the stream's length). A playing stream whose
// position reaches its length ends, as in real playback. Everything else (seconds,
// activity state, free) behaves as with a device, so the soundtrack and whatever
// it clocks run their usual code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

using AudioStream = std::uint32_t;

constexpr std::uint32_t kAudioPrescan = 0x20000;
constexpr int kAudioStopped = 0;
constexpr int kAudioPlaying = 1;

// The decoded format of a stream: interleaved signed 16-bit samples.
struct AudioInfo {
    unsigned frequency = 0;
    unsigned channels = 0;
};

// Chooses the clock of the devices audioInit opens from now on: true for the
// offline clock. A device already initialised keeps the clock it has.
void audioUseOfflineClock(bool offline);

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
// that have been heard: monotonic (but for seeks and restarts), never past the
// stream's end. On the offline clock: what audioSetPosition set last.
std::uint64_t audioChannelGetPosition(AudioStream stream);
double audioChannelBytes2Seconds(AudioStream stream, std::uint64_t bytes);
int audioChannelIsActive(AudioStream stream);
// The nearest whole frame to seconds, as bytes; negative seconds give 0.
std::uint64_t audioChannelSeconds2Bytes(AudioStream stream, double seconds);
// Bytes of the whole decoded stream: exact when it was prescanned (or runs on
// the offline clock), the decoder's estimate otherwise.
std::uint64_t audioChannelGetLength(AudioStream stream);
bool audioChannelGetInfo(AudioStream stream, AudioInfo* info);
// Offline clock only: moves the position to bytes, rounded down to a whole frame
// and clamped to the length. False on a stream of a real device and on one that
// has ended (restart it with audioChannelPlay(stream, true)).
bool audioSetPosition(AudioStream stream, std::uint64_t bytes);
// The whole stream decoded from its start by a decoder of its own (the stream's
// playback is not disturbed): interleaved 16-bit samples in the stream's format,
// the same samples as any plain decode of the file. False, with samples emptied,
// for an unknown stream.
bool audioStreamDecodeAll(AudioStream stream, std::vector<std::int16_t>& samples);
bool audioStreamFree(AudioStream stream);
bool audioFree();

// Transport for authoring (the player never seeks or pauses), on every clock:
// a real device, the silent fallback and the offline clock alike.
//
// audioChannelSeek moves what is heard to bytes (rounded down to a whole frame,
// clamped to the length): the position reads exactly that at once, and output
// goes on from there. On a device what was playing fades out and the new
// position fades in over a few milliseconds, so a seek makes no click. A stream
// that had ended is stopped at the new position and plays again on
// audioChannelPlay(stream, false).
bool audioChannelSeek(AudioStream stream, std::uint64_t bytes);
// Stops a playing stream where it is heard now (fading out on a device);
// audioChannelPlay(stream, false) carries on from exactly that position. True
// when the stream is stopped afterwards; false for an unknown or ended stream.
bool audioChannelPause(AudioStream stream);
