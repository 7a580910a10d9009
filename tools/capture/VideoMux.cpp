#include "VideoMux.h"

#include "CaptureError.h"
#include "FileWrite.h"
#include "StopRequest.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <utility>

extern char** environ;

namespace zyr {

namespace fs = std::filesystem;

namespace {

using namespace std::chrono_literals;

// H.264 at a constant quality x264 calls visually lossless, and AAC: what video
// sites and players take without a second thought. VP9's scale is its own.
constexpr std::array kFormats{
    VideoFormat{".mp4", "libx264", "aac", 51, 18, true},
    VideoFormat{".mkv", "libx264", "aac", 51, 18, true},
    VideoFormat{".webm", "libvpx-vp9", "libopus", 63, 31, false},
};
constexpr std::array<std::string_view, 9> kPresetNames{"ultrafast", "superfast", "veryfast", "faster", "fast",
                                                         "medium",    "slow",      "slower",   "veryslow"};

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

// A pipe whose ends sit above the standard descriptors and the audio one, so
// handing them to the child as 0 or 3 is always a real dup2 (which drops
// close-on-exec), and which no other child inherits.
void makePipe(Fd& read, Fd& write) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) throw CaptureError(std::string("cannot make a pipe: ") + std::strerror(errno));
    Fd low0(ends[0]);
    Fd low1(ends[1]);
    read.reset(::fcntl(ends[0], F_DUPFD_CLOEXEC, 10));
    write.reset(::fcntl(ends[1], F_DUPFD_CLOEXEC, 10));
    if (read.get() < 0 || write.get() < 0)
        throw CaptureError(std::string("cannot make a pipe: ") + std::strerror(errno));
}

// An unnamed file for a child's output: nothing to clean up, however we end.
int unnamedFile() {
    std::FILE* file = std::tmpfile();
    if (file == nullptr) throw CaptureError(std::string("cannot make a temporary file: ") + std::strerror(errno));
    const int fd = ::fcntl(::fileno(file), F_DUPFD_CLOEXEC, 10);
    std::fclose(file);
    if (fd < 0) throw CaptureError(std::string("cannot make a temporary file: ") + std::strerror(errno));
    return fd;
}

std::string readAll(int fd) {
    std::string text;
    char buffer[4096];
    ::lseek(fd, 0, SEEK_SET);
    ssize_t got = 0;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(got));
    return text;
}

// Starts command with the given descriptors as its 0, 1, 2 and (if not -1) 3.
pid_t spawn(const std::vector<std::string>& command, int in, int out, int err, int audio) {
    std::vector<char*> argv;
    for (const std::string& argument : command) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
    if (audio >= 0) posix_spawn_file_actions_adddup2(&actions, audio, 3);
    pid_t child = 0;
    const int error = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) throw CaptureError("cannot run " + command[0] + ": " + std::strerror(error));
    return child;
}

// Waits for child and returns its wait status, or nullopt when it cannot be
// read (the child was reaped elsewhere: ECHILD): an ending nobody saw is never
// taken for a success. With a stop request (or once kill is set) it is sent
// SIGTERM, and SIGKILL two seconds later: a child that ignores TERM that long
// is not ending on its own. Polled, so the stop request is seen while waiting.
std::optional<int> reap(pid_t child, bool kill) {
    std::optional<std::chrono::steady_clock::time_point> killAt;
    int status = 0;
    while (true) {
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child) return status;
        if (done < 0 && errno != EINTR) return std::nullopt;
        if ((kill || stopRequested()) && !killAt) {
            ::kill(child, SIGTERM);
            killAt = std::chrono::steady_clock::now() + 2s;
        }
        if (killAt && std::chrono::steady_clock::now() > *killAt) ::kill(child, SIGKILL);
        std::this_thread::sleep_for(5ms);
    }
}

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

