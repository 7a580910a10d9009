#include "Soundtrack.h"

#include "AudioTestSupport.h"
#include "Mp3.h"
#include "ResourceArchive.h"
#include "TempDir.h"
#include "ZipWriter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

class SoundtrackTest : public ::testing::Test {
protected:
    // An archive holding the music (when given) beside an unrelated entry.
    std::unique_ptr<ResourceArchive> archiveWith(const std::optional<std::string>& music) {
        std::vector<ZipEntry> entries{{"fs.glsl", "void main() {}\n"}};
        if (music) entries.push_back({"soundtrack.mp3", *music});
        writeZip(dir_ / "zyr.dat", entries);
        return std::make_unique<ResourceArchive>(dir_ / "zyr.dat");
    }

    TempDir dir_;
};

TEST_F(SoundtrackTest, MissingMusicThrowsAndLeavesNoDeviceBehind) {
    auto expectUnableToOpen = [](ResourceArchive& archive, const std::string& name) {
        try {
            Soundtrack music(archive, name, 170.0f);
            ADD_FAILURE() << "constructed without " << name;
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "Unable to open soundtrack file");
        }
        // The device opened before the entry was looked up is released again.
        EXPECT_TRUE(audioInit(-1, 44100));
        EXPECT_TRUE(audioFree());
    };

    auto archive = archiveWith(toneMp3(1.0));
    expectUnableToOpen(*archive, "Soundtrack.mp3");  // names match exactly
    expectUnableToOpen(*archive, "music.mp3");

    ResourceArchive none(dir_ / "missing.dat");
    expectUnableToOpen(none, "soundtrack.mp3");
}

TEST_F(SoundtrackTest, RowsCountEightPerBeatOfPlayedMusic) {
    // The songs are played to their end on a fast output: the final position
    // is the exact decoded length, which pins seconds and rows exactly.
    TestOutputs outputs;
    struct Case {
        double seconds;
        double row;
    };
    for (const Case& c : {Case{1.5, 34.0}, Case{3.0, 68.0}}) {
        SCOPED_TRACE(c.seconds);
        const std::string& mp3 = toneMp3(c.seconds);
        ASSERT_EQ(decodeMp3(mp3).frames(), static_cast<std::size_t>(c.seconds * 44100));
        auto archive = archiveWith(mp3);
        Soundtrack music(*archive, "soundtrack.mp3", 170.0f);
        EXPECT_EQ(archive->openCount(), 0u) << "the entry is closed after reading";
        ASSERT_NE(music.stream(), 0u);
        EXPECT_EQ(music.bpm(), 170.0f);
        EXPECT_EQ(music.playbackSeconds(), 0.0);
        EXPECT_EQ(music.playbackRow(), 0.0);
        EXPECT_FALSE(music.isPlaying());

        music.play();
        EXPECT_TRUE(music.isPlaying());
        ASSERT_TRUE(waitFor([&] { return !music.isPlaying(); }, 10s));
        EXPECT_DOUBLE_EQ(music.playbackSeconds(), c.seconds);
        EXPECT_DOUBLE_EQ(music.playbackRow(), c.row);
    }
}

TEST_F(SoundtrackTest, StopsByItselfInRealTimeAndStaysStopped) {
    auto archive = archiveWith(toneMp3(1.0));
    Soundtrack music(*archive, "soundtrack.mp3", 170.0f);
    music.play();
    const auto start = Clock::now();
    double last = 0.0;
    const bool ended = waitFor(
        [&] {
            const double now = music.playbackSeconds();
            EXPECT_GE(now, last);
            EXPECT_LE(now, 1.0);
            last = now;
            return !music.isPlaying();
        },
        5s);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    ASSERT_TRUE(ended);
    EXPECT_NEAR(wall, 1.0, 0.2);
    EXPECT_DOUBLE_EQ(music.playbackSeconds(), 1.0);

    music.play();  // nothing restarts a finished song
    for (int i = 0; i < 30; ++i) {
        EXPECT_FALSE(music.isPlaying());
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_DOUBLE_EQ(music.playbackSeconds(), 1.0);
}

TEST_F(SoundtrackTest, MusicThatDoesNotDecodeNeverPlays) {
    for (const std::string& bytes : {std::string("ID3 but not really an mp3"), std::string()}) {
        auto archive = archiveWith(bytes);
        Soundtrack music(*archive, "soundtrack.mp3", 170.0f);
        EXPECT_EQ(music.stream(), 0u);
        music.play();
        std::this_thread::sleep_for(50ms);
        EXPECT_FALSE(music.isPlaying());
        EXPECT_EQ(music.playbackSeconds(), 0.0);
        EXPECT_EQ(music.playbackRow(), 0.0);
    }
}

}  // namespace
