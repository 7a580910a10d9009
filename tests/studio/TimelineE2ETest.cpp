// The studio's timeline in a real window on a private display: keys and mouse
// drags through xdotool as an author makes them, the saved track texts read
// back (untouched bytes byte for byte, edited blocks compiled back to their
// keys), and the picture read from the screen.
#include "Desktop.h"
#include "Wait.h"
#include "Mp3.h"
#include "TempDir.h"
#include "TrackText.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr int kWidth = 960;
constexpr int kHeight = 540;

// Left half: the "rows" export as red, pos.x + pos.y as green, level as blue.
const char* const kShader = "#version 460 core\n"
                            "layout(location = 0) in vec2 vUv;\n"
                            "layout(location = 0) out vec4 colour;\n"
                            "#pragma EXPORT(internal=rows)\n"
                            "uniform float rows;\n"
                            "#pragma EXPORT(rocket=level)\n"
                            "uniform float level;\n"
                            "#pragma EXPORT(rocket=pos)\n"
                            "uniform vec2 pos;\n"
                            "void main() {\n"
                            "    colour = vec4(mod(floor(rows), 256.0) / 255.0, clamp(pos.x + pos.y, 0.0, 1.0), level, 1.0);\n"
                            "}\n";

// Untouched blocks with a CRLF line, comments, tabs: they must come back as they are.
const char* const kOther = "# the level of the picture\r\ntrack \"other\"\r\n0 1 step\r\n\n";
const char* const kLevel = "# level\ntrack \"level.x\"   # edited here\n0 0.2 step\n\t64 0.6 step  # up\n";
const char* const kTail = "\n# trailing comment\n";
const char* const kPos = "track \"pos.y\"\n0 0 step   # untouched\n";

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeText(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class Timeline : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(folder / "tracks");
        writeText(folder / "fs.glsl", kShader);
        writeText(folder / "tracks" / "level.txt", std::string(kOther) + kLevel + kTail);
        writeText(folder / "tracks" / "pos.txt", kPos);
        writeText(folder / "soundtrack.mp3", toneMp3(8.0));
    }

    void start() {
        program = std::make_unique<Program>(
            x, dir.path(), std::vector<std::string>{ZYR_STUDIO_BINARY, folder.string(), "--size", "960x540", "--at", "16"});
        const auto id = x.waitForWindow("zyr-studio - piece", 30s);
        ASSERT_TRUE(id) << program->errorOutput();
        window = *id;
        ASSERT_TRUE(waitFor([&] {
            where = x.geometry(window);
            return where.width == kWidth && x.screenshot().pixel(where.x + kWidth - 10, where.y + 10) != 0;
        }, 30s)) << program->errorOutput();
        x.key("h");
    }

    static bool waitFor(const std::function<bool()>& check, std::chrono::milliseconds limit = 15s) {
        return waitUntil(check, limit);
    }

    std::uint32_t probe() const { return x.screenshot().pixel(where.x + 40, where.y + 40); }
    // The picture at row with level's blue within one step of rounding.
    bool shows(int row, int blue) {
        return waitFor([&] {
            const std::uint32_t p = probe();
            return static_cast<int>(p >> 16) == row && std::abs(static_cast<int>(p & 0xFF) - blue) <= 1;
        });
    }
    bool said(const std::string& what, int times = 1) {
        return waitFor([&] { return count(program->errorOutput(), what) >= times; });
    }

    // Centre of the selected key's handle in screen pixels, if one is drawn.
    std::optional<std::pair<int, int>> selectedHandle() const {
        const Screenshot shot = x.screenshot();
        long sx = 0, sy = 0, n = 0;
        for (int y = where.y + kHeight / 2; y < where.y + kHeight; ++y)
            for (int x0 = where.x; x0 < where.x + kWidth; ++x0)
                if (shot.pixel(x0, y) == 0xFFBE3C) sx += x0, sy += y, ++n;
        if (n == 0) return std::nullopt;
        return std::pair<int, int>(static_cast<int>(sx / n), static_cast<int>(sy / n));
    }
    void pointer(const std::string& command) const {
        x.run("xdotool " + command);
        // Each step lands on a frame of its own, however slow the frames are.
        std::this_thread::sleep_for(400ms);
    }
    static std::string at(int px, int py) { return "mousemove " + std::to_string(px) + " " + std::to_string(py); }

    Xvfb x;
    TempDir dir;
    fs::path folder = dir / "piece";
    std::unique_ptr<Program> program;
    std::string window;
    WindowGeometry where;
};

