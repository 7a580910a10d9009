// zyr-studio.exe under Wine on a private display: a content folder under a
// name no ANSI code page holds, saves made the way editors make them (a new
// file renamed over the old, which Wine hands to the studio's folder watch)
// shown in the picture, an edited key written into its track text by Ctrl+S,
// and Ctrl+C ending the studio through its teardown without asking about an
// edit left unsaved.
#include "Desktop.h"
#include "Mp3.h"
#include "TempDir.h"
#include "Wait.h"
#include "WineTest.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr int kWidth = 480;
constexpr int kHeight = 270;
constexpr auto kWineStart = 90s;

// Left half: the "rows" export as red, the track "level.x" as blue; right
// half: the imgui export "look". Every key and every reload is a colour.
std::string shader(const std::string& right) {
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
           "    colour = vec4(vUv.x < 0.5 ? vec3(mod(floor(rows), 256.0) / 255.0, 0.0, level) : " + right + ", 1.0);\n"
           "}\n";
}

std::string level(const std::string& first) { return "track \"level.x\"\n0 " + first + "\n64 0.6 step\n"; }

class WineStudio : public WineTest {
protected:
    // An editor's save: the new text under another name, renamed over the file.
    void save(const std::string& name, const std::string& text) {
        writeFile(home / (name + ".new"), text);
        fs::rename(home / (name + ".new"), home / name);
    }
    std::uint32_t pixel(int px) const { return x->screenshot().pixel(where.x + px, where.y + 40); }
    // The left half shows row 40 with level's blue within a step of rounding.
    bool levelShows(int blue) const {
        return waitUntil([&] {
            const std::uint32_t p = pixel(40);
            return (p >> 16) == 40 && std::abs(static_cast<int>(p & 0xFF) - blue) <= 1;
        }, 20s);
    }

    TempDir dir;
    const fs::path home = dir.path() / fs::path(u8"Zoë") / fs::path(u8"démo");
    WindowGeometry where;
};

TEST_F(WineStudio, AUnicodeFolderShowsSavesAndCtrlSWritesTheEditedKey) {
    fs::create_directories(home / "tracks");
    writeFile(home / "fs.glsl", shader("look"));
    writeFile(home / "fsshader.ini", "[look]\nv0 = 0.4\nv1 = 0.6\nv2 = 0.8\n");
    writeFile(home / "tracks" / "level.txt", level("0.2 step"));
    writeFile(home / "soundtrack.mp3", toneMp3(20.0));
    Program studio(*x, dir.path(),
                   {"/usr/bin/wine", (kWindows / "target" / "tools" / "studio" / "zyr-studio.exe").string(),
                    "Z:" + home.string(), "--size", std::to_string(kWidth) + "x" + std::to_string(kHeight), "--at", "40"},
                   {{"WINEPREFIX", (kWindows / "wine-prefix").string()}, {"WINEDEBUG", "-all"}});
    const auto window = x->waitForWindow("zyr-studio - démo", kWineStart);
    ASSERT_TRUE(window) << studio.errorOutput();
    ASSERT_TRUE(waitUntil([&] {
        where = x->geometry(*window);
        return where.width == kWidth && pixel(kWidth - 40) != 0;
    }, 60s)) << studio.errorOutput();
    x->key("h");  // the HUD would cover the left half's probe
    ASSERT_TRUE(levelShows(51)) << std::hex << pixel(40) << "\n" << studio.errorOutput();
    EXPECT_EQ(pixel(kWidth - 40), 0x6699CCu);

    save("tracks/level.txt", level("0.4 step"));
    EXPECT_TRUE(levelShows(102)) << std::hex << pixel(40);
    save("fs.glsl", shader("look.bgr"));
    EXPECT_TRUE(waitUntil([&] { return pixel(kWidth - 40) == 0xCC9966u; }, 20s)) << std::hex << pixel(kWidth - 40);

    // K makes the key at row 0 linear, a fifth of the way from 0.4 to 0.6 at
    // row 40 shown at once; Ctrl+S writes it into the text.
    x->key("k");
    EXPECT_TRUE(levelShows(134));
    x->key("ctrl+s");
    EXPECT_TRUE(waitUntil([&] { return studio.errorOutput().find("zyr-studio: tracks saved") != std::string::npos; }, 20s))
        << studio.errorOutput();
    EXPECT_EQ(readFile(home / "tracks" / "level.txt"), level("0.4 linear"));
    fs::create_directories(TESSARAN_WINE_SHOTS);
    x->saveScreenshot(fs::path(TESSARAN_WINE_SHOTS) / "studio.png");

    // Edited again (smooth) and left unsaved: Ctrl+C ends the studio without asking.
    x->key("k");
    EXPECT_TRUE(waitUntil([&] { return std::abs(static_cast<int>(pixel(40) & 0xFF) - 134) > 1; }, 20s));
    studio.signal(SIGINT);
    EXPECT_EQ(studio.waitExit(60s), 3) << studio.errorOutput();
    EXPECT_EQ(studio.errorOutput().find("unsaved edits"), std::string::npos) << studio.errorOutput();
    EXPECT_EQ(readFile(home / "tracks" / "level.txt"), level("0.4 linear"));
}

}  // namespace
