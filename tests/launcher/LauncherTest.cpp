// runLauncher driven in this process, as a viewer would drive it: a helper thread
// finds the "ZYR" window on the program's private 1920 x 1080 display and presses
// buttons and keys there while the launcher runs its frames on the main thread.
#include "Launcher.h"
#include "Desktop.h"
#include "TestDisplay.h"
#include "Png.h"
#include "ResourceArchive.h"
#include "TempDir.h"
#include "ZipWriter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Window-local points of the launcher's controls in ImGui's default style.
struct Point {
    int x, y;
};
constexpr Point kRun{232, 211};
constexpr Point kQuit{48, 211};
constexpr Point kFullscreen{17, 178};

const Xvfb& desktop() { return testDisplay(); }

// The launcher window as a viewer sees it.
class LauncherWindow {
public:
    explicit LauncherWindow(WindowGeometry where) : where_(where) {}

    const WindowGeometry& geometry() const { return where_; }

    void press(Point p) const {
        desktop().click(where_.x + p.x, where_.y + p.y);
        std::this_thread::sleep_for(150ms);
    }
    void key(const std::string& name) const { desktop().key(name); }

    // 0xRRGGBB at a window-local point of a screenshot.
    std::uint32_t pixel(const Screenshot& shot, int x, int y) const {
        return shot.pixel(where_.x + x, where_.y + y);
    }

private:
    WindowGeometry where_;
};

// The viewer: runs `act` on its own thread once the launcher window is up and has
// drawn a few frames. Should the launcher still be open long after, it gets
// Escape, so a press that went astray fails the test instead of hanging it.
class Viewer {
public:
    explicit Viewer(std::function<void(const LauncherWindow&)> act)
        : thread_([this, act = std::move(act)] { run(act); }) {}
    ~Viewer() {
        launcherReturned_ = true;
        if (thread_.joinable()) thread_.join();
    }
    Viewer(const Viewer&) = delete;
    Viewer& operator=(const Viewer&) = delete;

    // Call once runLauncher has returned; true when the window showed and the
    // launcher ended without the fallback Escape.
    bool finish() {
        launcherReturned_ = true;
        thread_.join();
        return found_ && !rescued_;
    }

private:
    void run(const std::function<void(const LauncherWindow&)>& act) {
        if (const auto id = desktop().waitForWindow("ZYR")) {
            found_ = true;
            // The window shows before it is moved to its place and before its first
            // frame; on a busy machine both can lag well behind, and presses before
            // them would go astray. Ready is when "Run" is drawn where it belongs.
            auto window = LauncherWindow(desktop().geometry(*id));
            for (auto waited = 0ms; waited < 30s && window.pixel(desktop().screenshot(), kRun.x, kRun.y) == 0;
                 waited += 250ms) {
                std::this_thread::sleep_for(250ms);
                window = LauncherWindow(desktop().geometry(*id));
            }
            std::this_thread::sleep_for(200ms);
            act(window);
        }
        for (auto waited = 0ms; !launcherReturned_ && waited < 30s; waited += 100ms)
            std::this_thread::sleep_for(100ms);
        if (!launcherReturned_) {
            rescued_ = true;
            desktop().key("Escape");
        }
    }

    std::atomic<bool> launcherReturned_{false};
    bool found_ = false;
    bool rescued_ = false;
    std::thread thread_;
};

// Red over blue: shows whether the logo is upright, where it starts and how wide
// it is drawn.
std::vector<std::uint8_t> twoBandLogo() {
    std::vector<std::uint8_t> pixels;
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 280; ++x) {
            const bool top = y < 64;
            pixels.insert(pixels.end(), {std::uint8_t(top ? 255 : 0), 0, std::uint8_t(top ? 0 : 255), 255});
        }
    return pixels;
}

