// The authoring kit's Windows build under Wine, held against the Linux build of
// the same tools: zyr-pack writes the same archive bytes, zyr-check the same
// findings, zyr-capture the same frame and sound bytes, under folder names no
// ANSI code page holds. zyr-capture --video runs ffmpeg through the Windows
// process module (a stand-in ffmpeg that reports what it was given), says so
// when there is none, and stops on Ctrl+C leaving no child and no video.
#include "Desktop.h"
#include "ResourceArchive.h"
#include "TempDir.h"
#include "Wait.h"
#include "WineTest.h"
#include "ZipWriter.h"

#include <gtest/gtest.h>

#include <stb/stb_image.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr auto kWineRun = 120s;

struct ToolRun {
    int status = -1;
    std::string out;  // standard output, line ends as on Linux
    std::string err;
};

std::string withoutCarriageReturns(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

// What a Windows program is given for a path: the drive Wine maps to "/".
std::string windowsPath(const fs::path& path) { return "Z:" + path.string(); }

std::vector<std::string> filesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The CRC of the raw RGB of every frame PNG in the folder, in order: what
// the frames sent down the video pipe must add up to.
std::pair<std::size_t, uLong> framesDigest(const fs::path& folder) {
    std::size_t size = 0;
    uLong crc = crc32(0, nullptr, 0);
    for (const std::string& name : filesIn(folder)) {
        if (!name.ends_with(".png")) continue;
        const std::string png = readFile(folder / name);
        int width = 0, height = 0, channels = 0;
        stbi_uc* rgb = stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(png.data()), static_cast<int>(png.size()),
                                             &width, &height, &channels, 3);
        if (!rgb) return {0, 0};
        const std::size_t bytes = static_cast<std::size_t>(width) * height * 3;
        crc = crc32(crc, rgb, static_cast<uInt>(bytes));
        size += bytes;
        stbi_image_free(rgb);
    }
    return {size, crc};
}

class WineKit : public WineTest {
protected:
    // Starts argv in `here` with its standard output kept in a file.
    std::unique_ptr<Program> start(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env) {
        std::vector<std::string> shell{"/bin/sh", "-c", "exec \"$0\" \"$@\" >'" + (runs / "stdout").string() + "'"};
        shell.insert(shell.end(), argv.begin(), argv.end());
        return std::make_unique<Program>(*x, runs, shell, env);
    }
    ToolRun finish(Program& program) {
        ToolRun run;
        run.status = program.waitExit(kWineRun).value_or(-1);
        run.out = withoutCarriageReturns(readFile(runs / "stdout"));
        run.err = withoutCarriageReturns(program.errorOutput());
        return run;
    }
    std::unique_ptr<Program> startWindows(const std::string& tool, std::vector<std::string> arguments,
                                          std::map<std::string, std::string> env = {}) {
        env.insert({{"WINEPREFIX", (kWindows / "wine-prefix").string()}, {"WINEDEBUG", "-all"}});
        arguments.insert(arguments.begin(),
                         {"/usr/bin/wine", (kWindows / "target" / "tools" / tool / ("zyr-" + tool + ".exe")).string()});
        return start(arguments, env);
    }
    ToolRun onWindows(const std::string& tool, const std::vector<std::string>& arguments,
                const std::map<std::string, std::string>& env = {}) {
        return finish(*startWindows(tool, arguments, env));
    }
    ToolRun onLinux(const std::string& binary, std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), binary);
        return finish(*start(arguments, {}));
    }

    TempDir dir;
    const fs::path runs = dir / "runs";  // where the programs run
    const fs::path home = dir.path() / fs::path(u8"Zoë") / fs::path(u8"démo");
    void SetUp() override {
        fs::create_directories(runs);
        fs::create_directories(home);
    }
};

