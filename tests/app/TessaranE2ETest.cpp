// The real tessaran binary, started in a prepared folder on a private display.
#include "CheckingArchive.h"
#include "Desktop.h"
#include "Mp3.h"
#include "TempDir.h"
#include "ZipWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Every frame takes well over 100 ms at 1920 x 1080 under the software renderer
// (about half a second on two cores).
constexpr const char* kSlowShader = R"(#version 460 core
layout(location = 0) in vec2 vUv;
layout(location = 0) out vec4 colour;
void main() {
    float v = 0.0;
    for (int i = 0; i < 60; ++i) v += sin(vUv.x * float(i) + v * vUv.y);
    colour = vec4(fract(v), 0.0, 0.0, 1.0);
}
)";

// The binary with its teardown steps written to stderr (TeardownTrace.cpp).
std::map<std::string, std::string> tracedTeardown() {
    const char* asan = std::getenv("ASAN_OPTIONS");
    return {{"LD_PRELOAD", TEARDOWN_TRACE},
            {"ASAN_OPTIONS", std::string(asan ? asan : "") + ":detect_leaks=0:verify_asan_link_order=0"}};
}

// How long a stop may take: within a frame, plus the teardown.
constexpr auto kStopLimit = 1s;

class Tessaran : public ::testing::Test {
protected:
    // Starts the binary and presses "Run" in its launcher.
    std::unique_ptr<Program> startAndRun(const std::map<std::string, std::string>& env = {}) {
        auto program =
            std::make_unique<Program>(x, dir.path(), std::vector<std::string>{tessaranBinary().string()}, env);
        if (!waitForLauncher(x)) {
            ADD_FAILURE() << "no launcher window; stderr: " << program->errorOutput();
            return program;
        }
        x.click(kLauncherRunX, kLauncherRunY);
        return program;
    }

    Xvfb x;
    TempDir dir;
};

TEST_F(Tessaran, DrawsTheExportsFromTheArchiveAndExitsWhenTheMusicEnds) {
    writeZip(dir / "zyr.dat", checkingArchive(8.0));
    auto program = startAndRun();
    const auto window = x.waitForWindow("Tessaran 2023");
    ASSERT_TRUE(window) << program->errorOutput();
    EXPECT_FALSE(x.windowExists("ZYR"));
    std::this_thread::sleep_for(1s);
    const WindowGeometry g = x.geometry(*window);
    EXPECT_EQ(g.width, 1920);
    EXPECT_EQ(g.height, 1080);
    const Screenshot shot = x.screenshot();
    EXPECT_TRUE(program->running()) << "ended before the screenshot: " << program->errorOutput();
    EXPECT_EQ(shot.pixel(960, 540), 0x00FF00u);
    EXPECT_EQ(shot.pixel(5, 5), 0x00FF00u);
    EXPECT_EQ(program->waitExit(30s), 0) << program->errorOutput();
    EXPECT_EQ(program->errorOutput(), "");
}

TEST_F(Tessaran, EscapeEndsThePresentation) {
    writeZip(dir / "zyr.dat", checkingArchive(60.0));
    auto program = startAndRun();
    ASSERT_TRUE(x.waitForWindow("Tessaran 2023")) << program->errorOutput();
    std::this_thread::sleep_for(500ms);
    x.key("Escape");
    EXPECT_EQ(program->waitExit(10s), 0) << program->errorOutput();
}

// The system's own audio driver choice: on a machine without a sound card the
// presentation still runs on a silent device, and says nothing about it.
TEST_F(Tessaran, WithTheDefaultAudioDriverItRunsAndPrintsNothing) {
    writeZip(dir / "zyr.dat", checkingArchive(60.0));
    auto program = startAndRun();
    ASSERT_TRUE(x.waitForWindow("Tessaran 2023")) << program->errorOutput();
    std::this_thread::sleep_for(1500ms);
    EXPECT_TRUE(program->running()) << program->errorOutput();
    x.key("Escape");
    EXPECT_EQ(program->waitExit(10s), 0) << program->errorOutput();
    EXPECT_EQ(program->errorOutput(), "");
}

