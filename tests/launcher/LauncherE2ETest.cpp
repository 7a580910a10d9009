// The real tessaran binary's launcher, on a private 1920 x 1080 display: where it
// shows, what it draws, and how each way of leaving it ends.
#include "Desktop.h"
#include "Mp3.h"
#include "Png.h"
#include "TempDir.h"
#include "Wait.h"
#include "ZipWriter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr WindowGeometry kLauncher = kLauncherGeometry;
constexpr int kRunX = kLauncherRunX, kRunY = kLauncherRunY;
constexpr int kQuitX = kLauncherQuitX, kQuitY = kLauncherQuitY;
constexpr int kFullscreenX = kLauncherFullscreenX, kFullscreenY = kLauncherFullscreenY;

// Red over blue, so the logo's placement and orientation show on screen.
std::string twoBandLogo() {
    std::vector<std::uint8_t> pixels;
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 280; ++x) {
            const bool top = y < 64;
            pixels.insert(pixels.end(), {std::uint8_t(top ? 255 : 0), 0, std::uint8_t(top ? 0 : 255), 255});
        }
    return encodePng(280, 128, 4, pixels);
}

std::vector<ZipEntry> logoOnly() { return {{"zyr.png", twoBandLogo()}}; }

// Enough for the presentation to run for a few seconds and end by itself.
std::vector<ZipEntry> presentable() {
    return {{"zyr.png", twoBandLogo()},
            {"fs.glsl", "#version 460 core\nlayout(location = 0) out vec4 colour;\n"
                        "void main() { colour = vec4(0.0, 1.0, 0.0, 1.0); }\n"},
            {"soundtrack.mp3", toneMp3(3.0), ZipMethod::Stored}};
}


class LauncherE2E : public ::testing::Test {
protected:
    // Starts the binary and waits until its launcher is in place and drawn:
    // the window shows before it is moved to the centre and before its first
    // frame, and presses before either would go astray.
    std::optional<std::string> start(std::vector<ZipEntry> entries) {
        writeZip(dir / "zyr.dat", entries);
        program = std::make_unique<Program>(x, dir.path(), std::vector<std::string>{tessaranBinary().string()});
        const auto id = waitForLauncher(x);
        if (!id) ADD_FAILURE() << "the launcher never showed in place; stderr: " << program->errorOutput();
        return id;
    }

    // The launcher gave up its window and the program ended cleanly without
    // opening the presentation (which, with no music in the archive, would
    // have ended in a fatal error).
    void expectLeftWithoutPresenting() {
        EXPECT_EQ(program->waitExit(20s), 0) << program->errorOutput();
        EXPECT_EQ(program->errorOutput(), "");
        expectNoSettingsFile();
    }

    void expectNoSettingsFile() {
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(name == "zyr.dat" || name == ".stderr") << "the program wrote " << name;
        }
    }

    // GLFW, with no window manager to ask, makes a full-screen window
    // override-redirect; a windowed one stays managed.
    bool overrideRedirect(const std::string& id) const {
        return x.run("xwininfo -id " + id).find("Override Redirect State: yes") != std::string::npos;
    }

    Xvfb x;
    TempDir dir;
    std::unique_ptr<Program> program;
};

TEST_F(LauncherE2E, ShowsCentredWithTheLogoAcrossItsTop) {
    const auto id = start(logoOnly());
    ASSERT_TRUE(id);
    const Screenshot shot = x.screenshot();
    // ImGui clips the window's outermost pixels: 4 at the sides, 1 at the top.
    for (auto [lx, ly] : {std::pair{4, 1}, {275, 1}, {140, 63}})
        EXPECT_EQ(shot.pixel(kLauncher.x + lx, kLauncher.y + ly), 0xFF0000u) << lx << "," << ly;
    for (auto [lx, ly] : {std::pair{4, 64}, {275, 127}})
        EXPECT_EQ(shot.pixel(kLauncher.x + lx, kLauncher.y + ly), 0x0000FFu) << lx << "," << ly;
    EXPECT_FALSE(overrideRedirect(*id));
    x.key("Escape");
    expectLeftWithoutPresenting();
}

