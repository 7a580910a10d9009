#include "Desktop.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

std::string shellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    return out + "'";
}

// Environment variable, or a clear failure: the suite's CMake sets these.
std::string requiredEnv(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value) throw std::runtime_error(std::string(name) + " is not set (run the tests through ctest)");
    return value;
}

struct DisplayCloser {
    void operator()(Display* d) const { XCloseDisplay(d); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

// Xvfb now and then refuses a connection made right after another closed; retry
// briefly before calling the display gone.
DisplayPtr openDisplay(const std::string& name) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (DisplayPtr d{XOpenDisplay(name.c_str())}) return d;
        std::this_thread::sleep_for(50ms);
    }
    throw std::runtime_error("cannot open display " + name);
}

}  // namespace

std::uint32_t Screenshot::pixel(int x, int y) const {
    const std::size_t i = (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 3;
    return (std::uint32_t{rgb[i]} << 16) | (std::uint32_t{rgb[i + 1]} << 8) | rgb[i + 2];
}

Xvfb::Xvfb(int width, int height, bool ownProcessGroup) {
    // Xvfb picks a free display number itself and writes it to the pipe once it
    // accepts connections, so there is no race on lock files or sockets.
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    const std::string fd = std::to_string(fds[1]);
    pid_ = fork();
    if (pid_ == 0) {
        if (ownProcessGroup) {
            setpgid(0, 0);
            // Out of the group, it would outlive an owner killed outright.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
        }
        close(fds[0]);
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        dup2(devnull, 2);
        // -noreset: otherwise the server resets whenever its last client leaves
        // and for a moment refuses new connections, which a program that closes
        // one window and opens the next runs straight into.
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp",
               "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    char c = 0;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (pid_ < 0 || number.empty()) {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        throw std::runtime_error("Xvfb did not start");
    }
    display_ = ":" + number;
}

Xvfb::~Xvfb() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

std::string Xvfb::run(const std::string& command) const {
    const std::string line = "DISPLAY=" + display_ + " " + command + " 2>/dev/null";
    std::string out;
    // A refused display connection makes the command fail; try again briefly
    // (see openDisplay). Commands here are idempotent or harmless to repeat.
    for (int attempt = 0; attempt < 10; ++attempt) {
        FILE* pipe = popen(line.c_str(), "r");
        if (!pipe) throw std::runtime_error("cannot run " + command);
        out.clear();
        std::array<char, 4096> buffer{};
        std::size_t n = 0;
        while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) out.append(buffer.data(), n);
        const int status = pclose(pipe);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0) break;
        if (!out.empty()) break;  // a search that found nothing also exits 1
        std::this_thread::sleep_for(50ms);
    }
    return out;
}

