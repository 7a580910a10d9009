// The capture's parts in this process: the frame loop's allocations, the refusal
// of a clock that cannot be set, the progress line. The player's GL objects are
// made once per process, so no test here draws with more than one session (the
// suite runs each test in a process of its own).
#include "AllocationCounter.h"
#include "AudioLayer.h"
#include "CaptureFiles.h"
#include "CaptureProgress.h"
#include "CaptureSession.h"
#include "CaptureTestSupport.h"
#include "FramePipeline.h"
#include "Mp3.h"
#include "ResourceArchive.h"
#include "TempDir.h"
#include "VideoMux.h"
#include "ZipWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <string>

namespace {

using zyr::CaptureSession;

TEST(CaptureLoop, AllocatesNothingPerFrameOnceRunning) {
    TempDir dir;
    writeZip(dir / "zyr.dat", probeEntries(toneMp3(2.0)));
    ResourceArchive archive(dir / "zyr.dat");
    CaptureSession session(archive, 64, 36);
    zyr::FramePipeline pipeline(dir.path(), 64, 36, 2);
    std::FILE* quiet = std::fopen("/dev/null", "w");
    ASSERT_NE(quiet, nullptr);
    zyr::CaptureProgress progress(quiet, 100, false);
    // As the tool runs it: frame k is collected from its pixel buffer while
    // frame k + 1 is drawn.
    auto frame = [&](int k) {
        session.renderAt(k / 60.0);
        session.queueReadBack();
        if (k == 0) return;
        session.takeReadBack(pipeline.acquire());
        pipeline.submit(static_cast<std::size_t>(k - 1));
        progress.update(pipeline.written());
    };
    // The first frame builds the program: that may allocate.
    for (int k = 0; k < 3; ++k) frame(k);

    std::size_t allocations = 0;
    {
        AllocationCounter counter;
        for (int k = 3; k < 101; ++k) frame(k);
        session.takeReadBack(pipeline.acquire());
        pipeline.submit(100);
        pipeline.finish();
        allocations = counter.calls();
    }
    std::fclose(quiet);
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(pipeline.written(), 101u);
    EXPECT_EQ(readPng(dir / "frame_000100.png").width, 64);
}

// The overlapped readback gives the pixels the direct one gives, frame by
// frame, and every PNG level stores exactly them, the same bytes each time.
TEST(CaptureLoop, PixelBuffersAndEveryPngLevelKeepThePixelsExactly) {
    TempDir dir;
    writeZip(dir / "zyr.dat", probeEntries(toneMp3(2.0)));
    ResourceArchive archive(dir / "zyr.dat");
    constexpr std::uint32_t kWidth = 97, kHeight = 41;  // odd rows: no padding assumed
    CaptureSession session(archive, kWidth, kHeight);
    std::vector<std::vector<std::uint8_t>> direct;
    std::vector<std::uint8_t> queued(std::size_t{kWidth} * kHeight * 3);
    for (int k = 0; k < 6; ++k) {
        session.renderAt(0.3 * k);
        const std::span<const std::uint8_t> now = session.readBack();
        direct.emplace_back(now.begin(), now.end());
        session.queueReadBack();
        if (k == 0) continue;
        session.takeReadBack(queued);
        EXPECT_EQ(queued, direct[static_cast<std::size_t>(k - 1)]) << "frame " << k - 1;
    }
    session.queueReadBack();
    EXPECT_THROW(session.queueReadBack(), zyr::CaptureError) << "two queued: a third has no buffer";
    for (int twice = 0; twice < 2; ++twice) {
        session.takeReadBack(queued);
        EXPECT_EQ(queued, direct.back());
    }
    EXPECT_THROW(session.takeReadBack(queued), zyr::CaptureError);
    EXPECT_NE(direct.front(), direct.back()) << "the frames should differ";

    std::size_t stored = 0;
    std::size_t smallest = 0;
    for (int level = 0; level <= zyr::kMaxPngLevel; ++level) {
        SCOPED_TRACE(level);
        zyr::FrameWriter writer(dir.path(), level);
        writer.write(7, direct[3], kWidth, kHeight);
        const std::vector<std::uint8_t> png = writer.png();
        writer.encode(direct[3], kWidth, kHeight);
        EXPECT_EQ(writer.png(), png) << "same pixels and level, other bytes";
        const Image image = readPng(dir / "frame_000007.png");
        ASSERT_EQ(image.width, static_cast<int>(kWidth));
        EXPECT_EQ(image.rgb, direct[3]);
        if (level == 0) stored = png.size();
        smallest = png.size();
    }
    EXPECT_LT(smallest * 4, stored) << "level 9 should be far smaller than stored rows";
    EXPECT_THROW(zyr::FrameWriter(dir.path(), 10), zyr::CaptureError);
}

TEST(CaptureLoop, PipelineWritesTheFramesItWasGivenAndReportsFailures) {
    TempDir dir;
    std::vector<std::uint8_t> expected;
    {
        zyr::FramePipeline pipeline(dir.path(), 8, 4, 3);
        for (std::size_t k = 0; k < 40; ++k) {
            const std::span<std::uint8_t> rgb = pipeline.acquire();
            ASSERT_EQ(rgb.size(), 8u * 4 * 3);
            // Frame k is filled with k: a buffer handed to a worker while the
            // caller still fills it, or reused before it was encoded, shows.
            std::fill(rgb.begin(), rgb.end(), static_cast<std::uint8_t>(k));
            pipeline.submit(k);
        }
        pipeline.finish();
        EXPECT_EQ(pipeline.written(), 40u);
    }
    for (std::size_t k = 0; k < 40; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "frame_%06zu.png", k);
        const Image image = readPng(dir / name);
        ASSERT_EQ(image.rgb.size(), 8u * 4 * 3);
        EXPECT_TRUE(std::all_of(image.rgb.begin(), image.rgb.end(), [&](std::uint8_t v) { return v == k; })) << name;
    }

