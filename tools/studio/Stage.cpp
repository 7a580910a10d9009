#include "Stage.h"

#include "EffectShader.h"
#include "Presentation.h"
#include "Problems.h"
#include "RenderWindow.h"
#include "Soundtrack.h"
#include "SyncTrackStore.h"
#include "Tempo.h"

#include <GL/glew.h>
#include <GLFW/glfw3.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace zyr::studio {

namespace {

std::unique_ptr<RenderWindow> openWindow(const StudioOptions& options, const std::string& title) {
    int width = static_cast<int>(options.width.value_or(1280));
    int height = static_cast<int>(options.height.value_or(720));
    // A large picture opens in a window that fits the screen; it is scaled.
    if (glfwInit() == GLFW_TRUE) {
        if (GLFWmonitor* monitor = glfwGetPrimaryMonitor()) {
            if (const GLFWvidmode* mode = glfwGetVideoMode(monitor)) {
                const double scale = std::min({1.0, mode->width * 0.9 / width, mode->height * 0.9 / height});
                width = std::max(1, static_cast<int>(width * scale));
                height = std::max(1, static_cast<int>(height * scale));
            }
        }
    }
    auto window = createWindow(LaunchSettings{static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), false, title});
    glfwSetWindowAttrib(window->handle(), GLFW_RESIZABLE, GLFW_TRUE);
    return window;
}

}  // namespace

Stage::Stage(ResourceArchive& archive, const StudioOptions& options, const std::string& title)
    : fixedWidth_(options.width), fixedHeight_(options.height) {
    window_ = openWindow(options, title);
    shader_ = std::make_unique<EffectShader>(archive, kShaderEntry);
    music_ = std::make_unique<Soundtrack>(archive, kMusicEntry, kBeatsPerMinute);
    store_ = std::make_unique<SyncTrackStore>(archive, *music_);
    if (music_->stream() == 0) throw std::runtime_error("soundtrack.mp3 does not decode as MP3 audio");
}

Stage::~Stage() {
    music_.reset();
    store_.reset();
    shader_.reset();
    window_.reset();
}

GLFWwindow* Stage::window() const { return window_->handle(); }

bool Stage::direct(int windowWidth, int windowHeight) const {
    return !fixedWidth_ || (static_cast<int>(*fixedWidth_) == windowWidth && static_cast<int>(*fixedHeight_) == windowHeight);
}

void Stage::resizePicture(int width, int height) {
    if (width == pictureWidth_ && height == pictureHeight_ && framebuffer_ != 0) return;
    if (framebuffer_ != 0) glDeleteFramebuffers(1, &framebuffer_);
    if (colour_ != 0) glDeleteRenderbuffers(1, &colour_);
    glCreateRenderbuffers(1, &colour_);
    glNamedRenderbufferStorage(colour_, GL_RGBA8, width, height);
    glCreateFramebuffers(1, &framebuffer_);
    glNamedFramebufferRenderbuffer(framebuffer_, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour_);
    pictureWidth_ = width;
    pictureHeight_ = height;
}

void Stage::draw(int windowWidth, int windowHeight, const std::function<void()>& afterBuild) {
    if (direct(windowWidth, windowHeight)) {
        pictureWidth_ = std::max(windowWidth, 1);
        pictureHeight_ = std::max(windowHeight, 1);
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
    } else {
        resizePicture(static_cast<int>(*fixedWidth_), static_cast<int>(*fixedHeight_));
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    }
    glViewport(0, 0, pictureWidth_, pictureHeight_);
    renderPicture(*shader_, *store_, *music_, resolution_, pictureWidth_, pictureHeight_, afterBuild);
}

void Stage::present(int windowWidth, int windowHeight, const std::function<void()>& overlays) {
    if (!direct(windowWidth, windowHeight)) {
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glViewport(0, 0, windowWidth, windowHeight);
        glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        if (windowWidth > 0 && windowHeight > 0) {
            const double scale = std::min(static_cast<double>(windowWidth) / pictureWidth_,
                                          static_cast<double>(windowHeight) / pictureHeight_);
            const int shownWidth = std::max(1, static_cast<int>(std::lround(pictureWidth_ * scale)));
            const int shownHeight = std::max(1, static_cast<int>(std::lround(pictureHeight_ * scale)));
            const int x = (windowWidth - shownWidth) / 2;
            const int y = (windowHeight - shownHeight) / 2;
            glBlitNamedFramebuffer(framebuffer_, 0, 0, 0, pictureWidth_, pictureHeight_, x, y, x + shownWidth,
                                   y + shownHeight, GL_COLOR_BUFFER_BIT, GL_LINEAR);
        }
    }
    if (windowWidth > 0 && windowHeight > 0) overlays();
    glfwSwapBuffers(window_->handle());
}

}  // namespace zyr::studio
