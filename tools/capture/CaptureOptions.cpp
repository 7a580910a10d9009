#include "CaptureOptions.h"

#include "CaptureFiles.h"
#include "PathText.h"
#include "VideoMux.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>

namespace zyr {

const char* const kCaptureUsage =
    "usage: zyr-capture [ARCHIVE] [--out FOLDER] [--fps N] [--size WxH] [--from POS] [--to POS]\n"
    "                   [--video FILE] [--crf N] [--preset NAME] [--png-level N]\n"
    "  ARCHIVE      the demo's archive (default: zyr.dat in the current folder)\n"
    "  --out        folder for frame_NNNNNN.png and soundtrack.wav (created; must be empty\n"
    "               or hold only an earlier capture, whose files are replaced)\n"
    "  --fps        frames per second of music, 1..1000 (default 60)\n"
    "  --size       frame size in pixels (default 1280x720)\n"
    "  --from/--to  music range: seconds, a row (r768) or a bar (b24, 32 rows; bar 0 starts\n"
    "               the music) (default: all of it)\n"
    "  --video      also stream the frames with the sound into FILE through ffmpeg (on PATH):\n"
    "               .mp4 or .mkv (H.264 and AAC), .webm (VP9 and Opus); at least one of\n"
    "               --out and --video\n"
    "  --crf        video quality, 0 best (H.264: 0..51, default 18; VP9: 0..63, default 31)\n"
    "  --preset     H.264 speed against size: ultrafast .. veryslow (default ultrafast)\n"
    "  --png-level  PNG compression, 0 fastest (stored) .. 9 smallest (default 1)\n";

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
                throw UsageError("more than one archive given: '" + toUtf8(*archive) + "' and '" + argument + "'");
            if (argument.empty()) throw UsageError("an empty archive name");
            archive = pathFromUtf8(argument);
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
        static constexpr std::string_view kKnown[] = {"--out", "--fps",   "--size",  "--from",
                                                      "--to",  "--video", "--crf", "--preset", "--png-level"};
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
            out = pathFromUtf8(value);
        } else if (argument == "--fps") {
            options.fps = parseFps(value);
        } else if (argument == "--size") {
            parseSize(value, options);
        } else if (argument == "--from") {
            options.from = parsePosition(argument, value);
        } else if (argument == "--to") {
            options.to = parsePosition(argument, value);
        } else if (argument == "--crf") {
            int crf = 0;
            if (!parseNumber(value, crf) || crf < 0 || crf > 63)
                throw UsageError("--crf wants a whole number from 0 to 63, not '" + value + "'");
            options.crf = crf;
        } else if (argument == "--png-level") {
            int level = 0;
            if (!parseNumber(value, level) || level < 0 || level > kMaxPngLevel)
                throw UsageError("--png-level wants a whole number from 0 to " + std::to_string(kMaxPngLevel) +
                                 ", not '" + value + "'");
            options.pngLevel = level;
        } else if (argument == "--preset") {
            if (!isVideoPreset(value))
                throw UsageError("--preset wants one of " + std::string(kVideoPresets) + ", not '" + value + "'");
            options.preset = value;
        } else {
            if (value.empty()) throw UsageError("--video wants a file name");
            options.video = pathFromUtf8(value);
        }
    }

    if (!out && !options.video) throw UsageError("--out FOLDER or --video FILE is required");
    if (options.pngLevel && !out) throw UsageError("--png-level goes with --out");
    options.out = out;
    if (options.video) {
        const VideoFormat* format = videoFormatFor(*options.video);
        if (format == nullptr)
            throw UsageError("--video wants a file ending in " + std::string(kVideoExtensions) + ", not '" +
                             toUtf8(*options.video) + "'");
        if (options.crf && *options.crf > format->maxCrf)
            throw UsageError("--crf for " + std::string(format->extension) + " goes from 0 to " +
                             std::to_string(format->maxCrf));
        if (options.preset && !format->presets)
            throw UsageError("--preset is for H.264 video (.mp4, .mkv), not " + std::string(format->extension));
    } else if (options.crf || options.preset) {
        throw UsageError("--crf and --preset go with --video");
    }
    options.archive = archive ? *archive : std::filesystem::path("zyr.dat");
    if (options.to && *options.to <= options.from) throw UsageError("--to must come after --from");
    // The usual video encoders subsample colour by two in both directions.
    if (options.video && (options.width % 2 != 0 || options.height % 2 != 0))
        throw UsageError("--video wants an even width and height");
    return options;
}

}  // namespace zyr
