#include "Wav.h"

#include "FileWrite.h"
#include "Song.h"
#include "Synth.h"

#include <fstream>
#include <stdexcept>
#include <system_error>

namespace zyr::synth {

namespace {

void put(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

std::string encodeWav(const std::vector<std::int16_t>& pcm) {
    constexpr std::uint32_t bytesPerFrame = kChannels * 2;
    const auto dataBytes = static_cast<std::uint32_t>(pcm.size() * 2);
    std::string out;
    out.reserve(44 + dataBytes);
    out += "RIFF";
    put(out, 36 + dataBytes, 4);
    out += "WAVEfmt ";
    put(out, 16, 4);
    put(out, 1, 2);  // integer PCM
    put(out, kChannels, 2);
    put(out, static_cast<std::uint32_t>(kFramesPerSecond), 4);
    put(out, static_cast<std::uint32_t>(kFramesPerSecond) * bytesPerFrame, 4);
    put(out, bytesPerFrame, 2);
    put(out, 16, 2);
    out += "data";
    put(out, dataBytes, 4);
    // Byte by byte: the file is little-endian whatever the host is.
    for (std::int16_t s : pcm) put(out, static_cast<std::uint16_t>(s), 2);
    return out;
}

void writeFileAtomically(const std::filesystem::path& path, std::string_view bytes) {
    try {
        replaceFile(path, bytes);
    } catch (const FileError& error) {
        throw std::runtime_error(error.what());
    }
}

}  // namespace zyr::synth
