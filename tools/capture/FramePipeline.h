// FramePipeline: PNG encoding and writing of captured frames on worker threads,
// while the calling thread draws and reads back the next ones.
//
// Use:
//     FramePipeline pipeline(folder, width, height, workers, pngLevel);
//     for (k...) {
//         std::span<std::uint8_t> rgb = pipeline.acquire();   // waits for a free buffer
//         session.readBack(rgb);
//         pipeline.submit(k);                                 // becomes frame_<k>.png
//     }
//     pipeline.finish();                                      // all written, or throws
//
// Encoding a frame costs many times its drawing and readback (see the capture
// benchmark), and each frame's file depends on its own pixels alone, so frames
// are encoded side by side in any order and the files stay the same bytes.
//
// Ownership: the pipeline owns its worker threads and a fixed set of frame
// buffers (one more than workers), made at construction and reused: the frame
// loop allocates nothing. The destructor stops and joins the workers; frames
// still queued then are dropped.
//
// Failure: the first error of a worker (a file that cannot be written) stops
// the pipeline; acquire, submit and finish then throw it on the calling thread.
// One thread drives the pipeline.
#pragma once

#include "CaptureFiles.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

namespace zyr {

class FramePipeline {
public:
    FramePipeline(const std::filesystem::path& folder, std::uint32_t width, std::uint32_t height, unsigned workers,
                  int pngLevel = kDefaultPngLevel);
    ~FramePipeline();

    FramePipeline(const FramePipeline&) = delete;
    FramePipeline& operator=(const FramePipeline&) = delete;

    // A free buffer for the next frame: width * height * 3 bytes, top row first.
    std::span<std::uint8_t> acquire();
    // Queues the buffer acquired last as frame number index.
    void submit(std::size_t index);
    // Waits until every submitted frame is written.
    void finish();
    // Frames written so far.
    std::size_t written() const;

private:
    struct Slot {
        std::vector<std::uint8_t> rgb;
        std::size_t index = 0;
    };

    void work(FrameWriter& writer);
    void throwIfFailed();  // mutex held

    std::uint32_t width_;
    std::uint32_t height_;
    std::vector<Slot> slots_;
    std::vector<std::size_t> free_;   // slots to draw into
    std::vector<std::size_t> queue_;  // slots waiting for a worker, oldest first
    std::size_t acquired_ = 0;
    bool holding_ = false;  // a slot is out with the caller
    std::size_t busy_ = 0;  // slots a worker is encoding
    std::size_t written_ = 0;
    bool stopping_ = false;
    std::exception_ptr failure_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<FrameWriter> writers_;  // one a worker, made here so workers allocate nothing
    std::vector<std::jthread> workers_;  // last: they start once everything above exists
};

}  // namespace zyr
