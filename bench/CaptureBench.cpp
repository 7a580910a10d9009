// Throughput of zyr-capture against the renderer alone.
//
//     cd build && DISPLAY=:N ./bench/bench_CaptureBench [ARCHIVE] [FRAMES]
//
// At 640x360 and at 1920x1080 (each in a process of its own: one capture
// session per process), draws the same FRAMES music positions (default 120 at
// 640x360, scaled down by the pixel count at 1920x1080, at least 48) in each
// mode, each as zyr-capture's loop runs it, overlapped readback included:
//   bare        draw and readback, nothing encoded: the rate the renderer allows
//   PNG default PNG at the default level on one worker per core, files written
//   PNG fastest PNG at level 0
//   video       frames piped into ffmpeg with the sound (.mp4, the defaults)
// Modes take turns over three rounds and each keeps its best, which damps the
// noise of other work on a shared machine. Prints each rate and its share of
// the bare rate, then as its last line
// "capture/bare: png X.XX, video Y.YY" at 1920x1080 (PNG at the default level).
// ARCHIVE defaults to the build's zyr.dat, else zyr.dat in the current folder,
// else a small archive made here with lame and cmake. Output goes to a scratch
// folder removed afterwards. No assertions: the figures are for reading, and on
// a shared machine they are noisy.
#if __has_include("CaptureSession.h")

#include "CaptureFiles.h"
#include "CaptureSession.h"
#include "FramePipeline.h"
#include "ResourceArchive.h"
#include "VideoMux.h"

#include <AudioLayer.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// A scratch folder removed with everything in it at the end of the scope.
class Scratch {
public:
    Scratch() {
        std::string pattern = (fs::temp_directory_path() / "capture-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no scratch folder");
        path_ = pattern;
    }
    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

void writeText(const fs::path& path, const std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) throw std::runtime_error("cannot write " + path.string());
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

// An effect like the demo's (a ramp with rings moving in time) plus one rocket
// export, and 12 s of a 44.1 kHz tone through lame, zipped with cmake.
fs::path makeArchive(const fs::path& folder) {
    writeText(folder / "fs.glsl", R"(#version 460 core
layout(location = 0) in vec2 vUv;
layout(location = 0) out vec4 fragColor;
#pragma EXPORT(internal=time)
uniform float time;
#pragma EXPORT(internal=resolution)
uniform vec2 resolution;
#pragma EXPORT(rocket=fade)
uniform float fade;
void main() {
    vec2 p = (vUv - 0.5) * vec2(resolution.x / max(resolution.y, 1.0), 1.0);
    float rings = 0.5 + 0.5 * sin(length(p) * 24.0 - time * 4.0);
    vec3 ramp = vec3(vUv.x, vUv.y, 0.6);
    fragColor = vec4(mix(ramp, ramp.bgr, rings * 0.5) * (0.5 + fade), 1.0);
}
)");
    constexpr int kRate = 44100;
    constexpr int kSeconds = 12;
    std::string wav = "RIFF....WAVEfmt ";
    auto put = [&](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) wav.push_back(static_cast<char>(v >> (8 * i)));
    };
    put(16, 4), put(1, 2), put(1, 2), put(kRate, 4), put(kRate * 2, 4), put(2, 2), put(16, 2);
    wav += "data";
    put(kRate * kSeconds * 2, 4);
    for (int i = 0; i < kRate * kSeconds; ++i)
        put(static_cast<std::uint16_t>(static_cast<std::int16_t>(8000.0 * std::sin(i * 2.0 * M_PI * 440.0 / kRate))),
            2);
    const std::uint32_t riff = static_cast<std::uint32_t>(wav.size() - 8);
    for (int i = 0; i < 4; ++i) wav[4 + static_cast<std::size_t>(i)] = static_cast<char>(riff >> (8 * i));
    writeText(folder / "tone.wav", wav);

    const std::string quoted = "'" + folder.string() + "'";
    const std::string command = "cd " + quoted + " && lame --quiet tone.wav soundtrack.mp3 && cmake -E tar cf zyr.dat "
                                "--format=zip fs.glsl soundtrack.mp3";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("making the archive failed (lame, cmake)");
    return folder / "zyr.dat";
}

constexpr const char* kModes[] = {"bare", "png", "pngfast", "video"};

