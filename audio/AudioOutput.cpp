#include "AudioOutput.h"

#include <algorithm>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// Takes a block whenever the previous one has begun to play, as a device with
// a buffer of two blocks would, and reports the frame the steady clock says
// is playing.
class SilentOutput final : public AudioOutput {
public:
    explicit SilentOutput(unsigned rate) : rate_(rate), block_(std::max(1u, rate / 100)) {}

    unsigned rate() const override { return rate_; }
    std::size_t blockFrames() const override { return block_; }

    bool write(const std::int16_t*, std::size_t count) override {
        if (!started_) {
            start_ = Clock::now();
            started_ = true;
        }
        const double due = static_cast<double>(written_) - static_cast<double>(block_);
        if (due > 0) std::this_thread::sleep_until(start_ + seconds(due));
        // Late (a busy machine): what was written has all played, and the
        // rest plays from now, as after a device's underrun.
        const Clock::time_point now = Clock::now();
        if (playedAt(now) > static_cast<double>(written_)) {
            start_ = now - seconds(static_cast<double>(written_));
            restarted_ = true;
        }
        written_ += count;
        return true;
    }

    HeardReport heard() override {
        const Clock::time_point now = Clock::now();
        HeardReport report{std::min(playedAt(now), static_cast<double>(written_)), now, started_, restarted_};
        restarted_ = false;
        return report;
    }

private:
    Clock::duration seconds(double frames) const {
        return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(frames / rate_));
    }
    double playedAt(Clock::time_point t) const {
        return std::chrono::duration<double>(t - start_).count() * rate_;
    }

    unsigned rate_;
    std::size_t block_;
    bool started_ = false;
    bool restarted_ = false;
    Clock::time_point start_{};
    std::uint64_t written_ = 0;
};

}  // namespace

std::unique_ptr<AudioOutput> openSilentOutput(unsigned rate) { return std::make_unique<SilentOutput>(rate); }
