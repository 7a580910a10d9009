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
#include "ZipWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
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
    auto frame = [&](int k) {
        session.renderAt(k / 60.0);
        session.readBack(pipeline.acquire());
        pipeline.submit(static_cast<std::size_t>(k));
        progress.update(pipeline.written());
    };
    // The first frame builds the program: that may allocate.
    for (int k = 0; k < 3; ++k) frame(k);

    std::size_t allocations = 0;
    {
        AllocationCounter counter;
        for (int k = 3; k < 100; ++k) frame(k);
        pipeline.finish();
        allocations = counter.calls();
    }
    std::fclose(quiet);
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(pipeline.written(), 100u);
    EXPECT_EQ(readPng(dir / "frame_000099.png").width, 64);
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

    // A folder that cannot be written to fails the pipeline on the caller's thread.
    zyr::FramePipeline broken(dir / "missing", 8, 4, 2);
    EXPECT_THROW(
        {
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
