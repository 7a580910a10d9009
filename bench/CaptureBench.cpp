// Throughput of zyr-capture and where a frame's time goes.
//
//     cd build && ./bench/bench_CaptureBench [ARCHIVE] [FRAMES]
//
// Renders FRAMES frames (default 240, fewer if the music is shorter) at 640x360
// of the demo's archive (the build's zyr.dat; else zyr.dat in the current
// folder; else a small archive made here with lame and cmake), writing PNGs into
// a scratch folder that is removed afterwards. Prints the throughput of the
// tool's own loop (PNG encoding on worker threads), then, from a second pass that
// runs every stage on one thread and waits for each, that throughput and the
// mean and median time of drawing, readback (glReadPixels and the row flip), PNG
// encoding and the file write. No assertions: the figures are for reading.
#if __has_include("CaptureSession.h")

#include "CaptureFiles.h"
#include "CaptureSession.h"
#include "FramePipeline.h"
#include "ResourceArchive.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

struct Stat {
    double mean = 0.0;
    double median = 0.0;
};

Stat stat(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {std::accumulate(v.begin(), v.end(), 0.0) / static_cast<double>(v.size()), v[v.size() / 2]};
}

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

}  // namespace

int main(int argc, char** argv) {
    constexpr std::uint32_t kWidth = 640;
    constexpr std::uint32_t kHeight = 360;
    const int wanted = argc > 2 ? std::max(10, std::atoi(argv[2])) : 240;
    Scratch scratch;
    try {
        fs::path archivePath;
        if (argc > 1) archivePath = argv[1];
#ifdef ZYR_DEMO_ARCHIVE
        else if (fs::exists(ZYR_DEMO_ARCHIVE)) archivePath = ZYR_DEMO_ARCHIVE;
#endif
        else if (fs::exists("zyr.dat")) archivePath = "zyr.dat";
        else archivePath = makeArchive(scratch.path());

        ResourceArchive archive(archivePath);
        zyr::CaptureSession session(archive, kWidth, kHeight);
        const double fps = 60.0;
        // Half the frames for each pass, both inside the music.
        const int available = static_cast<int>(session.musicSeconds() * fps) - 1;
        const int frames = std::min(wanted, available / 2);
        const fs::path out = scratch.path() / "frames";
        zyr::prepareOutputFolder(out);
        zyr::FrameWriter writer(out);
        const unsigned workers = std::max(1u, std::thread::hardware_concurrency());

        // The first frame builds the program; it is no part of the steady rate.
        session.renderAt(0.0);
        writer.write(0, session.readBack(), kWidth, kHeight);

        // Pass 1: the tool's loop, encoding on the pipeline's workers.
        auto start = Clock::now();
        {
            zyr::FramePipeline pipeline(out, kWidth, kHeight, workers);
            for (int k = 1; k <= frames; ++k) {
                session.renderAt(k / fps);
                session.readBack(pipeline.acquire());
                pipeline.submit(static_cast<std::size_t>(k));
            }
            pipeline.finish();
        }
        const double pipelined = since(start);

        // Pass 2: one stage after the other on this thread, each waited for and
        // timed on its own.
        std::vector<double> draw, readback, encode, save, pngBytes;
        start = Clock::now();
        for (int k = frames + 1; k <= 2 * frames; ++k) {
            auto t = Clock::now();
            session.renderAt(k / fps);
            session.finishDrawing();
            draw.push_back(since(t));
            t = Clock::now();
            const std::span<const std::uint8_t> rgb = session.readBack();
            readback.push_back(since(t));
            t = Clock::now();
            writer.encode(rgb, kWidth, kHeight);
            encode.push_back(since(t));
            pngBytes.push_back(static_cast<double>(writer.png().size()));
            t = Clock::now();
            writer.save(static_cast<std::size_t>(k));
            save.push_back(since(t));
        }
        const double serial = since(start);

        const Stat d = stat(draw), r = stat(readback), e = stat(encode), s = stat(save);
        const double total = d.mean + r.mean + e.mean + s.mean;
        std::printf("capture of %s at %ux%u, %d frames a pass\n", archivePath.string().c_str(), kWidth, kHeight,
                    frames);
        std::printf("throughput, as zyr-capture runs (%u encoding threads): %.1f frames/s (%.2f ms a frame)\n", workers,
                    frames / pipelined, pipelined / frames * 1e3);
        std::printf("throughput, every stage on one thread:          %.1f frames/s (%.2f ms a frame)\n",
                    frames / serial, serial / frames * 1e3);
        std::printf("stage          mean ms  median ms  share\n");
        auto row = [&](const char* name, const Stat& x) {
            std::printf("%-13s %8.2f %10.2f %5.0f%%\n", name, x.mean * 1e3, x.median * 1e3, 100.0 * x.mean / total);
        };
        row("draw", d);
        row("readback", r);
        row("PNG encode", e);
        row("file write", s);
        std::printf("PNG size: %.0f KiB a frame on average\n", stat(pngBytes).mean / 1024.0);
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
