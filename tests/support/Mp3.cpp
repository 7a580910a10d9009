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
    std::vector<std::int16_t> samples;
    samples.reserve(std::size_t{frames} * static_cast<std::size_t>(format.channels));
    for (std::uint32_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / format.sampleRate;
        for (int c = 0; c < format.channels; ++c) {
            const double f = c == 0 ? frequency : frequency * 1.5;
            samples.push_back(static_cast<std::int16_t>(std::lround(0.5 * std::sin(2.0 * std::numbers::pi * f * t) * 32767.0)));
        }
    }
    return wavBytes(samples, format);
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
    return mp3FromWav(toneWav(seconds, frequency, format), format);
}

}  // namespace

std::string wavBytes(const std::vector<std::int16_t>& samples, ToneFormat format) {
    const auto channels = static_cast<std::uint32_t>(format.channels);
    const auto dataBytes = static_cast<std::uint32_t>(samples.size() * 2);
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
    for (std::int16_t value : samples) putLe(wav, static_cast<std::uint16_t>(value), 2);
    return wav;
}

std::string mp3FromWav(const std::string& wav, ToneFormat format) {
    TempDir dir;
    const auto wavPath = dir / "in.wav";
    const auto mp3Path = dir / "out.mp3";
    writeFile(wavPath, wav);
    // The output rate is pinned: left to itself lame may resample low bitrates.
    runLame({"lame", "--quiet", "--noreplaygain", "-b", "128", "-m", format.channels == 1 ? "m" : "s",
             "--resample", std::to_string(format.sampleRate / 1000.0), wavPath.string(), mp3Path.string()});
    return readFile(mp3Path);
}

const std::string& toneMp3(double seconds, double frequency) { return toneMp3(seconds, frequency, ToneFormat{}); }

const std::string& toneMp3(double seconds, double frequency, ToneFormat format) {
    static std::mutex mutex;
    static std::map<std::tuple<double, double, int, int>, std::string> cache;

    const std::lock_guard lock(mutex);
    const auto key = std::make_tuple(seconds, frequency, format.sampleRate, format.channels);
    if (auto found = cache.find(key); found != cache.end()) return found->second;
    return cache.emplace(key, encode(seconds, frequency, format)).first->second;
}
