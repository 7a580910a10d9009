#include "CaptureSession.h"

#include "Presentation.h"
#include "RenderWindow.h"
#include "Soundtrack.h"

#include <GL/glew.h>
#include <GLFW/glfw3.h>

#include <string>
#include <utility>

namespace zyr {

namespace {

// The offline clock for a scope, and the real one again whatever happens, so a
// process that goes on after the capture (tests, benchmarks) gets real devices.
class OfflineClock {
public:
    OfflineClock() { audioUseOfflineClock(true); }
    ~OfflineClock() { audioUseOfflineClock(false); }
    OfflineClock(const OfflineClock&) = delete;
    OfflineClock& operator=(const OfflineClock&) = delete;
};

std::string sizeText(int width, int height) { return std::to_string(width) + "x" + std::to_string(height); }

}  // namespace

CaptureSession::CaptureSession(ResourceArchive& archive, std::uint32_t width, std::uint32_t height)
    : width_(width), height_(height) {
    {
        // Only the soundtrack's audioInit reads the switch, so it is on for no
        // longer than the construction.
        OfflineClock offline;
        presentation_ = std::make_unique<Presentation>(archive, createHiddenWindow(width, height));
    }

    const AudioStream music = stream();
    AudioInfo info;
    if (music == 0 || !audioChannelGetInfo(music, &info) || audioChannelGetLength(music) == 0)
        throw CaptureError("soundtrack.mp3 does not decode as MP3 audio");
    // A device that was already open keeps its real clock, and the soundtrack's
    // stream then lands on it: only an offline stream takes a position.
    if (!audioSetPosition(music, 0)) throw CaptureError("another audio device is open; the clock cannot be set");
    frameBytesPerSample_ = info.channels * 2;

    int windowWidth = 0;
    int windowHeight = 0;
    glfwGetFramebufferSize(presentation_->window().handle(), &windowWidth, &windowHeight);
    const int wantWidth = static_cast<int>(width);
    const int wantHeight = static_cast<int>(height);
    // The shader's "resolution" comes from the window: a window system that
    // shrank the window would give frames drawn for another size.
    if (windowWidth != wantWidth || windowHeight != wantHeight)
        throw CaptureError("asked for a " + sizeText(wantWidth, wantHeight) + " window, got " +
                           sizeText(windowWidth, windowHeight));

    GLuint colour = 0;
    glCreateRenderbuffers(1, &colour);
    glNamedRenderbufferStorage(colour, GL_RGBA8, wantWidth, wantHeight);
    glCreateFramebuffers(1, &framebuffer_);
    glNamedFramebufferRenderbuffer(framebuffer_, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour);
    if (glCheckNamedFramebufferStatus(framebuffer_, GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
        throw CaptureError("no " + sizeText(wantWidth, wantHeight) + " framebuffer on this OpenGL implementation");

    rgba_.resize(static_cast<std::size_t>(width) * height * 4);
    presentation_->start();
}

CaptureSession::~CaptureSession() = default;

AudioStream CaptureSession::stream() const { return presentation_->soundtrack().stream(); }

double CaptureSession::musicSeconds() const {
    return audioChannelBytes2Seconds(stream(), audioChannelGetLength(stream()));
}

std::uint64_t CaptureSession::musicFrameAt(double seconds) const {
    return audioChannelSeconds2Bytes(stream(), seconds) / frameBytesPerSample_;
}

void CaptureSession::renderAt(double seconds) {
    if (!audioSetPosition(stream(), audioChannelSeconds2Bytes(stream(), seconds)))
        throw CaptureError("the music has ended before " + std::to_string(seconds) + " s");

    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glViewport(0, 0, static_cast<GLsizei>(width_), static_cast<GLsizei>(height_));
    if (!primed_) {
        // The player's first frame builds the program and binds the tracks only
        // after the store has evaluated, and applies the parameter file after the
        // upload: it shows rocket and imgui exports at zero. A first frame of a
        // capture must show the position it is for, so that frame is drawn once
        // more, now with everything bound.
        presentation_->render();
        primed_ = true;
    }
    presentation_->render();
}

void CaptureSession::finishDrawing() { glFinish(); }

std::span<const std::uint8_t> CaptureSession::readBack() {
    // Sized on first use: the tool reads into its pipeline's buffers instead.
    rgb_.resize(static_cast<std::size_t>(width_) * height_ * 3);
    readBack(rgb_);
    return rgb_;
}

namespace {

// GL's rows run bottom to top, image files' top to bottom. Alpha is dropped:
// the player's window shows the colour alone.
void toTopDownRgb(const std::uint8_t* rgba, std::uint8_t* rgb, std::size_t width, std::size_t height) {
    for (std::size_t y = 0; y < height; ++y) {
        const std::uint8_t* in = rgba + (height - 1 - y) * width * 4;
        std::uint8_t* out = rgb + y * width * 3;
        for (std::size_t x = 0; x < width; ++x, in += 4, out += 3) {
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
        }
    }
}

}  // namespace

void CaptureSession::readBack(std::span<std::uint8_t> rgb) {
    if (rgb.size() < std::size_t{width_} * height_ * 3) throw CaptureError("frame buffer too small");
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, static_cast<GLsizei>(width_), static_cast<GLsizei>(height_), GL_RGBA, GL_UNSIGNED_BYTE,
                 rgba_.data());
    toTopDownRgb(rgba_.data(), rgb.data(), width_, height_);
}

void CaptureSession::queueReadBack() {
    if (queued_ == kPixelBuffers) throw CaptureError("more frames queued for reading than pixel buffers");
    const auto bytes = static_cast<GLsizeiptr>(rgba_.size());
    if (pixelBuffers_[0] == 0) {
        glCreateBuffers(static_cast<GLsizei>(kPixelBuffers), pixelBuffers_.data());
        for (std::uint32_t buffer : pixelBuffers_)
            glNamedBufferStorage(buffer, bytes, nullptr, GL_MAP_READ_BIT | GL_CLIENT_STORAGE_BIT);
    }
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, pixelBuffers_[(oldest_ + queued_) % kPixelBuffers]);
    // Into the bound buffer: returns without waiting for the copy.
    glReadPixels(0, 0, static_cast<GLsizei>(width_), static_cast<GLsizei>(height_), GL_RGBA, GL_UNSIGNED_BYTE,
                 nullptr);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    ++queued_;
}

void CaptureSession::takeReadBack(std::span<std::uint8_t> rgb) {
    if (queued_ == 0) throw CaptureError("no frame queued for reading");
    if (rgb.size() < std::size_t{width_} * height_ * 3) throw CaptureError("frame buffer too small");
    const std::uint32_t buffer = pixelBuffers_[oldest_];
    const void* pixels = glMapNamedBufferRange(buffer, 0, static_cast<GLsizeiptr>(rgba_.size()), GL_MAP_READ_BIT);
    if (pixels == nullptr) throw CaptureError("a pixel buffer could not be mapped for reading");
    toTopDownRgb(static_cast<const std::uint8_t*>(pixels), rgb.data(), width_, height_);
    glUnmapNamedBuffer(buffer);
    oldest_ = (oldest_ + 1) % kPixelBuffers;
    --queued_;
}

}  // namespace zyr