    // A folder that cannot be written to fails the pipeline on the caller's
    // thread (at once, or at the latest when the frames are collected).
    EXPECT_THROW(
        {
            zyr::FramePipeline broken(dir / "missing", 8, 4, 2);
            for (std::size_t k = 0; k < 10; ++k) {
                broken.acquire();
                broken.submit(k);
            }
            broken.finish();
        },
        zyr::CaptureError);
}

TEST(CaptureLoop, RefusesAClockItCannotSet) {
    // A device opened before the capture keeps its real clock; frames drawn on it
    // would follow wall time instead of the positions asked for.
    TempDir dir;
    writeZip(dir / "zyr.dat", probeEntries(toneMp3(1.0)));
    ResourceArchive archive(dir / "zyr.dat");
    ASSERT_TRUE(audioInit(0, 44100));
    EXPECT_THROW(CaptureSession(archive, 32, 32), zyr::CaptureError);
    audioFree();

    // The failed session leaves the process on the real clock.
    ASSERT_TRUE(audioInit(0, 44100));
    const std::string& mp3 = toneMp3(1.0);
    const AudioStream stream = audioStreamCreate(mp3.data(), 0, mp3.size(), kAudioPrescan);
    ASSERT_NE(stream, 0u);
    EXPECT_FALSE(audioSetPosition(stream, 4410));
    audioFree();
}

// A parent that ignores SIGCHLD hands that on across exec, and the kernel then
// reaps ffmpeg itself: an ffmpeg that failed must not pass for one that did.
TEST(CaptureVideoStatus, AnEndingWhoseStatusCannotBeReadIsAFailure) {
    TempDir dir;
    writeFile(dir / "ffmpeg", "#!/bin/sh\nfor last; do :; done\necho partial > \"$last\"\ncat >/dev/null\nexit 3\n");
    std::filesystem::permissions(dir / "ffmpeg", std::filesystem::perms::owner_all);
    const zyr::VideoFormat& format = *zyr::videoFormatFor("demo.mp4");
    zyr::VideoEncoder video(dir / "ffmpeg", dir / "demo.mp4", format, {}, 16, 16, 2, {});
    const auto previous = std::signal(SIGCHLD, SIG_IGN);
    try {
        video.finish();
        ADD_FAILURE() << "a video was taken from an ffmpeg whose ending nobody saw";
    } catch (const zyr::CaptureError& error) {
        EXPECT_NE(std::string(error.what()).find("cannot learn how ffmpeg ended"), std::string::npos) << error.what();
    }
    std::signal(SIGCHLD, previous);
    EXPECT_FALSE(std::filesystem::exists(dir / "demo.mp4"));
}

TEST(CaptureProgressLine, ShowsFramesRateAndTimeLeft) {
    char line[160];
    zyr::formatCaptureProgress(line, sizeof line, 30, 120, 10.0);
    EXPECT_STREQ(line, "[#####---------------]  30/120 frames     3.0 fps  0:30 left");
    zyr::formatCaptureProgress(line, sizeof line, 0, 120, 0.0);
    EXPECT_STREQ(line, "[--------------------]   0/120 frames     -- fps  --:-- left");
    zyr::formatCaptureProgress(line, sizeof line, 1, 3601, 1.0);
    EXPECT_STREQ(line, "[--------------------]    1/3601 frames     1.0 fps  1:00:00 left");
    zyr::formatCaptureProgress(line, sizeof line, 120, 120, 40.0);
    EXPECT_STREQ(line, "[####################] 120/120 frames     3.0 fps  0:00 left");
    // A short buffer is cut, never overrun.
    char tiny[8];
    EXPECT_EQ(zyr::formatCaptureProgress(tiny, sizeof tiny, 30, 120, 10.0), 7u);
    EXPECT_STREQ(tiny, "[#####-");
}

}  // namespace
