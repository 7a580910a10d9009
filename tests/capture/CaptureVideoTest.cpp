// zyr-capture --video with the real ffmpeg: what the file holds is read back
// with ffprobe and ffmpeg itself, against the PNG frames of the same run.
#include "CaptureTestSupport.h"
#include "Mp3.h"
#include "TempDir.h"
#include "ZipWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

namespace fs = std::filesystem;

namespace {

// Standard output of a shell command; empty when it fails.
std::string shell(const std::string& command) {
    std::string text;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return text;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, got);
    return ::pclose(pipe) == 0 ? text : std::string();
}

// key=value lines of ffprobe for one stream.
std::map<std::string, std::string> probe(const fs::path& video, const std::string& stream) {
    std::map<std::string, std::string> fields;
    std::string text = shell("ffprobe -v error -count_frames -select_streams " + stream +
                             " -show_entries stream=codec_name,width,height,r_frame_rate,nb_read_frames,duration "
                             "-of default=noprint_wrappers=1 '" + video.string() + "'");
    for (std::size_t end; (end = text.find('\n')) != std::string::npos; text.erase(0, end + 1)) {
        const std::string line = text.substr(0, end);
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos) fields[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return fields;
}

// Frame number n of the video as RGB, top row first.
std::string decodedFrame(const fs::path& video, int n) {
    return shell("ffmpeg -v error -i '" + video.string() + "' -vf 'select=eq(n\\," + std::to_string(n) +
                 ")' -vframes 1 -f rawvideo -pix_fmt rgb24 -");
}

TEST(CaptureVideo, RealFfmpegStreamsFramesWithTheSound) {
    TempDir dir;
    writeZip(dir / "zyr.dat", probeEntries(toneMp3(5.0, 440.0, {44100, 2})));
    constexpr int kWidth = 128, kHeight = 72;
    const ToolRun run = runCapture(dir.path(), {"--out", "frames", "--video", "out.mp4", "--fps", "30", "--from", "0",
                                                "--to", "4", "--size", "128x72"});
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_FALSE(fs::exists(dir / "out.part.mp4"));

    auto video = probe(dir / "out.mp4", "v:0");
    EXPECT_EQ(video["codec_name"], "h264");
    EXPECT_EQ(video["nb_read_frames"], "120");
    EXPECT_EQ(video["r_frame_rate"], "30/1");
    EXPECT_EQ(video["width"], "128");
    EXPECT_EQ(video["height"], "72");
    auto audio = probe(dir / "out.mp4", "a:0");
    EXPECT_EQ(audio["codec_name"], "aac");
    ASSERT_FALSE(audio["duration"].empty());
    ASSERT_FALSE(video["duration"].empty());
    EXPECT_NEAR(std::atof(audio["duration"].c_str()), std::atof(video["duration"].c_str()), 1.0 / 30);

    // The same frames as the PNGs of the run, within what the codec changes, in
    // the red marker at the top and the track colour below.
    for (int n : {0, 37, 119}) {
        SCOPED_TRACE(n);
        const std::string rgb = decodedFrame(dir / "out.mp4", n);
        ASSERT_EQ(rgb.size(), std::size_t{kWidth} * kHeight * 3);
        char name[32];
        std::snprintf(name, sizeof name, "frame_%06d.png", n);
        const Image png = readPng(dir / "frames" / name);
        for (auto [x, y] : {std::pair{64, 4}, std::pair{20, 50}, std::pair{100, 60}})
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(static_cast<std::uint8_t>(rgb[(static_cast<std::size_t>(y) * kWidth + x) * 3 + c]),
                            png.at(x, y)[c], 6)
                    << "pixel " << x << "," << y << " channel " << c;
    }

    // Video alone (no PNG anywhere), into the other containers.
    const ToolRun mkv = runCapture(dir.path(), {"--video", "out.mkv", "--fps", "10", "--to", "1", "--size", "64x36",
                                                "--crf", "30", "--preset", "ultrafast"});
    ASSERT_EQ(mkv.status, 0) << mkv.errors;
    EXPECT_EQ(probe(dir / "out.mkv", "v:0")["nb_read_frames"], "10");
    const ToolRun webm = runCapture(dir.path(), {"--video", "out.webm", "--fps", "10", "--to", "1", "--size", "64x36"});
    ASSERT_EQ(webm.status, 0) << webm.errors;
    EXPECT_EQ(probe(dir / "out.webm", "v:0")["codec_name"], "vp9");
    EXPECT_EQ(probe(dir / "out.webm", "a:0")["codec_name"], "opus");
    for (const auto& entry : fs::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().string().find(".part"), std::string::npos) << entry.path() << " left behind";
}

}  // namespace
