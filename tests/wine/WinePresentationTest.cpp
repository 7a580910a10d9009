// The Windows release's tessaran.exe under Wine, on a private display with
// Mesa's 4.6 override: the launcher where it belongs, "Run", the presentation
// at the desktop's size drawing what the archive says, and the three ways a
// run ends.
#include "CheckingArchive.h"
#include "ClickTrack.h"
#include "Desktop.h"
#include "TempDir.h"
#include "Wait.h"
#include "WineTest.h"
#include "ZipWriter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Wine takes seconds to start a program, more on a loaded machine.
constexpr auto kWineStart = 90s;

class WinePresentation : public WineTest {
protected:
    std::unique_ptr<Program> start(const std::map<std::string, std::string>& env = {},
                                   const std::filesystem::path& exe = kWindows / "target" / "app" / "tessaran.exe") {
        std::map<std::string, std::string> all = {{"WINEPREFIX", (kWindows / "wine-prefix").string()},
                                                  {"WINEDEBUG", "-all"}};
        all.insert(env.begin(), env.end());
        return std::make_unique<Program>(*x, dir.path(), std::vector<std::string>{"/usr/bin/wine", exe.string()}, all);
    }

    // Starts the program and presses "Run" once its launcher has drawn itself
    // where it belongs, centred on the 1920 x 1080 desktop; full screen ticks
    // the box first and waits for its tick (one slow frame must not take in
    // both clicks).
    std::unique_ptr<Program> startAndRun(const std::map<std::string, std::string>& env = {},
                                         bool fullscreen = false, const char* launcherShot = nullptr) {
        auto program = start(env);
        if (!waitForLauncher(*x, kWineStart)) {
            ADD_FAILURE() << "no launcher at (820, 425); stderr: " << program->errorOutput();
            return program;
        }
        if (fullscreen) {
            x->click(kLauncherFullscreenX, kLauncherFullscreenY);
            if (!waitUntil([] { return launcherFullscreenTicked(*x); }, 30s)) ADD_FAILURE() << "the box shows no tick";
        }
        if (launcherShot) saveShot(launcherShot);
        x->click(kLauncherRunX, kLauncherRunY);
        return program;
    }

    static void saveShot(const char* name) {
        std::filesystem::create_directories(TESSARAN_WINE_SHOTS);
        x->saveScreenshot(std::filesystem::path(TESSARAN_WINE_SHOTS) / name);
    }

    TempDir dir;
};

// Full screen, so the frame is the desktop's size: Windows keeps a decorated
// window inside the screen, so a windowed 1920 x 1080 one gets a smaller
// client area there. The music goes through WASAPI into Wine's sound driver,
// here given ALSA's null device as the machine's default, so the playback
// clock is a real device's.
TEST_F(WinePresentation, DrawsTheArchiveAtDesktopSizeAndEndsWithTheMusic) {
    constexpr double kMusicSeconds = 12.0;
    writeZip(dir / "zyr.dat", checkingArchive(kMusicSeconds));
    const std::filesystem::path home = dir / "home";
    std::filesystem::create_directory(home);
    writeFile(home / ".asoundrc", "pcm.!default {\n  type null\n}\nctl.!default {\n  type hw\n  card 0\n}\n");
    auto program = startAndRun({{"HOME", home.string()}}, true, "launcher.png");
    const auto window = x->waitForWindow("Tessaran 2023", kWineStart);
    ASSERT_TRUE(window) << program->errorOutput();
    const auto shown = std::chrono::steady_clock::now();
    EXPECT_FALSE(x->windowExists("ZYR"));
    std::this_thread::sleep_for(3s);
    const WindowGeometry g = x->geometry(*window);
    EXPECT_EQ(g.width, 1920);
    EXPECT_EQ(g.height, 1080);
    const Screenshot shot = x->screenshot();
    saveShot("presentation.png");
    EXPECT_TRUE(program->running()) << "ended before the screenshot: " << program->errorOutput();
    // Green only where every export and the resolution came through.
    EXPECT_EQ(shot.pixel(960, 540), 0x00FF00u);
    EXPECT_EQ(shot.pixel(5, 5), 0x00FF00u);
    EXPECT_EQ(shot.pixel(1914, 1074), 0x00FF00u);
    EXPECT_EQ(program->waitExit(60s), 0) << program->errorOutput();
    // The music ran its length, not cut short by a clock that raced ahead (the
    // window shows before the music starts; the margin is for polling).
    const std::chrono::duration<double> ran = std::chrono::steady_clock::now() - shown;
    EXPECT_GT(ran.count(), kMusicSeconds - 3.0);
}

