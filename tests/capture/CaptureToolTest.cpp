// zyr-capture run as the author runs it: a separate process on a display, with
// archives built here, checked through the files it leaves.
#include "AudioTestSupport.h"
#include "CaptureOptions.h"
#include "CaptureTestSupport.h"
#include "Desktop.h"
#include "Mp3.h"
#include "TempDir.h"
#include "ZipWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr double kRowsPerSecond = 170.0 / 60.0 * 8.0;

class CaptureTool : public ::testing::Test {
protected:
    // dir/zyr.dat with the probe shader and tracks over the given music.
    void writeArchive(const std::string& mp3) { writeZip(dir_ / "zyr.dat", probeEntries(mp3)); }

    // Runs the tool in dir and expects it to succeed.
    void capture(const std::vector<std::string>& arguments) {
        const ToolRun run = runCapture(dir_.path(), arguments);
        ASSERT_EQ(run.status, 0) << run.errors;
    }

    std::string line(const std::string& text) { return text.substr(0, text.find('\n')); }

    TempDir dir_;
};

TEST_F(CaptureTool, SameArchiveGivesIdenticalFiles) {
    writeArchive(toneMp3(2.0));
    ASSERT_NO_FATAL_FAILURE(capture({"--out", "a", "--fps", "10", "--size", "96x54"}));
    ASSERT_NO_FATAL_FAILURE(capture({"--out", "b", "--fps", "10", "--size", "96x54"}));

    const std::vector<std::string> names = frameNames(dir_ / "a");
    ASSERT_EQ(names.size(), 20u);
    EXPECT_EQ(frameNames(dir_ / "b"), names);
    for (const std::string& name : names) EXPECT_EQ(readFile(dir_ / "a" / name), readFile(dir_ / "b" / name)) << name;
    EXPECT_EQ(readFile(dir_ / "a/soundtrack.wav"), readFile(dir_ / "b/soundtrack.wav"));
    // Identical because the clock was set, not because nothing moved.
    EXPECT_NE(readFile(dir_ / "a" / names.front()), readFile(dir_ / "a" / names[12]));
}

TEST_F(CaptureTool, FrameShowsTheTracksAtTheRowOfItsMusicPosition) {
    writeArchive(toneMp3(2.0));
    const double from = 0.25;
    const int fps = 20;
    ASSERT_NO_FATAL_FAILURE(
        capture({"zyr.dat", "--out", "frames", "--fps", "20", "--size", "64x36", "--from", "0.25", "--to", "1.75"}));
    const std::vector<std::string> names = frameNames(dir_ / "frames");
    ASSERT_EQ(names.size(), 30u);

    // Every frame, the first included: the player's own first frame shows rocket
    // exports at zero, a capture's must not.
    for (std::size_t k = 0; k < names.size(); ++k) {
        SCOPED_TRACE(names[k]);
        const Image image = readPng(dir_ / "frames" / names[k]);
        ASSERT_EQ(image.width, 64);
        ASSERT_EQ(image.height, 36);
        const std::uint8_t* top = image.at(40, 0);
        EXPECT_EQ(top[0], 255) << "the marker belongs on the top row: frame stored upside down?";
        EXPECT_EQ(top[1], 0);
        const double row = kRowsPerSecond * (from + static_cast<double>(k) / fps);
        const std::uint8_t* pixel = image.at(20, 35);
        for (int c = 0; c < 3; ++c) {
            const double expected = probeValue(c, row);
            EXPECT_NEAR(pixel[c] / 255.0, expected, 1.0 / 255.0 + 1e-9) << "component " << c << " at row " << row;
        }
    }
}