// Writes all of bytes to a blocking descriptor; false once the reader is gone.
bool writeAll(int fd, const std::uint8_t* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t put = ::write(fd, bytes, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        bytes += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
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
    std::string extension = video.extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const VideoFormat& format : kFormats)
        if (format.extension == extension) return &format;
    return nullptr;
}

bool isVideoPreset(std::string_view name) {
    return std::find(kPresetNames.begin(), kPresetNames.end(), name) != kPresetNames.end();
}

std::optional<fs::path> findOnPath(std::string_view name) {
    const char* path = std::getenv("PATH");
    if (path == nullptr || name.empty() || name.find('/') != std::string_view::npos) return std::nullopt;
    std::string_view rest(path);
    while (true) {
        const std::size_t colon = rest.find(':');
        const std::string_view folder = rest.substr(0, colon);
        // An empty entry means the current folder, as for the shell.
        const fs::path candidate = fs::path(folder.empty() ? "." : std::string(folder)) / name;
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (colon == std::string_view::npos) return std::nullopt;
        rest.remove_prefix(colon + 1);
    }
}

void checkEncoders(const fs::path& ffmpeg, const VideoFormat& format) {
    Fd in(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    Fd out(unnamedFile());
    const pid_t child = spawn({ffmpeg.string(), "-hide_banner", "-loglevel", "error", "-encoders"}, in.get(),
                              out.get(), out.get(), -1);
    const std::optional<int> status = reap(child, false);
    if (stopRequested()) throw CaptureError("stopped while asking ffmpeg for its encoders");
    const std::string listing = readAll(out.get());
    if (!status || !WIFEXITED(*status) || WEXITSTATUS(*status) != 0)
        throw CaptureError(ffmpeg.string() + " could not list its encoders: " + lastLine(listing));
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
                           " encoder, which the installed ffmpeg (" + ffmpeg.string() + ") lacks");
}

fs::path videoPartPath(const fs::path& video) {
    return video.parent_path() / (video.stem().string() + ".part" + video.extension().string());
}