std::optional<std::string> Xvfb::waitForWindow(const std::string& name, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const std::string command = "xdotool search --onlyvisible --name " + shellQuote("^" + name + "$");
    do {
        std::istringstream lines(run(command));
        std::string id;
        if (std::getline(lines, id) && !id.empty()) return id;
        std::this_thread::sleep_for(100ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return std::nullopt;
}

bool Xvfb::windowExists(const std::string& name) const {
    return !run("xdotool search --name " + shellQuote("^" + name + "$")).empty();
}

WindowGeometry Xvfb::geometry(const std::string& windowId) const {
    DisplayPtr d = openDisplay(display_);
    const Window window = std::stoul(windowId);
    XWindowAttributes attributes{};
    XGetWindowAttributes(d.get(), window, &attributes);
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(d.get(), window, DefaultRootWindow(d.get()), 0, 0, &x, &y, &child);
    return {x, y, attributes.width, attributes.height};
}

void Xvfb::click(int x, int y) const {
    // Separate steps with pauses: the UI reads the pointer position on one frame
    // and the button on a later one.
    run("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y));
    std::this_thread::sleep_for(150ms);
    run("xdotool mousedown 1");
    std::this_thread::sleep_for(150ms);
    run("xdotool mouseup 1");
}

void Xvfb::key(const std::string& keyName) const {
    // Held long enough for a frame loop that polls the key state to see it.
    run("xdotool keydown " + keyName);
    std::this_thread::sleep_for(200ms);
    run("xdotool keyup " + keyName);
}

void Xvfb::closeWindow(const std::string& windowId) const {
    // What a window manager's close button sends: WM_DELETE_WINDOW.
    DisplayPtr d = openDisplay(display_);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = std::stoul(windowId);
    event.xclient.message_type = XInternAtom(d.get(), "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(d.get(), "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(d.get(), event.xclient.window, False, NoEventMask, &event);
    XFlush(d.get());
}

Screenshot Xvfb::screenshot() const {
    DisplayPtr d = openDisplay(display_);
    const Window root = DefaultRootWindow(d.get());
    XWindowAttributes attributes{};
    XGetWindowAttributes(d.get(), root, &attributes);
    XImage* image = XGetImage(d.get(), root, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (!image) throw std::runtime_error("XGetImage failed");
    Screenshot shot;
    shot.width = attributes.width;
    shot.height = attributes.height;
    shot.rgb.resize(static_cast<std::size_t>(shot.width) * static_cast<std::size_t>(shot.height) * 3);
    std::size_t i = 0;
    for (int y = 0; y < shot.height; ++y) {
        for (int x = 0; x < shot.width; ++x) {
            const unsigned long p = XGetPixel(image, x, y);
            shot.rgb[i++] = static_cast<std::uint8_t>((p & image->red_mask) >> 16);
            shot.rgb[i++] = static_cast<std::uint8_t>((p & image->green_mask) >> 8);
            shot.rgb[i++] = static_cast<std::uint8_t>(p & image->blue_mask);
        }
    }
    XDestroyImage(image);
    return shot;
}

void Xvfb::saveScreenshot(const std::filesystem::path& png) const {
    run("xwd -root -silent | convert xwd:- png:" + shellQuote(png.string()));
}

Program::Program(const Xvfb& display, const std::filesystem::path& dir, const std::vector<std::string>& argv,
                 const std::map<std::string, std::string>& extraEnv)
    : errPath_(dir / ".stderr") {
    if (argv.empty()) throw std::invalid_argument("no program");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        if (chdir(dir.c_str()) != 0) _exit(126);
        setenv("DISPLAY", display.display().c_str(), 1);
        // The GL driver's own small leaks cannot be suppressed in a program that
        // unloads the driver before it exits (see TestMain); programs started
        // here are checked for behaviour, and leaks are checked in-process.
        const char* asan = std::getenv("ASAN_OPTIONS");
        const std::string noLeaks = std::string(asan ? asan : "") + (asan && *asan ? ":" : "") + "detect_leaks=0";
        setenv("ASAN_OPTIONS", noLeaks.c_str(), 1);
        for (const auto& [name, value] : extraEnv) setenv(name.c_str(), value.c_str(), 1);
        const int err = open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int devnull = open("/dev/null", O_RDWR);
        dup2(devnull, 0);
        dup2(devnull, 1);
        dup2(err, 2);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
}

Program::~Program() {
    if (!status_ && pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

std::optional<int> Program::waitExit(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!status_) {
        int status = 0;
        const pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
            return std::nullopt;
        }
        std::this_thread::sleep_for(50ms);
    }
    return status_;
}

bool Program::running() {
    if (status_ || pid_ <= 0) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return false;
    }
    return true;
}

void Program::signal(int number) {
    if (!status_ && pid_ > 0) kill(pid_, number);
}

std::string Program::errorOutput() const {
    std::ifstream in(errPath_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::optional<long long> Program::memoryKiB(const std::string& field) const {
    if (status_ || pid_ <= 0) return std::nullopt;
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    std::string key;
    while (status >> key) {
        long long kib = 0;
        if (key == field + ":" && status >> kib) return kib;
    }
    return std::nullopt;
}

std::optional<std::string> waitForLauncher(const Xvfb& x, std::chrono::milliseconds timeout) {
    const auto id = x.waitForWindow("ZYR", timeout);
    if (!id) return std::nullopt;
    // The window shows before it is moved to the centre and before its first
    // frame; a press before either would go astray.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        const WindowGeometry g = x.geometry(*id);
        const bool placed = g.x == kLauncherGeometry.x && g.y == kLauncherGeometry.y &&
                            g.width == kLauncherGeometry.width && g.height == kLauncherGeometry.height;
        if (placed && x.screenshot().pixel(kLauncherRunX, kLauncherRunY) != 0) {
            std::this_thread::sleep_for(200ms);
            return id;
        }
        std::this_thread::sleep_for(200ms);
    }
    return std::nullopt;
}

bool launcherFullscreenTicked(const Xvfb& x) {
    const Screenshot shot = x.screenshot();
    int tick = 0;  // pixels of the default style's check mark colour in the box
    for (int py = kLauncherFullscreenY - 12; py < kLauncherFullscreenY + 12; ++py)
        for (int px = kLauncherFullscreenX - 17; px < kLauncherFullscreenX + 23; ++px)
            tick += shot.pixel(px, py) == 0x4296FAu;
    return tick >= 10;
}

std::filesystem::path tessaranBinary() { return requiredEnv("TESSARAN_BINARY"); }
std::filesystem::path sourceDir() { return requiredEnv("TESSARAN_SOURCE_DIR"); }
