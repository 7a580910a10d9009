#include "SongBuilder.h"

#include <exception>
#include <utility>

namespace zyr::studio {

SongBuilder::SongBuilder(std::filesystem::path folder)
    : folder_(std::move(folder)), thread_([this](std::stop_token stop) { work(stop); }) {}

SongBuilder::~SongBuilder() {
    thread_.request_stop();
    wake_.notify_all();
}

void SongBuilder::request() {
    {
        std::lock_guard lock(mutex_);
        requested_ = true;
    }
    wake_.notify_all();
}

std::optional<SongBuild> SongBuilder::take() {
    std::lock_guard lock(mutex_);
    // A build whose sources changed again meanwhile is already stale.
    if (requested_) return std::nullopt;
    std::optional<SongBuild> result = std::move(done_);
    done_.reset();
    return result;
}

bool SongBuilder::busy() const {
    std::lock_guard lock(mutex_);
    return requested_ || building_;
}

void SongBuilder::work(std::stop_token stop) {
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, stop, [this] { return requested_; });
            if (stop.stop_requested()) return;
            requested_ = false;
            building_ = true;
        }
        SongBuild build;
        try {
            build.mp3 = content::soundtrackMp3(folder_);
            if (!build.mp3)
                build.error = content::ContentError("soundtrack.mp3", 0, 0, "no music: neither song/ nor soundtrack.mp3");
        } catch (const content::ContentError& error) {
            build.error = error;
        } catch (const std::exception& error) {
            build.error = content::ContentError("song", 0, 0, error.what());
        }
        std::lock_guard lock(mutex_);
        building_ = false;
        done_ = std::move(build);
    }
}

}  // namespace zyr::studio
