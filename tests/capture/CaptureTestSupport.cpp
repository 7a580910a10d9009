#include "CaptureTestSupport.h"

#include "Desktop.h"
#include "PrivateDisplay.h"
#include "SyncTrack.h"
#include "TempDir.h"
#include "ZipWriter.h"

#include <stb/stb_image.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>

const char* const kProbeShader = R"(#version 460 core
layout(location = 0) in vec2 vUv;
layout(location = 0) out vec4 colour;
#pragma EXPORT(rocket=probe)
uniform vec3 probe;
void main() {
    colour = vUv.y < 0.25 ? vec4(1.0, 0.0, 0.0, 1.0) : vec4(probe, 1.0);
}
)";

const std::vector<ProbeKey>& probeKeys(int component) {
    static const std::vector<ProbeKey> keys[3] = {
        {{0, 0.0f, 1}, {24, 1.0f, 1}, {48, 0.0f, 0}},
        {{0, 1.0f, 1}, {12, 0.0f, 1}, {36, 1.0f, 1}, {48, 0.2f, 0}},
        {{4, 0.1f, 1}, {40, 0.9f, 0}},
    };
    return keys[component];
}

double probeValue(int component, double row) {
    std::vector<SyncKey> keys;
    for (const ProbeKey& key : probeKeys(component)) keys.push_back({key.row, key.value, key.type});
    char name[] = "probe";
    const SyncTrack track{name, keys.data(), static_cast<std::int32_t>(keys.size())};
    return getValue(&track, row);
}

std::string trackFile(const std::vector<ProbeKey>& keys) {
    std::string bytes;
    auto put = [&](const void* p, std::size_t n) { bytes.append(static_cast<const char*>(p), n); };
    const auto count = static_cast<std::int32_t>(keys.size());
    put(&count, 4);
    for (const ProbeKey& key : keys) {
        put(&key.row, 4);
        put(&key.value, 4);
        put(&key.type, 1);
    }
    return bytes;
}

std::vector<ZipEntry> probeEntries(const std::string& mp3) {
    return {{"fs.glsl", kProbeShader},
            {"soundtrack.mp3", mp3, ZipMethod::Stored},
            {"sync_probe.x.track", trackFile(probeKeys(0))},
            {"sync_probe.y.track", trackFile(probeKeys(1))},
            {"sync_probe.z.track", trackFile(probeKeys(2))}};
}

std::unique_ptr<Program> startCapture(const std::filesystem::path& dir, const std::vector<std::string>& arguments,
                                      const std::map<std::string, std::string>& extraEnv) {
    std::vector<std::string> argv{ZYR_CAPTURE_BINARY};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return std::make_unique<Program>(PrivateDisplayEnvironment::display(), dir, argv, extraEnv);
}

ToolRun runCapture(const std::filesystem::path& dir, const std::vector<std::string>& arguments,
                   const std::map<std::string, std::string>& extraEnv) {
    const auto tool = startCapture(dir, arguments, extraEnv);
    ToolRun run;
    run.status = tool->waitExit(std::chrono::seconds(90)).value_or(-1);
    run.errors = tool->errorOutput();
    return run;
}

Image readPng(const std::filesystem::path& path) {
    const std::string bytes = readFile(path);
    Image image;
    int channels = 0;
    stbi_uc* pixels = stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(bytes.data()),
                                            static_cast<int>(bytes.size()), &image.width, &image.height, &channels, 3);
    if (pixels == nullptr) throw std::runtime_error(path.string() + " is no PNG");
    image.rgb.assign(pixels, pixels + static_cast<std::size_t>(image.width) * image.height * 3);
    stbi_image_free(pixels);
    return image;
}

Wav readWav(const std::filesystem::path& path) {
    const std::string bytes = readFile(path);
    auto u32 = [&](std::size_t at) {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = (v << 8) | static_cast<std::uint8_t>(bytes.at(at + static_cast<std::size_t>(i)));
        return v;
    };
    auto u16 = [&](std::size_t at) {
        return static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes.at(at)) |
                                          (static_cast<std::uint8_t>(bytes.at(at + 1)) << 8));
    };
    if (bytes.size() < 44 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0 ||
        bytes.compare(12, 4, "fmt ") != 0 || u32(16) != 16 || bytes.compare(36, 4, "data") != 0)
        throw std::runtime_error(path.string() + " is no canonical WAV");
    if (u32(4) != bytes.size() - 8 || u32(40) != bytes.size() - 44)
        throw std::runtime_error(path.string() + ": chunk sizes disagree with the file size");
    Wav wav;
    wav.format = u16(20);
    wav.channels = u16(22);
    wav.frequency = u32(24);
    wav.bits = u16(34);
    if (u32(28) != wav.frequency * wav.channels * 2 || u16(32) != wav.channels * 2)
        throw std::runtime_error(path.string() + ": byte rate or block size wrong");
    wav.samples.resize((bytes.size() - 44) / 2);
    for (std::size_t i = 0; i < wav.samples.size(); ++i)
        wav.samples[i] = static_cast<std::int16_t>(u16(44 + 2 * i));
    return wav;
}

std::vector<std::string> frameNames(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("frame_") && name.ends_with(".png")) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}
