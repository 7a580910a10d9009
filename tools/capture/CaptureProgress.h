// CaptureProgress: the progress bar zyr-capture draws on standard error.
//
//     [##########----------]  360/720 frames   41.3 fps   0:08 left
//
// Use:
//     CaptureProgress progress(stderr, total, isatty(fileno(stderr)));
//     for (...) { ...; progress.update(done); }
//     progress.finish();
//
// On a terminal the line is redrawn in place (carriage return) at most ten times
// a second; elsewhere (a log file, a test's pipe) a plain line is written at most
// every five seconds, so logs stay readable. The rate is the mean over the whole
// run so far, which keeps the time left from jumping about.
//
// Ownership: borrows the stream. Formatting goes through a fixed buffer: an
// update allocates nothing.
//
// Failure: none; write errors on the stream are ignored, as for any diagnostic.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>

namespace zyr {

// The line for done of total frames after elapsed seconds, without line ending;
// returns its length (truncated to size - 1).
std::size_t formatCaptureProgress(char* out, std::size_t size, std::size_t done, std::size_t total, double elapsed);

class CaptureProgress {
public:
    CaptureProgress(std::FILE* out, std::size_t total, bool inPlace);

    void update(std::size_t done);
    // Draws the final state and ends the line.
    void finish();

private:
    void draw();

    using Clock = std::chrono::steady_clock;
    std::FILE* out_;
    std::size_t total_;
    bool inPlace_;
    std::size_t done_ = 0;
    Clock::time_point start_;
    Clock::time_point lastDrawn_;
    bool drawn_ = false;
};

}  // namespace zyr
