// StudioOptions: the command line of zyr-studio, read into plain values.
//
//     zyr-studio [FOLDER | ARCHIVE] [--at ROW] [--size WxH] [--help]
//
// Use: parseStudioOptions(arguments without the program name). Whether the
// source is a folder or an archive is decided when it is opened, not here.
//
// Ownership: plain values.
//
// Failure: throws StudioUsageError with a one-line reason for anything
// malformed, unknown or repeated; the tool prints it and exits 2.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace zyr::studio {

extern const char* const kStudioUsage;

// Larger pictures than this no GL implementation we know renders in one piece.
constexpr std::uint32_t kMaxPictureSide = 16384;

struct StudioOptions {
    std::filesystem::path source = "content";  // a content folder or an archive
    std::optional<double> at;                  // start paused at this row
    std::optional<std::uint32_t> width;        // picture size; the window's unless given
    std::optional<std::uint32_t> height;
    bool help = false;
};

class StudioUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

StudioOptions parseStudioOptions(const std::vector<std::string>& arguments);

}  // namespace zyr::studio
