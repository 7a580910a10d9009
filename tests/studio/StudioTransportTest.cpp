// The studio's transport below the window: seeking and pausing the soundtrack
// on an output (what the window's keys end in), read back as positions and as
// the samples the output was handed; and the HUD's reading of a position.
#include "AudioTestSupport.h"
#include "Mp3.h"
#include "ResourceArchive.h"
#include "Soundtrack.h"
#include "TempDir.h"
#include "Transport.h"
#include "ZipWriter.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

using namespace std::chrono_literals;
using zyr::studio::formatBarBeat;
using zyr::studio::formatTime;

constexpr double kRowsPerSecond = 170.0 / 60.0 * 8.0;
// Rows in one sample frame at 44.1 kHz.
constexpr double kRowsPerFrame = kRowsPerSecond / 44100.0;

class SoundtrackTransport : public ::testing::Test {
protected:
    std::unique_ptr<Soundtrack> open(const std::string& mp3) {
        writeZip(dir / "zyr.dat", {{"soundtrack.mp3", mp3, ZipMethod::Stored}});
        archive = std::make_unique<ResourceArchive>(dir / "zyr.dat");
        return std::make_unique<Soundtrack>(*archive, "soundtrack.mp3", 170.0f);
    }

    TempDir dir;
    std::unique_ptr<ResourceArchive> archive;
};

TEST_F(SoundtrackTransport, SeeksLandOnTheRowAndPauseHoldsItOnTheSilentDevice) {
    TestOutputs outputs({.realTime = true});
    auto music = open(toneMp3(30.0));
    ASSERT_NE(music->stream(), 0u);
    music->play();
    std::this_thread::sleep_for(100ms);

    // Exactly the row: never a frame before it (a key there would be missed),
    // never a whole frame after.
    for (double row : {0.0, 17.0, 33.0, 100.0, 517.0, 333.25, 8.0}) {
        ASSERT_TRUE(music->seekToRow(row));
        const double now = music->playbackRow();
        EXPECT_GE(now, row);
        EXPECT_LT(now - row, kRowsPerFrame) << row;
    }

    // Playing on from a seek: forward in real time from the row.
    ASSERT_TRUE(music->seekToRow(64.0));
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(music->isPlaying());
    EXPECT_GT(music->playbackRow(), 64.0 + 0.1 * kRowsPerSecond);
    EXPECT_LT(music->playbackRow(), 64.0 + 1.0 * kRowsPerSecond);

    // Paused: frozen, seekable, and play carries on from where it stood.
    music->pause();
    EXPECT_FALSE(music->isPlaying());
    const double held = music->playbackRow();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(music->playbackRow(), held);
    ASSERT_TRUE(music->seekToRow(200.0));
    std::this_thread::sleep_for(100ms);
    EXPECT_GE(music->playbackRow(), 200.0);
    EXPECT_LT(music->playbackRow(), 200.0 + kRowsPerFrame);
    music->play();
    std::this_thread::sleep_for(200ms);
    EXPECT_GT(music->playbackRow(), 200.0 + 0.05 * kRowsPerSecond);

    // Music that ended plays again after a seek back.
    ASSERT_TRUE(music->seekToRow(music->lengthRows()));
    EXPECT_TRUE(waitFor([&] { return !music->isPlaying(); }, 2s));
    ASSERT_TRUE(music->seekToRow(10.0));
    EXPECT_GE(music->playbackRow(), 10.0);
    EXPECT_LT(music->playbackRow(), 10.0 + kRowsPerFrame);
    music->play();
    EXPECT_TRUE(music->isPlaying());
}

// What a device is handed around a seek, a pause and a resume: the waveform
// never jumps by more than the tone itself moves from sample to sample (with a
// little room for the ramps), where a cut would jump by up to twice its height.
TEST_F(SoundtrackTransport, SeekAndPauseMakeNoClick) {
    const std::string& mp3 = toneMp3(4.0);
    const Pcm pcm = decodeMp3(mp3);
    int naturalStep = 0;
    int peak = 0;
    for (std::size_t i = 1; i < pcm.samples.size(); ++i) {
        naturalStep = std::max(naturalStep, std::abs(pcm.samples[i] - pcm.samples[i - 1]));
        peak = std::max(peak, std::abs(static_cast<int>(pcm.samples[i])));
    }
    ASSERT_GT(peak, 8 * naturalStep) << "a tone whose steps are small next to its height";
    std::vector<std::int16_t> recording;
    {
        TestOutputs outputs({.pace = std::chrono::milliseconds(5)});
        auto music = open(mp3);
        ASSERT_NE(music->stream(), 0u);
        music->play();
        ASSERT_TRUE(waitFor([&] { return music->playbackSeconds() > 0.3; }, 5s));
        // A quarter period of the tone on: the waveform is elsewhere there.
        ASSERT_TRUE(music->seekToRow((1.0 + 1.0 / 1760.0) * kRowsPerSecond));
        ASSERT_TRUE(waitFor([&] { return music->playbackSeconds() > 1.3; }, 5s));
        music->pause();
        std::this_thread::sleep_for(100ms);
        music->play();
        ASSERT_TRUE(waitFor([&] { return music->playbackSeconds() > 1.6; }, 5s));
        music->pause();
        std::this_thread::sleep_for(100ms);
        music.reset();  // the output closes with the soundtrack: the recording is whole
        recording = outputs.samples();
    }
    ASSERT_GT(recording.size(), 2u * 44100u);
    int largest = 0;
    for (std::size_t i = 2; i < recording.size(); i += 2)  // left channel
        largest = std::max(largest, std::abs(recording[i] - recording[i - 2]));
    EXPECT_LE(largest, naturalStep * 3 / 2);
}

TEST(StudioHud, PositionsReadAsTimeAndBarBeatRow) {
    std::array<char, 32> text{};
    EXPECT_STREQ(formatTime(0.0, text), "0:00.000");
    EXPECT_STREQ(formatTime(63.5289, text), "1:03.528");
    EXPECT_STREQ(formatTime(-1.0, text), "0:00.000");
    EXPECT_STREQ(formatBarBeat(0.0, text), "1.1.0");
    EXPECT_STREQ(formatBarBeat(8.0, text), "1.2.0");
    EXPECT_STREQ(formatBarBeat(31.9, text), "1.4.7");
    EXPECT_STREQ(formatBarBeat(80.0, text), "3.3.0");

    // Music without an arrangement: keys 1-9 every 16 bars, within the music.
    const auto sections = zyr::studio::sectionsOrEvery16Bars({}, 1200.0);
    ASSERT_EQ(sections.size(), 3u);
    EXPECT_EQ(sections[1].startRow, 512.0);
    EXPECT_EQ(sections[2].name, "bars 33-48");
    zyr::studio::Transport transport(sections, 1200.0);
    EXPECT_EQ(transport.target(zyr::studio::Move::Section, 700.0, 3), 1024.0);
    EXPECT_FALSE(transport.target(zyr::studio::Move::Section, 700.0, 4));
    EXPECT_EQ(transport.target(zyr::studio::Move::BackBar, 20.0), 0.0);
    EXPECT_EQ(transport.target(zyr::studio::Move::NextBar, 1190.0), 1200.0);
    EXPECT_EQ(transport.sectionAt(600.0), "bars 17-32");
}

}  // namespace
