// zyr-studio in real windows on a private display: keys through xdotool, saves
// as an author's editor makes them (plain writes, write-and-rename), and the
// picture read back from the screen.
#include "ContentFolder.h"
#include "Desktop.h"
#include "Wait.h"
#include "Mp3.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <stb/stb_image.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
namespace content = zyr::content;

// The picture's size, given with --size; the window opens at it, so the
// picture lands on the screen pixel for pixel.
constexpr int kWidth = 480;
constexpr int kHeight = 270;

// Left half: the "rows" export as red (low byte) and green (high byte), the
// track "level.x" as blue. Right half: the imgui export "look". So every key
// and every reload shows as an exact colour.
std::string shader(const std::string& right = "look") {
    return "#version 460 core\n"
           "layout(location = 0) in vec2 vUv;\n"
           "layout(location = 0) out vec4 colour;\n"
           "#pragma EXPORT(internal=rows)\n"
           "uniform float rows;\n"
           "#pragma EXPORT(rocket=level)\n"
           "uniform float level;\n"
           "#pragma EXPORT(imgui=look)\n"
           "uniform vec3 look;\n"
           "void main() {\n"
           "    float r = floor(rows);\n"
           "    vec3 left = vec3(mod(r, 256.0) / 255.0, floor(r / 256.0) / 255.0, level);\n"
           "    colour = vec4(vUv.x < 0.5 ? left : " + right + ", 1.0);\n"
           "}\n";
}

std::string levelTrack(const std::string& value) { return "track \"level.x\"\n0 " + value + " step\n"; }
std::string look(const std::string& v0) { return "[look]\nv0 = " + v0 + "\nv1 = 0.6\nv2 = 0.8\n"; }

std::uint32_t rgb(int r, int g, int b) { return (std::uint32_t(r) << 16) | (std::uint32_t(g) << 8) | std::uint32_t(b); }
std::uint32_t rowColour(int row, int level) { return rgb(row % 256, row / 256, level); }

class Studio : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(folder / "tracks");
        writeFile(folder / "fs.glsl", shader());
        writeFile(folder / "fsshader.ini", look("0.4"));
        writeFile(folder / "tracks" / "level.txt", levelTrack("0.2"));
        writeFile(folder / "soundtrack.mp3", toneMp3(60.0));
    }

    void start(std::vector<std::string> arguments, const fs::path& source = {},
               const std::map<std::string, std::string>& env = {}) {
        const fs::path shown = source.empty() ? folder : source;
        std::vector<std::string> argv{ZYR_STUDIO_BINARY, shown.string(), "--size",
                                      std::to_string(kWidth) + "x" + std::to_string(kHeight)};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        program = std::make_unique<Program>(x, dir.path(), argv, env);
        const auto id = x.waitForWindow("zyr-studio - " + shown.filename().string(), 30s);
        ASSERT_TRUE(id) << program->errorOutput();
        // Placed, and its first frame drawn over the black it opens with.
        ASSERT_TRUE(waitFor([&] {
            where = x.geometry(*id);
            return where.width == kWidth && x.screenshot().pixel(where.x + kWidth - 10, where.y + 10) != 0;
        }, 20s)) << program->errorOutput();
        // The HUD would cover the top-left corner of the picture, the timeline
        // its bottom: both go, and the left half's colour (one colour in these
        // shaders) then reaches the bottom edge.
        x.key("h");
        x.key("t");
        waitFor([&] {
            const Screenshot shot = x.screenshot();
            return shot.pixel(where.x + 20, where.y + kHeight - 12) == shot.pixel(where.x + 20, where.y + 40);
        }, 10s);
    }

    static bool waitFor(const std::function<bool()>& check, std::chrono::milliseconds limit = 5s) {
        return waitUntil(check, limit);
    }

    std::uint32_t leftPixel() const { return x.screenshot().pixel(where.x + 40, where.y + 40); }
    std::uint32_t rightPixel() const { return x.screenshot().pixel(where.x + kWidth - 40, where.y + 40); }
    int row() const {
        const std::uint32_t p = leftPixel();
        return static_cast<int>((p >> 16) & 0xFF) + 256 * static_cast<int>((p >> 8) & 0xFF);
    }
    // Presses a key and waits until the row reads expected.
    bool keyMovesTo(const std::string& key, int expected) {
        x.key(key);
        return waitFor([&] { return row() == expected; }, 3s);
    }
    void save(const std::string& name, const std::string& bytes) { writeFile(folder / name, bytes); }

    Xvfb x;
    TempDir dir;
    fs::path folder = dir / "piece";
    std::unique_ptr<Program> program;
    WindowGeometry where;
};