TEST_F(LauncherE2E, QuitEndsTheProgram) {
    ASSERT_TRUE(start(logoOnly()));
    x.click(kQuitX, kQuitY);
    expectLeftWithoutPresenting();
}

TEST_F(LauncherE2E, EscapeEndsTheProgram) {
    ASSERT_TRUE(start(logoOnly()));
    x.key("Escape");
    expectLeftWithoutPresenting();
}

TEST_F(LauncherE2E, ClosingTheWindowEndsTheProgram) {
    const auto id = start(logoOnly());
    ASSERT_TRUE(id);
    x.closeWindow(*id);
    expectLeftWithoutPresenting();
}

// Without a logo the launcher works all the same, and a logo whose header claims
// 16384 x 16384 pixels (a 58-byte BMP, which the decoder would fill with a
// gibibyte of missing pixels) costs what no logo costs.
TEST_F(LauncherE2E, MissingOrBrokenLogoStillLaunches) {
    const std::string bmp = readFile(sourceDir() / "tests/fuzz/corpus/logo/header_claims_16384_square.bmp");
    ASSERT_EQ(bmp.size(), 58u);
    struct Case {
        const char* label;
        std::vector<ZipEntry> entries;
    };
    long long peaks[3][2] = {};
    const Case cases[] = {{"missing", {}}, {"broken", {{"zyr.png", "not a picture"}}}, {"bmp", {{"zyr.png", bmp}}}};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(cases[i].label);
        const auto id = start(cases[i].entries);
        ASSERT_TRUE(id);
        EXPECT_EQ(x.screenshot().pixel(kLauncher.x + 140, kLauncher.y + 60), 0x000000u);
        peaks[i][0] = program->memoryKiB("VmPeak").value_or(-1);
        peaks[i][1] = program->memoryKiB("VmHWM").value_or(-1);
        x.click(kQuitX, kQuitY);
        expectLeftWithoutPresenting();
    }
    for (int m = 0; m < 2; ++m) {
        ASSERT_GT(peaks[0][m], 0);
        EXPECT_LT(peaks[2][m] - peaks[0][m], 64 * 1024) << (m == 0 ? "reserved" : "held") << " KiB without a logo "
                                                        << peaks[0][m] << ", with the BMP header " << peaks[2][m];
    }
}

TEST_F(LauncherE2E, RunOpensTheDesktopSizedPresentationInAWindow) {
    ASSERT_TRUE(start(presentable()));
    x.click(kRunX, kRunY);
    const auto window = x.waitForWindow("Tessaran 2023");
    ASSERT_TRUE(window) << program->errorOutput();
    EXPECT_FALSE(x.windowExists("ZYR"));
    const WindowGeometry g = x.geometry(*window);
    EXPECT_EQ(g.width, 1920);
    EXPECT_EQ(g.height, 1080);
    EXPECT_FALSE(overrideRedirect(*window));
    EXPECT_EQ(program->waitExit(30s), 0) << program->errorOutput();
    EXPECT_EQ(program->errorOutput(), "");
    expectNoSettingsFile();
}

TEST_F(LauncherE2E, FullscreenTickedThenRunOpensTheFullScreenPresentation) {
    ASSERT_TRUE(start(presentable()));
    // On a loaded machine one launcher frame can take in both clicks, and the
    // UI then sees only the pointer's last place: Run is pressed only once the
    // box shows its tick.
    const auto ticked = [&] { return launcherFullscreenTicked(x); };
    ASSERT_FALSE(ticked());
    x.click(kFullscreenX, kFullscreenY);
    ASSERT_TRUE(waitUntil(ticked, 20s));
    x.click(kRunX, kRunY);
    const auto window = x.waitForWindow("Tessaran 2023");
    ASSERT_TRUE(window) << program->errorOutput();
    const WindowGeometry g = x.geometry(*window);
    EXPECT_EQ(g.x, 0);
    EXPECT_EQ(g.y, 0);
    EXPECT_EQ(g.width, 1920);
    EXPECT_EQ(g.height, 1080);
    EXPECT_TRUE(overrideRedirect(*window));
    EXPECT_EQ(program->waitExit(30s), 0) << program->errorOutput();
    EXPECT_EQ(program->errorOutput(), "");
}

} // namespace
