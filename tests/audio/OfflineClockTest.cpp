// The audio layer on its offline clock: no device, no decoding in the
// background, a position only the caller moves; and the whole-stream decode.
#include "AudioLayer.h"

#include "AudioTestSupport.h"
#include "Mp3.h"
#include "ResourceArchive.h"
#include "Soundtrack.h"
#include "TempDir.h"
#include "ZipWriter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

using namespace std::chrono_literals;

namespace {

// Every test leaves the process without a device and on the real clock.
class OfflineClock : public ::testing::Test {
protected:
    void TearDown() override {
        audioFree();
        audioUseOfflineClock(false);
    }
};

AudioStream create(const std::string& mp3, std::uint32_t flags = kAudioPrescan) {
    return audioStreamCreate(mp3.data(), 0, mp3.size(), flags);
}

TEST_F(OfflineClock, OpensNoDeviceAndStandsStillUntilMoved) {
    TestOutputs outputs;
    audioUseOfflineClock(true);
    ASSERT_TRUE(audioInit(-1, 44100));
    EXPECT_TRUE(audioStart());
    const std::string& mp3 = toneMp3(1.0);
    const AudioStream s = create(mp3);
    ASSERT_NE(s, 0u);
    EXPECT_EQ(audioChannelIsActive(s), kAudioStopped);
    ASSERT_TRUE(audioChannelPlay(s, false));
    EXPECT_EQ(audioChannelIsActive(s), kAudioPlaying);

    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(audioChannelGetPosition(s), 0u) << "the offline clock does not follow wall time";
    EXPECT_EQ(outputs.opened(), 0) << "an output was opened";

    // Mono 16-bit: two bytes a frame; positions land on whole frames.
    ASSERT_TRUE(audioSetPosition(s, 44101));
    EXPECT_EQ(audioChannelGetPosition(s), 44100u);
    EXPECT_DOUBLE_EQ(audioChannelBytes2Seconds(s, audioChannelGetPosition(s)), 0.5);
    // It is a clock the caller sets, so it may also go back.
    ASSERT_TRUE(audioSetPosition(s, 2000));
    EXPECT_EQ(audioChannelGetPosition(s), 2000u);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(audioChannelGetPosition(s), 2000u);
    EXPECT_EQ(audioChannelIsActive(s), kAudioPlaying);
    ASSERT_TRUE(audioFree());
}

TEST_F(OfflineClock, ReachingTheEndEndsTheStreamAsPlaybackWould) {
    audioUseOfflineClock(true);
    ASSERT_TRUE(audioInit(-1, 44100));
    const AudioStream s = create(toneMp3(1.0));
    ASSERT_NE(s, 0u);
    EXPECT_EQ(audioChannelGetLength(s), 88200u);

    // Before play the position may be set, and the end does not end anything.
    ASSERT_TRUE(audioSetPosition(s, 1u << 30));
    EXPECT_EQ(audioChannelGetPosition(s), 88200u) << "clamped to the length";
    EXPECT_EQ(audioChannelIsActive(s), kAudioStopped);
    ASSERT_TRUE(audioSetPosition(s, 0));

    ASSERT_TRUE(audioChannelPlay(s, false));
    ASSERT_TRUE(audioSetPosition(s, 88198));
    EXPECT_EQ(audioChannelIsActive(s), kAudioPlaying) << "one frame before the end still plays";
    ASSERT_TRUE(audioSetPosition(s, 88200));
    EXPECT_EQ(audioChannelIsActive(s), kAudioStopped);
    EXPECT_DOUBLE_EQ(audioChannelBytes2Seconds(s, audioChannelGetPosition(s)), 1.0);

    // Finished streams stay finished, at their end, until restarted.
    EXPECT_FALSE(audioSetPosition(s, 100));
    EXPECT_FALSE(audioChannelPlay(s, false));
    EXPECT_EQ(audioChannelGetPosition(s), 88200u);
    EXPECT_EQ(audioChannelIsActive(s), kAudioStopped);
    ASSERT_TRUE(audioChannelPlay(s, true));
    EXPECT_EQ(audioChannelGetPosition(s), 0u);
    EXPECT_EQ(audioChannelIsActive(s), kAudioPlaying);
    EXPECT_TRUE(audioSetPosition(s, 100));

    // A stream created without a prescan still knows its exact end offline.
    const AudioStream quick = create(toneMp3(1.0), 0);
    ASSERT_NE(quick, 0u);
    EXPECT_EQ(audioChannelGetLength(quick), 88200u);
}

TEST_F(OfflineClock, RealDevicesAreNotSetAndKeepTheirClock) {
    ASSERT_TRUE(audioInit(0, 44100));
    // Chosen while a device is open: that device keeps its clock.
    audioUseOfflineClock(true);
    const AudioStream s = create(toneMp3(3.0));
    ASSERT_NE(s, 0u);
    ASSERT_TRUE(audioChannelPlay(s, false));
    EXPECT_FALSE(audioSetPosition(s, 44100 * 2));
    std::this_thread::sleep_for(300ms);
    EXPECT_GT(audioChannelBytes2Seconds(s, audioChannelGetPosition(s)), 0.1);
    ASSERT_TRUE(audioFree());
    EXPECT_FALSE(audioSetPosition(s, 0)) << "unknown handle";

    // ... and the next device takes it.
    ASSERT_TRUE(audioInit(0, 44100));
    const AudioStream offline = create(toneMp3(3.0));
    EXPECT_TRUE(audioSetPosition(offline, 4));
}

TEST_F(OfflineClock, SecondsToBytesIsTheNearestWholeFrame) {
    audioUseOfflineClock(true);
    ASSERT_TRUE(audioInit(-1, 44100));
    const AudioStream mono = create(toneMp3(1.0));
    const AudioStream stereo = create(toneMp3(1.0, 440.0, {22050, 2}));
    ASSERT_NE(mono, 0u);
    ASSERT_NE(stereo, 0u);
    // 11/60 s is 8085 frames at 44.1 kHz; 11.0 / 60.0 * 44100 comes out just below.
    EXPECT_EQ(audioChannelSeconds2Bytes(mono, 11.0 / 60.0), 8085u * 2);
    EXPECT_EQ(audioChannelSeconds2Bytes(mono, 0.4 / 44100), 0u);
    EXPECT_EQ(audioChannelSeconds2Bytes(mono, 0.6 / 44100), 2u);
    EXPECT_EQ(audioChannelSeconds2Bytes(mono, -1.0), 0u);
    EXPECT_EQ(audioChannelSeconds2Bytes(stereo, 1.0), 22050u * 4);
    EXPECT_EQ(audioChannelSeconds2Bytes(0, 1.0), 0u);
    AudioInfo info;
    ASSERT_TRUE(audioChannelGetInfo(stereo, &info));
    EXPECT_EQ(info.frequency, 22050u);
    EXPECT_EQ(info.channels, 2u);
    EXPECT_FALSE(audioChannelGetInfo(0, &info));
}

TEST_F(OfflineClock, SoundtrackRowsFollowThePositionSet) {
    TempDir dir;
    writeZip(dir / "zyr.dat", {{"soundtrack.mp3", toneMp3(3.0)}});
    ResourceArchive archive(dir / "zyr.dat");
    audioUseOfflineClock(true);
    Soundtrack music(archive, "soundtrack.mp3", 170.0f);
    music.play();
    ASSERT_TRUE(music.isPlaying());
    struct Case {
        double seconds;
        double row;
    };
    for (const Case& c : {Case{1.5, 34.0}, Case{0.0, 0.0}, Case{3.0, 68.0}}) {
        ASSERT_TRUE(audioSetPosition(music.stream(), audioChannelSeconds2Bytes(music.stream(), c.seconds)));
        EXPECT_DOUBLE_EQ(music.playbackSeconds(), c.seconds);
        EXPECT_DOUBLE_EQ(music.playbackRow(), c.row);
    }
    EXPECT_FALSE(music.isPlaying()) << "the end of the music ends it";
}

TEST_F(OfflineClock, WholeDecodeIsTheMp3DecodedBitForBit) {
    for (const ToneFormat format : {ToneFormat{44100, 1}, ToneFormat{22050, 2}, ToneFormat{48000, 2}}) {
        SCOPED_TRACE(std::to_string(format.sampleRate) + " Hz, " + std::to_string(format.channels) + " channels");
        const std::string& mp3 = toneMp3(1.5, 440.0, format);
        const Pcm expected = decodeMp3(mp3);
        for (bool offline : {true, false}) {
            audioUseOfflineClock(offline);
            ASSERT_TRUE(audioInit(0, 44100));
            const AudioStream s = create(mp3);
            ASSERT_NE(s, 0u);
            // Playing or not, the stream's own decoding is left alone.
            ASSERT_TRUE(audioChannelPlay(s, false));
            std::vector<std::int16_t> samples{1, 2, 3};
            ASSERT_TRUE(audioStreamDecodeAll(s, samples));
            EXPECT_TRUE(samples == expected.samples)
                << samples.size() << " samples against " << expected.samples.size();
            EXPECT_EQ(audioChannelGetLength(s), expected.bytes());
            EXPECT_FALSE(audioStreamDecodeAll(0, samples));
            EXPECT_TRUE(samples.empty());
            ASSERT_TRUE(audioFree());
        }
    }
}

}  // namespace
