#include "StudioOptions.h"

#include "PathText.h"

#include <charconv>
#include <cmath>
#include <string_view>

namespace zyr::studio {

const char* const kStudioUsage =
    "usage: zyr-studio [FOLDER | ARCHIVE] [--at ROW] [--size WxH]\n"
    "  FOLDER      a content folder, watched and reloaded on save (default: content)\n"
    "  ARCHIVE     a packed archive, played with transport and HUD\n"
    "  --at ROW    start paused at this row\n"
    "  --size WxH  render the picture at this size, scaled into the window\n"
    "  --help      this text\n"
    "Keys: F1 in the window.\n";

namespace {

std::optional<std::uint32_t> side(std::string_view text) {
    std::uint32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || at != end || value == 0 || value > kMaxPictureSide) return std::nullopt;
    return value;
}

void parseSize(const std::string& text, StudioOptions& options) {
    const std::size_t x = text.find('x');
    const auto width = x == std::string::npos ? std::nullopt : side(std::string_view(text).substr(0, x));
    const auto height = x == std::string::npos ? std::nullopt : side(std::string_view(text).substr(x + 1));
    if (!width || !height)
        throw StudioUsageError("--size wants WIDTHxHEIGHT, each 1 to " + std::to_string(kMaxPictureSide) + ", not '" +
                               text + "'");
    options.width = width;
    options.height = height;
}

void parseRow(const std::string& text, StudioOptions& options) {
    double row = 0.0;
    const char* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, row);
    // Rows are 32-bit in track files; anything beyond is no place in any song.
    if (text.empty() || error != std::errc() || at != end || !std::isfinite(row) || row < 0.0 || row > 2147483647.0)
        throw StudioUsageError("--at wants a row from 0, not '" + text + "'");
    options.at = row;
}

}  // namespace

StudioOptions parseStudioOptions(const std::vector<std::string>& arguments) {
    StudioOptions options;
    bool sourceGiven = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string argument = arguments[i];
        if (argument == "-h" || argument == "--help") {
            options.help = true;
            continue;
        }
        if (argument.size() < 2 || argument.compare(0, 2, "--") != 0 || argument == "--") {
            if (argument == "--") {
                if (i + 1 >= arguments.size()) continue;
                argument = arguments[++i];
            }
            if (sourceGiven) throw StudioUsageError("one folder or archive only, not also '" + argument + "'");
            if (argument.empty()) throw StudioUsageError("an empty folder or archive name");
            options.source = pathFromUtf8(argument);
            sourceGiven = true;
            continue;
        }
        std::string value;
        bool inlineValue = false;
        if (const std::size_t equals = argument.find('='); equals != std::string::npos) {
            value = argument.substr(equals + 1);
            argument.resize(equals);
            inlineValue = true;
        }
        if (argument != "--at" && argument != "--size") throw StudioUsageError("unknown option " + argument);
        if (!inlineValue) {
            if (i + 1 >= arguments.size()) throw StudioUsageError(argument + " wants a value");
            value = arguments[++i];
        }
        if (argument == "--at") {
            if (options.at) throw StudioUsageError("--at given twice");
            parseRow(value, options);
        } else {
            if (options.width) throw StudioUsageError("--size given twice");
            parseSize(value, options);
        }
    }
    return options;
}

}  // namespace zyr::studio
