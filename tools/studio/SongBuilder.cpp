#include "SongBuilder.h"

#include "Song.h"
#include "Tempo.h"
#include "Waveform.h"
#include "WorkerPriority.h"

#include <exception>
#include <system_error>
#include <utility>

namespace zyr::studio {

std::vector<SongSection> songSections(const std::filesystem::path& folder) {
    std::vector<SongSection> sections;
    std::error_code error;
    if (folder.empty() || !std::filesystem::is_directory(folder / "song", error)) return sections;
    try {
        for (const synth::Section& section : synth::loadSong(folder / "song").sections)
            sections.push_back({section.name, section.startBar * kRowsPerBar});
    } catch (const std::exception&) {
        sections.clear();
    }
    return sections;
}

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
    if (requested_ || building_) return std::nullopt;
    std::optional<SongBuild> result = std::move(done_);
    done_.reset();
    return result;
}

bool SongBuilder::busy() const {
    std::lock_guard lock(mutex_);
    return requested_ || building_;
}

void SongBuilder::work(std::stop_token stop) {
    lowerThreadPriority();
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, stop, [this] { return requested_; });
            if (stop.stop_requested()) return;
            requested_ = false;
            building_ = true;
            // Whatever was built before is of older sources now.
            done_.reset();
        }
        SongBuild build;
        try {
            if (const std::optional<std::string> mp3 = content::soundtrackMp3(folder_)) {
                build.sections = songSections(folder_);
                build.peaks = waveformPeaks(*mp3, static_cast<double>(kBeatsPerMinute) / 60.0 * kRowsPerBeat);
                build.mp3.emplace(mp3->begin(), mp3->end());
            } else {
                build.error = content::ContentError("soundtrack.mp3", 0, 0, "no music: neither song/ nor soundtrack.mp3");
            }
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
