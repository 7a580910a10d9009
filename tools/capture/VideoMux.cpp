#include "VideoMux.h"

#include "CaptureError.h"
#include "CaptureFiles.h"
#include "StopRequest.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace zyr {

namespace fs = std::filesystem;

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

std::vector<std::string> videoMuxCommand(const fs::path& ffmpeg, const fs::path& folder, int fps,
                                         const fs::path& video) {
    return {ffmpeg.string(),
            "-hide_banner",
            "-loglevel",
            "error",
            "-nostdin",
            "-n",
            "-framerate",
            std::to_string(fps),
            "-start_number",
            "0",
            "-i",
            (folder / kCaptureFramePattern).string(),
            "-i",
            (folder / kCaptureWavName).string(),
            "-c:v",
            "libx264",
            "-pix_fmt",
            "yuv420p",
            "-c:a",
            "aac",
            video.string()};
}

int runProgram(const std::vector<std::string>& command) {
    if (command.empty()) throw CaptureError("no program to run");
    std::vector<char*> argv;
    for (const std::string& argument : command) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    pid_t child = 0;
    const int error = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) throw CaptureError("cannot run " + command[0] + ": " + std::strerror(error));

    // Polled rather than waited for, so a stop request reaches the child too
    // (a TERM sent to this process alone would otherwise leave it running).
    using namespace std::chrono_literals;
    int status = 0;
    std::optional<std::chrono::steady_clock::time_point> killAt;
    while (true) {
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child) break;
        if (done < 0 && errno != EINTR) throw CaptureError("lost track of " + command[0] + ": " + std::strerror(errno));
        if (stopRequested() && !killAt) {
            ::kill(child, SIGTERM);
            killAt = std::chrono::steady_clock::now() + 2s;
        }
        // A child that ignores TERM for that long is not ending on its own.
        if (killAt && std::chrono::steady_clock::now() > *killAt) ::kill(child, SIGKILL);
        std::this_thread::sleep_for(10ms);
    }
    if (killAt) throw CaptureError(command[0] + " was ended by the stop request");
    if (WIFSIGNALED(status))
        throw CaptureError(command[0] + " was killed by signal " + std::to_string(WTERMSIG(status)));
    return WEXITSTATUS(status);
}

}  // namespace zyr
