// The soundtrack's stream from memory, on the offline clock: create with the
// prescan, query it, move the position, decode everything, free.
#include "AudioLayer.h"
#include "FuzzSupport.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

// Decoding is linear in the input; this keeps one run to a few milliseconds.
constexpr std::size_t kLargestInput = 64 * 1024;

bool deviceReady() {
    static const bool ready = [] {
        audioUseOfflineClock(true);
        return audioInit(0, 44100) && audioStart();
    }();
    return ready;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kLargestInput || !deviceReady()) return 0;
    // The layer borrows the bytes for the stream's life; a copy of exactly
    // their size lets the address sanitizer see any read past the end.
    const std::vector<std::uint8_t> bytes(data, data + size);
    const AudioStream stream = audioStreamCreate(bytes.data(), 0, bytes.size(), kAudioPrescan);
    if (stream == 0) return 0;

    AudioInfo info;
    fuzzCheck(audioChannelGetInfo(stream, &info), "no format for a stream that opened");
    fuzzCheck(info.channels == 1 || info.channels == 2, "a channel count other than 1 or 2");
    const std::uint64_t length = audioChannelGetLength(stream);
    const std::uint64_t frameBytes = 2u * info.channels;
    fuzzCheck(length % frameBytes == 0, "a length of partial frames");
    const double seconds = audioChannelBytes2Seconds(stream, length);
    fuzzCheck(seconds >= 0.0, "a negative length in seconds");

    fuzzCheck(audioChannelPlay(stream, true), "a stream that does not play");
    audioSetPosition(stream, length / 2);
    fuzzCheck(audioChannelGetPosition(stream) <= length, "a position past the end");
    audioSetPosition(stream, audioChannelSeconds2Bytes(stream, seconds + 1.0));
    fuzzCheck(audioChannelGetPosition(stream) <= length, "a position past the end");
    audioChannelIsActive(stream);

    std::vector<std::int16_t> samples;
    fuzzCheck(audioStreamDecodeAll(stream, samples), "a known stream that does not decode");
    fuzzCheck(samples.size() % info.channels == 0, "samples of partial frames");
    fuzzCheck(audioStreamFree(stream), "free of a known stream failed");
    return 0;
}
