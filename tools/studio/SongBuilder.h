// SongBuilder: the soundtrack rendered and encoded from a content folder on a
// thread of its own, with what the timeline shows of it (sections, waveform),
// so the frame loop (and the old music) never waits for it.
//
// Use:
//     SongBuilder songs(folder);
//     songs.request();                                  // the song's sources changed
//     every frame: if (auto done = songs.take()) { done->mp3 or done->error }
//
// Requests that arrive while a build runs fold into one more build after it,
// and a build that starts makes every earlier result stale: take() hands out
// only the result of the latest sources, never an older one in the meantime.
//
// The thread (and the encoder it starts) runs at a lower priority than the
// frame loop.
//
// Ownership: the builder owns its thread; destruction waits for a build in
// progress (it cannot be cut short) and drops its result.
//
// Failure: a build's ContentError (a song that does not parse, the encoder
// failing) or a folder without music comes back in the result; take() never
// throws.
#pragma once

#include "ContentFolder.h"
#include "Transport.h"

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace zyr::studio {

struct SongBuild {
    std::optional<std::vector<std::uint8_t>> mp3;  // nullopt: no soundtrack, or an error
    std::optional<content::ContentError> error;
    std::vector<SongSection> sections;          // the song's, or none for a ready MP3
    std::vector<float> peaks;                   // waveformPeaks of mp3
};

// The song's sections as rows, or none for music without an arrangement (or
// an arrangement that does not read: its build reports that).
std::vector<SongSection> songSections(const std::filesystem::path& folder);

class SongBuilder {
public:
    explicit SongBuilder(std::filesystem::path folder);
    ~SongBuilder();

    SongBuilder(const SongBuilder&) = delete;
    SongBuilder& operator=(const SongBuilder&) = delete;

    void request();
    // The latest finished build, once; nullopt while none is new or a newer
    // one is asked for or running.
    std::optional<SongBuild> take();
    bool busy() const;

private:
    void work(std::stop_token stop);

    std::filesystem::path folder_;
    mutable std::mutex mutex_;
    std::condition_variable_any wake_;
    bool requested_ = false;
    bool building_ = false;
    std::optional<SongBuild> done_;
    std::jthread thread_;  // last: starts once everything above exists
};

}  // namespace zyr::studio
