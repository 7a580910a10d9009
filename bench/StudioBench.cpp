// Studio figures: how soon a save shows, and what the studio costs a frame.
//
//     cd build && DISPLAY=:N ./bench/bench_StudioBench [CONTENT_FOLDER] [WIDTHxHEIGHT]
//
// Needs a display (a private Xvfb will do) and OpenGL 4.6 (MESA_GL_VERSION_OVERRIDE
// as the scripts set it). The content folder (the demo's own by default) is
// copied to a temporary folder, which the saves then change: one value of a
// track key, one parameter, one line of the shader, each toggled 20 times.
//
// Prints, for each of the three: the median and the slowest time from the close
// of the saved file to the end of the first frame drawn with the change (the
// folder watch waits for a quiet moment first, so bursts are one reload). For
// the shader also the driver's build alone (the same source built 20 times,
// each with a line of its own so no cache answers, up to its first drawn pixel,
// since a software driver generates machine code only then), and the rest. Then the frame loop's own processor time per frame
// (its thread only: not the GL driver's threads nor the audio thread), median
// over 300 frames, for the player's bare frame (Presentation::frame, same
// archive and size) and for the studio with its HUD, and the difference.
// With a song in the folder, before the other saves, while the music plays:
// the song saved 3 times (one ramp's level toggled), and every frame from each
// save until 60 frames after the new music took over: the median and the
// longest, in wall time and in the frame loop thread's processor time (the
// song is built by a thread and a process that share the machine's cores with
// the frame loop).
#include "ContentFolder.h"
#include "EffectShader.h"
#include "MemoryArchive.h"
#include "Presentation.h"
#include "RenderWindow.h"
#include "ScreenQuad.h"
#include "Studio.h"
#include "ThreadClock.h"

#include <GL/glew.h>
#include <GLFW/glfw3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kSaves = 20;
constexpr int kFrames = 300;

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}  // closed here: the save's moment

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

// Text with its first `from` replaced by `to` on odd saves and put back on even ones.
struct Toggle {
    fs::path file;
    std::string from;
    std::string to;
    // A line of its own each save: a driver that caches built programs by
    // their source must build every save afresh, as with an author's edits.
    bool unique = false;
};

std::string toggled(const std::string& text, const Toggle& toggle, int save) {
    std::string out = text;
    const std::string& find = save % 2 == 0 ? toggle.from : toggle.to;
    const std::string& put = save % 2 == 0 ? toggle.to : toggle.from;
    const std::size_t at = out.find(find);
    if (at == std::string::npos) {
        std::fprintf(stderr, "bench_StudioBench: '%s' not in %s\n", find.c_str(), toggle.file.c_str());
        std::exit(1);
    }
    out.replace(at, find.size(), put);
    if (toggle.unique) {
        const std::size_t mark = out.find("\n// bench save ");
        if (mark != std::string::npos) out.resize(mark + 1);
        if (!out.empty() && out.back() != '\n') out += '\n';
        out += "// bench save " + std::to_string(save) + "\n";
    }
    return out;
}

std::vector<double> saveLatencies(zyr::studio::Studio& studio, const Toggle& toggle) {
    std::vector<double> millis;
    std::string text = readText(toggle.file);
    for (int save = 0; save < kSaves; ++save) {
        // Settle between saves, so each is a burst of its own.
        for (int i = 0; i < 5; ++i) studio.frame();
        const std::size_t before = studio.reloads();
        text = toggled(text, toggle, save);
        writeText(toggle.file, text);
        const auto saved = Clock::now();
        while (studio.reloads() == before) {
            studio.frame();
            if (Clock::now() - saved > std::chrono::seconds(10)) {
                std::fprintf(stderr, "bench_StudioBench: no reload of %s within 10 s\n", toggle.file.c_str());
                std::exit(1);
            }
        }
        millis.push_back(std::chrono::duration<double, std::milli>(Clock::now() - saved).count());
    }
    return millis;
}

// Frames' wall times from a save of the song until 60 frames after the new
// music took over, for each of `saves` saves.
struct SongSwap {
    std::vector<double> frames;  // every frame of every swap, wall time, ms
    std::vector<double> cpu;     // the same frames' time on the frame loop's thread, ms
    std::vector<double> swaps;   // save to the new music playing, ms
};

SongSwap songSwaps(zyr::studio::Studio& studio, const Toggle& toggle, int saves) {
    SongSwap out;
    std::string text = readText(toggle.file);
    for (int save = 0; save < saves; ++save) {
        for (int i = 0; i < 30; ++i) studio.frame();
        const std::size_t before = studio.reloads();
        text = toggled(text, toggle, save);
        writeText(toggle.file, text);
        const auto saved = Clock::now();
        int after = -1;
        while (after < 60) {
            const auto start = Clock::now();
            const double cpu = zyr::studio::threadCpuSeconds();
            studio.frame();
            out.cpu.push_back((zyr::studio::threadCpuSeconds() - cpu) * 1000.0);
            const auto end = Clock::now();
            out.frames.push_back(std::chrono::duration<double, std::milli>(end - start).count());
            if (after >= 0) {
                ++after;
            } else if (studio.reloads() != before) {
                after = 0;
                out.swaps.push_back(std::chrono::duration<double, std::milli>(end - saved).count());
            } else if (end - saved > std::chrono::seconds(60)) {
                std::fprintf(stderr, "bench_StudioBench: no new song within 60 s\n");
                std::exit(1);
            }
        }
    }
    return out;
}

