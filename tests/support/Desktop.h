// End-to-end harness: a private X display, the real binary started in a
// prepared folder, windows found by name, clicks and keys through xdotool,
// screenshots, and an exit awaited with a timeout. Everything started here is
// stopped when its object goes out of scope, whatever the test's outcome.
//
//     Xvfb x;                                           // private display, 1920x1080x24
//     Program demo(x, dir, {binaryPath()});             // runs in dir
//     auto id = x.waitForWindow("ZYR");
//     x.click(40, 210);
//     EXPECT_EQ(demo.waitExit(10s), 0);
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct Screenshot {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;  // 3 bytes per pixel, rows top to bottom
    std::uint32_t pixel(int x, int y) const;  // 0xRRGGBB
};

struct WindowGeometry {
    int x = 0, y = 0, width = 0, height = 0;
};

class Xvfb {
public:
    // ownProcessGroup: the server leaves this process's group, so a Ctrl-C
    // meant for a program that stops on it cleanly (and then ends the server
    // itself) does not take the display away first.
    explicit Xvfb(int width = 1920, int height = 1080, bool ownProcessGroup = false);
    ~Xvfb();
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    const std::string& display() const { return display_; }

    // Window id of the first visible window whose title is exactly name.
    std::optional<std::string> waitForWindow(const std::string& name,
                                             std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;
    bool windowExists(const std::string& name) const;
    WindowGeometry geometry(const std::string& windowId) const;
    void click(int x, int y) const;
    void key(const std::string& keyName) const;        // e.g. "Escape", to the focused window
    void closeWindow(const std::string& windowId) const;  // the window's close control
    Screenshot screenshot() const;
    // Saves the screen as PNG (for looking at it by eye).
    void saveScreenshot(const std::filesystem::path& png) const;

    // Runs a command with DISPLAY set to this display; returns its stdout.
    std::string run(const std::string& command) const;

private:
    std::string display_;
    int pid_ = -1;
};

class Program {
public:
    // Starts argv[0] with argv in folder dir, on the given display, with the
    // test environment plus extraEnv; stdout and stderr are captured.
    Program(const Xvfb& display, const std::filesystem::path& dir, const std::vector<std::string>& argv,
            const std::map<std::string, std::string>& extraEnv = {});
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Exit status, or nullopt on timeout (the program is then killed).
    std::optional<int> waitExit(std::chrono::milliseconds timeout);
    bool running();
    void signal(int number);          // kill(2) to the program while it runs
    std::string errorOutput() const;  // what it wrote to stderr so far
    // A figure of the running program's /proc status in KiB ("VmPeak" for the
    // most it ever reserved, "VmHWM" for the most it held), or nullopt.
    std::optional<long long> memoryKiB(const std::string& field) const;

private:
    int pid_ = -1;
    std::optional<int> status_;
    std::filesystem::path errPath_;
};

// The launcher window "ZYR" on a 1920 x 1080 screen: 280 x 230, centred; "Run"
// and "Quit" sit on the row that starts at y 202, at x 192..272 and 8..88.
constexpr WindowGeometry kLauncherGeometry{820, 425, 280, 230};
constexpr int kLauncherRunX = 820 + 232, kLauncherRunY = 425 + 211;
constexpr int kLauncherQuitX = 820 + 48, kLauncherQuitY = 425 + 211;
// The "Fullscreen" box, and whether the screen shows its tick.
constexpr int kLauncherFullscreenX = 820 + 17, kLauncherFullscreenY = 425 + 178;
bool launcherFullscreenTicked(const Xvfb& x);

// Id of the launcher window once it is in place and has drawn its buttons.
std::optional<std::string> waitForLauncher(const Xvfb& x,
                                           std::chrono::milliseconds timeout = std::chrono::seconds(30));

// The tessaran binary under test and the source tree (from the test environment).
std::filesystem::path tessaranBinary();
std::filesystem::path sourceDir();