TEST_F(Studio, EveryTransportKeyMovesTheRowExactlyAndPauseAndLoopHold) {
    start({"--at", "40"});
    EXPECT_EQ(leftPixel(), rowColour(40, 51));
    const std::pair<const char*, int> steps[] = {
        {"Right", 48}, {"Left", 40},  {"Next", 72}, {"Prior", 40}, {"period", 41}, {"comma", 40},
        {"Home", 0},   {"2", 512},    {"3", 1024},  {"1", 0},      {"period", 1},  {"Next", 33},
    };
    for (const auto& [key, expected] : steps) EXPECT_TRUE(keyMovesTo(key, expected)) << key << " gave row " << row();

    // Paused: the row does not move.
    const int held = row();
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(row(), held);

    // F1 lays the key list over the middle of the picture and takes it away.
    const auto middle = [&] { return x.screenshot().pixel(where.x + kWidth / 2 + 20, where.y + kHeight / 2); };
    const std::uint32_t picture = middle();
    x.key("F1");
    EXPECT_TRUE(waitFor([&] { return middle() != picture; }, 3s));
    x.key("F1");
    EXPECT_TRUE(waitFor([&] { return middle() == picture; }, 3s));
    EXPECT_EQ(row(), held);

    // Loop from row 0 to row 16, then play: the row wraps and stays inside it.
    ASSERT_TRUE(keyMovesTo("Home", 0));
    x.key("bracketleft");
    ASSERT_TRUE(keyMovesTo("Right", 8));
    ASSERT_TRUE(keyMovesTo("Right", 16));
    x.key("bracketright");
    ASSERT_TRUE(keyMovesTo("Home", 0));
    x.key("space");
    int highest = 0;
    bool wrapped = false;
    int previous = 0;
    const auto until = std::chrono::steady_clock::now() + 3s;  // about 68 rows of music
    while (std::chrono::steady_clock::now() < until) {
        const int now = row();
        highest = std::max(highest, now);
        wrapped = wrapped || now < previous;
        previous = now;
        std::this_thread::sleep_for(40ms);
    }
    EXPECT_TRUE(wrapped);
    // The wrap lands on the first frame past the end: a slow frame (a loaded
    // machine, a sanitizer build) may show a row or two beyond it first.
    EXPECT_LE(highest, 19);
    EXPECT_GT(highest, 8);

    // Loop cleared: the music runs on past its end; paused again, it freezes.
    x.key("BackSpace");
    EXPECT_TRUE(waitFor([&] { return row() > 24; }, 4s)) << row();
    x.key("space");
    std::this_thread::sleep_for(300ms);
    const int paused = row();
    std::this_thread::sleep_for(700ms);
    EXPECT_EQ(row(), paused);

    x.key("Escape");
    EXPECT_EQ(program->waitExit(10s), 0) << program->errorOutput();
}

