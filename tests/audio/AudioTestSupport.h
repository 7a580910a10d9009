// Helpers shared by the audio tests: outputs that record what they are handed,
// an MP3 decode that does not go through the audio layer, and waiting with a
// deadline.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Outputs of the test's own in place of the system's, for a scope
// (audioUseOutputs): they keep every frame the mixer hands them.
//     TestOutputs outputs;                        // fast: a 10 ms block every 1 ms
//     TestOutputs outputs({.realTime = true, .latencyFrames = 4410});
//     ... audioInit(-1, 44100) ... audioFree();
//     std::vector<std::int16_t> heard = outputs.samples();   // interleaved stereo
struct TestOutputOptions {
    // Take blocks at the real rate (as the silent output does), or one every
    // `pace`, so that whole songs play in a fraction of their length.
    bool realTime = false;
    std::chrono::milliseconds pace{1};
    // Frames between what was taken and what is heard, as a device's buffer.
    std::size_t latencyFrames = 0;
    // Fails for good (a device unplugged) once it has taken this many blocks.
    std::size_t failAfterBlocks = SIZE_MAX;
    // Refuses to open at all.
    bool refuse = false;
};

class TestOutputs {
public:
    explicit TestOutputs(TestOutputOptions options = {});
    ~TestOutputs();
    TestOutputs(const TestOutputs&) = delete;
    TestOutputs& operator=(const TestOutputs&) = delete;

    std::vector<std::int16_t> samples() const;
    int opened() const;  // how many outputs were asked for

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
};

struct Pcm {
    long rate = 0;
    int channels = 0;
    std::vector<std::int16_t> samples;  // interleaved
    std::size_t frames() const { return channels == 0 ? 0 : samples.size() / static_cast<std::size_t>(channels); }
    std::uint64_t bytes() const { return samples.size() * sizeof(std::int16_t); }
};

// Decodes a whole MP3 with libmpg123 fed from memory (not the audio layer's path).
Pcm decodeMp3(const std::string& mp3);

// Polls until done() or the timeout; returns done()'s last answer.
bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout);
