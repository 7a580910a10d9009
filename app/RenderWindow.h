// RenderWindow: one GLFW window with a current OpenGL 4.6 core context.
//
// Use:
//     std::unique_ptr<RenderWindow> window = createWindow({280, 230, false, "ZYR"});
//     while (!glfwWindowShouldClose(window->handle())) { ...; glfwSwapBuffers(window->handle()); }
//     window.reset();                                  // destroys the window, terminates GLFW
//
// Each createWindow initialises GLFW and each RenderWindow's destruction
// terminates it, so two windows never exist at once and a second createWindow
// after the first window is gone starts GLFW afresh. A windowed window is centred
// on the primary monitor (overhanging both edges equally when larger than it).
// The context is forward-compatible, no-error, double-buffered, sRGB-capable,
// not resizable, with a swap interval of 1; GLEW has loaded every entry point.
// Keys are sticky: a press between two glfwGetKey polls is reported once.
//
// Failure: throws std::exception carrying "Unable to initialize GLFW" or "Unable
// to open the render context" (GLFW terminated again in the latter case).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct GLFWwindow;

struct LaunchSettings {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    bool fullscreen = false;
    std::string title;
};

class RenderWindow {
public:
    explicit RenderWindow(GLFWwindow* handle) : handle_(handle) {}
    ~RenderWindow();

    RenderWindow(const RenderWindow&) = delete;
    RenderWindow& operator=(const RenderWindow&) = delete;

    GLFWwindow* handle() const { return handle_; }

private:
    GLFWwindow* handle_;
};

std::unique_ptr<RenderWindow> createWindow(const LaunchSettings& settings);

// The same context in a window that is never shown, for tools that render
// offline (checking, capture). Fails like createWindow.
std::unique_ptr<RenderWindow> createHiddenWindow(std::uint32_t width, std::uint32_t height);
