#include "CaptureTool.h"

#include "AudioLayer.h"
#include "CaptureFiles.h"
#include "CaptureOptions.h"
#include "CaptureProgress.h"
#include "CaptureSession.h"
#include "FramePipeline.h"
#include "PathText.h"
#include "ResourceArchive.h"
#include "StopRequest.h"
#include "ToolConsole.h"
#include "VideoMux.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <exception>
#include <optional>
#include <span>
#include <thread>

namespace zyr {

namespace fs = std::filesystem;

namespace {

constexpr const char* kMusicEntry = "soundtrack.mp3";

std::string secondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", seconds);
    return text;
}

// Checked between frames and between phases: what is on disk then is whole.
void throwIfStopped() {
    if (!stopRequested()) return;
    throw CaptureError("stopped by " + stopRequestName());
}

void capture(const CaptureOptions& options, std::FILE* out, std::FILE* err) {
    // Everything that can be refused is refused before the first frame: a long
    // render should not end in an error that was known at the start.
    std::optional<fs::path> ffmpeg;
    const VideoFormat* format = nullptr;
    if (options.video) {
        format = videoFormatFor(*options.video);
        if (format == nullptr) throw CaptureError("no video format for " + toUtf8(*options.video));
        ffmpeg = findOnPath("ffmpeg");
        if (!ffmpeg) throw CaptureError("--video needs ffmpeg, and there is no ffmpeg on PATH");
        if (fs::exists(*options.video))
            throw CaptureError(toUtf8(*options.video) + " already exists; a video is never overwritten");
        const fs::path part = videoPartPath(*options.video);
        if (fs::exists(part)) throw CaptureError(toUtf8(part) + " already exists; remove it or choose another video name");
        checkEncoders(*ffmpeg, *format);
    }

    if (!fs::is_regular_file(options.archive)) throw CaptureError("no archive at " + toUtf8(options.archive));
    ResourceArchive archive(options.archive);
    if (!archive.isOpen()) throw CaptureError(toUtf8(options.archive) + " is not a zip archive");
    if (ArchiveFile* music = archive.openFile(kMusicEntry)) archive.closeFile(music);
    else throw CaptureError(toUtf8(options.archive) + " has no " + kMusicEntry);
    if (options.out) checkOutputFolder(*options.out);

    CaptureSession session(archive, options.width, options.height);
    const double length = session.musicSeconds();
    // Half a sample of slack: "--to 12" must be the end of a 12-second song
    // whatever rounding its length in seconds went through.
    AudioInfo info;
    audioChannelGetInfo(session.stream(), &info);
    const double slack = 0.5 / info.frequency;
    if (options.from >= length)
        throw CaptureError("--from " + secondsText(options.from) + " is not before the music's end at " +
                           secondsText(length));
    if (options.to && *options.to > length + slack)
        throw CaptureError("--to " + secondsText(*options.to) + " is past the music's end at " + secondsText(length));
    const double to = std::min(options.to.value_or(length), length);
    const auto frames = static_cast<std::size_t>(std::llround((to - options.from) * options.fps));
    if (frames == 0)
        throw CaptureError(secondsText(options.from) + " to " + secondsText(to) + " holds no frame at " +
                           std::to_string(options.fps) + " fps");

    // The sound first: the video takes it alongside the frames.
    std::vector<std::int16_t> samples;
    if (!audioStreamDecodeAll(session.stream(), samples)) throw CaptureError("the music could not be decoded again");
    const std::size_t decodedFrames = samples.size() / info.channels;
    const std::size_t first = std::min<std::size_t>(session.musicFrameAt(options.from), decodedFrames);
    const std::size_t last =
        options.to ? std::clamp<std::size_t>(session.musicFrameAt(to), first, decodedFrames) : decodedFrames;
    const std::span<const std::int16_t> range =
        std::span<const std::int16_t>(samples).subspan(first * info.channels, (last - first) * info.channels);

    std::optional<VideoEncoder> video;
    if (options.video)
        video.emplace(*ffmpeg, *options.video, *format, VideoSettings{options.crf, options.preset}, options.width,
                      options.height, options.fps, wavFile(info.frequency, info.channels, range));
    std::optional<FramePipeline> pipeline;
    if (options.out) {
        prepareOutputFolder(*options.out);
        pipeline.emplace(*options.out, options.width, options.height, std::thread::hardware_concurrency(),
                         options.pngLevel.value_or(kDefaultPngLevel));
    }
    CaptureProgress progress(err, frames, isTerminal(err));
    std::vector<std::uint8_t> videoFrame;
    if (!pipeline) videoFrame.resize(std::size_t{options.width} * options.height * 3);
    // Frame k is read back while frame k + 1 is drawn: collected one frame late.
    auto deliver = [&](std::size_t k) {
        const std::span<std::uint8_t> rgb = pipeline ? pipeline->acquire() : std::span<std::uint8_t>(videoFrame);
        session.takeReadBack(rgb);
        if (video) video->write(rgb);
        if (pipeline) pipeline->submit(k);
        progress.update(pipeline ? pipeline->written() : k + 1);
    };
    for (std::size_t k = 0; k < frames; ++k) {
        throwIfStopped();
        session.renderAt(options.from + static_cast<double>(k) / options.fps);
        session.queueReadBack();
        if (k > 0) deliver(k - 1);
    }
    deliver(frames - 1);
    if (pipeline) pipeline->finish();
    throwIfStopped();
    // The frames and the sound are whole before the video is: a failing ffmpeg
    // leaves a complete capture behind.
    if (options.out) writeWav(*options.out / kCaptureWavName, info.frequency, info.channels, range);
    if (video) video->finish();
    progress.update(frames);
    progress.finish();
    throwIfStopped();

    if (options.out)
        std::fprintf(out, "%s: %zu frames of %ux%u at %d fps (%s to %s) and %s\n", toUtf8(*options.out).c_str(),
                     frames, options.width, options.height, options.fps, secondsText(options.from).c_str(),
                     secondsText(to).c_str(), kCaptureWavName);
    if (video)
        std::fprintf(out, "%s: %zu frames of %ux%u at %d fps (%s to %s) with sound\n",
                     toUtf8(*options.video).c_str(), frames, options.width, options.height, options.fps,
                     secondsText(options.from).c_str(), secondsText(to).c_str());
}

}  // namespace

int runCaptureTool(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* err) {
    CaptureOptions options;
    try {
        options = parseCaptureOptions(arguments);
    } catch (const UsageError& error) {
        std::fprintf(err, "zyr-capture: %s\n%s", error.what(), kCaptureUsage);
        return 2;
    }
    if (options.help) {
        std::fputs(kCaptureUsage, out);
        return 0;
    }
    try {
        capture(options, out, err);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(err, "zyr-capture: %s\n", error.what());
        return 1;
    }
}

}  // namespace zyr
