// VideoMux: frames streamed from the renderer into ffmpeg through a pipe, with
// the soundtrack muxed in, into one video file. ffmpeg is run, never linked: a
// tool that renders frames needs no video libraries.
//
// Use:
//     const VideoFormat& format = videoFormatFor("demo.mp4");   // by extension
//     checkEncoders(*findOnPath("ffmpeg"), format);             // before rendering
//     VideoEncoder video(ffmpeg, "demo.mp4", format, settings, 1280, 720, 60, wavBytes);
//     for (each frame) video.write(rgb);                        // top row first, 3 bytes a pixel
//     video.finish();                                           // the file is in place
//
// ffmpeg writes under a part name (demo.part.mp4, the extension last, since
// ffmpeg picks the container by it); finish gives it the name asked for once
// ffmpeg is known to have succeeded, never replacing a file of that name. The WAV bytes go to ffmpeg on a pipe of their own, from a
// thread, so neither pipe can block the other.
//
// Ownership: VideoEncoder owns the ffmpeg process (ChildProcess.h: both
// pipes and its output), the audio thread and the part file. Destroyed before
// finish returned (an error, a stop), it ends ffmpeg, waits for it and
// removes the part file: nothing is left under either name.
//
// Failure: CaptureError throughout. Before rendering: an extension no format is
// known for, an ffmpeg without the encoders the format needs, a video or part
// file that exists. While rendering and in finish: ffmpeg exiting, failing or
// killed, with its last error line, or ending without a status to read; a stop
// request (StopRequest.h), once ffmpeg is gone. A finished video that cannot
// take its name (the name appeared meanwhile, a file system without links or
// renames that refuse to replace) stays under its part name, which the error
// names.
#pragma once

#include "ChildProcess.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace zyr {

struct VideoFormat {
    std::string_view extension;     // ".mp4"
    std::string_view videoEncoder;  // ffmpeg's encoder names
    std::string_view audioEncoder;
    int maxCrf;
    int defaultCrf;
    bool presets;  // takes x264's --preset names
};

// The format of a video file name by its extension (any case); nullptr when
// none is known. The list of extensions is kVideoExtensions.
const VideoFormat* videoFormatFor(const std::filesystem::path& video);
extern const char* const kVideoExtensions;
// x264's preset names, fastest first, and the one used when none is given.
bool isVideoPreset(std::string_view name);
extern const char* const kVideoPresets;
extern const char* const kDefaultVideoPreset;

// Refuses, naming what is missing, when ffmpeg lacks an encoder the format needs.
void checkEncoders(const std::filesystem::path& ffmpeg, const VideoFormat& format);

struct VideoSettings {
    std::optional<int> crf;             // the format's default when empty
    std::optional<std::string> preset;  // kDefaultVideoPreset when empty
};

// The part name a video is written under.
std::filesystem::path videoPartPath(const std::filesystem::path& video);

class VideoEncoder {
public:
    VideoEncoder(const std::filesystem::path& ffmpeg, const std::filesystem::path& video, const VideoFormat& format,
                 const VideoSettings& settings, std::uint32_t width, std::uint32_t height, int fps,
                 std::vector<std::uint8_t> wav);
    ~VideoEncoder();

    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    // Hands one frame (width * height * 3 bytes) to ffmpeg; waits while it is busy.
    void write(std::span<const std::uint8_t> rgb);
    // Ends the stream, waits for ffmpeg and puts the video in place.
    void finish();

private:
    [[noreturn]] void failed();   // ffmpeg ended early or badly: wait for it and throw its message
    void stop();                  // ends ffmpeg if it runs, waits for it, joins the audio thread

    std::filesystem::path video_;
    std::filesystem::path part_;
    std::size_t frameBytes_;
    ChildProcess child_;  // ffmpeg: frames on its standard input, the sound on a further input
    std::vector<std::uint8_t> wav_;
    std::jthread audio_;  // writes wav_ into ffmpeg's sound input
    bool finishing_ = false;
    bool done_ = false;
};

}  // namespace zyr