TEST_F(WineKit, PackWritesTheLinuxBytesFromAUnicodeFolder) {
    fs::copy(ZYR_CONTENT_DIR, home / "content", fs::copy_options::recursive);
    fs::copy_file(ZYR_LOGO, home / "zyr logo.png");
    const ToolRun win = onWindows("pack", {windowsPath(home / "content"), windowsPath(home / "win.dat"), "--logo",
                                     windowsPath(home / "zyr logo.png")});
    ASSERT_EQ(win.status, 0) << win.err;
    const ToolRun lin = onLinux(ZYR_PACK_BINARY, {(home / "content").string(), (home / "linux.dat").string(), "--logo",
                                            (home / "zyr logo.png").string()});
    ASSERT_EQ(lin.status, 0) << lin.err;
    // "zyr-pack: N entries into PATH", the path printed as it was given.
    EXPECT_EQ(win.out, lin.out.substr(0, lin.out.find(" into ")) + " into " + windowsPath(home / "win.dat") + "\n");
    // The song rendered and encoded, the tracks compiled, the zip written: all
    // the same bytes.
    const std::string archive = readFile(home / "linux.dat");
    EXPECT_EQ(readFile(home / "win.dat").size(), archive.size());
    EXPECT_TRUE(readFile(home / "win.dat") == archive);
    EXPECT_EQ(filesIn(home), (std::vector<std::string>{"content", "linux.dat", "win.dat", "zyr logo.png"}));
}

TEST_F(WineKit, CheckFindsAPlantedProblemInTheLinuxWords) {
    // The demo with a statement broken at the end of its shader and one of
    // its tracks gone.
    ResourceArchive demo(ZYR_BUILD_ARCHIVE);
    std::vector<ZipEntry> entries;
    for (const std::string& name : demo.entryNames()) {
        if (name == "sync_fx-3Apulse.x.track") continue;
        ArchiveFile* file = demo.openFile(name);
        ASSERT_NE(file, nullptr) << name;
        const std::vector<std::uint8_t> bytes = demo.readBytes(file);
        demo.closeFile(file);
        entries.push_back({name, std::string(bytes.begin(), bytes.end())});
        if (name == "fs.glsl") entries.back().bytes += "\nfloat broken = ;\n";
    }
    writeZip(runs / "planted.dat", entries);
    const ToolRun win = onWindows("check", {"planted.dat"});
    const ToolRun lin = onLinux(ZYR_CHECK_BINARY, {"planted.dat"});
    EXPECT_EQ(win.status, 1) << win.err;
    EXPECT_EQ(lin.status, 1) << lin.err;
    EXPECT_NE(lin.out.find("sync_fx-3Apulse.x.track"), std::string::npos) << lin.out;
    EXPECT_NE(lin.out.find("float broken = ;"), std::string::npos) << lin.out;
    EXPECT_EQ(win.out, lin.out);
}

TEST_F(WineKit, CaptureWritesTheLinuxFrameAndSoundBytes) {
    const std::vector<std::string> options{"--size", "320x180", "--fps", "4", "--from", "b24", "--to", "b26"};
    std::vector<std::string> winArguments{windowsPath(ZYR_BUILD_ARCHIVE), "--out", windowsPath(home / "win frames")};
    std::vector<std::string> linArguments{ZYR_BUILD_ARCHIVE, "--out", (home / "linux frames").string()};
    winArguments.insert(winArguments.end(), options.begin(), options.end());
    linArguments.insert(linArguments.end(), options.begin(), options.end());
    const ToolRun win = onWindows("capture", winArguments);
    ASSERT_EQ(win.status, 0) << win.err;
    EXPECT_NE(win.out.find(windowsPath(home / "win frames") + ": 11 frames of 320x180"), std::string::npos) << win.out;
    const ToolRun lin = onLinux(ZYR_CAPTURE_BINARY, linArguments);
    ASSERT_EQ(lin.status, 0) << lin.err;
    const std::vector<std::string> files = filesIn(home / "linux frames");
    ASSERT_EQ(files.size(), 12u);
    EXPECT_EQ(filesIn(home / "win frames"), files);
    for (const std::string& name : files)
        EXPECT_TRUE(readFile(home / "win frames" / name) == readFile(home / "linux frames" / name)) << name;
}