TEST_F(Timeline, KeysEditedByKeyboardAndMouseShowAtOnceAndSaveIntoTheirBlocks) {
    start();
    ASSERT_TRUE(shows(16, 51)) << program->errorOutput();

    // I: a key at the playhead with the value there, selected.
    x.key("i");
    std::optional<std::pair<int, int>> handle;
    ASSERT_TRUE(waitFor([&] { return (handle = selectedHandle()).has_value(); })) << program->errorOutput();

    // Dragged far to the right it stops a row before its neighbour at 64.
    pointer(at(handle->first, handle->second));
    pointer("mousedown 1");
    pointer(at(handle->first + 30, handle->second));
    pointer(at(where.x + kWidth - 3, handle->second));
    const int from = handle->first;
    EXPECT_TRUE(waitFor([&] { return (handle = selectedHandle()) && handle->first > from + 20; }));
    pointer("mouseup 1");

    // Double-click: the exact value and row typed in.
    ASSERT_TRUE(handle);
    pointer(at(handle->first, handle->second));
    pointer("click --repeat 2 --delay 150 1");
    pointer("type 0.5");
    pointer("key Tab");
    pointer("type 40");
    pointer("key Return");
    pointer(at(where.x + kWidth / 2, where.y + 10));

    for (int i = 0; i < 3; ++i) x.key("Right");
    ASSERT_TRUE(shows(40, 128)) << program->errorOutput();

    // K makes the key at 40 linear; Delete takes it away; undo and redo walk both back and forth.
    x.key("k");
    x.key("Delete");
    EXPECT_TRUE(shows(40, 51));
    x.key("ctrl+z");
    EXPECT_TRUE(shows(40, 128));
    x.key("Right");
    EXPECT_TRUE(shows(48, 136));  // 0.5 towards 0.6, a third of the way
    x.key("ctrl+z");
    EXPECT_TRUE(shows(48, 128));  // a step again
    x.key("ctrl+shift+z");
    EXPECT_TRUE(shows(48, 136));

    // A key in the empty lane of pos.x, a track with no source yet.
    x.key("Down");
    x.key("i");
    x.key("ctrl+s");
    ASSERT_TRUE(said("tracks saved")) << program->errorOutput();

    const std::string level = readText(folder / "tracks" / "level.txt");
    EXPECT_EQ(level, std::string(kOther) +
                         "# level\ntrack \"level.x\"\n0 0.2 step\n40 0.5 linear\n64 0.6 step\n" + kTail);
    EXPECT_EQ(readText(folder / "tracks" / "pos.txt"), kPos);
    EXPECT_EQ(readText(folder / "tracks" / "new.txt"), "track \"pos.x\"\n48 0 linear\n");
    EXPECT_FALSE(fs::exists(folder / "tracks" / "level.txt.part"));
    zyr::TrackSetParser parser;
    parser.parse(level, "level.txt");
    ASSERT_TRUE(parser.errors().empty());
    const std::vector<zyr::TrackKey> keys{{0, 0.2f, zyr::kStep}, {40, 0.5f, zyr::kLinear}, {64, 0.6f, zyr::kStep}};
    EXPECT_EQ(parser.tracks().at(1).keys, keys);

    // What it wrote itself it does not reload; the picture stays.
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(count(program->errorOutput(), "tracks reloaded"), 0) << program->errorOutput();
    EXPECT_TRUE(shows(48, 136));
    x.key("Escape");
    EXPECT_EQ(program->waitExit(20s), 0) << program->errorOutput();
}

