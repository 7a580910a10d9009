#include "VideoMux.h"

#include "CaptureError.h"
#include "ChildProcess.h"
#include "FileWrite.h"
#include "PathText.h"
#include "StopRequest.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

namespace zyr {

namespace fs = std::filesystem;

namespace {

// H.264 at a constant quality x264 calls visually lossless, and AAC: what video
// sites and players take without a second thought. VP9's scale is its own.
constexpr std::array kFormats{
    VideoFormat{".mp4", "libx264", "aac", 51, 18, true},
    VideoFormat{".mkv", "libx264", "aac", 51, 18, true},
    VideoFormat{".webm", "libvpx-vp9", "libopus", 63, 31, false},
};
constexpr std::array<std::string_view, 9> kPresetNames{"ultrafast", "superfast", "veryfast", "faster", "fast",
                                                         "medium",    "slow",      "slower",   "veryslow"};

std::string lastLine(const std::string& text) {
    std::size_t end = text.size();
    while (end > 0) {
        while (end > 0 && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
        const std::size_t start = text.rfind('\n', end == 0 ? 0 : end - 1);
        const std::size_t from = start == std::string::npos ? 0 : start + 1;
        if (end > from) return text.substr(from, end - from);
        if (start == std::string::npos) break;
        end = start;
    }
    return {};
}

}  // namespace

const char* const kVideoExtensions = ".mp4, .mkv, .webm";
const char* const kVideoPresets = "ultrafast, superfast, veryfast, faster, fast, medium, slow, slower, veryslow";
// The encoder shares the cores with the renderer (a software one takes them
// all), so its time comes straight off the capture rate: x264's fastest preset
// costs about a quarter of veryfast's on the demo at 1920x1080, for files about
// half as large again at the same quality. --preset trades back.
const char* const kDefaultVideoPreset = "ultrafast";

const VideoFormat* videoFormatFor(const fs::path& video) {
    std::string extension = toUtf8(video.extension());
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const VideoFormat& format : kFormats)
        if (format.extension == extension) return &format;
    return nullptr;
}

bool isVideoPreset(std::string_view name) {
    return std::find(kPresetNames.begin(), kPresetNames.end(), name) != kPresetNames.end();
}

void checkEncoders(const fs::path& ffmpeg, const VideoFormat& format) {
    std::string listing;
    try {
        ChildProcess child;
        child.start({toUtf8(ffmpeg), "-hide_banner", "-loglevel", "error", "-encoders"}, ChildInput::Nothing);
        const ChildEnd end = child.wait(stopRequested);
        if (stopRequested()) throw CaptureError("stopped while asking ffmpeg for its encoders");
        listing = child.output();
        if (!end.succeeded())
            throw CaptureError(toUtf8(ffmpeg) + " could not list its encoders: " + lastLine(listing));
    } catch (const ProcessError& error) {
        throw CaptureError(error.what());
    }
    // Lines read " V....D libx264   description": flags, then the name.
    auto has = [&](std::string_view name) {
        std::size_t at = 0;
        while ((at = listing.find(name, at)) != std::string::npos) {
            const std::size_t end = at + name.size();
            const bool before = at > 0 && listing[at - 1] == ' ';
            const bool after = end == listing.size() || listing[end] == ' ' || listing[end] == '\n';
            if (before && after) return true;
            at = end;
        }
        return false;
    };
    std::string missing;
    for (std::string_view name : {format.videoEncoder, format.audioEncoder})
        if (!has(name)) missing += (missing.empty() ? "" : " and ") + std::string(name);
    if (!missing.empty())
        throw CaptureError(std::string(format.extension) + " video needs ffmpeg's " + missing +
                           " encoder, which the installed ffmpeg (" + toUtf8(ffmpeg) + ") lacks");
}

fs::path videoPartPath(const fs::path& video) {
    fs::path name = video.stem();
    name += ".part";
    name += video.extension();
    return video.parent_path() / name;
}

VideoEncoder::VideoEncoder(const fs::path& ffmpeg, const fs::path& video, const VideoFormat& format,
                           const VideoSettings& settings, std::uint32_t width, std::uint32_t height, int fps,
                           std::vector<std::uint8_t> wav)
    : video_(video),
      part_(videoPartPath(video)),
      frameBytes_(static_cast<std::size_t>(width) * height * 3),
      wav_(std::move(wav)) {
    if (fs::exists(video_)) throw CaptureError(toUtf8(video_) + " already exists; a video is never overwritten");
    if (fs::exists(part_))
        throw CaptureError(toUtf8(part_) + " already exists; remove it or choose another video name");

    try {
        const std::string sound = child_.addInput();
        const std::string crf = std::to_string(settings.crf.value_or(format.defaultCrf));
        std::vector<std::string> command{toUtf8(ffmpeg), "-hide_banner", "-loglevel", "error", "-nostats", "-n",
                                         // Frames: raw RGB, top row first, at the capture's rate.
                                         "-f", "rawvideo", "-pix_fmt", "rgb24", "-video_size",
                                         std::to_string(width) + "x" + std::to_string(height), "-framerate",
                                         std::to_string(fps), "-i", "pipe:0",
                                         // Sound: the WAV of the same range.
                                         "-f", "wav", "-i", sound, "-map", "0:v:0", "-map", "1:a:0", "-c:v",
                                         std::string(format.videoEncoder), "-crf", crf,
                                         // 4:2:0, the one every player decodes.
                                         "-pix_fmt", "yuv420p"};
        if (format.presets) {
            command.insert(command.end(), {"-preset", settings.preset.value_or(kDefaultVideoPreset)});
        } else {
            // VP9 holds the quality only with no bit rate target; row threads use the cores.
            command.insert(command.end(), {"-b:v", "0", "-row-mt", "1", "-deadline", "good", "-cpu-used", "4"});
        }
        command.insert(command.end(), {"-c:a", std::string(format.audioEncoder), "-b:a", "192k"});
        // The index up front, so a browser starts playing before the whole file is in.
        if (format.extension == ".mp4") command.insert(command.end(), {"-movflags", "+faststart"});
        command.push_back(toUtf8(part_));
        // Room for a few frames lets the renderer run ahead of a momentarily busy encoder.
        child_.start(command, ChildInput::Pipe, 1 << 20);
    } catch (const ProcessError& error) {
        throw CaptureError(error.what());
    }
    // Written without waiting on the frames: ffmpeg reads both inputs as it muxes.
    audio_ = std::jthread([this] {
        child_.writeTo(0, wav_);
        child_.closeInput(0);
    });
}

VideoEncoder::~VideoEncoder() {
    stop();
    if (!done_) {
        std::error_code ignored;
        fs::remove(part_, ignored);
    }
}

void VideoEncoder::stop() {
    child_.closeStandardInput();
    child_.wait([] { return true; });
    if (audio_.joinable()) audio_.join();
}

void VideoEncoder::failed() {
    child_.closeStandardInput();
    const ChildEnd end = child_.wait(stopRequested);
    if (audio_.joinable()) audio_.join();
    if (stopRequested()) throw CaptureError("stopped by " + stopRequestName() + "; ffmpeg was ended");
    const std::string message = lastLine(child_.output());
    const std::string said = message.empty() ? std::string() : ": " + message;
    if (end.kind == ChildEnd::Kind::Unknown)
        throw CaptureError("cannot learn how ffmpeg ended, so its video is not taken" + said);
    if (!end.succeeded()) throw CaptureError("ffmpeg " + describe(end) + said);
    throw CaptureError("ffmpeg ended before the last frame" + said);
}

void VideoEncoder::write(std::span<const std::uint8_t> rgb) {
    if (rgb.size() < frameBytes_) throw CaptureError("a video frame of the wrong size");
    if (finishing_) throw CaptureError("a frame written after the video was finished");
    if (!child_.write(rgb.first(frameBytes_), stopRequested)) failed();
}

void VideoEncoder::finish() {
    finishing_ = true;
    child_.closeStandardInput();
    const ChildEnd end = child_.wait(stopRequested);
    if (audio_.joinable()) audio_.join();
    if (stopRequested() || !end.succeeded()) failed();
    // From here on the video is finished work: whatever happens to its name,
    // it is never removed.
    done_ = true;
    try {
        placeNew(part_, video_);
    } catch (const FileError& error) {
        throw CaptureError(error.what());
    }
}

}  // namespace zyr
