#include "Soundtrack.h"

#include "ResourceArchive.h"

#include <stdexcept>

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
