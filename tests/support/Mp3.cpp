#include "Mp3.h"

#include "TempDir.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <map>
#include <mutex>
#include <numbers>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

void putLe(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

std::string toneWav(double seconds, double frequency, ToneFormat format) {
    const auto frames = static_cast<std::uint32_t>(std::lround(seconds * format.sampleRate));
    const auto channels = static_cast<std::uint32_t>(format.channels);
    const std::uint32_t dataBytes = frames * channels * 2;

    std::string wav = "RIFF";
    putLe(wav, 36 + dataBytes, 4);
    wav += "WAVEfmt ";
    putLe(wav, 16, 4);
    putLe(wav, 1, 2);  // PCM
    putLe(wav, channels, 2);
    putLe(wav, static_cast<std::uint32_t>(format.sampleRate), 4);
    putLe(wav, static_cast<std::uint32_t>(format.sampleRate) * channels * 2, 4);
    putLe(wav, channels * 2, 2);
    putLe(wav, 16, 2);
    wav += "data";
    putLe(wav, dataBytes, 4);

    for (std::uint32_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / format.sampleRate;
        for (std::uint32_t c = 0; c < channels; ++c) {
            const double f = c == 0 ? frequency : frequency * 1.5;
            const double sample = 0.5 * std::sin(2.0 * std::numbers::pi * f * t);
            const auto value = static_cast<std::int16_t>(std::lround(sample * 32767.0));
            putLe(wav, static_cast<std::uint16_t>(value), 2);
        }
    }
    return wav;
}

// Runs lame without a shell, so paths need no quoting.
void runLame(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start lame");
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) throw std::runtime_error("lost track of lame");
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("lame failed");
}

std::string encode(double seconds, double frequency, ToneFormat format) {
    if (format.channels != 1 && format.channels != 2) throw std::runtime_error("tone channels must be 1 or 2");
    TempDir dir;
    const auto wav = dir / "tone.wav";
    const auto mp3 = dir / "tone.mp3";
    writeFile(wav, toneWav(seconds, frequency, format));
    // The output rate is pinned: left to itself lame may resample low bitrates.
    runLame({"lame", "--quiet", "--noreplaygain", "-b", "128", "-m", format.channels == 1 ? "m" : "s",
             "--resample", std::to_string(format.sampleRate / 1000.0), wav.string(), mp3.string()});
    return readFile(mp3);
}

}  // namespace

const std::string& toneMp3(double seconds, double frequency) { return toneMp3(seconds, frequency, ToneFormat{}); }

const std::string& toneMp3(double seconds, double frequency, ToneFormat format) {
    static std::mutex mutex;
    static std::map<std::tuple<double, double, int, int>, std::string> cache;

    const std::lock_guard lock(mutex);
    const auto key = std::make_tuple(seconds, frequency, format.sampleRate, format.channels);
    if (auto found = cache.find(key); found != cache.end()) return found->second;
    return cache.emplace(key, encode(seconds, frequency, format)).first->second;
}
