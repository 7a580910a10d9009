#include "FramePipeline.h"

#include "CaptureError.h"

#include <algorithm>

namespace zyr {

FramePipeline::FramePipeline(const std::filesystem::path& folder, std::uint32_t width, std::uint32_t height,
                             unsigned workers, int pngLevel)
    : width_(width), height_(height) {
    const unsigned count = std::max(1u, workers);
    // One slot more than workers: the caller draws into it while all encode.
    slots_.resize(count + 1);
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        slots_[i].rgb.resize(static_cast<std::size_t>(width) * height * 3);
        free_.push_back(i);
    }
    queue_.reserve(slots_.size());
    writers_.reserve(count);
    for (unsigned i = 0; i < count; ++i) writers_.emplace_back(folder, width, height, pngLevel);
    workers_.reserve(count);
    for (unsigned i = 0; i < count; ++i) workers_.emplace_back([this, i] { work(writers_[i]); });
}

FramePipeline::~FramePipeline() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    // The jthreads join as they go.
}

void FramePipeline::throwIfFailed() {
    if (failure_) std::rethrow_exception(failure_);
}

std::span<std::uint8_t> FramePipeline::acquire() {
    std::unique_lock lock(mutex_);
    if (holding_) throw CaptureError("a frame buffer was acquired twice without a submit");
    changed_.wait(lock, [this] { return failure_ || !free_.empty(); });
    throwIfFailed();
    acquired_ = free_.back();
    free_.pop_back();
    holding_ = true;
    return slots_[acquired_].rgb;
}

void FramePipeline::submit(std::size_t index) {
    {
        std::lock_guard lock(mutex_);
        throwIfFailed();
        if (!holding_) throw CaptureError("a frame was submitted without a buffer");
        slots_[acquired_].index = index;
        queue_.push_back(acquired_);  // within the reserved capacity: no allocation
        holding_ = false;
    }
    changed_.notify_all();
}

void FramePipeline::finish() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return failure_ || (queue_.empty() && busy_ == 0); });
    throwIfFailed();
}

std::size_t FramePipeline::written() const {
    std::lock_guard lock(mutex_);
    return written_;
}

void FramePipeline::work(FrameWriter& writer) {
    std::unique_lock lock(mutex_);
    while (true) {
        changed_.wait(lock, [this] { return stopping_ || failure_ || !queue_.empty(); });
        if (stopping_ || failure_) return;
        const std::size_t slot = queue_.front();
        queue_.erase(queue_.begin());
        ++busy_;
        lock.unlock();
        std::exception_ptr error;
        try {
            writer.write(slots_[slot].index, slots_[slot].rgb, width_, height_);
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        --busy_;
        free_.push_back(slot);
        if (error && !failure_) failure_ = error;
        if (!error) ++written_;
        changed_.notify_all();
    }
}

}  // namespace zyr
