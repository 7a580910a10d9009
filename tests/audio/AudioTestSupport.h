// Helpers shared by the audio tests: environment switches for picking SDL's
// output driver, an MP3 decode that does not go through the audio layer, raw
// output files as samples, and waiting with a deadline.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

// Sets (or, with nullopt, removes) environment variables for a scope and puts
// the previous values back at its end.
class ScopedEnv {
public:
    explicit ScopedEnv(const std::map<std::string, std::optional<std::string>>& values);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::map<std::string, std::optional<std::string>> previous_;
};

// SDL's disk driver writing to path, paced fast: a buffer of 20 ms every
// delayMs, so whole songs play in a fraction of their length.
std::map<std::string, std::optional<std::string>> diskDriver(const std::filesystem::path& path, int delayMs = 2);

struct Pcm {
    long rate = 0;
    int channels = 0;
    std::vector<std::int16_t> samples;  // interleaved
    std::size_t frames() const { return channels == 0 ? 0 : samples.size() / static_cast<std::size_t>(channels); }
    std::uint64_t bytes() const { return samples.size() * sizeof(std::int16_t); }
};

// Decodes a whole MP3 with libmpg123 fed from memory (not the audio layer's path).
Pcm decodeMp3(const std::string& mp3);

// A raw little-endian 16-bit file as samples.
std::vector<std::int16_t> readSamples(const std::filesystem::path& path);

// Polls until done() or the timeout; returns done()'s last answer.
bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout);
