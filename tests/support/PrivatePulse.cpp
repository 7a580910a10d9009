#include "PrivatePulse.h"

#include "TempDir.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sched.h>
#include <functional>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

constexpr const char* kSink = "heard";

bool acceptsConnections(const std::filesystem::path& socketPath) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socketPath.string().copy(address.sun_path, sizeof(address.sun_path) - 1);
    const bool connected = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    close(fd);
    return connected;
}

}  // namespace

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

PrivatePulse::PrivatePulse() {
    char pattern[] = "/tmp/tessaran-pulse-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("cannot make the sound server's folder");
    dir_ = pattern;
    const std::filesystem::path socketPath = dir_ / "native";
    server_ = "unix:" + socketPath.string();
    writeFile(dir_ / "server.pa",
              std::string("load-module module-null-sink sink_name=") + kSink +
                  " rate=44100 channels=2 format=s16le norewinds=1\n"
                  "load-module module-native-protocol-unix auth-anonymous=1 socket=" + socketPath.string() + "\n"
                  "set-default-sink " + kSink + "\n");

    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        const std::string dir = dir_.string();
        for (const char* name : {"HOME", "XDG_RUNTIME_DIR", "PULSE_RUNTIME_PATH", "PULSE_STATE_PATH", "XDG_CONFIG_HOME"})
            setenv(name, dir.c_str(), 1);
        unsetenv("PULSE_SERVER");
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
        const int log = open((dir_ / "server.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(log, 1);
        dup2(log, 2);
        // All of the server real time where allowed, as a desktop's sound
        // server is: the suite shares a busy machine, and a starved server
        // stalls every stream, which is not what these tests measure.
        sched_param param{};
        param.sched_priority = 10;
        sched_setscheduler(0, SCHED_RR, &param);
        execlp("pulseaudio", "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
               "--use-pid-file=no", "--realtime=yes", "--high-priority=yes", "--log-target=stderr", "-F",
               (dir_ / "server.pa").c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!acceptsConnections(socketPath)) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_ || std::chrono::steady_clock::now() > deadline) {
            const std::string log = readFile(dir_ / "server.log");
            if (kill(pid_, SIGKILL) == 0) waitpid(pid_, nullptr, 0);
            pid_ = -1;
            std::filesystem::remove_all(dir_);
            throw std::runtime_error("the private sound server did not start: " + log);
        }
        std::this_thread::sleep_for(20ms);
    }
}

PrivatePulse::~PrivatePulse() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (waitpid(pid_, nullptr, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
                break;
            }
            std::this_thread::sleep_for(10ms);
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::map<std::string, std::string> PrivatePulse::clientEnv() const {
    // PULSE_SERVER is also what ALSA's pulse plugin asks whether a server runs.
    return {{"PULSE_SERVER", server_}, {"PULSE_RUNTIME_PATH", dir_.string()}};
}

struct MonitorRecorder::State {
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    bool failed = false;
    // Written on the loop's thread, with its lock held.
    std::vector<std::int16_t> samples;
    std::vector<std::pair<double, double>> stamps;  // (frame, steady seconds it was played)

    ~State() {
        if (loop) pa_threaded_mainloop_stop(loop);
        if (stream) pa_stream_unref(stream);
        if (context) {
            pa_context_disconnect(context);
            pa_context_unref(context);
        }
        if (loop) pa_threaded_mainloop_free(loop);
    }

    static void onContext(pa_context*, void* self) {
        pa_threaded_mainloop_signal(static_cast<State*>(self)->loop, 0);
    }
    static void onStream(pa_stream*, void* self) { pa_threaded_mainloop_signal(static_cast<State*>(self)->loop, 0); }

    static void onRead(pa_stream* stream, std::size_t, void* raw) {
        auto* self = static_cast<State*>(raw);
        const double now = steadySeconds();
        pa_usec_t latency = 0;
        int negative = 0;
        // The latency is from the frame about to be read to the one playing now.
        if (pa_stream_get_latency(stream, &latency, &negative) == 0) {
            const double seconds = static_cast<double>(latency) / 1e6;
            self->stamps.emplace_back(static_cast<double>(self->samples.size() / 2), negative ? now + seconds : now - seconds);
        }
        while (pa_stream_readable_size(stream) > 0) {
            const void* data = nullptr;
            std::size_t bytes = 0;
            if (pa_stream_peek(stream, &data, &bytes) < 0) return;
            if (bytes == 0) break;
            const std::size_t count = bytes / sizeof(std::int16_t);
            if (data) {
                const auto* in = static_cast<const std::int16_t*>(data);
                self->samples.insert(self->samples.end(), in, in + count);
            } else {
                self->samples.resize(self->samples.size() + count, 0);  // a hole: nothing was played
            }
            pa_stream_drop(stream);
        }
    }

    bool waitFor(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            pa_threaded_mainloop_wait(loop);
        }
        return true;
    }
};