class LauncherTest : public ::testing::Test {
protected:
    void SetUp() override {
        writeZip(dir_ / "zyr.dat", {{"zyr.png", encodePng(280, 128, 4, twoBandLogo())}});
        archive_ = std::make_unique<ResourceArchive>(dir_ / "zyr.dat");
    }

    // Runs the launcher in an empty working folder, with stale settings going in.
    bool launch(Viewer& viewer) {
        settings_ = {1, 2, true, "stale"};
        const ScopedCurrentDir inWork(work_.path());
        const bool result = runLauncher(*archive_, settings_);
        EXPECT_TRUE(viewer.finish()) << "the launcher window never showed, or did not react";
        return result;
    }

    void expectSettings(bool fullscreen) {
        EXPECT_EQ(settings_.width, 1920u);
        EXPECT_EQ(settings_.height, 1080u);
        EXPECT_EQ(settings_.fullscreen, fullscreen);
        EXPECT_EQ(settings_.title, "Tessaran 2023");
    }

    void expectNothingLeftBehind() {
        EXPECT_TRUE(std::filesystem::is_empty(work_.path())) << "the launcher left files in its working folder";
        EXPECT_EQ(archive_->openCount(), 0u);
        EXPECT_FALSE(desktop().windowExists("ZYR"));
    }

    TempDir dir_;
    TempDir work_;
    std::unique_ptr<ResourceArchive> archive_;
    LaunchSettings settings_;
};

TEST_F(LauncherTest, RunUntouchedGivesTheDesktopSizeWindowedAndShowsTheLogo) {
    Screenshot shot;
    std::optional<LauncherWindow> seen;
    Viewer viewer([&](const LauncherWindow& window) {
        seen = window;
        shot = desktop().screenshot();
        window.press(kRun);
    });

    EXPECT_TRUE(launch(viewer));
    expectSettings(false);
    expectNothingLeftBehind();

    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->geometry().width, 280);
    EXPECT_EQ(seen->geometry().height, 230);
    // ImGui clips its window's outermost pixels (4 at the sides, the border row at
    // the top); the band boundary at row 64 and colour at x 4 and 275 show the logo
    // starts in the corner, not inside the margin, and spans 280 pixels.
    for (auto [x, y] : {std::pair{4, 1}, {275, 1}, {140, 30}, {4, 63}, {275, 63}})
        EXPECT_EQ(seen->pixel(shot, x, y), 0xFF0000u) << "(" << x << ", " << y << ") is not the logo's top band";
    for (auto [x, y] : {std::pair{4, 64}, {275, 64}, {140, 100}, {4, 127}, {275, 127}})
        EXPECT_EQ(seen->pixel(shot, x, y), 0x0000FFu) << "(" << x << ", " << y << ") is not the logo's bottom band";
    for (auto [x, y] : {std::pair{140, 131}, {4, 140}})
        EXPECT_EQ(seen->pixel(shot, x, y), 0x000000u) << "(" << x << ", " << y << ") is not the black backdrop";
}

TEST_F(LauncherTest, FullscreenCheckedThenRunGivesFullscreen) {
    Viewer viewer([](const LauncherWindow& window) {
        window.press(kFullscreen);
        window.press(kRun);
    });

    EXPECT_TRUE(launch(viewer));
    expectSettings(true);
    expectNothingLeftBehind();
}

// Leaving hands back the choices made like "Run" does, only with false.
TEST_F(LauncherTest, QuitAfterCheckingFullscreenReturnsFalseWithTheChoicesMade) {
    Viewer viewer([](const LauncherWindow& window) {
        window.press(kFullscreen);
        window.press(kQuit);
    });

    EXPECT_FALSE(launch(viewer));
    expectSettings(true);
    expectNothingLeftBehind();
}

TEST_F(LauncherTest, EscapeReturnsFalseWindowed) {
    Viewer viewer([](const LauncherWindow& window) { window.key("Escape"); });

    EXPECT_FALSE(launch(viewer));
    expectSettings(false);
    expectNothingLeftBehind();
}

} // namespace
