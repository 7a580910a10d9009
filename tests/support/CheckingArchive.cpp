#include "CheckingArchive.h"

#include "Mp3.h"

#include <cstdint>
#include <string>

namespace {

std::string track(std::int32_t row, float value) {
    std::string bytes;
    const std::int32_t count = 1;
    const std::int8_t step = 0;
    bytes.append(reinterpret_cast<const char*>(&count), 4);
    bytes.append(reinterpret_cast<const char*>(&row), 4);
    bytes.append(reinterpret_cast<const char*>(&value), 4);
    bytes.append(reinterpret_cast<const char*>(&step), 1);
    return bytes;
}

constexpr const char* kCheckingShader = R"(#version 460 core
layout(location = 0) in vec2 vUv;
layout(location = 0) out vec4 colour;
#pragma EXPORT(rocket=level)
uniform float level;
#pragma EXPORT(imgui=look)
uniform vec3 look;
#pragma EXPORT(internal=resolution)
uniform vec2 resolution;
void main() {
    bool ok = abs(level - 0.75) < 1e-6
           && all(lessThan(abs(look - vec3(0.5, 0.25, 2.0)), vec3(1e-6)))
           && resolution == vec2(1920.0, 1080.0);
    colour = ok ? vec4(0.0, 1.0, 0.0, 1.0) : vec4(1.0, 0.0, 0.0, 1.0);
}
)";

}  // namespace

std::vector<ZipEntry> checkingArchive(double musicSeconds) {
    return {{"fs.glsl", kCheckingShader},
            {"fsshader.ini", "[look]\nv0 = 0.5\nv1 = 0.25\nv2 = 2\n"},
            {"sync_level.x.track", track(0, 0.75f)},
            {"soundtrack.mp3", toneMp3(musicSeconds), ZipMethod::Stored}};
}
