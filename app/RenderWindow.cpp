#include "RenderWindow.h"

#include <GL/glew.h>
#include <GLFW/glfw3.h>

#include <chrono>
#include <stdexcept>
#include <thread>

namespace {

// glfwInit opens the display connection. An X server may refuse a connection
// made right after the previous one closed (seen with Xvfb about once in twenty
// quick reconnects), which is exactly what happens when the presentation window
// follows the launcher's. A few short retries tell that apart from a display
// that is really not there.
bool initGlfw() {
    constexpr int kAttempts = 10;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (glfwInit() == GLFW_TRUE) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

void setContextHints() {
    glfwWindowHint(GLFW_CLIENT_API, GLFW_OPENGL_API);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 4);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 6);
    glfwWindowHint(GLFW_OPENGL_FORWARD_COMPAT, GLFW_TRUE);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
    glfwWindowHint(GLFW_SRGB_CAPABLE, GLFW_TRUE);
    glfwWindowHint(GLFW_DOUBLEBUFFER, GLFW_TRUE);
    glfwWindowHint(GLFW_RESIZABLE, GLFW_FALSE);
    glfwWindowHint(GLFW_OPENGL_DEBUG_CONTEXT, GLFW_FALSE);
    glfwWindowHint(GLFW_CONTEXT_NO_ERROR, GLFW_TRUE);
}

// Creates the window with the hints already set, makes its context current and
// loads the GL entry points.
std::unique_ptr<RenderWindow> openWindow(int width, int height, const char* title, GLFWmonitor* monitor) {
    GLFWwindow* handle = glfwCreateWindow(width, height, title, monitor, nullptr);
    if (!handle) {
        glfwTerminate();
        throw std::runtime_error("Unable to open the render context");
    }
    // Owned from here on, so a later failure still destroys the window and GLFW.
    auto window = std::make_unique<RenderWindow>(handle);

    glfwMakeContextCurrent(handle);
    glfwSwapInterval(1);
    glewExperimental = GL_TRUE;
    glewInit();
    return window;
}

}  // namespace

RenderWindow::~RenderWindow() {
    glfwDestroyWindow(handle_);
    glfwTerminate();
}

std::unique_ptr<RenderWindow> createWindow(const LaunchSettings& settings) {
    if (!initGlfw()) throw std::runtime_error("Unable to initialize GLFW");
    setContextHints();

    GLFWmonitor* monitor = settings.fullscreen ? glfwGetPrimaryMonitor() : nullptr;
    auto window = openWindow(static_cast<int>(settings.width), static_cast<int>(settings.height),
                             settings.title.c_str(), monitor);

    // A key pressed and released between two polls (a slow frame) still reads as
    // pressed once, so a quick tap of Escape is not lost.
    glfwSetInputMode(window->handle(), GLFW_STICKY_KEYS, GLFW_TRUE);

    if (!settings.fullscreen) {
        // A window with no primary monitor (or no mode) is left where GLFW put it.
        if (GLFWmonitor* primary = glfwGetPrimaryMonitor()) {
            if (const GLFWvidmode* mode = glfwGetVideoMode(primary)) {
                // Signed, so a window larger than the screen overhangs both edges equally.
                const int x = (mode->width - static_cast<int>(settings.width)) / 2;
                const int y = (mode->height - static_cast<int>(settings.height)) / 2;
                glfwSetWindowPos(window->handle(), x, y);
            }
        }
    }
    return window;
}

std::unique_ptr<RenderWindow> createHiddenWindow(std::uint32_t width, std::uint32_t height) {
    if (!initGlfw()) throw std::runtime_error("Unable to initialize GLFW");
    setContextHints();
    glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
    // Windows keeps a window with a title bar at least about 110 pixels wide;
    // a frame without one may have any size.
    glfwWindowHint(GLFW_DECORATED, GLFW_FALSE);
    return openWindow(static_cast<int>(width), static_cast<int>(height), "", nullptr);
}
