// CaptureOptions: the command line of zyr-capture, read into plain values.
//
//     zyr-capture [ARCHIVE] [--out FOLDER] [--fps N] [--size WxH] [--from POS] [--to POS]
//                 [--video FILE] [--crf N] [--preset NAME] [--png-level N]
//
// At least one of --out and --video; --crf and --preset only with --video.
//
// POS is seconds (1.5), a row (r768) or a bar (b24); rows and bars become
// seconds here, on the player's row clock, so the rest of the tool only sees
// seconds.
//
// Use: parseCaptureOptions(arguments without the program name); the result is
// checked in itself (ranges, even sizes for video), not against the archive:
// the music's length is only known once the soundtrack is open.
//
// Ownership: plain values.
//
// Failure: throws UsageError with a one-line reason for anything malformed,
// missing or repeated; the tool prints it with kCaptureUsage and exits 2.
#pragma once

#include "Tempo.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace zyr {

extern const char* const kCaptureUsage;

// Bounds kept by the parser: beyond them no GL implementation we know renders
// a single framebuffer, and rates that high are no video anyone plays.
constexpr std::uint32_t kMaxCaptureSide = 16384;
constexpr int kMaxCaptureFps = 1000;

// The player's row clock: 170 beats per minute, 8 rows a beat, 4 beats a bar.
// Worked as the soundtrack works a row out of seconds, so a row given here
// lands where the music reports that row.
constexpr float kCaptureBeatsPerMinute = kBeatsPerMinute;
constexpr int kCaptureRowsPerBar = 32;
constexpr double captureRowSeconds(double row) {
    return row / ((static_cast<double>(kCaptureBeatsPerMinute) / 60.0) * 8.0);
}

struct CaptureOptions {
    std::filesystem::path archive;  // zyr.dat in the current folder unless named
    std::optional<std::filesystem::path> out;  // PNG frames and the WAV
    int fps = 60;
    std::uint32_t width = 1280;
    std::uint32_t height = 720;
    double from = 0.0;  // seconds, whichever way it was given
    std::optional<double> to;  // the music's end unless given
    std::optional<std::filesystem::path> video;
    std::optional<int> crf;             // the video format's default unless given
    std::optional<std::string> preset;  // the default preset unless given
    std::optional<int> pngLevel;        // kDefaultPngLevel unless given; only with --out
    bool help = false;  // -h / --help: print the usage, do nothing else
};

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

CaptureOptions parseCaptureOptions(const std::vector<std::string>& arguments);

}  // namespace zyr
