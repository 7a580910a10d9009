// The music clock against what a listener hears. The presentation's own frame
// loop (clock_log, ClockLog.cpp) plays a click track through the system's
// default output into a private sound server while a recorder on the server's
// sink stamps the moment each click is played. For every click after the
// first second, the moment a frame read the click's music time (interpolated
// between frames) must lie within 5 ms of the moment it was heard; the clock
// never steps back and keeps to the wall clock within a millisecond a second.
// The same reads taken as a clock 10 ms off must fail.
#include "ClickTrack.h"
#include "Desktop.h"
#include "TempDir.h"
#include "ZipWriter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>

namespace {

using namespace std::chrono_literals;

constexpr int kAttempts = 5;

TEST(HeardThroughPulseAudio, FramesReadTheMusicTimeThatIsBeingHeard) {
    const ClickTrack& track = clickTrack();
    TempDir dir;
    writeZip(dir / "zyr.dat", clickArchive());
    Xvfb x;
    const Listening run = listenSteadily(track, kAttempts, [&](const std::map<std::string, std::string>& env) {
        Program player(x, dir.path(), {CLOCK_LOG}, env);
        EXPECT_EQ(player.waitExit(90s), 0) << player.errorOutput();
        return player.errorOutput();
    });
    expectClockMatchesHeard(run, track, 0.005, 0.001);
}

}  // namespace
