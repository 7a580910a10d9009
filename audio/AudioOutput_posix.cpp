// The system's output: a PulseAudio (or PipeWire) server when one runs
// (PulseOutput.cpp), else ALSA's "default" device. What ALSA hears comes
// from snd_pcm_status: the frames still queued before the listener (the
// device's own latency included, as far as its driver knows it) with a
// CLOCK_MONOTONIC stamp of when that was true.
#include "AudioOutput.h"
#include "PulseOutput.h"

#include <alsa/asoundlib.h>
#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>

namespace {

// ALSA prints its own diagnostics to standard error when there is no sound
// card; the presentation reports nothing but fatal errors, and a missing card
// is already handled by the silent fallback.
void ignoreDiagnostic(const char*, int, const char*, int, const char*, ...) {}

struct PcmCloser {
    void operator()(snd_pcm_t* pcm) const { snd_pcm_close(pcm); }
};
using Pcm = std::unique_ptr<snd_pcm_t, PcmCloser>;

// About 10 ms a block and six of them queued: a seek is heard within 60 ms,
// and a busy machine (a software renderer taking both cores) does not run
// the device dry. The clock counts the queue, so its length costs no sync.
constexpr unsigned kPeriodMicroseconds = 10000;
constexpr unsigned kBufferMicroseconds = 60000;
constexpr auto kStalled = std::chrono::seconds(2);

// The n-th playback device ALSA lists, counting from 1.
std::string listedName(int n) {
    void** hints = nullptr;
    if (snd_device_name_hint(-1, "pcm", &hints) < 0) return {};
    std::string found;
    for (void** hint = hints; *hint != nullptr && found.empty(); ++hint) {
        char* name = snd_device_name_get_hint(*hint, "NAME");
        char* io = snd_device_name_get_hint(*hint, "IOID");
        const bool output = io == nullptr || std::string(io) == "Output";
        if (name != nullptr && output && --n == 0) found = name;
        std::free(name);
        std::free(io);
    }
    snd_device_name_free_hint(hints);
    return found;
}

class AlsaOutput final : public AudioOutput {
public:
    static std::unique_ptr<AudioOutput> open(int device, unsigned rate) {
        snd_lib_error_set_handler(ignoreDiagnostic);
        const std::string name = device < 0 ? "default" : listedName(device);
        if (name.empty()) return nullptr;
        snd_pcm_t* raw = nullptr;
        if (snd_pcm_open(&raw, name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) return nullptr;
        Pcm pcm(raw);

        snd_pcm_hw_params_t* hw = nullptr;
        snd_pcm_hw_params_alloca(&hw);
        unsigned actualRate = rate;
        unsigned period = kPeriodMicroseconds;
        unsigned buffer = kBufferMicroseconds;
        snd_pcm_uframes_t periodFrames = 0;
        if (snd_pcm_hw_params_any(pcm.get(), hw) < 0 ||
            snd_pcm_hw_params_set_access(pcm.get(), hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
            snd_pcm_hw_params_set_format(pcm.get(), hw, SND_PCM_FORMAT_S16) < 0 ||
            snd_pcm_hw_params_set_channels(pcm.get(), hw, 2) < 0 ||
            snd_pcm_hw_params_set_rate_resample(pcm.get(), hw, 1) < 0 ||
            snd_pcm_hw_params_set_rate_near(pcm.get(), hw, &actualRate, nullptr) < 0 ||
            snd_pcm_hw_params_set_buffer_time_near(pcm.get(), hw, &buffer, nullptr) < 0 ||
            snd_pcm_hw_params_set_period_time_near(pcm.get(), hw, &period, nullptr) < 0 ||
            snd_pcm_hw_params(pcm.get(), hw) < 0 || snd_pcm_hw_params_get_period_size(hw, &periodFrames, nullptr) < 0 ||
            periodFrames == 0)
            return nullptr;

        snd_pcm_sw_params_t* sw = nullptr;
        snd_pcm_sw_params_alloca(&sw);
        if (snd_pcm_sw_params_current(pcm.get(), sw) < 0 ||
            snd_pcm_sw_params_set_tstamp_mode(pcm.get(), sw, SND_PCM_TSTAMP_ENABLE) < 0 ||
            snd_pcm_sw_params_set_tstamp_type(pcm.get(), sw, SND_PCM_TSTAMP_TYPE_MONOTONIC) < 0 ||
            snd_pcm_sw_params(pcm.get(), sw) < 0 || snd_pcm_prepare(pcm.get()) < 0)
            return nullptr;
        return std::make_unique<AlsaOutput>(std::move(pcm), actualRate, periodFrames);
    }

    AlsaOutput(Pcm pcm, unsigned rate, snd_pcm_uframes_t period) : pcm_(std::move(pcm)), rate_(rate), block_(period) {
        snd_pcm_status_malloc(&status_);
    }

    ~AlsaOutput() override {
        if (status_) snd_pcm_status_free(status_);
    }

    unsigned rate() const override { return rate_; }
    std::size_t blockFrames() const override { return block_; }

    bool write(const std::int16_t* frames, std::size_t count) override {
        auto progress = std::chrono::steady_clock::now();
        while (count > 0) {
            const snd_pcm_sframes_t done = snd_pcm_writei(pcm_.get(), frames, count);
            if (done == -EAGAIN) {
                // Full: wait for room, but not for ever. A device or server
                // that takes nothing for seconds is gone, and the caller
                // carries on without it rather than hang the program's end.
                if (snd_pcm_wait(pcm_.get(), 100) <= 0 && std::chrono::steady_clock::now() - progress > kStalled)
                    return false;
                continue;
            }
            if (done < 0) {
                // An underrun, or a suspend and resume: start again from here.
                if (snd_pcm_recover(pcm_.get(), static_cast<int>(done), 1) < 0) return false;
                restarted_ = true;
                continue;
            }
            progress = std::chrono::steady_clock::now();
            frames += static_cast<std::size_t>(done) * 2;
            count -= static_cast<std::size_t>(done);
            written_ += static_cast<std::uint64_t>(done);
        }
        return true;
    }

    HeardReport heard() override {
        HeardReport report;
        report.at = std::chrono::steady_clock::now();
        report.frame = static_cast<double>(written_);
        report.restarted = restarted_;
        restarted_ = false;
        if (!status_ || snd_pcm_status(pcm_.get(), status_) < 0) return report;
        report.running = snd_pcm_status_get_state(status_) == SND_PCM_STATE_RUNNING;
        report.frame -= static_cast<double>(snd_pcm_status_get_delay(status_));
        snd_htimestamp_t stamp{};
        snd_pcm_status_get_htstamp(status_, &stamp);
        // The stamp is on CLOCK_MONOTONIC, the steady clock's own here; a
        // plugin that leaves it empty or keeps another clock gets "now".
        const std::chrono::steady_clock::time_point at{std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::seconds(stamp.tv_sec) + std::chrono::nanoseconds(stamp.tv_nsec))};
        if (at <= report.at && report.at - at < std::chrono::milliseconds(200)) report.at = at;
        return report;
    }

private:
    Pcm pcm_;
    unsigned rate_;
    std::size_t block_;
    snd_pcm_status_t* status_ = nullptr;
    std::uint64_t written_ = 0;
    bool restarted_ = false;
};

}  // namespace

std::unique_ptr<AudioOutput> openSystemOutput(int device, unsigned rate) {
    if (device < 0)
        if (auto output = openPulseOutput(rate)) return output;
    return AlsaOutput::open(device, rate);
}

struct AudioLock::Native {
    pthread_mutex_t mutex;
};

AudioLock::AudioLock() : native_(std::make_unique<Native>()) {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_setprotocol(&attributes, PTHREAD_PRIO_INHERIT);
    pthread_mutex_init(&native_->mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

AudioLock::~AudioLock() { pthread_mutex_destroy(&native_->mutex); }
void AudioLock::lock() { pthread_mutex_lock(&native_->mutex); }
void AudioLock::unlock() { pthread_mutex_unlock(&native_->mutex); }

void prepareAudioThread() {
    pthread_setname_np(pthread_self(), "tessaran-audio");
    // Real-time round robin at a low priority when the process may have it
    // (RLIMIT_RTPRIO, or privileges); otherwise the thread stays as it is.
    sched_param param{};
    param.sched_priority = std::max(1, sched_get_priority_min(SCHED_RR));
    pthread_setschedparam(pthread_self(), SCHED_RR, &param);
}