TEST_F(WinePresentation, EscapeEndsThePresentation) {
    writeZip(dir / "zyr.dat", checkingArchive(120.0));
    auto program = startAndRun();
    ASSERT_TRUE(x->waitForWindow("Tessaran 2023", kWineStart)) << program->errorOutput();
    std::this_thread::sleep_for(1s);
    x->key("Escape");
    EXPECT_EQ(program->waitExit(30s), 0) << program->errorOutput();
}

TEST_F(WinePresentation, QuitInTheLauncherEndsWithNothingShown) {
    writeZip(dir / "zyr.dat", checkingArchive(120.0));
    auto program = start();
    ASSERT_TRUE(waitForLauncher(*x, kWineStart)) << program->errorOutput();
    x->click(kLauncherQuitX, kLauncherQuitY);
    EXPECT_EQ(program->waitExit(30s), 0) << program->errorOutput();
    EXPECT_FALSE(x->windowExists("Tessaran 2023"));
}

TEST_F(WinePresentation, MissingSoundtrackIsTheFatalError) {
    auto entries = checkingArchive(1.0);
    entries.pop_back();
    writeZip(dir / "zyr.dat", entries);
    auto program = startAndRun();
    EXPECT_EQ(program->waitExit(60s), 1);
    EXPECT_NE(program->errorOutput().find("tessaran: Unable to open soundtrack file"), std::string::npos)
        << program->errorOutput();
}

// The Windows build's clock through WASAPI, as a plumbing check: the frame
// loop of the Windows build (clock_log.exe, tests/app/ClockLog.cpp) plays the
// click track through Wine's PulseAudio driver into a private sound server,
// and its reads are set beside what was heard, as on Linux
// (tests/app/HeardClockTest.cpp) but with a wider tolerance: Wine's own audio
// clock lags the sound, by 6 to 31 ms in runs here, and its sound stalls now
// and then on a busy machine without its clock knowing (a run is made again
// for that, but measured all the same in the end; the steadiness figures skip
// the stalls). Wine's performance counter, which
// the program's steady clock reads, runs on CLOCK_MONOTONIC_RAW; the reads are
// put on CLOCK_MONOTONIC, the recorder's clock, by stamps of both taken
// around the run.
TEST_F(WinePresentation, ClockThroughWasapiFollowsWhatIsHeard) {
    constexpr double kWineTolerance = 0.040;
    const ClickTrack& track = clickTrack();
    writeZip(dir / "zyr.dat", clickArchive());
    struct Stamp {
        double raw = 0.0, steady = 0.0;
        void take() {
            timespec ts{};
            clock_gettime(CLOCK_MONOTONIC_RAW, &ts);
            raw = static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
            steady = steadySeconds();
        }
    } before, after;
    const Listening run = listenSteadily(
        track, 3,
        [&](const std::map<std::string, std::string>& env) {
            before.take();
            auto program = start(env, kWindows / "target" / "tests" / "windows" / "clock_log.exe");
            EXPECT_EQ(program->waitExit(120s), 0) << program->errorOutput();
            after.take();
            return program->errorOutput();
        },
        [&](double raw) {
            EXPECT_TRUE(raw > before.raw && raw < after.raw) << "a read outside the run: not CLOCK_MONOTONIC_RAW";
            return before.steady + (raw - before.raw) * (after.steady - before.steady) / (after.raw - before.raw);
        });
    expectClockMatchesHeard(run, track, kWineTolerance, 0.002, true);
}

}  // namespace