// One size in this process: prints "MODE FRAMES_PER_SECOND" lines.
int measure(const fs::path& archivePath, std::uint32_t width, std::uint32_t height, int frames,
            const fs::path& scratch) {
    ResourceArchive archive(archivePath);
    zyr::CaptureSession session(archive, width, height);
    constexpr double kFps = 60.0;
    constexpr double kFrom = 1.0;
    if (kFrom + frames / kFps > session.musicSeconds()) throw std::runtime_error("the music is too short");
    const unsigned workers = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::uint8_t> frame(std::size_t{width} * height * 3);
    // The first frame builds the program; it is no part of any rate.
    session.renderAt(0.0);
    session.readBack(frame);

    // zyr-capture's loop: frame k collected while k + 1 is drawn.
    auto run = [&](auto&& deliver) {
        const auto start = Clock::now();
        for (int k = 0; k < frames; ++k) {
            session.renderAt(kFrom + k / kFps);
            session.queueReadBack();
            if (k > 0) deliver(k - 1);
        }
        deliver(frames - 1);
        return start;
    };
    auto png = [&](int level) {
        const fs::path out = scratch / ("frames-" + std::to_string(level));
        zyr::prepareOutputFolder(out);
        zyr::FramePipeline pipeline(out, width, height, workers, level);
        const auto start = run([&](int k) {
            session.takeReadBack(pipeline.acquire());
            pipeline.submit(static_cast<std::size_t>(k));
        });
        pipeline.finish();
        const double seconds = since(start);
        fs::remove_all(out);
        return frames / seconds;
    };

    // Modes take turns, three rounds, and each keeps its best round: work of
    // other processes on a shared machine then slows a mode only if it hits
    // every one of its rounds.
    std::map<std::string, double> rates;
    const auto keep = [&](const char* mode, double rate) { rates[mode] = std::max(rates[mode], rate); };
    const std::optional<fs::path> ffmpeg = zyr::findOnPath("ffmpeg");
    std::vector<std::uint8_t> wav;
    if (ffmpeg) {
        zyr::checkEncoders(*ffmpeg, *zyr::videoFormatFor("x.mp4"));
        std::vector<std::int16_t> samples;
        AudioInfo info;
        audioChannelGetInfo(session.stream(), &info);
        if (!audioStreamDecodeAll(session.stream(), samples)) throw std::runtime_error("the music does not decode");
        const std::size_t first = std::min(session.musicFrameAt(kFrom) * info.channels, samples.size());
        const std::size_t count =
            std::min(session.musicFrameAt(frames / kFps) * info.channels, samples.size() - first);
        wav = zyr::wavFile(info.frequency, info.channels, std::span<const std::int16_t>(samples).subspan(first, count));
    }
    for (int round = 0; round < 3; ++round) {
        keep("bare", frames / since(run([&](int) { session.takeReadBack(frame); })));
        keep("png", png(zyr::kDefaultPngLevel));
        keep("pngfast", png(0));
        if (!ffmpeg) continue;
        const fs::path video = scratch / "video.mp4";
        const auto start = Clock::now();
        {
            zyr::VideoEncoder encoder(*ffmpeg, video, *zyr::videoFormatFor(video), {}, width, height,
                                      static_cast<int>(kFps), wav);
            run([&](int) {
                session.takeReadBack(frame);
                encoder.write(frame);
            });
            encoder.finish();
        }
        keep("video", frames / since(start));
        fs::remove(video);
    }
    for (const auto& [mode, rate] : rates) std::printf("%s %.4f\n", mode.c_str(), rate);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Scratch scratch;
    try {
        if (argc == 6 && std::string(argv[1]) == "--one-size") {
            return measure(argv[2], static_cast<std::uint32_t>(std::atoi(argv[3])),
                           static_cast<std::uint32_t>(std::atoi(argv[4])), std::atoi(argv[5]), scratch.path());
        }
        fs::path archivePath;
        if (argc > 1) archivePath = argv[1];
#ifdef ZYR_DEMO_ARCHIVE
        else if (fs::exists(ZYR_DEMO_ARCHIVE)) archivePath = ZYR_DEMO_ARCHIVE;
#endif
        else if (fs::exists("zyr.dat")) archivePath = "zyr.dat";
        else archivePath = makeArchive(scratch.path());
        archivePath = fs::absolute(archivePath);
        const int wanted = argc > 2 ? std::max(10, std::atoi(argv[2])) : 120;

        struct Size {
            std::uint32_t width, height;
        };
        std::printf("capture of %s: frames/s, best of 3 rounds, each mode over the same music positions\n",
                    archivePath.string().c_str());
        std::printf("(%u cores; on a shared machine these figures are noisy)\n", std::thread::hardware_concurrency());
        std::printf("%-10s %-12s %8s %8s\n", "size", "mode", "fps", "of bare");
        std::map<std::string, double> last;
        for (const Size size : {Size{640, 360}, Size{1920, 1080}}) {
            const int frames =
                std::max(48, static_cast<int>(wanted * (640.0 * 360.0) / (static_cast<double>(size.width) * size.height)));
            const std::string command = "'" + std::string(argv[0]) + "' --one-size '" + archivePath.string() + "' " +
                                        std::to_string(size.width) + " " + std::to_string(size.height) + " " +
                                        std::to_string(frames);
            std::FILE* child = ::popen(command.c_str(), "r");
            if (child == nullptr) throw std::runtime_error("cannot run " + command);
            std::map<std::string, double> rates;
            char mode[32];
            double rate = 0.0;
            while (std::fscanf(child, "%31s %lf", mode, &rate) == 2) rates[mode] = rate;
            if (::pclose(child) != 0 || !rates.count("bare")) throw std::runtime_error("measuring failed: " + command);
            const std::string sizeText = std::to_string(size.width) + "x" + std::to_string(size.height);
            const std::map<std::string, std::string> names{
                {"bare", "bare"}, {"png", "PNG default"}, {"pngfast", "PNG fastest"}, {"video", "video"}};
            for (const char* key : kModes) {
                if (!rates.count(key)) {
                    std::printf("%-10s %-12s %8s\n", sizeText.c_str(), names.at(key).c_str(), "n/a");
                    continue;
                }
                std::printf("%-10s %-12s %8.2f %8.2f\n", sizeText.c_str(), names.at(key).c_str(), rates[key],
                            rates[key] / rates["bare"]);
            }
            last = rates;
        }
        const auto share = [&](const char* key) { return last.count(key) ? last[key] / last["bare"] : 0.0; };
        std::printf("capture/bare: png %.2f, video %.2f\n", share("png"), share("video"));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench: %s\n", error.what());
        return 1;
    }
    return 0;
}

#else
#include <cstdio>

// Built without the capture tool (tools/capture not added to the build).
int main() {
    std::fprintf(stderr, "bench: zyr-capture is not part of this build\n");
    return 1;
}
#endif