TEST_F(CaptureTool, FrameCountIsTheRangeTimesTheRate) {
    writeArchive(toneMp3(2.0));
    struct Case {
        std::vector<std::string> range;
        std::size_t frames;
    };
    const std::vector<Case> cases = {
        {{"--fps", "12"}, 24},                                  // the whole song
        {{"--fps", "24", "--from", "0.5", "--to", "1.25"}, 18},
        {{"--fps", "7", "--to", "1"}, 7},
        {{"--fps", "30", "--from", "1.9"}, 3},                  // to the end
        {{"--to", "0.5"}, 30},                                  // 60 fps unless told
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments{"--out", "frames", "--size", "16x16"};
        arguments.insert(arguments.end(), c.range.begin(), c.range.end());
        SCOPED_TRACE(testing::PrintToString(arguments));
        const ToolRun run = runCapture(dir_.path(), arguments);
        ASSERT_EQ(run.status, 0) << run.errors;
        const std::vector<std::string> names = frameNames(dir_ / "frames");
        ASSERT_EQ(names.size(), c.frames);
        char last[32];
        std::snprintf(last, sizeof last, "frame_%06zu.png", c.frames - 1);
        EXPECT_EQ(names.front(), "frame_000000.png");
        EXPECT_EQ(names.back(), last) << "numbers run from 0 without gaps";
        const std::string done = std::to_string(c.frames) + "/" + std::to_string(c.frames) + " frames";
        EXPECT_NE(run.errors.find(done), std::string::npos) << "progress ends at '" << done << "':\n" << run.errors;
    }
}

TEST_F(CaptureTool, BarsAndRowsStartOnTheFrameOfTheirSeconds) {
    writeArchive(toneMp3(3.0));
    // Bar 1 is row 32, bar 2 row 64: the seconds as an author would work them out.
    ASSERT_NO_FATAL_FAILURE(capture({"--out", "bars", "--fps", "20", "--size", "64x36", "--from", "b1", "--to", "b2"}));
    ASSERT_NO_FATAL_FAILURE(capture({"--out", "rows", "--fps", "20", "--size", "64x36", "--from=r32", "--to=r64"}));
    ASSERT_NO_FATAL_FAILURE(capture({"--out", "seconds", "--fps", "20", "--size", "64x36", "--from",
                                     "1.411764705882353", "--to", "2.823529411764706"}));
    const std::vector<std::string> names = frameNames(dir_ / "seconds");
    ASSERT_EQ(names.size(), 28u);
    EXPECT_EQ(frameNames(dir_ / "bars"), names);
    EXPECT_EQ(frameNames(dir_ / "rows"), names);
    for (const std::string& name : names) {
        EXPECT_EQ(readFile(dir_ / "bars" / name), readFile(dir_ / "seconds" / name)) << name;
        EXPECT_EQ(readFile(dir_ / "rows" / name), readFile(dir_ / "seconds" / name)) << name;
    }
    EXPECT_EQ(readFile(dir_ / "bars/soundtrack.wav"), readFile(dir_ / "seconds/soundtrack.wav"));
    // And the first frame is row 32 itself, not merely the same mistake twice.
    const Image first = readPng(dir_ / "bars" / names.front());
    const std::uint8_t* pixel = first.at(20, 35);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(pixel[c] / 255.0, probeValue(c, 32.0), 1.0 / 255.0 + 1e-9) << c;
}

TEST(CaptureOptions, MusicalPositionsAreWholeRowsAndBarsWithinTheRowRange) {
    const auto from = [](const std::string& position) {
        return zyr::parseCaptureOptions({"--out", "x", "--from", position}).from;
    };
    EXPECT_EQ(from("b24"), from("r768"));
    EXPECT_NEAR(from("r768") * kRowsPerSecond, 768.0, 1e-9);
    EXPECT_EQ(from("b0"), 0.0);
    EXPECT_EQ(from("r0"), 0.0);
    EXPECT_NEAR(from("b67108863") * kRowsPerSecond, 67108863.0 * 32, 1e-3);  // the last bar within 32-bit rows
    EXPECT_NEAR(from("r2147483647") * kRowsPerSecond, 2147483647.0, 1e-3);
    EXPECT_EQ(*zyr::parseCaptureOptions({"--out", "x", "--from", "b1", "--to", "r33"}).to, from("r33"));
    for (const char* bad : {"r-1", "b", "r", "r1e3", "b1.5", "r+4", "r 1", "b-0", "rb1", "r0x10", "R5", "b67108864",
                            "r2147483648", "r4294967296", "b99999999999999999999", "1b"}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(from(bad), zyr::UsageError);
        EXPECT_THROW(zyr::parseCaptureOptions({"--out", "x", "--to", bad}), zyr::UsageError);
    }
    // A musical --to must still come after --from, whichever way each is given.
    EXPECT_THROW(zyr::parseCaptureOptions({"--out", "x", "--from", "b2", "--to", "r64"}), zyr::UsageError);
    EXPECT_THROW(zyr::parseCaptureOptions({"--out", "x", "--from", "3", "--to", "b1"}), zyr::UsageError);
}

