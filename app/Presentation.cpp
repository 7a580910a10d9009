#include "Presentation.h"

#include "EffectShader.h"
#include "Launcher.h"
#include "ResourceArchive.h"
#include "ScreenQuad.h"
#include "Soundtrack.h"
#include "StopRequest.h"
#include "SyncTrackStore.h"
#include "Tempo.h"

#include <GL/glew.h>
#include <GLFW/glfw3.h>

#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>
#include <utility>

namespace {

constexpr const char* kShaderEntry = "fs.glsl";
constexpr const char* kMusicEntry = "soundtrack.mp3";
constexpr const char* kParameterEntry = "fsshader.ini";

}  // namespace

Presentation::Presentation(ResourceArchive& archive, const LaunchSettings& settings)
    : Presentation(archive, createWindow(settings)) {}

Presentation::Presentation(ResourceArchive& archive, std::unique_ptr<RenderWindow> window)
    : archive_(archive), window_(std::move(window)) {
    if (!window_) throw std::invalid_argument("Presentation needs a window");
    shader_ = std::make_unique<EffectShader>(archive_, kShaderEntry);
    soundtrack_ = std::make_unique<Soundtrack>(archive_, kMusicEntry, kBeatsPerMinute);
    store_ = std::make_unique<SyncTrackStore>(archive_, *soundtrack_);
}

Presentation::~Presentation() {
    // Explicit, so the order does not hang on member declaration order alone: the
    // stream goes before anything it clocks, the store before the slots it writes
    // into, the shader before the context its program lives in.
    soundtrack_.reset();
    store_.reset();
    shader_.reset();
    window_.reset();
}

void Presentation::start() { soundtrack_->play(); }

void renderPicture(EffectShader& shader, SyncTrackStore& store, const Soundtrack& soundtrack, float (&resolution)[2],
                   int width, int height, const std::function<void()>& afterBuild) {
    store.updateBindings();

    glClearColor(0.1f, 0.2f, 0.3f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);

    resolution[0] = static_cast<float>(width);
    resolution[1] = static_cast<float>(height);
    if (shader.update(store, soundtrack, resolution)) afterBuild();

    if (!screenQuadCreated()) createScreenQuad();
    drawScreenQuad();
}

void Presentation::render() {
    int width = 0;
    int height = 0;
    glfwGetFramebufferSize(window_->handle(), &width, &height);
    renderPicture(*shader_, *store_, *soundtrack_, resolution_, width, height, [this] {
        ArchiveFile* file = archive_.openFile(kParameterEntry);
        if (!file) return;
        const std::string text = archive_.readText(file);
        try {
            shader_->applyParameters(text);
        } catch (const ParameterFileError& error) {
            archive_.closeFile(file);
            throw std::runtime_error(std::string(kParameterEntry) + ":" + error.what());
        }
        archive_.closeFile(file);
    });
}

bool Presentation::present() {
    GLFWwindow* window = window_->handle();
    glfwSwapBuffers(window);
    glfwPollEvents();
    if (glfwGetKey(window, GLFW_KEY_ESCAPE) == GLFW_PRESS) glfwSetWindowShouldClose(window, GLFW_TRUE);
    // Ctrl-C or a TERM from outside ends the run the way closing the window does.
    if (stopRequested()) glfwSetWindowShouldClose(window, GLFW_TRUE);

    // The window is asked first; the stream only while the window stays open.
    return !glfwWindowShouldClose(window) && soundtrack_->isPlaying();
}

int runTessaran() {
    auto archive = std::make_unique<ResourceArchive>();
    {
        LaunchSettings settings;
        // A stop that came during the launcher's last frame opens nothing more.
        if (!runLauncher(*archive, settings) || stopRequested()) return 0;

        Presentation presentation(*archive, settings);
        presentation.start();
        while (presentation.frame()) {
        }
    }
    archive.reset();
    return 0;
}

int tessaranMain() {
    installStopHandlers();
    int status = 0;
    try {
        status = runTessaran();
    } catch (const std::exception& error) {
        // By now every object built so far has been torn down in teardown order.
        std::fprintf(stderr, "tessaran: %s\n", error.what());
        status = 1;
    }
    // Everything is torn down; a shell that sent SIGINT or SIGTERM sees the
    // program end by it.
    raiseRequestedStop();
    return status;
}
