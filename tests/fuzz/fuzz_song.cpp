// The song text: parse any text; a song that parses and lasts a second at
// most is rendered, and gives exactly its frames.
#include "FuzzSupport.h"
#include "Song.h"
#include "Synth.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace {

// A bar at the fastest tempo (300) lasts 0.8 s; nothing shorter parses.
constexpr std::int64_t kLongestRender = zyr::synth::kFramesPerSecond;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    zyr::synth::Song song;
    try {
        song = zyr::synth::parseSong(text, "fuzz.song");
    } catch (const zyr::synth::SongError& error) {
        fuzzCheck(error.file() == "fuzz.song", "an error names another file");
        return 0;
    }
    const std::int64_t frames = song.frameCount();
    fuzzCheck(frames >= 0, "a negative length");
    if (frames > kLongestRender) return 0;
    const std::vector<std::int16_t> pcm = zyr::synth::render(song);
    fuzzCheck(pcm.size() == static_cast<std::size_t>(frames) * zyr::synth::kChannels, "not the song's frames");
    return 0;
}
