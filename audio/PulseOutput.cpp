// The output through a PulseAudio server (PipeWire's included), when one
// runs: ALSA's pulse plugin reaches it too, but reports what is heard through
// the client library's interpolation, which drifts by milliseconds for
// seconds when the machine is busy. Here every report is one the server made:
// its read index less its sink's latency, at the moment it took them.
#include "PulseOutput.h"

#include <pulse/pulseaudio.h>

#include <sys/time.h>

#include <algorithm>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// See AudioOutput_posix.cpp: a 60 ms queue in 10 ms blocks; the clock counts it.
constexpr pa_usec_t kQueueMicroseconds = 60000;
constexpr pa_usec_t kBlockMicroseconds = 10000;
constexpr auto kConnectLimit = std::chrono::seconds(2);
constexpr auto kStalled = std::chrono::seconds(2);

class PulseOutput final : public AudioOutput {
public:
    explicit PulseOutput(unsigned rate) : rate_(rate) {}

    ~PulseOutput() override {
        if (loop_) pa_threaded_mainloop_stop(loop_);
        if (stream_) {
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
        }
        if (context_) {
            pa_context_disconnect(context_);
            pa_context_unref(context_);
        }
        if (loop_) pa_threaded_mainloop_free(loop_);
    }

    PulseOutput(const PulseOutput&) = delete;
    PulseOutput& operator=(const PulseOutput&) = delete;

    bool open() {
        loop_ = pa_threaded_mainloop_new();
        if (!loop_) return false;
        context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Tessaran 2023");
        // Never start a server: without one, ALSA's default device plays.
        if (!context_ || pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
            pa_threaded_mainloop_start(loop_) < 0)
            return false;
        if (!waitUntil([&] { return pa_context_get_state(context_) != PA_CONTEXT_CONNECTING &&
                                    pa_context_get_state(context_) != PA_CONTEXT_AUTHORIZING &&
                                    pa_context_get_state(context_) != PA_CONTEXT_SETTING_NAME; }) ||
            pa_context_get_state(context_) != PA_CONTEXT_READY)
            return false;

        const pa_sample_spec sampleFormat{PA_SAMPLE_S16NE, rate_, 2};
        pa_threaded_mainloop_lock(loop_);
        stream_ = pa_stream_new(context_, "Soundtrack", &sampleFormat, nullptr);
        pa_buffer_attr attributes{};
        attributes.maxlength = static_cast<std::uint32_t>(-1);
        attributes.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(kQueueMicroseconds, &sampleFormat));
        attributes.prebuf = static_cast<std::uint32_t>(-1);
        attributes.minreq = static_cast<std::uint32_t>(pa_usec_to_bytes(kBlockMicroseconds, &sampleFormat));
        attributes.fragsize = static_cast<std::uint32_t>(-1);
        // The queue is the whole way to the sink's output; no interpolation
        // of the timing: the reports are the server's own.
        const bool connected =
            stream_ && pa_stream_connect_playback(stream_, nullptr, &attributes, PA_STREAM_ADJUST_LATENCY, nullptr,
                                                  nullptr) == 0;
        pa_threaded_mainloop_unlock(loop_);
        if (!connected || !waitUntil([&] { return pa_stream_get_state(stream_) != PA_STREAM_CREATING; }) ||
            pa_stream_get_state(stream_) != PA_STREAM_READY)
            return false;
        return true;
    }

    unsigned rate() const override { return rate_; }
    std::size_t blockFrames() const override { return rate_ / 100; }

    bool write(const std::int16_t* frames, std::size_t count) override {
        std::size_t bytes = count * kFrameBytes;
        const auto* data = reinterpret_cast<const std::uint8_t*>(frames);
        auto progress = Clock::now();
        while (bytes > 0) {
            pa_threaded_mainloop_lock(loop_);
            if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) {
                pa_threaded_mainloop_unlock(loop_);
                return false;  // the server is gone
            }
            const std::size_t room = pa_stream_writable_size(stream_);
            const std::size_t n = room == static_cast<std::size_t>(-1) ? 0 : std::min(room, bytes) / kFrameBytes * kFrameBytes;
            const bool wrote = n > 0 && pa_stream_write(stream_, data, n, nullptr, 0, PA_SEEK_RELATIVE) == 0;
            pa_threaded_mainloop_unlock(loop_);
            if (wrote) {
                data += n;
                bytes -= n;
                progress = Clock::now();
                continue;
            }
            // A server that takes nothing for seconds is as good as gone.
            if (Clock::now() - progress > kStalled) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    HeardReport heard() override {
        HeardReport report;
        report.at = Clock::now();
        pa_threaded_mainloop_lock(loop_);
        const pa_timing_info* timing = pa_stream_get_timing_info(stream_);
        if (timing) {
            // What the sink plays now: what it read from the stream, less
            // what it holds before the speaker.
            report.frame = static_cast<double>(timing->read_index) / kFrameBytes -
                           static_cast<double>(timing->sink_usec) * 1e-6 * rate_;
            // Not playing: not yet started, or run dry. The clock holds, and
            // starts afresh from the first report that plays again.
            report.running = timing->playing != 0 && !timing->read_index_corrupt && report.frame >= 0.0;
            // The server's stamp is on the wall clock.
            timeval now{};
            gettimeofday(&now, nullptr);
            const double age = static_cast<double>(pa_timeval_diff(&now, &timing->timestamp)) * 1e-6;
            if (pa_timeval_cmp(&timing->timestamp, &now) <= 0 && age < 0.2)
                report.at -= std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(age));
        }
        // The next report's figures, asked for now and answered while the
        // mixer renders its next block.
        if (pa_operation* update = pa_stream_update_timing_info(stream_, nullptr, nullptr)) pa_operation_unref(update);
        pa_threaded_mainloop_unlock(loop_);
        return report;
    }

private:
    static constexpr std::size_t kFrameBytes = 4;

    // Polls the server's state (the loop runs on its own thread) for a while.
    template <typename Done>
    bool waitUntil(Done done) {
        const auto deadline = Clock::now() + kConnectLimit;
        for (;;) {
            pa_threaded_mainloop_lock(loop_);
            const bool finished = done();
            pa_threaded_mainloop_unlock(loop_);
            if (finished) return true;
            if (Clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    unsigned rate_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
};

}  // namespace

std::unique_ptr<AudioOutput> openPulseOutput(unsigned rate) {
    auto output = std::make_unique<PulseOutput>(rate);
    if (!output->open()) return nullptr;
    return output;
}