TEST_F(CaptureTool, WavIsTheMusicDecoded) {
    // Stereo at 22.05 kHz, so a WAV written with a fixed format would show.
    const std::string& mp3 = toneMp3(2.0, 440.0, {22050, 2});
    writeArchive(mp3);
    const Pcm decoded = decodeMp3(mp3);
    ASSERT_EQ(decoded.frames(), 44100u);

    ASSERT_NO_FATAL_FAILURE(capture({"--out", "whole", "--fps", "5", "--size", "16x16"}));
    const Wav whole = readWav(dir_ / "whole/soundtrack.wav");
    EXPECT_EQ(whole.format, 1u);
    EXPECT_EQ(whole.bits, 16u);
    EXPECT_EQ(whole.channels, 2u);
    EXPECT_EQ(whole.frequency, 22050u);
    EXPECT_TRUE(whole.samples == decoded.samples) << whole.samples.size() << " samples against "
                                                  << decoded.samples.size() << " decoded";

    // A range gives the music of that range: frame 0 and sample 0 are the same moment.
    ASSERT_NO_FATAL_FAILURE(
        capture({"--out", "part", "--fps", "5", "--size", "16x16", "--from", "0.5", "--to", "1.3"}));
    const Wav part = readWav(dir_ / "part/soundtrack.wav");
    const std::vector<std::int16_t> expected(decoded.samples.begin() + 11025 * 2, decoded.samples.begin() + 28665 * 2);
    EXPECT_EQ(part.channels, 2u);
    EXPECT_TRUE(part.samples == expected) << part.samples.size() << " samples against " << expected.size();
}

TEST_F(CaptureTool, BadUsageExitsTwoWithTheUsage) {
    writeArchive(toneMp3(1.0));
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"zyr.dat"},
        {"--out"},
        {"--out", "x", "--out", "y"},
        {"--out", "x", "--fps", "0"},
        {"--out", "x", "--fps", "2.5"},
        {"--out", "x", "--fps", "ten"},
        {"--out", "x", "--size", "640"},
        {"--out", "x", "--size", "0x360"},
        {"--out", "x", "--size", "640x360x2"},
        {"--out", "x", "--from", "-1"},
        {"--out", "x", "--from", "nan"},
        {"--out", "x", "--from", "r-1"},
        {"--out", "x", "--to", "b"},
        {"--out", "x", "--from", "r1e3"},
        {"--out", "x", "--to", "b99999999999"},
        {"--out", "x", "--from", "1", "--to", "0.5"},
        {"--out", "x", "--colour", "red"},
        {"--out", "x", "-v"},
        {"zyr.dat", "other.dat", "--out", "x"},
        {"--out", "x", "--size", "641x360", "--video", "v.mp4"},
    };
    for (const auto& arguments : cases) {
        SCOPED_TRACE(testing::PrintToString(arguments));
        const ToolRun run = runCapture(dir_.path(), arguments);
        EXPECT_EQ(run.status, 2);
        EXPECT_TRUE(run.errors.starts_with("zyr-capture: ")) << run.errors;
        EXPECT_NE(run.errors.find("usage: zyr-capture"), std::string::npos) << run.errors;
        EXPECT_FALSE(fs::exists(dir_ / "x"));
    }
    // --name=value is the same as --name value.
    const ToolRun equals = runCapture(dir_.path(), {"--out=x", "--fps=4", "--size=16x16"});
    EXPECT_EQ(equals.status, 0) << equals.errors;
    EXPECT_EQ(frameNames(dir_ / "x").size(), 4u);
}