VideoEncoder::VideoEncoder(const fs::path& ffmpeg, const fs::path& video, const VideoFormat& format,
                           const VideoSettings& settings, std::uint32_t width, std::uint32_t height, int fps,
                           std::vector<std::uint8_t> wav)
    : video_(video),
      part_(videoPartPath(video)),
      frameBytes_(static_cast<std::size_t>(width) * height * 3),
      wav_(std::move(wav)) {
    if (fs::exists(video_)) throw CaptureError(video_.string() + " already exists; a video is never overwritten");
    if (fs::exists(part_))
        throw CaptureError(part_.string() + " already exists; remove it or choose another video name");
    std::signal(SIGPIPE, SIG_IGN);
    // An ignored SIGCHLD (inherited across exec) would have the kernel reap
    // ffmpeg, and with it the only word on whether the video is whole.
    std::signal(SIGCHLD, SIG_DFL);

    const std::string crf = std::to_string(settings.crf.value_or(format.defaultCrf));
    std::vector<std::string> command{ffmpeg.string(), "-hide_banner", "-loglevel", "error", "-nostats", "-n",
                                     // Frames: raw RGB, top row first, at the capture's rate.
                                     "-f", "rawvideo", "-pix_fmt", "rgb24", "-video_size",
                                     std::to_string(width) + "x" + std::to_string(height), "-framerate",
                                     std::to_string(fps), "-i", "pipe:0",
                                     // Sound: the WAV of the same range.
                                     "-f", "wav", "-i", "pipe:3", "-map", "0:v:0", "-map", "1:a:0", "-c:v",
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
    command.push_back(part_.string());

    Fd framesRead, framesWrite, audioRead, audioWrite;
    makePipe(framesRead, framesWrite);
    makePipe(audioRead, audioWrite);
    // Room for a few frames' worth in the pipe lets the renderer run ahead of a
    // momentarily busy encoder (the size is a request; the kernel may cap it).
    ::fcntl(framesWrite.get(), F_SETPIPE_SZ, 1 << 20);
    // Ours alone (ffmpeg's end is a description of its own): write() never
    // blocks past a poll, so a stop request is seen while ffmpeg is busy.
    ::fcntl(framesWrite.get(), F_SETFL, ::fcntl(framesWrite.get(), F_GETFL) | O_NONBLOCK);
    Fd errors(unnamedFile());
    child_ = spawn(command, framesRead.get(), errors.get(), errors.get(), audioRead.get());
    frames_ = framesWrite.release();
    errors_ = errors.release();
    // Written without waiting on the frames: ffmpeg reads both inputs as it muxes.
    audio_ = std::jthread([this, fd = audioWrite.release()] {
        writeAll(fd, wav_.data(), wav_.size());
        ::close(fd);
    });
}

VideoEncoder::~VideoEncoder() {
    stop();
    if (errors_ >= 0) ::close(errors_);
    if (!done_) {
        std::error_code ignored;
        fs::remove(part_, ignored);
    }
}

void VideoEncoder::stop() {
    if (frames_ >= 0) ::close(frames_);
    frames_ = -1;
    if (child_ > 0) {
        status_ = reap(child_, true);
        child_ = -1;
    }
    if (audio_.joinable()) audio_.join();
}

std::string VideoEncoder::lastError() const { return errors_ >= 0 ? lastLine(readAll(errors_)) : std::string(); }

void VideoEncoder::failed() {
    if (frames_ >= 0) ::close(frames_);
    frames_ = -1;
    if (child_ > 0) {
        status_ = reap(child_, false);
        child_ = -1;
    }
    if (audio_.joinable()) audio_.join();
    if (stopRequested()) throw CaptureError("ffmpeg was ended by the stop request");
    const std::string message = lastError();
    const std::string said = message.empty() ? std::string() : ": " + message;
    if (!status_)
        throw CaptureError(std::string("cannot learn how ffmpeg ended (") + std::strerror(ECHILD) +
                           "), so its video is not taken" + said);
    if (WIFSIGNALED(*status_))
        throw CaptureError("ffmpeg was killed by signal " + std::to_string(WTERMSIG(*status_)) + said);
    if (WEXITSTATUS(*status_) != 0)
        throw CaptureError("ffmpeg failed with status " + std::to_string(WEXITSTATUS(*status_)) + said);
    throw CaptureError("ffmpeg ended before the last frame" + said);
}

void VideoEncoder::write(std::span<const std::uint8_t> rgb) {
    if (rgb.size() < frameBytes_) throw CaptureError("a video frame of the wrong size");
    if (frames_ < 0) throw CaptureError("a frame written after the video was finished");
    const std::uint8_t* bytes = rgb.data();
    std::size_t left = frameBytes_;
    while (left > 0) {
        pollfd ready{frames_, POLLOUT, 0};
        const int polled = ::poll(&ready, 1, 100);
        if (stopRequested()) failed();
        if (polled < 0 && errno == EINTR) continue;
        if (polled <= 0) {
            if (polled < 0) failed();
            // A child that has ended never reads again.
            int status = 0;
            const pid_t done = ::waitpid(child_, &status, WNOHANG);
            if (done == child_ || (done < 0 && errno == ECHILD)) {
                child_ = -1;
                status_ = done == child_ ? std::optional<int>(status) : std::nullopt;
                failed();
            }
            continue;
        }
        const ssize_t put = ::write(frames_, bytes, std::min<std::size_t>(left, 1 << 20));
        if (put < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (put <= 0) failed();  // EPIPE: ffmpeg is gone
        bytes += put;
        left -= static_cast<std::size_t>(put);
    }
}

void VideoEncoder::finish() {
    ::close(frames_);
    frames_ = -1;
    status_ = reap(child_, false);
    child_ = -1;
    if (audio_.joinable()) audio_.join();
    if (stopRequested() || !status_ || !WIFEXITED(*status_) || WEXITSTATUS(*status_) != 0) failed();
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
