// Plays zyr.dat of the current folder through the presentation's own frame
// loop, in a small window, and then writes one line per frame to standard
// error: "read STEADY_SECONDS MUSIC_SECONDS", when the frame read the music
// clock and what it read. For tests that set the clock beside what was heard;
// the reads are kept in memory until the music ends, so writing them costs the
// frames nothing. Built for Linux and, as a console program, for Windows.
#include "Presentation.h"
#include "ResourceArchive.h"
#include "Soundtrack.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <thread>
#include <utility>
#include <vector>

namespace {

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

int main() {
    try {
        ResourceArchive archive;
        Presentation presentation(archive, LaunchSettings{320, 180, false, "Tessaran 2023"});
        std::vector<std::pair<double, double>> reads;
        reads.reserve(1 << 20);
        presentation.start();
        do {
            // The frame reads the clock first thing; this read is the same
            // call a few microseconds earlier, taken between two stamps.
            const double before = steadySeconds();
            const double music = presentation.soundtrack().playbackSeconds();
            const double after = steadySeconds();
            if (reads.size() < reads.capacity()) reads.emplace_back((before + after) / 2.0, music);
            // A screen's refresh paces real frames; the private display has none.
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        } while (presentation.frame());
        for (const auto& [time, music] : reads) std::fprintf(stderr, "read %.9f %.9f\n", time, music);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "clock_log: %s\n", error.what());
        return 1;
    }
    return 0;
}
