// CaptureOptions: the command line of zyr-capture, read into plain values.
//
//     zyr-capture [ARCHIVE] --out FOLDER [--fps N] [--size WxH] [--from S] [--to S] [--video FILE.mp4]
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

struct CaptureOptions {
    std::filesystem::path archive;  // zyr.dat in the current folder unless named
    std::filesystem::path out;
    int fps = 60;
    std::uint32_t width = 1280;
    std::uint32_t height = 720;
    double from = 0.0;
    std::optional<double> to;  // the music's end unless given
    std::optional<std::filesystem::path> video;
    bool help = false;  // -h / --help: print the usage, do nothing else
};

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

CaptureOptions parseCaptureOptions(const std::vector<std::string>& arguments);

}  // namespace zyr
