#include "AudioTestSupport.h"

#include "Wait.h"

#include "TempDir.h"

#include <mpg123.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

ScopedEnv::ScopedEnv(const std::map<std::string, std::optional<std::string>>& values) {
    for (const auto& [name, value] : values) {
        const char* old = std::getenv(name.c_str());
        previous_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        if (value) setenv(name.c_str(), value->c_str(), 1);
        else unsetenv(name.c_str());
    }
}

ScopedEnv::~ScopedEnv() {
    for (const auto& [name, value] : previous_) {
        if (value) setenv(name.c_str(), value->c_str(), 1);
        else unsetenv(name.c_str());
    }
}

std::map<std::string, std::optional<std::string>> diskDriver(const std::filesystem::path& path, int delayMs) {
    return {{"SDL_AUDIODRIVER", "disk"},
            {"SDL_DISKAUDIOFILE", path.string()},
            {"SDL_DISKAUDIODELAY", std::to_string(delayMs)}};
}

Pcm decodeMp3(const std::string& mp3) {
    mpg123_init();
    mpg123_handle* handle = mpg123_new(nullptr, nullptr);
    if (!handle) throw std::runtime_error("mpg123_new failed");
    mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    mpg123_format_none(handle);
    const long* rates = nullptr;
    std::size_t count = 0;
    mpg123_rates(&rates, &count);
    for (std::size_t i = 0; i < count; ++i)
        mpg123_format(handle, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    mpg123_open_feed(handle);
    mpg123_feed(handle, reinterpret_cast<const unsigned char*>(mp3.data()), mp3.size());

    Pcm pcm;
    std::vector<unsigned char> buffer(1 << 16);
    for (;;) {
        std::size_t done = 0;
        const int result = mpg123_read(handle, buffer.data(), buffer.size(), &done);
        if (done >= 2) {
            const std::size_t old = pcm.samples.size();
            pcm.samples.resize(old + done / 2);
            std::memcpy(pcm.samples.data() + old, buffer.data(), done / 2 * 2);
        }
        if (result == MPG123_NEW_FORMAT) {
            int encoding = 0;
            mpg123_getformat(handle, &pcm.rate, &pcm.channels, &encoding);
        } else if (result != MPG123_OK) {
            break;  // NEED_MORE: everything fed has been decoded
        }
    }
    mpg123_delete(handle);
    if (pcm.channels == 0) throw std::runtime_error("not an MP3");
    return pcm;
}

std::vector<std::int16_t> readSamples(const std::filesystem::path& path) {
    const std::string bytes = readFile(path);
    std::vector<std::int16_t> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[2 * i]) |
                                               (static_cast<std::uint8_t>(bytes[2 * i + 1]) << 8));
    return samples;
}

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    // Positions move in milliseconds: poll finely.
    return waitUntil(done, timeout, std::chrono::milliseconds(2));
}