TEST_F(CaptureTool, MissingOrUnusableContentIsOneLineAndExitOne) {
    writeZip(dir_ / "silent.dat", {{"fs.glsl", kProbeShader}});
    writeZip(dir_ / "noise.dat", {{"fs.glsl", kProbeShader}, {"soundtrack.mp3", "not an mp3 at all"}});
    writeFile(dir_ / "text.dat", "not a zip\n");
    writeArchive(toneMp3(1.0));
    const std::vector<std::vector<std::string>> cases = {
        {"--out", "x"},  // no zyr.dat in a folder of its own
        {"missing.dat", "--out", "x"},
        {"text.dat", "--out", "x"},
        {"silent.dat", "--out", "x"},
        {"noise.dat", "--out", "x"},
        {"zyr.dat", "--out", "x", "--from", "1.0"},
        {"zyr.dat", "--out", "x", "--to", "1.5"},
        {"zyr.dat", "--out", "x", "--from", "0.5", "--to", "0.505", "--fps", "60"},
    };
    fs::create_directory(dir_ / "empty");
    for (const auto& arguments : cases) {
        SCOPED_TRACE(testing::PrintToString(arguments));
        const fs::path where = arguments.front() == "--out" ? dir_ / "empty" : dir_.path();
        const ToolRun run = runCapture(where, arguments);
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(run.errors.starts_with("zyr-capture: ")) << run.errors;
        EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 1) << run.errors;
        EXPECT_FALSE(fs::exists(where / "x")) << "nothing is written for a run that cannot go through";
    }
}