MonitorRecorder::MonitorRecorder(const PrivatePulse& pulse) : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.samples.reserve(PrivatePulse::kRate * 2 * 60);
    s.loop = pa_threaded_mainloop_new();
    if (!s.loop) throw std::runtime_error("recorder: no main loop");
    s.context = pa_context_new(pa_threaded_mainloop_get_api(s.loop), "tessaran-test-recorder");
    pa_context_set_state_callback(s.context, &State::onContext, &s);
    if (pa_context_connect(s.context, pulse.server().c_str(), PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        throw std::runtime_error("recorder: cannot connect to " + pulse.server());
    pa_threaded_mainloop_lock(s.loop);
    pa_threaded_mainloop_start(s.loop);
    const bool ready = s.waitFor([&] {
        const pa_context_state_t state = pa_context_get_state(s.context);
        return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
    }) && pa_context_get_state(s.context) == PA_CONTEXT_READY;
    if (ready) {
        const pa_sample_spec sampleFormat{PA_SAMPLE_S16LE, PrivatePulse::kRate, 2};
        s.stream = pa_stream_new(s.context, "monitor", &sampleFormat, nullptr);
        pa_stream_set_state_callback(s.stream, &State::onStream, &s);
        pa_stream_set_read_callback(s.stream, &State::onRead, &s);
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(5000, &sampleFormat));
        const std::string monitor = std::string(kSink) + ".monitor";
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE |
                                                          PA_STREAM_ADJUST_LATENCY);
        s.failed = pa_stream_connect_record(s.stream, monitor.c_str(), &attr, flags) < 0 ||
                   !s.waitFor([&] { return pa_stream_get_state(s.stream) != PA_STREAM_CREATING; }) ||
                   pa_stream_get_state(s.stream) != PA_STREAM_READY;
    }
    pa_threaded_mainloop_unlock(s.loop);
    if (!ready || s.failed) throw std::runtime_error("recorder: cannot record " + std::string(kSink) + ".monitor");
}

MonitorRecorder::~MonitorRecorder() = default;

Recording MonitorRecorder::stop() {
    State& s = *state_;
    pa_threaded_mainloop_lock(s.loop);
    pa_stream_disconnect(s.stream);
    pa_threaded_mainloop_unlock(s.loop);
    pa_threaded_mainloop_stop(s.loop);

    Recording recording;
    recording.rate = PrivatePulse::kRate;
    recording.samples = std::move(s.samples);
    if (s.stamps.size() < 8) throw std::runtime_error("recorder: no timing came with the recording");
    // A line through the stamps: the sink's clock runs at its own pace (a
    // null sink renders blocks of whole microseconds, a few hundred parts per
    // million off its nominal rate). The stamps furthest off it (the first
    // ones, before the server's timing settles) are left out of a second fit.
    auto fit = [&](double limit) {
        double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
        for (const auto& [frame, at] : s.stamps) {
            if (limit > 0 && std::abs(at - recording.timeOf(frame)) > limit) continue;
            n += 1, sx += frame, sy += at, sxx += frame * frame, sxy += frame * at;
        }
        const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
        recording.firstFrameTime = (sy - slope * sx) / n;
        recording.secondsPerFrame = slope;
    };
    fit(0.0);
    fit(0.001);
    std::vector<double> residuals;
    for (const auto& [frame, at] : s.stamps) residuals.push_back(std::abs(at - recording.timeOf(frame)));
    std::sort(residuals.begin(), residuals.end());
    recording.stampSpread = residuals[residuals.size() * 99 / 100];
    return recording;
}
