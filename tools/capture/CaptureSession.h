// CaptureSession: the presentation drawn offline, one frame at a chosen music
// position at a time, into pixels the tool can save.
//
// Use (a display to open a hidden window on):
//     CaptureSession session(archive, 1280, 720);  // offline clock, hidden window, music "playing"
//     session.renderAt(2.5);                       // the frame the player shows 2.5 s into the music
//     std::span<const std::uint8_t> rgb = session.readBack();   // top row first, 3 bytes a pixel
//
// Or overlapped: queueReadBack() after each renderAt starts the copy into a
// pixel buffer object, and takeReadBack(rgb) one frame later collects it, so the
// driver copies a frame while the next one is drawn:
//     session.renderAt(t0); session.queueReadBack();
//     session.renderAt(t1); session.queueReadBack(); session.takeReadBack(rgb0);  ...
//
// The frame is the player's own: the session sets the audio layer's offline
// clock and calls Presentation::render(), so the sync store, the effect shader
// and the screen quad run exactly their code in the player. It draws into a
// framebuffer object of the window's size rather than the hidden window's back
// buffer, whose pixels a driver need not keep for a window that is never shown.
//
// Ownership: the session owns the presentation (and through it the window,
// shader, soundtrack and sync store) and the buffers frames are read into, which
// are reused from frame to frame. The archive is borrowed and must outlive the
// session. One session per process, as one presentation per process in the
// player: the program pipeline and the screen quad are made once per process
// and end with the first session's context. No other audio device may be open
// when the session starts. GL objects end with the context, as everywhere in
// the player.
//
// Failure: throws CaptureError when the offline clock cannot be chosen (a device
// is open), for music that does not decode, a window or framebuffer of another
// size than asked, a position the ended music can no longer take, and a buffer
// too small for a frame, a queue overfilled or taken from empty. The
// presentation's own errors (no GLFW, no 4.6 context, no soundtrack entry, an
// invalid parameter file) pass through as they are.
#pragma once

#include "AudioLayer.h"
#include "CaptureError.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

class Presentation;
class ResourceArchive;

namespace zyr {

class CaptureSession {
public:
    CaptureSession(ResourceArchive& archive, std::uint32_t width, std::uint32_t height);
    ~CaptureSession();

    CaptureSession(const CaptureSession&) = delete;
    CaptureSession& operator=(const CaptureSession&) = delete;

    std::uint32_t width() const { return width_; }
    std::uint32_t height() const { return height_; }
    // Length of the decoded music.
    double musicSeconds() const;
    AudioStream stream() const;
    // Sample frame of the music at seconds: the one the clock is set to for it.
    std::uint64_t musicFrameAt(double seconds) const;

    // Sets the clock to seconds and draws that frame.
    void renderAt(double seconds);
    // Waits until the drawing is done (benchmarks separate drawing from readback).
    void finishDrawing();
    // The frame drawn last, 8-bit RGB, top row first; valid until the next call.
    std::span<const std::uint8_t> readBack();
    // The same into rgb, which holds width * height * 3 bytes.
    void readBack(std::span<std::uint8_t> rgb);

    // Starts reading the frame drawn last into a pixel buffer; up to
    // kPixelBuffers frames may wait to be taken.
    void queueReadBack();
    // The oldest queued frame into rgb, as readBack(rgb) gives it.
    void takeReadBack(std::span<std::uint8_t> rgb);
    std::size_t queuedReadBacks() const { return queued_; }
    static constexpr std::size_t kPixelBuffers = 2;

    Presentation& presentation() { return *presentation_; }

private:
    std::uint32_t width_;
    std::uint32_t height_;
    std::unique_ptr<Presentation> presentation_;
    std::uint32_t framebuffer_ = 0;
    std::uint32_t frameBytesPerSample_ = 0;
    bool primed_ = false;
    std::vector<std::uint8_t> rgba_;  // as read: bottom row first
    std::vector<std::uint8_t> rgb_;  // for readBack() without a buffer of the caller's
    std::array<std::uint32_t, kPixelBuffers> pixelBuffers_{};  // made on first queueReadBack
    std::size_t oldest_ = 0;  // ring of queued pixel buffers
    std::size_t queued_ = 0;
};

}  // namespace zyr