TEST_F(WineKit, VideoGoesThroughTheProcessModuleAndStopsOnCtrlC) {
    const std::string archive = windowsPath(ZYR_BUILD_ARCHIVE);
    const fs::path video = home / "démo vidéo.mp4";
    const fs::path part = home / "démo vidéo.part.mp4";
    // No ffmpeg: said before anything is rendered (there is no display to
    // render on), nothing made.
    ToolRun run = onWindows("capture", {archive, "--out", windowsPath(home / "frames"), "--video", windowsPath(video)},
                      {{"DISPLAY", ""}});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "zyr-capture: --video needs ffmpeg, and there is no ffmpeg on PATH\n");
    EXPECT_TRUE(filesIn(home).empty());
    // The wine server keeps the display its first program had: none.
    stopWineServer();

    // The stand-in reads both pipes to their ends and reports what came.
    const std::map<std::string, std::string> standIn{
        {"WINEPATH", windowsPath(kWindows / "target" / "tests" / "windows" / "standin")}};
    const std::vector<std::string> arguments{archive, "--out", windowsPath(home / "frames"), "--video",
                                             windowsPath(video), "--size", "64x36", "--fps", "4", "--to", "3"};
    run = onWindows("capture", arguments, standIn);
    ASSERT_EQ(run.status, 0) << run.err;
    const auto [frameBytes, frameCrc] = framesDigest(home / "frames");
    const std::string wav = readFile(home / "frames" / "soundtrack.wav");
    EXPECT_EQ(frameBytes, 12u * 64 * 36 * 3);
    EXPECT_EQ(readFile(video), "frames " + std::to_string(frameBytes) + " " + std::to_string(frameCrc) + "\nsound " +
                                   std::to_string(wav.size()) + " " +
                                   std::to_string(crc32(0, reinterpret_cast<const Bytef*>(wav.data()),
                                                        static_cast<uInt>(wav.size()))) +
                                   "\n");
    fs::remove(video);

    // A failing ffmpeg: its last words, and no video under either name.
    std::map<std::string, std::string> failing = standIn;
    failing["STANDIN_FFMPEG"] = "fail";
    run = onWindows("capture", arguments, failing);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("zyr-capture: ffmpeg failed with status 3: Conversion failed: no room\n"),
              std::string::npos)
        << run.err;
    EXPECT_FALSE(fs::exists(video));
    EXPECT_FALSE(fs::exists(part));

    // Ctrl+C (Wine turns SIGINT into the console's event) while the ffmpeg
    // never ends: the capture stops, ends it, and leaves whole frames only.
    std::map<std::string, std::string> hanging = standIn;
    hanging["STANDIN_FFMPEG"] = "hang";
    fs::remove_all(home / "frames");
    auto program = startWindows("capture", {archive, "--out", windowsPath(home / "frames"), "--video",
                                            windowsPath(video), "--size", "64x36", "--fps", "4"},
                                hanging);
    ASSERT_TRUE(waitUntil([&] { return fs::exists(part); }, kWineRun)) << program->errorOutput();
    program->signal(SIGINT);
    run = finish(*program);
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_NE(run.err.find("zyr-capture: stopped by Ctrl+C"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(video));
    EXPECT_FALSE(fs::exists(part));
    // (An ended child of a Wine process may stay a zombie of this container's
    // init; only a live one counts.)
    EXPECT_TRUE(waitUntil([] { return x->run("ps -eo stat=,args= | grep -v '^Z' | grep -c 'standin.ffmpeg[.]exe'") == "0\n"; },
                          10s))
        << "the stand-in ffmpeg outlived the capture";
    for (const std::string& name : filesIn(home / "frames")) {
        ASSERT_TRUE(name.ends_with(".png")) << name << " left behind";
        int width = 0, height = 0, channels = 0;
        stbi_uc* pixels = stbi_load((home / "frames" / name).c_str(), &width, &height, &channels, 3);
        EXPECT_TRUE(pixels && width == 64 && height == 36) << name << " is not a whole frame";
        stbi_image_free(pixels);
    }
}

}  // namespace