double compileMillis(const std::string& source) {
    std::vector<double> millis;
    for (int i = 0; i < kSaves; ++i) {
        const auto start = Clock::now();
        const std::string unique = source + "\n// compile " + std::to_string(i) + "\n";
        const char* text = unique.c_str();
        const GLuint program = glCreateShaderProgramv(GL_FRAGMENT_SHADER, 1, &text);
        // A software driver may generate the machine code only when the program
        // first draws: one pixel drawn and waited for counts as the build.
        glUseProgramStages(programPipeline, GL_FRAGMENT_SHADER_BIT, program);
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glViewport(0, 0, 1, 1);
        drawScreenQuad();
        glFinish();
        millis.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        glUseProgramStages(programPipeline, GL_FRAGMENT_SHADER_BIT, 0);
        glDeleteProgram(program);
    }
    return median(millis);
}

double frameCpuMillis(const std::function<void()>& frame) {
    for (int i = 0; i < 30; ++i) frame();  // warm up
    std::vector<double> millis;
    for (int i = 0; i < kFrames; ++i) {
        const double before = zyr::studio::threadCpuSeconds();
        frame();
        millis.push_back((zyr::studio::threadCpuSeconds() - before) * 1000.0);
    }
    return median(millis);
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path source = argc > 1 ? fs::path(argv[1]) : fs::path(ZYR_CONTENT_DIR);
    const std::string size = argc > 2 ? argv[2] : "640x360";
    // Built programs cached on disk by an earlier run would hide the compile.
    setenv("MESA_SHADER_CACHE_DISABLE", "true", 0);
    if (!std::getenv("DISPLAY")) {
        std::fprintf(stderr, "bench_StudioBench: needs a display (DISPLAY)\n");
        return 1;
    }
    const fs::path folder = fs::temp_directory_path() / ("zyr-studio-bench-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::copy(source, folder, fs::copy_options::recursive);

    try {
        const std::size_t x = size.find('x');
        const auto width = static_cast<std::uint32_t>(std::stoul(size.substr(0, x)));
        const auto height = static_cast<std::uint32_t>(std::stoul(size.substr(x + 1)));

        // The player's bare frame first: one window at a time per process.
        double bare = 0.0;
        {
            zyr::studio::MemoryArchive archive(zyr::content::packArchive(zyr::content::folderEntries(folder)));
            Presentation presentation(archive.archive(), LaunchSettings{width, height, false, "bare"});
            presentation.start();
            bare = frameCpuMillis([&] { presentation.frame(); });
        }

        zyr::studio::StudioOptions options;
        options.source = folder;
        options.width = width;
        options.height = height;
        zyr::studio::Studio studio(options);
        const double withHud = frameCpuMillis([&] { studio.frame(); });

        std::printf("zyr-studio on %s, picture %s, %d saves each\n", source.c_str(), size.c_str(), kSaves);
        const Toggle song{folder / "song" / "arrangement.song", "ramp bass level 0.3 0.3", "ramp bass level 0.3 0.31"};
        if (fs::exists(song.file)) {
            // While the music plays (the saves below take longer than the song).
            const SongSwap swap = songSwaps(studio, song, 3);
            std::printf("a new song taking over (3 saves; every frame from the save to 60 frames after it plays):\n");
            const double longest = *std::max_element(swap.frames.begin(), swap.frames.end());
            const double busiest = *std::max_element(swap.cpu.begin(), swap.cpu.end());
            std::printf("  save to new music %8.0f ms (median)\n", median(swap.swaps));
            std::printf("  frames, wall time:        median %.2f ms, longest %.2f ms (%.1f x the median)\n", median(swap.frames),
                        longest, longest / median(swap.frames));
            std::printf("  frames, frame thread CPU: median %.2f ms, longest %.2f ms (%.1f x the median)\n", median(swap.cpu),
                        busiest, busiest / median(swap.cpu));
        }
        std::printf("save to first frame showing it (median / slowest):\n");
        const Toggle track{folder / "tracks" / "tessaran.txt", "0     0        step", "0     1        step"};
        const Toggle parameter{folder / "fsshader.ini", "v0 = 0.10", "v0 = 0.12"};
        const Toggle shader{folder / "fs.glsl", "fragColor = vec4(col, 1.0);", "fragColor = vec4(col * 0.99, 1.0);", true};
        for (const auto& [name, toggle] : {std::pair{"track", track}, std::pair{"parameter", parameter}}) {
            const std::vector<double> ms = saveLatencies(studio, toggle);
            std::printf("  %-10s %8.1f ms  %8.1f ms\n", name, median(ms), *std::max_element(ms.begin(), ms.end()));
        }
        const std::vector<double> ms = saveLatencies(studio, shader);
        const double compile = compileMillis(readText(folder / "fs.glsl"));
        std::printf("  %-10s %8.1f ms  %8.1f ms   (build and first draw alone %.1f ms; the rest %.1f ms)\n", "shader",
                    median(ms), *std::max_element(ms.begin(), ms.end()), compile, median(ms) - compile);
        std::printf("frame loop thread CPU per frame (median of %d):\n", kFrames);
        std::printf("  player's bare frame  %6.3f ms\n  studio (HUD, timeline) %4.3f ms\n  above the bare frame %6.3f ms\n",
                    bare, withHud, withHud - bare);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_StudioBench: %s\n", error.what());
        fs::remove_all(folder);
        return 1;
    }
    fs::remove_all(folder);
    return 0;
}
