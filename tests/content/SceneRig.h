// The demo's archive drawn offline, a frame at a chosen music position, by the
// player's own parts: the sync store, the effect shader with the parameter
// file, the screen quad, and a soundtrack on the audio layer's offline clock.
//
//     SceneRig rig(ZYR_DEMO_ARCHIVE, 96, 54);   // a display to open a hidden window on
//     rig.render(768.0);                        // tracks and clock at row 768
//     Image frame = rig.read();
//
// Tracks are evaluated at the row asked for, whatever the music's length. The
// clock ("time" and "rows" in the shader) is set to the same position where
// the music reaches it, else to its end; render(row, seconds) sets it apart
// from the tracks, to tell what the tracks change from what the clock does.
//
// Frames go into a framebuffer object of the rig's size: a hidden window's back
// buffer need not keep its pixels. resize() draws later frames at another size,
// as the player would in a window of that size ("resolution" follows).
//
// Ownership: the rig owns every object of the frame, torn down in the player's
// order (soundtrack, store, shader, window, archive). One rig per process, like
// the player's one presentation: the program pipeline and the screen quad are
// process-wide and live in the first context made.
#pragma once

#include "EffectShader.h"
#include "RenderWindow.h"
#include "ResourceArchive.h"
#include "Soundtrack.h"
#include "SyncTrackStore.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

inline constexpr double kRowsPerSecond = 170.0 / 60.0 * 8.0;

struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;  // top row first

    // Mean absolute difference per channel, in levels (0..255).
    double meanDifference(const Image& other) const;
    double meanLevel() const;
    // The columns [x0, x0 + w) of every row.
    Image columns(int x0, int w) const;
};

class SceneRig {
public:
    SceneRig(const std::filesystem::path& archivePath, int width, int height);
    ~SceneRig();

    SceneRig(const SceneRig&) = delete;
    SceneRig& operator=(const SceneRig&) = delete;

    void resize(int width, int height);
    void render(double row);
    void render(double row, double seconds);
    Image read();
    void finish();

    ResourceArchive& archive() { return *archive_; }
    EffectShader& shader() { return *shader_; }
    SyncTrackStore& store() { return *store_; }
    Soundtrack& soundtrack() { return *soundtrack_; }
    double musicSeconds() const;
    std::string entryText(const std::string& name);

private:
    void frame(double row);
    void makeFramebuffer();

    int width_;
    int height_;
    std::unique_ptr<ResourceArchive> archive_;
    std::unique_ptr<RenderWindow> window_;
    std::unique_ptr<EffectShader> shader_;
    std::unique_ptr<Soundtrack> soundtrack_;
    std::unique_ptr<SyncTrackStore> store_;
    std::uint32_t framebuffer_ = 0;
    std::uint32_t colour_ = 0;
    float resolution_[2] = {0.0f, 0.0f};
};
