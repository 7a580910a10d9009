// Studio drag figures: what one step of a key dragged along the timeline
// costs the frame thread, with 256 lanes of 1,000 keys each.
//
//     cd build && DISPLAY=:N ./bench/bench_StudioDragBench [STEPS]
//
// Needs a display (a private Xvfb will do), OpenGL 4.6 (MESA_GL_VERSION_OVERRIDE
// as the scripts set it) and xdotool. A content folder is made in a temporary
// folder: a shader with 64 vec4 rocket exports (256 lanes), one track text per
// export with 1,000 keys a component, and the demo's music. The studio runs in
// this process at 1280x720, paused, its first lane selected; xdotool presses a
// key of that lane and moves the pointer one pixel a step, up and down, so
// every step changes the key's value. After each move two frames run and the
// slower counts (the pointer's event reaches one of them). The same is done
// with the pointer still, and the difference is the drag step's own cost:
// the edit, and the picture's tracks following it.
//
// Prints the frame loop thread's processor time (its thread only) a frame:
// median and slowest of the steps, still and dragging. The edit is saved with
// Ctrl+S at the end, and a track text left as it was fails the run.
#include "ContentFolder.h"
#include "Studio.h"
#include "ThreadClock.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kExports = 64;
constexpr int kKeys = 1000;
constexpr int kWidth = 1280;
constexpr int kHeight = 720;

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::string command(const std::string& line) {
    std::string out;
    if (FILE* pipe = popen(line.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
        pclose(pipe);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

void makeFolder(const fs::path& folder) {
    fs::create_directories(folder / "tracks");
    std::string shader = "#version 460 core\nlayout(location = 0) in vec2 vUv;\nlayout(location = 0) out vec4 colour;\n";
    std::string sum = "vec4(0.0)";
    for (int e = 0; e < kExports; ++e) {
        const std::string name = "e" + std::to_string(e);
        shader += "#pragma EXPORT(rocket=" + name + ")\nuniform vec4 " + name + ";\n";
        sum += " + " + name;
        std::string text;
        static constexpr const char* kComponents[] = {".x", ".y", ".z", ".w"};
        for (int c = 0; c < 4; ++c) {
            text += "track \"" + name + kComponents[c] + "\"\n";
            for (int k = 0; k < kKeys; ++k) {
                // The first lane holds 0 throughout, so its keys sit on the lane's middle line.
                const float value = e == 0 && c == 0 ? 0.0f : std::sin(static_cast<float>(k + e * 4 + c) * 0.37f) * 3.0f;
                text += std::to_string(k * 2) + " " + std::to_string(value) + " linear\n";
            }
        }
        writeText(folder / "tracks" / (name + ".txt"), text);
    }
    shader += "void main() { colour = vec4(fract(" + sum + ").xyz * 0.001 + vec3(vUv, 0.0), 1.0); }\n";
    writeText(folder / "fs.glsl", shader);
    const std::optional<std::string> mp3 = zyr::content::soundtrackMp3(ZYR_CONTENT_DIR);
    if (!mp3) throw std::runtime_error("the demo has no music");
    writeText(folder / "soundtrack.mp3", *mp3);
}

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

// The slower of the two frames after each pointer move (or none), in ms.
std::vector<double> steps(zyr::studio::Studio& studio, int count, const std::string& window, int x, int y, bool move) {
    std::vector<double> out;
    for (int i = 0; i < count; ++i) {
        if (move) command("xdotool mousemove --window " + window + " " + std::to_string(x) + " " + std::to_string(y + (i % 2 == 0 ? 1 : -1)));
        double slowest = 0.0;
        for (int f = 0; f < 2; ++f) {
            const double before = zyr::studio::threadCpuSeconds();
            studio.frame();
            slowest = std::max(slowest, (zyr::studio::threadCpuSeconds() - before) * 1000.0);
        }
        out.push_back(slowest);
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 60;
    if (!std::getenv("DISPLAY") || count <= 0) {
        std::fprintf(stderr, "usage: DISPLAY=:N bench_StudioDragBench [STEPS]\n");
        return 1;
    }
    const fs::path folder = fs::temp_directory_path() / ("zyr-drag-bench-" + std::to_string(getpid()));
    int status = 0;
    try {
        makeFolder(folder / "piece");
        zyr::studio::StudioOptions options;
        options.source = folder / "piece";
        options.width = kWidth;
        options.height = kHeight;
        options.at = 1000.0;
        zyr::studio::Studio studio(options);
        for (int i = 0; i < 30; ++i) studio.frame();
        const std::string window = command("xdotool search --name '^zyr-studio - piece$' | head -n1");
        if (window.empty()) throw std::runtime_error("no studio window found");

        // The first lane: below the ruler, the waveform and its group's header,
        // 90 pixels tall; keys of value 0 sit on its middle, 1.1 pixels apart.
        const int laneTop = static_cast<int>(std::floor(kHeight * 0.6f)) + 22 + 36 + 16;
        const int x = kWidth / 2;
        const int y = laneTop + 45;
        command("xdotool mousemove --window " + window + " " + std::to_string(x) + " " + std::to_string(y));
        for (int i = 0; i < 5; ++i) studio.frame();
        const std::vector<double> still = steps(studio, count, window, x, y, false);
        command("xdotool mousedown 1");
        for (int i = 0; i < 3; ++i) studio.frame();
        // Past the drag threshold first.
        command("xdotool mousemove --window " + window + " " + std::to_string(x) + " " + std::to_string(y - 12));
        for (int i = 0; i < 3; ++i) studio.frame();
        const std::vector<double> dragging = steps(studio, count, window, x, y - 12, true);
        command("xdotool mouseup 1");
        // Saved, so the bench knows the drag really edited the lane.
        const std::string before = readText(folder / "piece" / "tracks" / "e0.txt");
        command("xdotool key ctrl+s");
        for (int i = 0; i < 10; ++i) studio.frame();
        if (readText(folder / "piece" / "tracks" / "e0.txt") == before) throw std::runtime_error("the drag edited nothing");

        std::printf("studio at %dx%d, %d lanes of %d keys, one key dragged a pixel a step (%d steps)\n", kWidth, kHeight,
                    kExports * 4, kKeys, count);
        std::printf("frame loop thread CPU a frame, median / slowest:\n");
        std::printf("  pointer still      %8.3f / %8.3f ms\n", median(still), *std::max_element(still.begin(), still.end()));
        std::printf("  dragging           %8.3f / %8.3f ms\n", median(dragging),
                    *std::max_element(dragging.begin(), dragging.end()));
        std::printf("  one drag step      %8.3f ms (median difference)\n", median(dragging) - median(still));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_StudioDragBench: %s\n", error.what());
        status = 1;
    }
    fs::remove_all(folder);
    return status;
}
