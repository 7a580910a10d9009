// The studio's folder watch, in the Linux suite and in the Windows test
// program under Wine alike: what an author's saves count for, in folders at
// any depth, and a burst of them answered once.
#include "FolderWatch.h"
#include "TempDir.h"
#include "Wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using zyr::content::Part;
using zyr::studio::FolderWatch;
using zyr::studio::PartSet;

// The parts the watch answers with, once the burst is over.
PartSet answer(FolderWatch& watch) {
    PartSet changed;
    waitUntil([&] { return static_cast<bool>(changed = watch.poll(FolderWatch::Clock::now())); }, 5s, 10ms);
    return changed;
}

bool every(const PartSet& changed) {
    return changed.has(Part::Shader) && changed.has(Part::Parameters) && changed.has(Part::Tracks) &&
           changed.has(Part::Song);
}

}  // namespace

TEST(FolderWatch, ReadyTrackFilesInFoldersAtAnyDepthAndInNewFoldersCount) {
    TempDir dir;
    fs::create_directories(dir / "ready" / "deep");
    FolderWatch watch(dir.path());
    ASSERT_TRUE(watch.failures().empty());

    writeFile(dir / "ready" / "deep" / "sync_a.x.track", "....");
    PartSet changed = answer(watch);
    EXPECT_TRUE(changed.has(Part::Tracks));
    EXPECT_FALSE(changed.has(Part::Shader));

    // A folder made later is watched from then on: its files count by their part.
    fs::create_directories(dir / "later" / "deeper");
    EXPECT_TRUE(answer(watch));
    writeFile(dir / "later" / "deeper" / "sync_b.x.track", "....");
    changed = answer(watch);
    EXPECT_TRUE(changed.has(Part::Tracks));
    EXPECT_FALSE(changed.has(Part::Shader));
    writeFile(dir / "later" / "notes.md", "...");
    EXPECT_FALSE(answer(watch).has(Part::Tracks));
}

TEST(FolderWatch, ARenameOverTheFileAndAFolderThatGoesCountAndABurstIsOneAnswer) {
    TempDir dir;
    fs::create_directories(dir / "tracks");
    writeFile(dir / "fs.glsl", "old");
    writeFile(dir / "tracks" / "cam.txt", "old");
    FolderWatch watch(dir.path());

    // An editor's save: a new file under another name, renamed over the old.
    writeFile(dir / ".fs.glsl.swp", "new");
    fs::rename(dir / ".fs.glsl.swp", dir / "fs.glsl");
    PartSet changed = answer(watch);
    EXPECT_TRUE(changed.has(Part::Shader));
    EXPECT_FALSE(changed.has(Part::Tracks));

    // Saves in quick succession: one answer with both, then quiet.
    writeFile(dir / "fsshader.ini", "[a]\n");
    writeFile(dir / "tracks" / "cam.txt", "newer");
    changed = answer(watch);
    EXPECT_TRUE(changed.has(Part::Parameters) && changed.has(Part::Tracks));
    EXPECT_FALSE(changed.has(Part::Song));
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(watch.poll(FolderWatch::Clock::now()));

    // A folder that goes takes whatever it held: every part.
    fs::remove_all(dir / "tracks");
    EXPECT_TRUE(every(answer(watch)));
}
