// Soundtrack: the music, played from memory, and the presentation's only clock.
//
// Use:
//     Soundtrack music(archive, "soundtrack.mp3", 170.0f);   // device up, not playing
//     music.play();
//     double row = music.playbackRow();       // 8 rows per beat
//     while (music.isPlaying()) { ... }
//
// Ownership: the soundtrack owns the compressed music bytes, the stream that
// decodes from them and the audio device; destruction frees the stream, then the
// device, then the bytes. The archive is only used during construction.
//
// Authoring transport (the player uses none of it):
//     music.pause();                          // stays where it is heard now
//     music.seekToRow(64.0);                  // playbackRow() is now >= 64 by less than a frame
//     music.play();                           // carries on from there
//     music.replaceMusic(std::move(mp3));     // same row, same playing state, new song
//
// Failure: a missing entry throws std::runtime_error("Unable to open soundtrack
// file") after the audio device was initialised; the device is released again
// before the exception leaves. Bytes that do not decode are
// not reported: the stream is 0, play does nothing and isPlaying stays false.
#pragma once

#include "AudioLayer.h"

#include <cstdint>
#include <string>
#include <vector>

class ResourceArchive;

class Soundtrack {
public:
    Soundtrack(ResourceArchive& archive, const std::string& entryName, float bpm);
    ~Soundtrack();

    Soundtrack(const Soundtrack&) = delete;
    Soundtrack& operator=(const Soundtrack&) = delete;

    void play();
    double playbackSeconds() const;
    // ((double)bpm / 60.0) * 8.0 * playbackSeconds(), in this order.
    double playbackRow() const;
    bool isPlaying() const;

    // Stops where the music is heard now; play() carries on from there.
    void pause();
    // Moves to the first sample frame whose playbackRow() is not below row
    // (clamped to the music's ends), so every key on that row is reached. False
    // when there is no stream.
    bool seekToRow(double row);
    // Length of the music in rows; 0 without a stream.
    double lengthRows() const;
    // Plays mp3 in place of the music at the current row, playing if the old one
    // was. False (the old music untouched) for bytes that do not decode.
    bool replaceMusic(std::vector<std::uint8_t> mp3);

    AudioStream stream() const { return stream_; }
    float bpm() const { return bpm_; }

private:
    std::vector<std::uint8_t> bytes_;
    AudioStream stream_ = 0;
    float bpm_ = 0.0f;
};
