// Stage: the player's own objects (window, effect shader, sync track store,
// soundtrack, screen quad) made as the player makes them, and the picture
// drawn through the player's own frame (renderPicture), then shown in the
// studio's window.
//
// Use:
//     Stage stage(source.archive(), options, "zyr-studio - content");
//     every frame: stage.draw(width, height, [&] { apply parameters });
//                  stage.present(width, height, [&] { draw the overlays });
//
// The picture is rendered at --size (the window's size without it). At the
// window's size it is drawn straight into the window, pixel for pixel as the
// player draws it; at any other size into a framebuffer of its own, scaled
// into the window with its aspect kept. Overlays are drawn over it afterwards
// and never enter it.
//
// Ownership: owns the window and the player's objects, torn down in the
// player's order (soundtrack, store, shader, window); the archive is borrowed
// and must outlive the stage.
//
// Failure: the constructor throws std::runtime_error for no display or no
// OpenGL 4.6, and for music that does not decode.
#pragma once

#include "StudioOptions.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class EffectShader;
class RenderWindow;
class ResourceArchive;
class Soundtrack;
class SyncTrackStore;
struct GLFWwindow;

namespace zyr::studio {

class Stage {
public:
    Stage(ResourceArchive& archive, const StudioOptions& options, const std::string& title);
    ~Stage();
    Stage(const Stage&) = delete;
    Stage& operator=(const Stage&) = delete;

    GLFWwindow* window() const;
    EffectShader& shader() { return *shader_; }
    SyncTrackStore& store() { return *store_; }
    Soundtrack& music() { return *music_; }
    // The picture's size as the shader's "resolution" export receives it.
    const float* resolution() const { return resolution_; }

    // The picture of this frame, for a window of this size (framebuffer pixels).
    void draw(int windowWidth, int windowHeight, const std::function<void()>& afterBuild);
    // The picture into the window, the overlays over it, the buffers swapped.
    void present(int windowWidth, int windowHeight, const std::function<void()>& overlays);

private:
    bool direct(int windowWidth, int windowHeight) const;
    void resizePicture(int width, int height);

    // Torn down from the bottom: soundtrack, store, shader, window.
    std::unique_ptr<RenderWindow> window_;
    std::unique_ptr<EffectShader> shader_;
    std::unique_ptr<SyncTrackStore> store_;
    std::unique_ptr<Soundtrack> music_;

    std::optional<std::uint32_t> fixedWidth_;
    std::optional<std::uint32_t> fixedHeight_;
    int pictureWidth_ = 0;
    int pictureHeight_ = 0;
    std::uint32_t framebuffer_ = 0;  // only for a picture of another size than the window
    std::uint32_t colour_ = 0;
    float resolution_[2] = {0.0f, 0.0f};
};

}  // namespace zyr::studio
