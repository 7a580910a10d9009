// The track text form: parse any text; what parses formats back to text that
// parses to the same tracks (values bit for bit), and formats to the same
// text again. The binary form of each track decodes to the same keys, and
// each name survives its trip through the archive entry name.
#include "FuzzSupport.h"
#include "Track.h"
#include "TrackText.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace {

bool sameKeys(const std::vector<zyr::TrackKey>& a, const std::vector<zyr::TrackKey>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].row != b[i].row || a[i].type != b[i].type ||
            std::bit_cast<std::uint32_t>(a[i].value) != std::bit_cast<std::uint32_t>(b[i].value))
            return false;
    }
    return true;
}

bool sameTracks(const std::vector<zyr::Track>& a, const std::vector<zyr::Track>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].name != b[i].name || !sameKeys(a[i].keys, b[i].keys)) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    zyr::TrackSetParser parser;
    parser.parse(text, "fuzz.txt");
    if (!parser.errors().empty()) return 0;

    const std::string formatted = zyr::formatTracks(parser.tracks());
    zyr::TrackSetParser again;
    again.parse(formatted, "formatted.txt");
    fuzzCheck(again.errors().empty(), "formatted tracks do not parse");
    fuzzCheck(sameTracks(parser.tracks(), again.tracks()), "formatted tracks parse to other tracks");
    fuzzCheck(zyr::formatTracks(again.tracks()) == formatted, "formatting is not stable");

    for (const zyr::Track& track : parser.tracks()) {
        const std::string file = zyr::encodeTrackFile(track.keys);
        std::string error;
        const auto decoded = zyr::decodeTrackFile(
            std::span(reinterpret_cast<const std::uint8_t*>(file.data()), file.size()), error);
        fuzzCheck(decoded.has_value(), "an encoded track does not decode");
        fuzzCheck(sameKeys(decoded->keys, track.keys), "an encoded track decodes to other keys");
        if (!zyr::trackNameProblem(track.name)) {
            const auto name = zyr::trackNameFromEntry(zyr::trackEntryName(track.name));
            fuzzCheck(name && *name == track.name, "a compilable name does not come back from its entry");
        }
    }
    return 0;
}