TEST_F(Studio, SavesReloadAtTheSamePositionAndErrorsKeepTheLastPicture) {
    start({"--at", "40"});
    ASSERT_EQ(leftPixel(), rowColour(40, 51));
    ASSERT_EQ(rightPixel(), rgb(102, 153, 204));

    // A changed key and a changed constant, at the same music position.
    save("tracks/level.txt", levelTrack("0.6"));
    EXPECT_TRUE(waitFor([&] { return leftPixel() == rowColour(40, 153); })) << std::hex << leftPixel();
    save("fsshader.ini", look("1.0"));
    EXPECT_TRUE(waitFor([&] { return rightPixel() == rgb(255, 153, 204); })) << std::hex << rightPixel();

    // A changed shader; the tracks and parameters it follows carry over.
    save("fs.glsl", shader("look.bgr"));
    EXPECT_TRUE(waitFor([&] { return rightPixel() == rgb(204, 153, 255); })) << std::hex << rightPixel();
    EXPECT_EQ(leftPixel(), rowColour(40, 153));

    // One that does not compile (line 13): the picture stays, the overlay
    // names the line, and it is drawn over the bottom of the picture.
    const std::uint32_t bottomBefore = x.screenshot().pixel(where.x + 20, where.y + kHeight - 12);
    std::string broken = shader("look.bgr");
    broken.replace(broken.find("colour = "), 9, "colour = nope + ");
    save("fs.glsl", broken);
    EXPECT_TRUE(waitFor([&] { return program->errorOutput().find("fs.glsl:13:") != std::string::npos; }))
        << program->errorOutput();
    EXPECT_TRUE(waitFor([&] { return x.screenshot().pixel(where.x + 20, where.y + kHeight - 12) != bottomBefore; }));
    EXPECT_EQ(rightPixel(), rgb(204, 153, 255));
    EXPECT_EQ(leftPixel(), rowColour(40, 153));

    // Fixed by a rename-save: reloaded like a plain write, overlay gone.
    save("fs.glsl.tmp", shader("look.gbr"));
    fs::rename(folder / "fs.glsl.tmp", folder / "fs.glsl");
    EXPECT_TRUE(waitFor([&] { return rightPixel() == rgb(153, 204, 255); })) << std::hex << rightPixel();
    EXPECT_TRUE(waitFor([&] { return x.screenshot().pixel(where.x + 20, where.y + kHeight - 12) == bottomBefore; }));

    // Deleted, the last good shader stays; re-created, it builds.
    fs::remove(folder / "fs.glsl");
    EXPECT_TRUE(waitFor([&] { return program->errorOutput().find("fs.glsl: the file is gone") != std::string::npos; }))
        << program->errorOutput();
    EXPECT_EQ(rightPixel(), rgb(153, 204, 255));
    save("fs.glsl", shader("look.rrr"));
    EXPECT_TRUE(waitFor([&] { return rightPixel() == rgb(255, 255, 255); })) << std::hex << rightPixel();

    // A track text with a mistake keeps the last tracks; its file and line are named.
    save("tracks/level.txt", levelTrack("0.2") + "17 oops\n");
    EXPECT_TRUE(waitFor([&] { return program->errorOutput().find("tracks/level.txt:3") != std::string::npos; }))
        << program->errorOutput();
    EXPECT_EQ(leftPixel(), rowColour(40, 153));

    // The same bytes saved again reload nothing.
    const std::string before = program->errorOutput();
    save("fsshader.ini", look("1.0"));
    std::this_thread::sleep_for(800ms);
    EXPECT_EQ(program->errorOutput(), before);

    x.key("Escape");
    EXPECT_EQ(program->waitExit(10s), 0) << program->errorOutput();
}

std::string song(const std::string& sections) {
    return "tempo 170\ninstrument k kick\npattern beat 1\nk x...x...x...x...\n" + sections;
}

// The song is rendered again on a thread of its own: the old music plays on
// meanwhile, and the new one carries on from the same row with its own sections.
TEST_F(Studio, ASavedSongPlaysOnFromTheSameRow) {
    fs::remove(folder / "soundtrack.mp3");
    fs::create_directories(folder / "song");
    save("song/tune.song", song("section a 8\nplay beat\nsection b 8\nplay beat\n"));
    start({});
    ASSERT_TRUE(waitFor([&] { return row() > 16; }, 10s)) << row();

    save("song/tune.song", song("section a 4\nplay beat\nsection b 4\nplay beat\nsection c 24\nplay beat\n"));
    const int saved = row();
    bool advancing = true;
    int last = saved;
    EXPECT_TRUE(waitFor([&] {
        const int now = row();
        advancing = advancing && now >= last;
        last = now;
        return program->errorOutput().find("song reloaded") != std::string::npos;
    }, 30s)) << program->errorOutput();
    EXPECT_TRUE(advancing);
    EXPECT_GE(row(), saved);
    // Section 3 of the new arrangement starts at bar 9 (paused, to read it).
    x.key("space");
    EXPECT_TRUE(keyMovesTo("3", 256)) << row();
    x.key("space");

    // A song that does not read keeps the music and names its line.
    save("song/tune.song", song("section a 4\nplay nothing_here\n"));
    EXPECT_TRUE(waitFor([&] { return program->errorOutput().find("tune.song:6") != std::string::npos; }, 20s))
        << program->errorOutput();
    const int before = row();
    std::this_thread::sleep_for(300ms);
    EXPECT_GT(row(), before);
    x.key("Escape");
    EXPECT_EQ(program->waitExit(10s), 0) << program->errorOutput();
}