TEST_F(Tessaran, MissingMusicIsAFatalErrorWithOneLine) {
    auto entries = checkingArchive(1.0);
    entries.pop_back();
    writeZip(dir / "zyr.dat", entries);
    auto program = startAndRun();
    EXPECT_EQ(program->waitExit(20s), 1);
    EXPECT_EQ(program->errorOutput(), "tessaran: Unable to open soundtrack file\n");
}

TEST_F(Tessaran, NoArchiveAtAllIsTheSameFatalError) {
    auto program = startAndRun();
    EXPECT_EQ(program->waitExit(20s), 1);
    EXPECT_EQ(program->errorOutput(), "tessaran: Unable to open soundtrack file\n");
}

TEST_F(Tessaran, BrokenParameterFileNamesItsLineAndColumn) {
    auto entries = checkingArchive(10.0);
    entries[1].bytes = "[look]\nv0 = 0.5\nv1 = [1, 2\n";
    writeZip(dir / "zyr.dat", entries);
    auto program = startAndRun();
    EXPECT_EQ(program->waitExit(20s), 1);
    const std::string err = program->errorOutput();
    EXPECT_EQ(err.rfind("tessaran: fsshader.ini:", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

// SIGTERM and SIGINT end the run through its normal teardown (the launcher's
// window, then soundtrack, presentation window and archive), then the process
// ends by that signal, as a shell expects.
TEST_F(Tessaran, StopSignalsEndThePresentationAndTheLauncherThroughTheTeardown) {
    writeZip(dir / "zyr.dat", checkingArchive(60.0));
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE("signal " + std::to_string(signal));
        auto program = startAndRun(tracedTeardown());
        ASSERT_TRUE(x.waitForWindow("Tessaran 2023")) << program->errorOutput();
        std::this_thread::sleep_for(500ms);
        ASSERT_TRUE(program->running());
        program->signal(signal);
        EXPECT_EQ(program->waitExit(kStopLimit), 128 + signal);
        EXPECT_EQ(program->errorOutput(), "glfw terminated\naudio closed\nglfw terminated\narchive closed\n");

        Program launcher(x, dir.path(), {tessaranBinary().string()}, tracedTeardown());
        ASSERT_TRUE(waitForLauncher(x)) << launcher.errorOutput();
        launcher.signal(signal);
        EXPECT_EQ(launcher.waitExit(kStopLimit), 128 + signal);
        EXPECT_EQ(launcher.errorOutput(), "glfw terminated\narchive closed\n");
        EXPECT_FALSE(x.windowExists("Tessaran 2023"));
    }
}

// A tap of Escape (press and release with no pause) between two polls of the
// key, in the launcher and during frames far slower than the tap.
TEST_F(Tessaran, QuickEscapeTapIsSeenBetweenSlowFrames) {
    auto entries = checkingArchive(60.0);
    entries[0].bytes = kSlowShader;
    writeZip(dir / "zyr.dat", entries);

    {
        Program launcher(x, dir.path(), {tessaranBinary().string()});
        ASSERT_TRUE(waitForLauncher(x)) << launcher.errorOutput();
        // The launcher's frames are quick; a stopped process makes one frame
        // as long as it takes to tap the key.
        launcher.signal(SIGSTOP);
        x.run("xdotool mousemove 960 500 key Escape");
        std::this_thread::sleep_for(200ms);
        launcher.signal(SIGCONT);
        EXPECT_EQ(launcher.waitExit(5s), 0) << launcher.errorOutput();
        EXPECT_FALSE(x.windowExists("Tessaran 2023"));
    }

    auto program = startAndRun();
    ASSERT_TRUE(x.waitForWindow("Tessaran 2023")) << program->errorOutput();
    std::this_thread::sleep_for(1500ms);
    ASSERT_TRUE(program->running());
    x.run("xdotool key Escape");
    EXPECT_EQ(program->waitExit(10s), 0) << program->errorOutput();
}

}  // namespace
