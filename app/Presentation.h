// Presentation: the entry function and the frame loop it runs.
//
// Use:
//     int main() { return tessaranMain(); }          // prints fatal errors, returns 0 or 1
//
// runTessaran is the entry function proper: archive, launcher, then (on "Run")
// the presentation window, effect shader, soundtrack and sync track store in that
// order; playback starts and frames run until the music stops, Escape is pressed,
// the window closes or a stop is requested (SIGINT, SIGTERM: StopRequest.h).
// Teardown is soundtrack, store, shader, window, archive, also when a fatal error
// leaves start-up or a frame early. tessaranMain installs the stop handlers and,
// after teardown, ends the process by the signal that asked for the stop.
//
// Presentation holds the objects of one run so the frame loop can be driven a
// frame at a time (tests, benchmarks). It borrows the archive. Offline tools
// hand it a window they made themselves (createHiddenWindow) and own it through
// the presentation from then on.
//
// renderPicture is the picture of one frame as the presentation draws it; the
// studio draws its picture through it too, into a framebuffer of its own.
//
// Failure: runTessaran throws the fatal errors ("Unable to initialize GLFW",
// "Unable to open the render context", "Unable to open soundtrack file", and a
// parameter file that is not valid TOML as "fsshader.ini:LINE:COLUMN: ...");
// tessaranMain prints them as "tessaran: <message>" and returns 1.
#pragma once

#include "RenderWindow.h"

#include <functional>
#include <memory>

class ResourceArchive;
class EffectShader;
class Soundtrack;
class SyncTrackStore;

class Presentation {
public:
    Presentation(ResourceArchive& archive, const LaunchSettings& settings);
    // Takes over an open window (its context current on this thread); throws
    // std::invalid_argument for none.
    Presentation(ResourceArchive& archive, std::unique_ptr<RenderWindow> window);
    ~Presentation();

    Presentation(const Presentation&) = delete;
    Presentation& operator=(const Presentation&) = delete;

    void start();
    // Runs one frame; returns true while another frame should follow.
    bool frame() {
        render();
        return present();
    }
    // The frame's own work: bindings, clear, uploads (and a build), the draw.
    void render();
    // Swap, events, Escape, stop request; true while the window is open and the
    // music plays.
    bool present();

    RenderWindow& window() { return *window_; }
    EffectShader& shader() { return *shader_; }
    Soundtrack& soundtrack() { return *soundtrack_; }
    SyncTrackStore& store() { return *store_; }

private:
    ResourceArchive& archive_;
    // Declared so that destruction runs soundtrack, store, shader, window.
    std::unique_ptr<RenderWindow> window_;
    std::unique_ptr<EffectShader> shader_;
    std::unique_ptr<SyncTrackStore> store_;
    std::unique_ptr<Soundtrack> soundtrack_;
    float resolution_[2] = {0.0f, 0.0f};
};

// One frame's picture into the framebuffer bound now, width x height pixels:
// the store's values at the music's row, the clear, the shader's uploads (its
// first build included, after which afterBuild runs, before anything is drawn
// with it) and the screen quad. resolution receives the size the shader reads.
void renderPicture(EffectShader& shader, SyncTrackStore& store, const Soundtrack& soundtrack, float (&resolution)[2],
                   int width, int height, const std::function<void()>& afterBuild);

int runTessaran();
int tessaranMain();
