// Frame time of the demo's scene: the build's zyr.dat drawn at 640x360 by the
// player's parts (sync store, effect shader, screen quad), each frame finished
// with glFinish, at a few moments of the song. Prints the median of 30 frames
// per moment and the worst median; the budget is 100 ms a frame.
//
//     bench_SceneBench [ARCHIVE] [FRAMES]     # default: zyr.dat in the current folder, 30
//
// Needs a display. Frames are drawn at the tracks' values for each row with
// the music clock held at its start, so every figure is for the same picture
// on every run.
#include "AudioLayer.h"
#include "EffectShader.h"
#include "RenderWindow.h"
#include "ResourceArchive.h"
#include "ScreenQuad.h"
#include "Soundtrack.h"
#include "SyncTrackStore.h"

#include <GL/glew.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 360;
constexpr double kBudgetMs = 100.0;

struct Moment {
    const char* name;
    double row;
};

// One moment per section of the song, where the picture is busiest.
constexpr Moment kMoments[] = {
    {"intro", 400.0}, {"build", 700.0}, {"drop", 800.0}, {"drop, low", 960.0},
    {"breakdown", 1400.0}, {"outro", 1600.0},
};

std::string entryText(ResourceArchive& archive, const char* name) {
    ArchiveFile* file = archive.openFile(name);
    if (file == nullptr) return {};
    std::string text = archive.readText(file);
    archive.closeFile(file);
    return text;
}

int run(const char* archivePath, int frames) {
    ResourceArchive archive(archivePath);
    if (!archive.isOpen()) {
        std::fprintf(stderr, "bench_SceneBench: cannot open %s\n", archivePath);
        return 1;
    }
    // A window of the frame's size, so the context's viewport is the frame.
    auto window = createWindow({kWidth, kHeight, false, "scene bench"});
    auto shader = std::make_unique<EffectShader>(archive, "fs.glsl");
    audioUseOfflineClock(true);
    auto soundtrack = std::make_unique<Soundtrack>(archive, "soundtrack.mp3", 170.0f);
    audioUseOfflineClock(false);
    auto store = std::make_unique<SyncTrackStore>(archive, *soundtrack);
    const float resolution[2] = {static_cast<float>(kWidth), static_cast<float>(kHeight)};

    auto frame = [&](double row) {
        store->evaluateAt(row);
        glClearColor(0.1f, 0.2f, 0.3f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        if (shader->update(*store, *soundtrack, resolution)) {
            const std::string parameters = entryText(archive, "fsshader.ini");
            if (!parameters.empty()) shader->applyParameters(parameters);
        }
        if (!screenQuadCreated()) createScreenQuad();
        drawScreenQuad();
        glFinish();
    };

    // The build and the compile of the draw's first use are not frame time.
    frame(0.0);
    frame(0.0);

    std::printf("scene at %dx%d, median of %d frames (render + glFinish)\n", kWidth, kHeight, frames);
    double worst = 0.0;
    for (const Moment& moment : kMoments) {
        std::vector<double> ms;
        for (int i = 0; i < frames; ++i) {
            const auto start = std::chrono::steady_clock::now();
            frame(moment.row);
            const auto end = std::chrono::steady_clock::now();
            ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        }
        std::sort(ms.begin(), ms.end());
        const double median = ms[ms.size() / 2];
        worst = std::max(worst, median);
        std::printf("  %-10s row %6.0f  median %7.2f ms  (min %7.2f, max %7.2f)\n", moment.name, moment.row, median,
                    ms.front(), ms.back());
    }
    std::printf("worst median %.2f ms: %s the %.0f ms budget\n", worst, worst < kBudgetMs ? "within" : "OVER",
                kBudgetMs);

    store.reset();
    soundtrack.reset();
    shader.reset();
    window.reset();
    return worst < kBudgetMs ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const char* archivePath = argc > 1 ? argv[1] : "zyr.dat";
    const int frames = argc > 2 ? std::max(1, std::atoi(argv[2])) : 30;
    try {
        return run(archivePath, frames);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_SceneBench: %s\n", error.what());
        return 1;
    }
}
