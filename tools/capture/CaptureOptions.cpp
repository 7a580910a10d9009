#include "CaptureOptions.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>

namespace zyr {

const char* const kCaptureUsage =
    "usage: zyr-capture [ARCHIVE] --out FOLDER [--fps N] [--size WxH] [--from POS] [--to POS] [--video FILE.mp4]\n"
    "  ARCHIVE      the demo's archive (default: zyr.dat in the current folder)\n"
    "  --out        folder for frame_NNNNNN.png and soundtrack.wav (created; must be empty\n"
    "               or hold only an earlier capture, whose files are replaced)\n"
    "  --fps        frames per second of music, 1..1000 (default 60)\n"
    "  --size       frame size in pixels (default 1280x720)\n"
    "  --from/--to  music range: seconds, a row (r768) or a bar (b24, 32 rows; bar 0 starts\n"
    "               the music) (default: all of it)\n"
    "  --video      also mux frames and sound into FILE.mp4 with ffmpeg (needs ffmpeg on PATH)\n";

namespace {

// from_chars: whole text or nothing, and no locale deciding the decimal point.
template <typename Number>
bool parseNumber(std::string_view text, Number& value) {
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && stop == end;
}

int parseFps(const std::string& text) {
    int fps = 0;
    if (!parseNumber(text, fps) || fps < 1 || fps > kMaxCaptureFps)
        throw UsageError("--fps wants a whole number from 1 to " + std::to_string(kMaxCaptureFps) + ", not '" +
                         text + "'");
    return fps;
}

void parseSize(const std::string& text, CaptureOptions& options) {
    const std::size_t x = text.find('x');
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    const std::string_view view(text);
    if (x == std::string::npos || !parseNumber(view.substr(0, x), width) ||
        !parseNumber(view.substr(x + 1), height) || width == 0 || height == 0 || width > kMaxCaptureSide ||
        height > kMaxCaptureSide)
        throw UsageError("--size wants WIDTHxHEIGHT, each 1 to " + std::to_string(kMaxCaptureSide) + ", not '" +
                         text + "'");
    options.width = width;
    options.height = height;
}

// A music position: seconds, a row (r768) or a bar (b24, from bar 0 at row 0).
// Rows and bars are whole numbers without sign or exponent and stay within the
// 32-bit rows the tracks use, so an overflow is a usage error, not a wrap.
double parsePosition(const std::string& name, const std::string& text) {
    const auto refuse = [&]() -> double {
        throw UsageError(name + " wants seconds (a number, 0 or more), a row (r768) or a bar (b24), not '" + text +
                         "'");
    };
    if (!text.empty() && (text[0] == 'r' || text[0] == 'b')) {
        std::uint32_t count = 0;
        if (!parseNumber(std::string_view(text).substr(1), count)) return refuse();
        const std::uint64_t row = text[0] == 'b' ? std::uint64_t{count} * kCaptureRowsPerBar : count;
        if (row > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) return refuse();
        return captureRowSeconds(static_cast<double>(row));
    }
    double seconds = 0.0;
    if (!parseNumber(text, seconds) || !std::isfinite(seconds) || seconds < 0.0) return refuse();
    return seconds;
}

}  // namespace

CaptureOptions parseCaptureOptions(const std::vector<std::string>& arguments) {
    CaptureOptions options;
    std::optional<std::filesystem::path> archive;
    std::optional<std::filesystem::path> out;
    std::vector<std::string> seen;

    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string argument = arguments[i];
        if (argument == "-h" || argument == "--help") {
            options.help = true;
            return options;
        }
        if (argument.size() < 2 || argument.compare(0, 2, "--") != 0) {
            if (!argument.empty() && argument[0] == '-' && argument != "-")
                throw UsageError("unknown option '" + argument + "'");
            if (archive)
                throw UsageError("more than one archive given: '" + archive->string() + "' and '" + argument + "'");
            if (argument.empty()) throw UsageError("an empty archive name");
            archive = argument;
            continue;
        }

        // --name VALUE and --name=VALUE are the same.
        std::string value;
        bool hasValue = false;
        if (const std::size_t equals = argument.find('='); equals != std::string::npos) {
            value = argument.substr(equals + 1);
            argument.resize(equals);
            hasValue = true;
        }
        static constexpr std::string_view kKnown[] = {"--out", "--fps", "--size", "--from", "--to", "--video"};
        bool known = false;
        for (std::string_view name : kKnown) known = known || argument == name;
        if (!known) throw UsageError("unknown option '" + argument + "'");
        for (const std::string& earlier : seen)
            if (earlier == argument) throw UsageError(argument + " given twice");
        seen.push_back(argument);
        if (!hasValue) {
            if (i + 1 >= arguments.size()) throw UsageError(argument + " wants a value");
            value = arguments[++i];
        }

        if (argument == "--out") {
            if (value.empty()) throw UsageError("--out wants a folder");
            out = value;
        } else if (argument == "--fps") {
            options.fps = parseFps(value);
        } else if (argument == "--size") {
            parseSize(value, options);
        } else if (argument == "--from") {
            options.from = parsePosition(argument, value);
        } else if (argument == "--to") {
            options.to = parsePosition(argument, value);
        } else {
            if (value.empty()) throw UsageError("--video wants a file name");
            options.video = value;
        }
    }

    if (!out) throw UsageError("--out FOLDER is required");
    options.out = *out;
    options.archive = archive ? *archive : std::filesystem::path("zyr.dat");
    if (options.to && *options.to <= options.from) throw UsageError("--to must come after --from");
    // The usual video encoders subsample colour by two in both directions.
    if (options.video && (options.width % 2 != 0 || options.height % 2 != 0))
        throw UsageError("--video wants an even width and height");
    return options;
}

}  // namespace zyr
