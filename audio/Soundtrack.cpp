#include "Soundtrack.h"

#include "ResourceArchive.h"

#include <cmath>
#include <stdexcept>
#include <utility>

namespace {

// Releases the audio device if construction does not get to the end: a throwing
// constructor runs no destructor, and the device would otherwise stay open for
// the rest of the process.
class DeviceGuard {
public:
    DeviceGuard() = default;
    ~DeviceGuard() {
        if (armed_) audioFree();
    }
    DeviceGuard(const DeviceGuard&) = delete;
    DeviceGuard& operator=(const DeviceGuard&) = delete;

    void release() { armed_ = false; }

private:
    bool armed_ = true;
};

}  // namespace

Soundtrack::Soundtrack(ResourceArchive& archive, const std::string& entryName, float bpm) {
    // Results not checked: without a device the stream cannot be created either,
    // which the caller sees as a soundtrack that is not playing.
    audioInit(-1, 44100);
    DeviceGuard device;
    audioStart();

    ArchiveFile* file = archive.openFile(entryName);
    if (file == nullptr) throw std::runtime_error("Unable to open soundtrack file");
    bytes_ = archive.readBytes(file);
    archive.closeFile(file);

    // The stream reads straight from bytes_, which therefore never changes or
    // moves while the stream exists (the class can be neither copied nor moved).
    stream_ = audioStreamCreate(bytes_.data(), 0, bytes_.size(), kAudioPrescan);
    bpm_ = bpm;
    device.release();
}

Soundtrack::~Soundtrack() {
    audioStreamFree(stream_);
    audioFree();
    // bytes_ goes with the members, after the stream that read from it.
}

void Soundtrack::play() { audioChannelPlay(stream_, false); }

double Soundtrack::playbackSeconds() const {
    const std::uint64_t position = audioChannelGetPosition(stream_);
    return audioChannelBytes2Seconds(stream_, position);
}

double Soundtrack::playbackRow() const { return (static_cast<double>(bpm_) / 60.0) * 8.0 * playbackSeconds(); }

bool Soundtrack::isPlaying() const { return audioChannelIsActive(stream_) == kAudioPlaying; }

void Soundtrack::pause() { audioChannelPause(stream_); }

bool Soundtrack::seekToRow(double row) {
    AudioInfo info;
    if (!audioChannelGetInfo(stream_, &info)) return false;
    const std::uint64_t frameBytes = std::uint64_t{info.channels} * 2;
    const std::uint64_t lastFrame = audioChannelGetLength(stream_) / frameBytes;
    const double rowsPerSecond = (static_cast<double>(bpm_) / 60.0) * 8.0;
    // The row of a frame as playbackRow() computes it, operation for operation.
    const auto rowOf = [&](std::uint64_t frame) {
        return rowsPerSecond * audioChannelBytes2Seconds(stream_, frame * frameBytes);
    };
    const double estimate = std::ceil(row / rowsPerSecond * static_cast<double>(info.frequency));
    std::uint64_t frame = 0;
    if (estimate > 0.0) frame = estimate >= static_cast<double>(lastFrame) ? lastFrame : static_cast<std::uint64_t>(estimate);
    // Rounding in either direction is settled against the clock's own
    // arithmetic: the first frame at or after the row, never one before it.
    while (frame < lastFrame && rowOf(frame) < row) ++frame;
    while (frame > 0 && rowOf(frame - 1) >= row) --frame;
    return audioChannelSeek(stream_, frame * frameBytes);
}

double Soundtrack::lengthRows() const {
    return (static_cast<double>(bpm_) / 60.0) * 8.0 * audioChannelBytes2Seconds(stream_, audioChannelGetLength(stream_));
}

bool Soundtrack::replaceMusic(std::vector<std::uint8_t> mp3) {
    const AudioStream fresh = audioStreamCreate(mp3.data(), 0, mp3.size(), kAudioPrescan);
    if (fresh == 0) return false;
    const double row = playbackRow();
    const bool playing = isPlaying();
    const AudioStream old = stream_;
    stream_ = fresh;
    seekToRow(row);
    if (playing) audioChannelPlay(stream_, false);
    audioStreamFree(old);
    // The new stream reads from mp3's buffer, which the swap hands to bytes_
    // without moving it; the old bytes go with mp3, after their stream.
    bytes_.swap(mp3);
    return true;
}
