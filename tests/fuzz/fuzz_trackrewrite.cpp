// rewriteTracks, as zyr-track and the studio save an edited track into its
// text: parse any text, edit one of its tracks (or add one it lacks), rewrite,
// and parse again. The edit is there, every other track is as it was, and the
// text around the edited block is unchanged byte for byte: the block (from its
// header to its last key line) is replaced by the formatted track, or a new
// track is appended after at most a line break and one blank line.
//
// Input (FuzzedDataProvider): the text first; from the end, which track to
// edit or whether to add one, and the new keys.
#include "FuzzSupport.h"
#include "Track.h"
#include "TrackText.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace {

bool sameTrack(const zyr::Track& a, const zyr::Track& b) {
    if (a.name != b.name || a.keys.size() != b.keys.size()) return false;
    for (std::size_t i = 0; i < a.keys.size(); ++i) {
        if (a.keys[i].row != b.keys[i].row || a.keys[i].type != b.keys[i].type ||
            std::bit_cast<std::uint32_t>(a.keys[i].value) != std::bit_cast<std::uint32_t>(b.keys[i].value))
            return false;
    }
    return true;
}

std::vector<zyr::Track> parse(std::string_view text, bool& ok) {
    zyr::TrackSetParser parser;
    parser.parse(text, "fuzz.txt");
    ok = parser.errors().empty();
    return parser.tracks();
}

// What was replaced of the original text: one block of exactly the old track,
// starting at its header and ending with a key line (or the header itself).
bool isTheOldBlock(std::string_view replaced, const zyr::Track& old) {
    bool ok = false;
    const std::vector<zyr::Track> tracks = parse(replaced, ok);
    if (!ok || tracks.size() != 1 || !sameTrack(tracks[0], old)) return false;
    std::string_view first = replaced.substr(0, replaced.find('\n'));
    while (!first.empty() && (first.front() == ' ' || first.front() == '\t')) first.remove_prefix(1);
    if (!first.starts_with("track")) return false;
    std::string_view last = replaced;
    while (!last.empty() && (last.back() == '\n' || last.back() == '\r')) last.remove_suffix(1);
    last = last.substr(last.rfind('\n') == std::string_view::npos ? 0 : last.rfind('\n') + 1);
    while (!last.empty() && (last.front() == ' ' || last.front() == '\t')) last.remove_prefix(1);
    return !last.empty() && last.front() != '#';
}

// Somewhere the formatted block sits with the original's own bytes before it
// and after it, and what it stands for in the original is the old block.
bool replacedInPlace(std::string_view text, std::string_view out, std::string_view block, const zyr::Track& old) {
    for (std::size_t at = out.find(block); at != std::string_view::npos; at = out.find(block, at + 1)) {
        const std::size_t tail = out.size() - at - block.size();
        if (at + tail > text.size()) continue;
        if (text.substr(0, at) != out.substr(0, at)) continue;
        if (text.substr(text.size() - tail) != out.substr(at + block.size())) continue;
        if (isTheOldBlock(text.substr(at, text.size() - tail - at), old)) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::uint8_t pick = input.ConsumeIntegral<std::uint8_t>();
    std::vector<zyr::TrackKey> keys;
    std::int64_t row = input.ConsumeIntegral<std::int32_t>();
    const int count = input.ConsumeIntegralInRange<int>(0, 6);
    for (int i = 0; i < count && row <= std::numeric_limits<std::int32_t>::max(); ++i) {
        const float value = std::bit_cast<float>(input.ConsumeIntegral<std::uint32_t>());
        const auto type = static_cast<std::int8_t>(input.ConsumeIntegralInRange<int>(0, 3));
        keys.push_back({static_cast<std::int32_t>(row), value, type});
        row += 1 + input.ConsumeIntegral<std::uint16_t>();
    }
    const std::string text = input.ConsumeRemainingBytesAsString();

    bool ok = false;
    const std::vector<zyr::Track> before = parse(text, ok);
    if (!ok) return 0;
    const bool adding = pick >= before.size();
    const zyr::Track edited{adding ? "added " + std::to_string(pick) : before[pick].name, keys};
    if (adding) {
        for (const zyr::Track& track : before)
            if (track.name == edited.name) return 0;
    }

    std::string why;
    const std::optional<std::string> out = zyr::rewriteTracks(text, {edited}, "fuzz.txt", why);
    fuzzCheck(out.has_value(), "a text that parses was not rewritten");
    const std::vector<zyr::Track> after = parse(*out, ok);
    fuzzCheck(ok, "the rewritten text does not parse");
    fuzzCheck(after.size() == before.size() + (adding ? 1 : 0), "the rewrite changed the number of tracks");
    for (std::size_t i = 0; i < before.size(); ++i) {
        const zyr::Track& expected = !adding && i == pick ? edited : before[i];
        fuzzCheck(sameTrack(after[i], expected), "a track reads otherwise after the rewrite");
    }
    const std::string block = zyr::formatTracks({edited});
    if (adding) {
        fuzzCheck(sameTrack(after.back(), edited), "the added track is not the last");
        fuzzCheck(out->starts_with(text) && out->ends_with(block), "the added track is not appended after the text");
        const std::string_view between = std::string_view(*out).substr(text.size(), out->size() - text.size() - block.size());
        fuzzCheck(between.find_first_not_of('\n') == std::string_view::npos && between.size() <= 2,
                  "more than a line break and a blank line before the added track");
    } else {
        fuzzCheck(replacedInPlace(text, *out, block, before[pick]), "bytes outside the edited block changed");
    }
    return 0;
}
