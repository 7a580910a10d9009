// A sound server of the test's own, to hear what a program played and when.
//
//     PrivatePulse pulse;                           // daemon up, null sink "heard" as default
//     MonitorRecorder recorder(pulse);              // records what the sink plays, from now
//     Program player(x, dir, {...}, pulse.clientEnv());   // plays into it
//     ...
//     const Recording heard = recorder.stop();
//     double at = heard.timeOf(12345);              // steady_clock seconds the frame was heard
//
// The daemon runs as whoever runs the suite (root included), without systemd
// or D-Bus, in a private runtime folder with an anonymous native socket, so it
// meets no other sound server and no other test's. Its null sink plays in real
// time (norewinds=1: without it the sink renders up to two seconds ahead).
// The destructor stops the daemon by its process id and waits for it.
//
// The recorder reads the sink's monitor through libpulse on a thread of its
// own. Each chunk is stamped with the moment its first frame was played: the
// monitor stream's latency subtracted from the time it arrived. Recording holds
// the line fitted through those stamps.
//
// Failure: a daemon that does not come up or a recorder that cannot connect
// throw std::runtime_error with the reason.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

class PrivatePulse {
public:
    PrivatePulse();
    ~PrivatePulse();
    PrivatePulse(const PrivatePulse&) = delete;
    PrivatePulse& operator=(const PrivatePulse&) = delete;

    // The server address for libpulse ("unix:/.../native").
    const std::string& server() const { return server_; }
    // What a program needs in its environment to play into this server, be it
    // through libpulse or through ALSA's pulse plugin.
    std::map<std::string, std::string> clientEnv() const;
    static constexpr unsigned kRate = 44100;

private:
    std::filesystem::path dir_;
    std::string server_;
    int pid_ = -1;
};

struct Recording {
    unsigned rate = 0;
    std::vector<std::int16_t> samples;  // interleaved stereo
    double firstFrameTime = 0.0;        // steady_clock seconds frame 0 was played
    double secondsPerFrame = 0.0;       // on the steady clock
    double stampSpread = 0.0;           // how far 99 % of the chunks' stamps lie from the fit, seconds
    std::size_t frames() const { return samples.size() / 2; }
    double timeOf(double frame) const { return firstFrameTime + frame * secondsPerFrame; }
};

class MonitorRecorder {
public:
    explicit MonitorRecorder(const PrivatePulse& pulse);
    ~MonitorRecorder();
    MonitorRecorder(const MonitorRecorder&) = delete;
    MonitorRecorder& operator=(const MonitorRecorder&) = delete;

    Recording stop();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// steady_clock now in seconds: the clock the recording's times are on.
double steadySeconds();
