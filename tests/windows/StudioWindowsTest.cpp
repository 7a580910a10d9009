// The studio's Windows side: an editor's ReplaceFileW save seen by the folder
// watch, a source another program holds for a moment read once it lets go,
// the packed archive's temporary file gone with it (and one a crash left
// gone with the next), and the frame loop's processor clock.
#include "ContentFolder.h"
#include "FolderWatch.h"
#include "MemoryArchive.h"
#include "PathText.h"
#include "TempDir.h"
#include "ThreadClock.h"
#include "Wait.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using zyr::content::Part;
using zyr::studio::FolderWatch;
using zyr::studio::PartSet;

// The packed archives' files in folder, by name.
std::set<std::string> studioArchivesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = zyr::toUtf8(entry.path().filename());
        if (name.starts_with("zyr-studio-") && name.ends_with(".zip")) names.insert(name);
    }
    return names;
}

}  // namespace

TEST(StudioWindows, AReplaceFileSaveCountsAndAHeldSourceIsReadOnceReleased) {
    TempDir dir;
    const fs::path folder = dir.path() / zyr::pathFromUtf8("Zoë démo");
    fs::create_directories(folder / "tracks");
    const fs::path text = folder / "tracks" / zyr::pathFromUtf8("piste é.txt");
    writeFile(text, "track \"a.x\"\n0 1 step\n");
    FolderWatch watch(folder);

    // Saved as many Windows editors do: the new text beside it, then ReplaceFileW.
    writeFile(folder / "tracks" / "new.tmp", "track \"a.x\"\n0 2 step\n");
    ASSERT_TRUE(ReplaceFileW(text.c_str(), (folder / "tracks" / "new.tmp").c_str(), nullptr,
                             REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr));
    PartSet changed;
    waitUntil([&] { return static_cast<bool>(changed = watch.poll(FolderWatch::Clock::now())); }, 5s, 10ms);
    EXPECT_TRUE(changed.has(Part::Tracks));
    EXPECT_FALSE(changed.has(Part::Shader));

    // An editor still holding it, sharing it with no one, for a moment: the
    // content library waits and reads the saved text, not an error.
    HANDLE held = CreateFileW(text.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const std::jthread release([held] {
        std::this_thread::sleep_for(300ms);
        CloseHandle(held);
    });
    zyr::content::TrackPart part;
    ASSERT_NO_THROW(part = zyr::content::readTrackPart(folder));
    ASSERT_EQ(part.tracks.size(), 1u);
    EXPECT_EQ(part.tracks[0].keys.at(0).value, 2.0f);
}

TEST(StudioWindows, ThePackedArchiveLeavesNoFileAndClearsOneACrashLeft) {
    // What other runs left or still hold is theirs; only the names this test
    // makes are counted.
    const fs::path temp = fs::temp_directory_path();
    writeFile(temp / "zyr-studio-1-0-0.zip", "left by a studio that crashed");
    const std::set<std::string> before = studioArchivesIn(temp);
    std::set<std::string> during;
    {
        zyr::studio::MemoryArchive packed(zyr::content::packArchive({{"fs.glsl", "void main() {}\n"}}));
        ArchiveFile* file = packed.archive().openFile("fs.glsl");
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(packed.archive().readText(file), "void main() {}\n");
        packed.archive().closeFile(file);
        // Ours only: a running studio's file stays, however many there are.
        zyr::studio::MemoryArchive second(zyr::content::packArchive({{"fsshader.ini", ""}}));
        EXPECT_FALSE(fs::exists(temp / "zyr-studio-1-0-0.zip"));
        for (const std::string& name : studioArchivesIn(temp))
            if (!before.contains(name)) during.insert(name);
        EXPECT_EQ(during.size(), 2u);
    }
    for (const std::string& name : during) EXPECT_FALSE(fs::exists(temp / name)) << name;
}

TEST(StudioWindows, TheThreadClockCountsWorkAndNotSleep) {
    const double start = zyr::studio::threadCpuSeconds();
    const auto wallStart = std::chrono::steady_clock::now();
    volatile double sink = 0.0;
    while (std::chrono::steady_clock::now() - wallStart < 300ms) sink = sink + 1.0;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    const double worked = zyr::studio::threadCpuSeconds() - start;
    // Never more than the time that passed (a scheduler tick of slack), and
    // something: the machine may share the core with others.
    EXPECT_GT(worked, 0.0);
    EXPECT_LE(worked, wall + 0.02);
    const double beforeSleep = zyr::studio::threadCpuSeconds();
    std::this_thread::sleep_for(300ms);
    EXPECT_LT(zyr::studio::threadCpuSeconds() - beforeSleep, 0.02);
}
