// The text form of a set of sync tracks, which authors write and zyr-track
// compiles:
//
//     # camera flight
//     track "cam:pos.x"
//     0     0        linear
//     64    1.5      smooth   # ease into the drop
//     128   -0       step
//
// A track header `track "NAME"` (NAME in double quotes; \" \\ and \xHH escape
// bytes) starts a track; each following key line holds ROW VALUE INTERPOLATION.
// Rows are int32, strictly ascending; values are float32 written as decimals,
// inf, -inf, nan or nan:0xHHHHHHHH (the exact bits); interpolation is step,
// linear, smooth or ramp. '#' starts a comment to the end of the line.
//
// Use:
//     zyr::TrackSetParser parser;
//     parser.parse(text, "tracks.txt");            // any number of files
//     if (parser.errors().empty()) use(parser.tracks());
//     std::string text = zyr::formatTracks(tracks);   // exact inverse for values
//
// Ownership: the parser owns the tracks it has read.
//
// Failure: nothing throws; every problem becomes one "FILE:LINE: reason" line in
// errors(), and parsing goes on to report the rest. tracks() is only a valid set
// while errors() is empty.
#pragma once

#include "Track.h"

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zyr {

// Shortest decimal that reads back to the same float; NaN as nan:0xHHHHHHHH.
std::string formatValue(float value);
// The float a value token denotes, or nullopt with the reason in why.
std::optional<float> parseValue(std::string_view token, std::string& why);

// NAME in the double quotes of a track header; parses back to the same bytes.
std::string quoteTrackName(std::string_view name);

// Track headers and key lines, one blank line between tracks.
std::string formatTracks(const std::vector<Track>& tracks);

// text (one file of track texts) with the blocks of the given tracks rewritten
// in the layout formatTracks writes, and the given tracks the text lacks added
// at its end; every other byte (other blocks, comments, blank lines between
// blocks) stays as it was. A block runs from its header to its last key line.
// nullopt, with the parser's first error in why, for text that does not parse:
// its blocks cannot be told apart then.
std::optional<std::string> rewriteTracks(std::string_view text, const std::vector<Track>& tracks,
                                         const std::string& file, std::string& why);

class TrackSetParser {
public:
    void parse(std::string_view text, const std::string& file);

    const std::vector<Track>& tracks() const { return tracks_; }
    const std::vector<std::string>& errors() const { return errors_; }

private:
    struct Place {
        std::string file;
        std::size_t line;
    };

    void error(const std::string& file, std::size_t line, const std::string& reason);
    void header(std::string_view rest, const std::string& file, std::size_t line);
    void key(std::string_view text, const std::string& file, std::size_t line);

    std::vector<Track> tracks_;
    std::vector<std::string> errors_;
    std::unordered_map<std::string, Place> seen_;
    // Index of the track key lines go to; none before the first header.
    std::optional<std::size_t> current_;
    // Keys after a refused header are still checked, but not blamed on it again.
    bool inBadTrack_ = false;
};

}  // namespace zyr