// The studio's picture at a position against zyr-capture's frame there, from
// the same folder packed as the build packs it.
TEST_F(Studio, PictureEqualsTheCapturedFrame) {
    save("fs.glsl", "#version 460 core\n"
                    "layout(location = 0) in vec2 vUv;\n"
                    "layout(location = 0) out vec4 colour;\n"
                    "#pragma EXPORT(rocket=probe)\n"
                    "uniform vec3 probe;\n"
                    "#pragma EXPORT(imgui=look)\n"
                    "uniform vec3 look;\n"
                    "#pragma EXPORT(internal=resolution)\n"
                    "uniform vec2 resolution;\n"
                    "void main() {\n"
                    "    vec2 p = gl_FragCoord.xy / resolution;\n"
                    "    colour = vec4(mix(probe, look, p.x) * (0.5 + 0.5 * sin(p.y * 40.0)), 1.0);\n"
                    "}\n");
    save("tracks/level.txt", "track \"probe.x\"\n0 0 linear\n32 1 linear\n"
                             "track \"probe.y\"\n0 1 smooth\n24 0 step\n"
                             "track \"probe.z\"\n8 0.3 ramp\n40 0.9 step\n");
    content::writeArchive(content::folderEntries(folder), dir / "zyr.dat");
    // Row 17 is 0.75 s at 170 beats a minute.
    Program capture(x, dir.path(),
                    {ZYR_CAPTURE_BINARY, "zyr.dat", "--out", "frames", "--size", "480x270", "--from", "0.75", "--to",
                     "0.76", "--fps", "100"});
    ASSERT_EQ(capture.waitExit(60s), 0) << capture.errorOutput();

    int width = 0, height = 0, channels = 0;
    stbi_uc* frame = stbi_load((dir / "frames" / "frame_000000.png").c_str(), &width, &height, &channels, 3);
    ASSERT_NE(frame, nullptr);
    ASSERT_EQ(width, kWidth);
    ASSERT_EQ(height, kHeight);

    start({"--at", "17"});
    int differing = 0;
    waitFor([&] {
        const Screenshot shot = x.screenshot();
        differing = 0;
        for (int y = 0; y < kHeight; ++y) {
            for (int x0 = 0; x0 < kWidth; ++x0) {
                const stbi_uc* p = frame + (static_cast<std::size_t>(y) * kWidth + x0) * 3;
                if (shot.pixel(where.x + x0, where.y + y) != rgb(p[0], p[1], p[2])) ++differing;
            }
        }
        return differing == 0;
    }, 10s);
    stbi_image_free(frame);
    EXPECT_EQ(differing, 0);
    x.key("Escape");
    EXPECT_EQ(program->waitExit(10s), 0) << program->errorOutput();
}

// An archive plays with transport and HUD and reloads nothing: not when the
// folder it lies in changes, nor when the archive itself is written anew.
TEST_F(Studio, AnArchivePlaysWithTransportAndReloadsNothing) {
    content::writeArchive(content::folderEntries(folder), folder / "zyr.dat");
    start({"--at", "100"}, folder / "zyr.dat");
    EXPECT_EQ(leftPixel(), rowColour(100, 51));
    EXPECT_TRUE(keyMovesTo("Next", 132));
    save("tracks/level.txt", levelTrack("0.6"));
    save("fsshader.ini", look("1.0"));
    fs::remove(folder / "zyr.dat");
    content::writeArchive(content::folderEntries(folder), folder / "zyr.dat");
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(leftPixel(), rowColour(132, 51));
    EXPECT_EQ(rightPixel(), rgb(102, 153, 204));
    x.key("Escape");
    EXPECT_EQ(program->waitExit(10s), 0) << program->errorOutput();
    EXPECT_EQ(program->errorOutput(), "");
}

// TERM ends the studio through its teardown (the song's thread, then the
// player's objects in the player's order, then the archives), then by the
// signal, without asking about unsaved edits.
TEST_F(Studio, TermEndsItThroughTheTeardownAndThenByTheSignal) {
    const char* asan = std::getenv("ASAN_OPTIONS");
    start({}, {}, {{"LD_PRELOAD", TEARDOWN_TRACE},
                   {"ASAN_OPTIONS", std::string(asan ? asan : "") + ":detect_leaks=0:verify_asan_link_order=0"}});
    x.key("t");
    x.key("i");  // an unsaved key, which a signal does not ask about
    std::this_thread::sleep_for(500ms);
    program->signal(SIGTERM);
    EXPECT_EQ(program->waitExit(10s), 128 + SIGTERM) << program->errorOutput();
    EXPECT_EQ(program->errorOutput(), "audio closed\nglfw terminated\narchive closed\narchive closed\n");
}

TEST(StudioUsage, MistakesExitTwoWithOneLine) {
    Xvfb x;
    TempDir dir;
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--size", "0x10"}, {"--at", "-1"}, {"--at"}, {"--fps", "3"}, {"a", "b"}}) {
        std::vector<std::string> argv{ZYR_STUDIO_BINARY};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        Program studio(x, dir.path(), argv);
        EXPECT_EQ(studio.waitExit(10s), 2) << arguments[0];
        const std::string err = studio.errorOutput();
        EXPECT_TRUE(err.starts_with("zyr-studio: ")) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
    Program missing(x, dir.path(), {ZYR_STUDIO_BINARY, "no-such-folder"});
    EXPECT_EQ(missing.waitExit(10s), 1);
    EXPECT_EQ(missing.errorOutput(), "zyr-studio: no-such-folder: no such folder or archive\n");
}

}  // namespace
