// VideoMux: frames and sound of a capture muxed into one video by ffmpeg, when
// the machine has it. ffmpeg is run, never linked: a tool that only renders
// frames needs no video libraries.
//
// Use:
//     if (auto ffmpeg = findOnPath("ffmpeg"))
//         int status = runProgram(videoMuxCommand(*ffmpeg, folder, 60, "demo.mp4"));
//
// Ownership: plain values. The child process is waited for before runProgram
// returns; on a stop request (StopRequest.h) it is sent SIGTERM (SIGKILL after
// two seconds) and reaped first.
//
// Failure: findOnPath returns nothing when no executable of that name is on
// PATH. runProgram throws CaptureError when the program cannot be started, is
// killed by a signal or was ended by a stop request, and otherwise returns its
// exit status.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zyr {

// The first executable regular file called name in the folders of PATH.
std::optional<std::filesystem::path> findOnPath(std::string_view name);

// ffmpeg's command line: the folder's frames at fps with its soundtrack.wav into
// video (H.264 in 4:2:0, which every player takes, and AAC); an existing video
// is not overwritten.
std::vector<std::string> videoMuxCommand(const std::filesystem::path& ffmpeg, const std::filesystem::path& folder,
                                         int fps, const std::filesystem::path& video);

// Runs command[0] with the arguments, standard input closed to it; its output
// goes where this process's does.
int runProgram(const std::vector<std::string>& command);

}  // namespace zyr