TEST_F(CaptureTool, WritesOnlyIntoAFolderOfItsOwn) {
    writeArchive(toneMp3(1.0));
    // A folder with anything the tool did not write is left alone.
    fs::create_directory(dir_ / "notes");
    writeFile(dir_ / "notes/todo.txt", "keep me");
    ToolRun run = runCapture(dir_.path(), {"--out", "notes", "--fps", "4", "--size", "16x16"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.errors.find("todo.txt"), std::string::npos) << run.errors;
    EXPECT_EQ(readFile(dir_ / "notes/todo.txt"), "keep me");
    EXPECT_TRUE(frameNames(dir_ / "notes").empty());

    fs::create_directories(dir_ / "nested/sub");
    EXPECT_EQ(runCapture(dir_.path(), {"--out", "nested", "--size", "16x16"}).status, 1);
    writeFile(dir_ / "plain", "a file");
    EXPECT_EQ(runCapture(dir_.path(), {"--out", "plain", "--size", "16x16"}).status, 1);
    EXPECT_EQ(readFile(dir_ / "plain"), "a file");

    // An earlier capture is replaced whole: no frame of a longer run stays behind.
    ASSERT_NO_FATAL_FAILURE(capture({"--out", "frames", "--fps", "10", "--size", "16x16"}));
    ASSERT_EQ(frameNames(dir_ / "frames").size(), 10u);
    ASSERT_NO_FATAL_FAILURE(capture({"--out", "frames", "--fps", "3", "--size", "16x16"}));
    EXPECT_EQ(frameNames(dir_ / "frames").size(), 3u);
    EXPECT_TRUE(fs::exists(dir_ / "frames/soundtrack.wav"));
}

// A stand-in ffmpeg: lists the encoders given when asked, otherwise runs body.
std::string fakeFfmpeg(const std::string& encoders, const std::string& body) {
    return "#!/bin/sh\ncase \"$*\" in *-encoders*) printf '" + encoders + "'; exit 0;; esac\n" + body;
}
constexpr const char* kH264Encoders = " V....D libx264 H.264\\n A..... aac AAC\\n";

TEST_F(CaptureTool, VideoIsRefusedBeforeRenderingAndFailedFfmpegLeavesNoFile) {
    writeArchive(toneMp3(1.0));
    fs::create_directory(dir_ / "bin");
    const std::map<std::string, std::string> path{{"PATH", (dir_ / "bin").string() + ":/usr/bin:/bin"}};
    auto expectFailure = [&](const std::vector<std::string>& arguments, int status, const std::string& words) {
        const ToolRun run = runCapture(dir_.path(), arguments, path);
        EXPECT_EQ(run.status, status) << run.errors;
        EXPECT_NE(run.errors.find(words), std::string::npos) << run.errors;
        EXPECT_FALSE(fs::exists(dir_ / "x")) << "refused, yet the folder was made";
        EXPECT_FALSE(fs::exists(dir_ / "demo.mp4"));
        EXPECT_FALSE(fs::exists(dir_ / "demo.part.mp4"));
    };

    // No ffmpeg on PATH: refused before anything is rendered.
    ToolRun run = runCapture(dir_.path(), {"--out", "x", "--size", "16x16", "--video", "demo.mp4"},
                             {{"PATH", (dir_ / "bin").string()}});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.errors.find("ffmpeg"), std::string::npos) << run.errors;
    EXPECT_FALSE(fs::exists(dir_ / "x"));

    // Usage: a container by extension, settings only with a video.
    expectFailure({"--out", "x", "--video", "demo.avi"}, 2, ".mp4, .mkv, .webm");
    expectFailure({"--out", "x", "--crf", "20"}, 2, "--crf and --preset go with --video");
    expectFailure({"--video", "demo.mp4", "--crf", "52"}, 2, "from 0 to 51");
    expectFailure({"--video", "demo.webm", "--preset", "fast"}, 2, "H.264");
    expectFailure({"--video", "demo.mp4", "--preset", "quick"}, 2, "veryslow");

    // An ffmpeg without the encoders: refused before rendering, naming them.
    writeFile(dir_ / "bin/ffmpeg", fakeFfmpeg(" A..... aac AAC\\n", "exit 0\n"));
    fs::permissions(dir_ / "bin/ffmpeg", fs::perms::owner_all);
    expectFailure({"--out", "x", "--size", "16x16", "--video", "demo.mp4"}, 1, "libx264");
    expectFailure({"--out", "x", "--size", "16x16", "--video", "demo.webm"}, 1, "libvpx-vp9 and libopus");

    // ffmpeg failing after it began writing: its message, and no file under
    // either name (the frames are whole).
    writeFile(dir_ / "bin/ffmpeg", fakeFfmpeg(kH264Encoders, "for last; do :; done\necho partial > \"$last\"\n"
                                                             "echo 'Conversion failed: no room' >&2\nexit 3\n"));
    run = runCapture(dir_.path(), {"--out", "z", "--fps", "2", "--size", "16x16", "--video", "demo.mp4"}, path);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.errors.find("zyr-capture: ffmpeg failed with status 3: Conversion failed: no room"),
              std::string::npos)
        << run.errors;
    EXPECT_FALSE(fs::exists(dir_ / "demo.mp4"));
    EXPECT_FALSE(fs::exists(dir_ / "demo.part.mp4"));

    // Killed while frames stream in.
    writeFile(dir_ / "bin/ffmpeg",
              fakeFfmpeg(kH264Encoders, "for last; do :; done\necho partial > \"$last\"\nkill -9 $$\n"));
    expectFailure({"--size", "64x64", "--video", "demo.mp4"}, 1, "ffmpeg was killed by signal 9");

    // The video's name taken while ffmpeg encoded: that file stays, and so does
    // the finished video, under the part name the error gives.
    writeFile(dir_ / "bin/ffmpeg",
              fakeFfmpeg(kH264Encoders, "for last; do :; done\ncat >/dev/null\necho encoded > \"$last\"\n"
                                        "echo meanwhile > \"${last%.part.mp4}.mp4\"\n"));
    run = runCapture(dir_.path(), {"--fps", "2", "--size", "16x16", "--video", "demo.mp4"}, path);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.errors.find("the finished file is kept as demo.part.mp4"), std::string::npos)
        << run.errors;
    EXPECT_EQ(readFile(dir_ / "demo.part.mp4"), "encoded\n");
    EXPECT_EQ(readFile(dir_ / "demo.mp4"), "meanwhile\n");
    fs::remove(dir_ / "demo.part.mp4");

    // An existing video is never overwritten, whatever ffmpeg would do.
    writeFile(dir_ / "demo.mp4", "video\n");
    run = runCapture(dir_.path(), {"--out", "y", "--size", "16x16", "--video", "demo.mp4"}, path);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(readFile(dir_ / "demo.mp4"), "video\n");
    EXPECT_FALSE(fs::exists(dir_ / "y"));
}

