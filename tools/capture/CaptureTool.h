// zyr-capture: renders the presentation offline into numbered PNG frames and the
// music into a WAV file, one frame every 1/fps seconds of music position.
//
//     zyr-capture [ARCHIVE] --out FOLDER [--fps N] [--size WxH] [--from POS] [--to POS] [--video FILE.mp4]
//
// Frame k is the presentation at music position from + k / fps (set as the
// nearest whole sample), for k below round((to - from) * fps). The WAV holds the
// decoded music from --from to --to (all of it by default), so it starts with
// frame 0. The run is deterministic: the same archive and options give the same
// bytes.
//
// Use: main() hands its arguments (without the program name) to runCaptureTool.
//
// Ownership: writes into the output folder only (see CaptureFiles.h for which
// folders it accepts), plus the video file when one is asked for.
//
// Stopping: a stop request (SIGINT, SIGTERM; StopRequest.h, installed by main)
// ends the run between two frames or phases as a failure "stopped by SIGTERM";
// every file under a final name is whole, a running ffmpeg is ended and its
// unfinished video removed. main then ends the process by that signal.
//
// Failure: exit status 2 with the usage for malformed arguments; 1 with one
// line "zyr-capture: <reason>" for everything else (no archive, no or
// undecodable soundtrack, a range outside the music, a folder it must not write
// into, no ffmpeg for --video, a failed write); 0 on success.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace zyr {

int runCaptureTool(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* err);

}  // namespace zyr
