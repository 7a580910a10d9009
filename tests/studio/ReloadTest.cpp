// The studio's reloading pieces without a window: the song builder never
// handing out a build of older sources, and the waveform worked out a block
// at a time against a whole decode. (The folder watch: FolderWatchTest.cpp.)
#include "AudioTestSupport.h"
#include "Mp3.h"
#include "SongBuilder.h"
#include "TempDir.h"
#include "Waveform.h"
#include "Wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace {

using namespace std::chrono_literals;

void writeText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string song(int bars) {
    return "tempo 170\ninstrument k kick\npattern beat 1\nk x...x...x...x...\nsection a " + std::to_string(bars) +
           "\nplay beat\n";
}

// While a newer build runs, the older result is never taken; the newer one
// comes with its sections and waveform.
TEST(SongBuilder, ABuildOfOlderSourcesIsNeverHandedOut) {
    TempDir dir;
    writeText(dir / "soundtrack.mp3", toneMp3(2.0));
    zyr::studio::SongBuilder songs(dir.path());
    songs.request();
    ASSERT_TRUE(waitUntil([&] { return !songs.busy(); }, 20s));

    // The ready MP3 gives way to a song, which takes a while to render.
    std::filesystem::remove(dir / "soundtrack.mp3");
    std::filesystem::create_directories(dir / "song");
    writeText(dir / "song" / "tune.song", song(48));
    songs.request();
    for (int i = 0; i < 20 && songs.busy(); ++i) {
        EXPECT_FALSE(songs.take()) << "a build of the old sources";
        std::this_thread::sleep_for(20ms);
    }
    std::optional<zyr::studio::SongBuild> build;
    ASSERT_TRUE(waitUntil([&] { return static_cast<bool>(build = songs.take()); }, 60s));
    ASSERT_TRUE(build->mp3) << (build->error ? build->error->what() : "");
    EXPECT_NE(std::string(build->mp3->begin(), build->mp3->end()), toneMp3(2.0));
    ASSERT_EQ(build->sections.size(), 1u);
    EXPECT_EQ(build->sections[0].name, "a");
    EXPECT_GE(build->peaks.size(), 48u * 32u);
    EXPECT_FALSE(songs.take());
}

// Peaks folded a block at a time from the MP3 equal peaks of the whole decode.
TEST(Waveform, PeaksOfTheMp3AreThePeaksOfItsDecodedSamples) {
    const double rowsPerSecond = 170.0 / 60.0 * 8.0;
    for (const std::string* mp3 : {&toneMp3(3.0, 300.0), &toneMp3(2.0, 440.0, {22050, 2})}) {
        const Pcm pcm = decodeMp3(*mp3);
        const std::vector<float> whole =
            zyr::studio::rowPeaks(pcm.samples, static_cast<unsigned>(pcm.channels), static_cast<unsigned>(pcm.rate), rowsPerSecond);
        ASSERT_FALSE(whole.empty());
        EXPECT_EQ(zyr::studio::waveformPeaks(*mp3, rowsPerSecond), whole);
    }
    EXPECT_TRUE(zyr::studio::waveformPeaks("no mp3 here", rowsPerSecond).empty());
}

}  // namespace
