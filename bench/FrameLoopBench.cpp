// Start-up and per-frame cost of the presentation on the content in zyr.dat.
//
//     cd build && ./bench/bench_FrameLoopBench [FRAMES]
//
// Prints: time from process start to the first swapped frame (launcher
// excluded: it waits for the viewer), and the frame loop's own CPU time per
// frame without the buffer swap (the swap waits for the renderer and the
// display, which is not the loop's work).
#include "Presentation.h"
#include "ResourceArchive.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

double now(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Seconds since this process was started, from the kernel's record of its start.
double secondsSinceProcessStart() {
    std::ifstream stat("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 22 && fields >> field; ++i) {
    }
    const double started = std::stod(field) / static_cast<double>(sysconf(_SC_CLK_TCK));
    return now(CLOCK_BOOTTIME) - started;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(10, std::atoi(argv[1])) : 600;
    ResourceArchive archive;
    if (!archive.isOpen()) {
        std::fprintf(stderr, "bench: no zyr.dat in the current folder\n");
        return 1;
    }
    Presentation presentation(archive, {1280, 720, false, "Tessaran 2023"});
    presentation.start();
    presentation.frame();
    const double firstFrame = secondsSinceProcessStart();

    std::vector<double> cpu, wall;
    for (int i = 0; i < frames; ++i) {
        const double c0 = now(CLOCK_THREAD_CPUTIME_ID), w0 = now(CLOCK_MONOTONIC);
        presentation.render();
        cpu.push_back(now(CLOCK_THREAD_CPUTIME_ID) - c0);
        wall.push_back(now(CLOCK_MONOTONIC) - w0);
        if (!presentation.present()) break;
    }
    std::printf("process start to first swapped frame: %.1f ms (10 ms clock resolution)\n", firstFrame * 1e3);
    std::printf("frame loop without swap, %zu frames at 1280x720: CPU median %.1f us, max %.1f us; wall median %.1f us\n",
                cpu.size(), median(cpu) * 1e6, *std::max_element(cpu.begin(), cpu.end()) * 1e6, median(wall) * 1e6);
    return 0;
}