TEST_F(Timeline, AFileChangedUnderUnsavedEditsAndQuittingWithThemAsk) {
    start();
    ASSERT_TRUE(shows(16, 51)) << program->errorOutput();
    x.key("k");  // the key at 0 linear: a quarter of the way to 0.6
    ASSERT_TRUE(shows(16, 77)) << program->errorOutput();

    // Changed on disk: said, edits kept; R takes the file.
    writeText(folder / "tracks" / "level.txt", "track \"level.x\"\n0 1 step\n64 0.6 step\n");
    ASSERT_TRUE(said("changed on disk while the timeline has unsaved edits")) << program->errorOutput();
    EXPECT_TRUE(shows(16, 77));
    x.key("r");
    EXPECT_TRUE(shows(16, 255)) << program->errorOutput();

    // Changed again under a new edit: Ctrl+S keeps ours over it, and the file's other blocks as the disk has them.
    x.key("k");
    ASSERT_TRUE(shows(16, 230));
    const std::string theirs = "# theirs\ntrack \"other\"\n0 2 step\n\ntrack \"level.x\"\n0 0 step\n64 0.6 step\n";
    writeText(folder / "tracks" / "level.txt", theirs);
    ASSERT_TRUE(said("changed on disk while the timeline has unsaved edits", 2)) << program->errorOutput();
    x.key("ctrl+s");
    ASSERT_TRUE(said("tracks saved"));
    const std::string saved = "# theirs\ntrack \"other\"\n0 2 step\n\ntrack \"level.x\"\n0 1 linear\n64 0.6 step\n";
    EXPECT_EQ(readText(folder / "tracks" / "level.txt"), saved);
    EXPECT_TRUE(shows(16, 230));

    // Quitting with an unsaved edit asks; Cancel keeps the studio and the edit.
    x.key("k");
    ASSERT_TRUE(shows(16, 239));  // smooth: 1 - 0.4 * t^2 (3 - 2t) at t = 1/4
    x.key("Escape");
    ASSERT_TRUE(said("unsaved edits: S save and quit")) << program->errorOutput();
    x.key("c");
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(x.windowExists("zyr-studio - piece"));
    EXPECT_TRUE(shows(16, 239)) << program->errorOutput();
    // The window's close control asks too, and so does a second close while it asks.
    x.closeWindow(window);
    ASSERT_TRUE(said("unsaved edits: S save and quit", 2)) << program->errorOutput();
    x.closeWindow(window);
    ASSERT_TRUE(said("unsaved edits: S save and quit", 3)) << program->errorOutput();
    std::this_thread::sleep_for(1s);
    ASSERT_TRUE(program->running()) << program->errorOutput();
    x.key("d");
    EXPECT_EQ(program->waitExit(20s), 0) << program->errorOutput();
    EXPECT_EQ(readText(folder / "tracks" / "level.txt"), saved);
}

// An export renamed by a shader save (a typo) and back: the edits of its tracks
// wait meanwhile, are asked about at quit, and come back to the picture.
TEST_F(Timeline, EditsOfAnExportAShaderSaveRemovedAreKeptAskedAboutAndReturn) {
    start();
    ASSERT_TRUE(shows(16, 51)) << program->errorOutput();
    x.key("k");  // the key at 0 linear: a quarter of the way to 0.6
    ASSERT_TRUE(shows(16, 77)) << program->errorOutput();

    std::string renamed = kShader;
    renamed.replace(renamed.find("rocket=level"), 12, "rocket=levle");
    writeText(folder / "fs.glsl", renamed);
    ASSERT_TRUE(said("fs.glsl reloaded")) << program->errorOutput();
    EXPECT_TRUE(shows(16, 0));  // levle.x has no track
    x.key("Escape");
    ASSERT_TRUE(said("unsaved edits: S save and quit")) << program->errorOutput();
    x.key("c");

    writeText(folder / "fs.glsl", kShader);
    ASSERT_TRUE(said("fs.glsl reloaded", 2)) << program->errorOutput();
    EXPECT_TRUE(shows(16, 77)) << program->errorOutput();
    x.key("Escape");
    ASSERT_TRUE(said("unsaved edits: S save and quit", 2)) << program->errorOutput();
    x.key("s");
    EXPECT_EQ(program->waitExit(20s), 0) << program->errorOutput();
    EXPECT_EQ(readText(folder / "tracks" / "level.txt"),
              std::string(kOther) + "# level\ntrack \"level.x\"\n0 0.2 linear\n64 0.6 step\n" + kTail);
}

// A change on disk that the studio has not seen yet (saved just before Ctrl+S,
// inside the watch's quiet moment): Ctrl+S compares before it writes, so the
// change stays and the conflict is reported.
TEST_F(Timeline, CtrlSRightAfterAChangeOnDiskKeepsTheChangeAndReportsTheConflict) {
    start();
    ASSERT_TRUE(shows(16, 51)) << program->errorOutput();
    x.key("k");
    ASSERT_TRUE(shows(16, 77)) << program->errorOutput();

    // Stopped, the studio gets the change and the key at once when it goes on.
    const std::string theirs = std::string(kOther) + "track \"level.x\"\n0 1 step\n64 0.6 step\n";
    program->signal(SIGSTOP);
    writeText(folder / "tracks" / "level.txt", theirs);
    x.key("ctrl+s");
    program->signal(SIGCONT);
    ASSERT_TRUE(said("changed on disk")) << program->errorOutput();
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(readText(folder / "tracks" / "level.txt"), theirs);
    EXPECT_EQ(count(program->errorOutput(), "tracks saved"), 0) << program->errorOutput();
    EXPECT_TRUE(shows(16, 77));
    // R takes the file: its change reaches the picture.
    x.key("r");
    EXPECT_TRUE(shows(16, 255)) << program->errorOutput();
    x.key("Escape");
    EXPECT_EQ(program->waitExit(20s), 0) << program->errorOutput();
}

}  // namespace