// SIGINT while frames are written, SIGTERM while ffmpeg encodes: the run stops
// within a second, ends by that signal, ffmpeg is gone, and every file left
// under a final name is whole.
TEST_F(CaptureTool, StopSignalsLeaveOnlyWholeFilesAndNoChild) {
    using namespace std::chrono_literals;
    writeArchive(toneMp3(20.0));
    auto waitFor = [](auto condition) {
        for (int i = 0; i < 600 && !condition(); ++i) std::this_thread::sleep_for(50ms);
        return condition();
    };

    {
        auto tool = startCapture(dir_.path(), {"--out", "frames", "--size", "640x360", "--fps", "30"});
        ASSERT_TRUE(waitFor([&] { return fs::exists(dir_ / "frames") && frameNames(dir_ / "frames").size() >= 3; }))
            << tool->errorOutput();
        tool->signal(SIGINT);
        EXPECT_EQ(tool->waitExit(1s), 128 + SIGINT);
        EXPECT_NE(tool->errorOutput().find("zyr-capture: stopped by SIGINT\n"), std::string::npos) << tool->errorOutput();
        const std::vector<std::string> frames = frameNames(dir_ / "frames");
        EXPECT_LT(frames.size(), 600u);
        for (const auto& entry : fs::directory_iterator(dir_ / "frames"))
            EXPECT_TRUE(entry.path().extension() == ".png") << entry.path() << " left behind";
        for (const std::string& name : frames) {
            const Image image = readPng(dir_ / "frames" / name);  // throws on a cut-off file
            EXPECT_EQ(image.width, 640) << name;
        }
    }

    // A stand-in ffmpeg that starts its output and then takes its time.
    fs::create_directory(dir_ / "bin");
    const fs::path pidFile = dir_ / "ffmpeg.pid";
    writeFile(dir_ / "bin/ffmpeg",
              fakeFfmpeg(kH264Encoders, "for last; do :; done\necho partial > \"$last\"\necho $$ > '" +
                                            pidFile.string() + ".new'\nmv '" + pidFile.string() + ".new' '" +
                                            pidFile.string() + "'\nexec sleep 60\n"));
    fs::permissions(dir_ / "bin/ffmpeg", fs::perms::owner_all);
    auto tool = startCapture(dir_.path(), {"--out", "video", "--size", "16x16", "--fps", "2", "--video", "demo.mp4"},
                             {{"PATH", (dir_ / "bin").string() + ":/usr/bin:/bin"}});
    ASSERT_TRUE(waitFor([&] { return fs::exists(pidFile); })) << tool->errorOutput();
    const pid_t ffmpeg = std::stoi(readFile(pidFile));
    tool->signal(SIGTERM);
    EXPECT_EQ(tool->waitExit(1s), 128 + SIGTERM);
    EXPECT_NE(kill(ffmpeg, 0), 0) << "ffmpeg still runs";
    if (kill(ffmpeg, 0) == 0) kill(ffmpeg, SIGKILL);
    EXPECT_FALSE(fs::exists(dir_ / "demo.mp4"));
    EXPECT_FALSE(fs::exists(dir_ / "demo.part.mp4"));
    // ffmpeg runs from the first frame on, so the stop may come at any frame.
    EXPECT_LE(frameNames(dir_ / "video").size(), 40u);
    for (const auto& entry : fs::directory_iterator(dir_ / "video"))
        EXPECT_TRUE(entry.path().extension() == ".png" || entry.path().filename() == "soundtrack.wav")
            << entry.path() << " left behind";
    for (const std::string& name : frameNames(dir_ / "video")) EXPECT_EQ(readPng(dir_ / "video" / name).width, 16);
}

}  // namespace
