// AudioOutput: where the audio layer's mixer sends its sound, and how it
// learns which frame the listener hears now.
//
// The system's output is opened per platform (AudioOutput_posix.cpp: ALSA's
// default device, which reaches PulseAudio and PipeWire through their
// plugins; AudioOutput_win32.cpp: WASAPI in shared mode). The silent output
// keeps time without a sound card. Tests may hand the layer outputs of their own.
//
// Use (the mixer thread of AudioLayer.cpp does this):
//     std::unique_ptr<AudioOutput> out = openSystemOutput(-1, 44100);   // null: none to be had
//     while (...) {
//         out->write(block.data(), out->blockFrames());   // waits until the output takes it
//         HeardReport heard = out->heard();                // frame heard at heard.at
//     }
//
// Ownership and threads: an output is opened, used and destroyed on one
// thread, the mixer's (WASAPI wants its objects on the thread that made them).
//
// Failure: open gives null when there is no such output; write returns false
// once the output has failed for good (a device unplugged, a server gone),
// and the mixer then carries on with a silent output so the clock still runs.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

struct HeardReport {
    // Frames written since the output opened minus those not heard yet: the
    // frame at the listener's ear at `at`.
    double frame = 0.0;
    std::chrono::steady_clock::time_point at;
    // False while the output is not playing (not started, or stalled): the
    // frame then stays where it is.
    bool running = false;
    // An underrun or a restart happened since the last report: what was
    // heard before tells nothing about what is heard now.
    bool restarted = false;
};

class AudioOutput {
public:
    virtual ~AudioOutput() = default;
    // Frames per second, fixed for the output's life.
    virtual unsigned rate() const = 0;
    // How many frames the mixer hands over per write.
    virtual std::size_t blockFrames() const = 0;
    // Interleaved 16-bit stereo frames; waits until the output has taken them.
    virtual bool write(const std::int16_t* frames, std::size_t count) = 0;
    virtual HeardReport heard() = 0;
};

// Consumes frames at the real rate on the steady clock and plays nothing.
std::unique_ptr<AudioOutput> openSilentOutput(unsigned rate);

// The platform's output: device -1 the default, n > 0 the n-th in the
// system's list. Null when it cannot be opened.
std::unique_ptr<AudioOutput> openSystemOutput(int device, unsigned rate);

// Readies the calling thread to feed an output: asks for the scheduling a
// sound thread needs (a few microseconds of work every 10 ms that must not
// wait behind a renderer taking every core), where the system grants it, and
// names it "tessaran-audio" where the platform keeps thread names (debuggers
// and the tests' teardown trace read it). Threads it then starts, such as a
// sound server client's, inherit the scheduling.
void prepareAudioThread();

// The lock between the mixer thread and the threads that ask what is heard.
// Where the platform has it, a thread holding it takes on the priority of a
// mixer waiting for it, so a busy machine cannot park the mixer, and with it
// the sound, behind a caller it preempted inside the lock.
class AudioLock {
public:
    AudioLock();
    ~AudioLock();
    AudioLock(const AudioLock&) = delete;
    AudioLock& operator=(const AudioLock&) = delete;
    void lock();
    void unlock();

private:
    struct Native;
    std::unique_ptr<Native> native_;
};

// Where audioInit gets its outputs (for a device other than 0, the silent one)
// from now on; an empty function goes back to openSystemOutput. For tests
// that record what is played or pace it their own way.
using AudioOutputOpener = std::function<std::unique_ptr<AudioOutput>(int device, unsigned rate)>;
void audioUseOutputs(AudioOutputOpener opener);
