// Helpers for the capture tests: an archive whose shader shows sync track values
// as colours, the tool run as a separate process on the test's display, and the
// PNG and WAV files it leaves read back.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct ZipEntry;
class Program;

// The probe shader: the top quarter of the picture is pure red (so a frame stored
// upside down shows), the rest is the rocket export "probe" as RGB.
extern const char* const kProbeShader;

struct ProbeKey {
    std::int32_t row;
    float value;
    std::int8_t type;  // 0 step, 1 linear, 2 smooth, 3 ramp
};

// Keys of the tracks probe.x, probe.y and probe.z: linear ramps steep enough that
// a frame drawn one frame early or late is off by several steps of 1/255.
const std::vector<ProbeKey>& probeKeys(int component);
// The value getValue gives for that track at row.
double probeValue(int component, double row);

// Bytes of a .track file.
std::string trackFile(const std::vector<ProbeKey>& keys);
// fs.glsl, the three probe tracks and the music.
std::vector<ZipEntry> probeEntries(const std::string& mp3);

struct ToolRun {
    int status = -1;  // -1: did not end in time
    std::string errors;  // its standard error
};

// Runs zyr-capture with arguments in folder dir on the test's display.
ToolRun runCapture(const std::filesystem::path& dir, const std::vector<std::string>& arguments,
                   const std::map<std::string, std::string>& extraEnv = {});

// Starts zyr-capture the same way without waiting for it.
std::unique_ptr<Program> startCapture(const std::filesystem::path& dir, const std::vector<std::string>& arguments,
                                      const std::map<std::string, std::string>& extraEnv = {});

struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;  // top row first
    const std::uint8_t* at(int x, int y) const { return rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3; }
};
Image readPng(const std::filesystem::path& path);

struct Wav {
    unsigned format = 0;
    unsigned channels = 0;
    unsigned frequency = 0;
    unsigned bits = 0;
    std::vector<std::int16_t> samples;
};
// Reads a canonical PCM WAV and checks its sizes agree with the file.
Wav readWav(const std::filesystem::path& path);

// frame_NNNNNN.png names in a folder, sorted.
std::vector<std::string> frameNames(const std::filesystem::path& folder);
