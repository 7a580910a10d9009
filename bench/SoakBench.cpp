// Soak run: the whole demo played through the real launcher and presentation on
// a private Xvfb, with the launcher's "Run" pressed by xdotool as a viewer would.
//
//     cd build && ./bench/bench_SoakBench [WIDTHxHEIGHT]     # screen size, 1280x720 by default
//
// Needs Xvfb and xdotool (scripts/install-deps installs both). The launcher
// preselects the screen's size, so the presentation runs at that size.
//
// Prints: resident memory once the first frame is drawn, every 10 s of playback
// and at the end, with the growth over the run and over the steady part (from
// the 10 s mark, after start-up's one-off allocations); then frame times (swap
// to swap) as p50, p90, p99 and max. Memory should stay flat. Ctrl-C ends it
// early through the same teardown, with the figures so far.
#include "Desktop.h"
#include "Launcher.h"
#include "Presentation.h"
#include "ResourceArchive.h"
#include "StopRequest.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

bool shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// Presses "Run" once the launcher has drawn, and again while it is still up
// (a press during the window's first frames can go astray). The button's row
// starts 202 pixels down the centred 280 x 230 window, "Run" at x 192..272.
void pressRun(int screenWidth, int screenHeight) {
    const int x = (screenWidth - 280) / 2 + 232;
    const int y = (screenHeight - 230) / 2 + 211;
    const std::string find = "xdotool search --onlyvisible --name '^ZYR$'";
    const auto deadline = Clock::now() + 60s;
    while (!shell(find) && Clock::now() < deadline && !stopRequested()) std::this_thread::sleep_for(100ms);
    while (shell(find) && Clock::now() < deadline && !stopRequested()) {
        std::this_thread::sleep_for(1s);
        shell("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y));
        std::this_thread::sleep_for(150ms);
        shell("xdotool mousedown 1");
        std::this_thread::sleep_for(150ms);
        shell("xdotool mouseup 1");
    }
}

long residentKiB() {
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (!statm) return -1;
    long size = 0, resident = 0;
    const int read = std::fscanf(statm, "%ld %ld", &size, &resident);
    std::fclose(statm);
    return read == 2 ? resident * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

double percentile(const std::vector<double>& sorted, double p) {
    const auto i = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(i, sorted.size() - 1)];
}

}  // namespace

int main(int argc, char** argv) {
    int width = 1280, height = 720;
    if (argc > 1 && std::sscanf(argv[1], "%dx%d", &width, &height) != 2) {
        std::fprintf(stderr, "usage: bench_SoakBench [WIDTHxHEIGHT]\n");
        return 2;
    }
    ResourceArchive archive;
    if (!archive.isOpen()) {
        std::fprintf(stderr, "bench: no zyr.dat in the current folder\n");
        return 1;
    }
    installStopHandlers();
    std::unique_ptr<Xvfb> server;
    try {
        server = std::make_unique<Xvfb>(width, height, /*ownProcessGroup=*/true);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench: %s\n", error.what());
        return 1;
    }
    const Xvfb& xvfb = *server;
    setenv("DISPLAY", xvfb.display().c_str(), 1);
    setenv("MESA_GL_VERSION_OVERRIDE", "4.6", 0);
    setenv("MESA_GLSL_VERSION_OVERRIDE", "460", 0);

    std::thread presser(pressRun, width, height);
    LaunchSettings settings;
    const bool run = runLauncher(archive, settings);
    presser.join();
    if (!run || stopRequested()) {
        std::fprintf(stderr, "bench: the launcher was left without \"Run\"\n");
        return 1;
    }

    std::vector<double> frameMs;
    frameMs.reserve(1 << 20);
    std::vector<std::pair<double, long>> memory;  // (seconds into playback, KiB)
    memory.reserve(64);
    {
        Presentation presentation(archive, settings);
        presentation.start();
        bool more = presentation.frame();
        const Clock::time_point start = Clock::now();
        memory.emplace_back(0.0, residentKiB());
        std::printf("%ux%u on %s: RSS at first frame %ld KiB\n", settings.width, settings.height,
                    xvfb.display().c_str(), memory.back().second);
        std::fflush(stdout);
        Clock::time_point last = start;
        auto nextSample = start + 10s;
        while (more) {
            more = presentation.frame();
            const Clock::time_point now = Clock::now();
            frameMs.push_back(std::chrono::duration<double, std::milli>(now - last).count());
            last = now;
            if (now >= nextSample) {
                memory.emplace_back(std::chrono::duration<double>(now - start).count(), residentKiB());
                std::printf("  %5.1f s  RSS %ld KiB\n", memory.back().first, memory.back().second);
                std::fflush(stdout);
                nextSample += 10s;
            }
        }
        memory.emplace_back(std::chrono::duration<double>(Clock::now() - start).count(), residentKiB());
    }
    std::printf("  %5.1f s  RSS %ld KiB (end of playback, presentation still up)\n", memory.back().first,
                memory.back().second);
    const long growth = memory.back().second - memory.front().second;
    std::printf("RSS growth: %+ld KiB over the run", growth);
    if (memory.size() > 2)
        std::printf(", %+ld KiB from the %.0f s mark to the end", memory.back().second - memory[1].second,
                    memory[1].first);
    std::printf("\n");

    if (frameMs.empty()) return 0;
    std::sort(frameMs.begin(), frameMs.end());
    std::printf("%zu frames, frame time (swap to swap): p50 %.1f ms, p90 %.1f ms, p99 %.1f ms, max %.1f ms\n",
                frameMs.size(), percentile(frameMs, 0.50), percentile(frameMs, 0.90), percentile(frameMs, 0.99),
                frameMs.back());
    if (stopRequested()) std::printf("(stopped early by a signal)\n");
    return 0;
}
