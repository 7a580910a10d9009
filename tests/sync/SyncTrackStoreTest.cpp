// The binding store over a real archive: track files found by escaped names,
// bindings and their components, malformed files, handles closed after loading.
#include "SyncTrackStore.h"

#include "ResourceArchive.h"
#include "Soundtrack.h"
#include "Mp3.h"
#include "TempDir.h"
#include "TrackFile.h"
#include "ZipWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

std::vector<std::string> trackNames(const SyncDevice& device) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < device.numTracks; ++i) names.emplace_back(device.tracks[i]->name);
    return names;
}

constexpr float kUntouched = -99.0f;

std::array<float, 4> untouchedSlot() { return {kUntouched, kUntouched, kUntouched, kUntouched}; }

// A store over an archive holding the given entries and a soundtrack that does
// not decode (its clock stays at row 0).
class StoreTest : public ::testing::Test {
protected:
    void open(std::vector<ZipEntry> entries, std::string music = "not an mp3 at all") {
        entries.push_back({"soundtrack.mp3", std::move(music), ZipMethod::Stored});
        writeZip(dir / "zyr.dat", entries);
        archive = std::make_unique<ResourceArchive>(dir / "zyr.dat");
        ASSERT_TRUE(archive->isOpen());
        soundtrack = std::make_unique<Soundtrack>(*archive, "soundtrack.mp3", 170.0f);
        store = std::make_unique<SyncTrackStore>(*archive, *soundtrack);
    }
    void TearDown() override {
        // The store goes before the archive it reads from; the soundtrack first,
        // as in the presentation.
        soundtrack.reset();
        store.reset();
        archive.reset();
    }

    TempDir dir;
    std::unique_ptr<ResourceArchive> archive;
    std::unique_ptr<Soundtrack> soundtrack;
    std::unique_ptr<SyncTrackStore> store;
};

TEST_F(StoreTest, TrackFilesAreFoundByEscapedNames) {
    open({{"sync_cam-3Apos.x.track", trackFile({{0, 0.0f, Linear}, {8, 1.0f, Step}})},
          {"sync_cam-3Apos.y.track", trackFile({{0, 10.0f, Step}}), ZipMethod::Stored},
          {"sync_cam-3Apos.z.track", trackFile({{0, 4.0f, Smooth}, {8, 0.0f, Step}})},
          {"sync_fade-20in.y.track", trackFile({{0, 0.0f, Ramp}, {8, 1.0f, Step}})},
          {"sync_caf-C3-A9.x.track", trackFile({{0, 7.0f, Step}})},
          {"sync_a-2Db.x.track", trackFile({{0, 3.0f, Step}})}});

    auto cam = untouchedSlot();
    auto fade = untouchedSlot();
    auto cafe = untouchedSlot();
    auto dash = untouchedSlot();
    store->bindUniform("cam:pos", cam.data(), 3);
    store->bindUniform("fade in", fade.data(), 2);
    store->bindUniform("caf\xC3\xA9", cafe.data(), 1);
    store->bindUniform("a-b", dash.data(), 1);
    EXPECT_EQ(archive->openCount(), 0u);

    store->evaluateAt(2.0);
    EXPECT_EQ(cam, (std::array<float, 4>{0.25f, 10.0f, 4.0f - 4.0f * 0.15625f, kUntouched}));
    EXPECT_EQ(fade, (std::array<float, 4>{0.0f, 0.0625f, kUntouched, kUntouched}));  // no fade in.x file
    EXPECT_EQ(cafe[0], 7.0f);
    EXPECT_EQ(dash[0], 3.0f);
}

TEST_F(StoreTest, ComponentCountChoosesTracks) {
    open({{"sync_light.x.track", trackFile({{0, 1.0f, Step}})},
          {"sync_light.y.track", trackFile({{0, 2.0f, Step}})},
          {"sync_light.z.track", trackFile({{0, 3.0f, Step}})},
          {"sync_light.w.track", trackFile({{0, 4.0f, Step}})},
          {"sync_speed.x.track", trackFile({{0, 5.0f, Step}})},
          {"sync_speed.y.track", trackFile({{0, 6.0f, Step}})}});

    auto light = untouchedSlot();
    auto speed = untouchedSlot();
    store->bindUniform("light", light.data(), 3);
    store->bindUniform("speed", speed.data(), 1);
    EXPECT_EQ(trackNames(store->device()),
              (std::vector<std::string>{"light.x", "light.y", "light.z", "speed.x"}));
    EXPECT_EQ(store->bindingCount(), 2u);

    store->evaluateAt(0.0);
    // Components at and beyond the count keep what was in the slot.
    EXPECT_EQ(light, (std::array<float, 4>{1.0f, 2.0f, 3.0f, kUntouched}));
    EXPECT_EQ(speed, (std::array<float, 4>{5.0f, kUntouched, kUntouched, kUntouched}));
}

TEST_F(StoreTest, SecondBindOfATargetDoesNothing) {
    open({{"sync_glow.x.track", trackFile({{0, 1.0f, Step}})},
          {"sync_glow.y.track", trackFile({{0, 2.0f, Step}})}});

    auto first = untouchedSlot();
    auto second = untouchedSlot();
    store->bindUniform("glow", first.data(), 1);
    store->bindUniform("glow", second.data(), 4);
    store->bindUniform("glow", nullptr, 2);
    EXPECT_EQ(store->bindingCount(), 1u);
    EXPECT_EQ(trackNames(store->device()), (std::vector<std::string>{"glow.x"}));

    store->evaluateAt(0.0);
    EXPECT_EQ(first, (std::array<float, 4>{1.0f, kUntouched, kUntouched, kUntouched}));
    EXPECT_EQ(second, untouchedSlot());
}

TEST_F(StoreTest, NullStorageBindsAndLoadsNothing) {
    open({{"sync_glow.x.track", trackFile({{0, 1.0f, Step}})}});

    store->bindUniform("glow", nullptr, 4);
    EXPECT_EQ(store->bindingCount(), 0u);
    EXPECT_EQ(store->device().numTracks, 0u);

    // The name is still free for a real slot.
    auto slot = untouchedSlot();
    store->bindUniform("glow", slot.data(), 1);
    store->evaluateAt(0.0);
    EXPECT_EQ(slot[0], 1.0f);
}

TEST_F(StoreTest, ComponentCountsOutsideOneToFour) {
    open({{"sync_v.x.track", trackFile({{0, 1.0f, Step}})},
          {"sync_v.y.track", trackFile({{0, 2.0f, Step}})},
          {"sync_v.z.track", trackFile({{0, 3.0f, Step}})},
          {"sync_v.w.track", trackFile({{0, 4.0f, Step}})}});

    // A value slot followed by memory that is not the slot's.
    std::array<float, 8> wide;
    wide.fill(kUntouched);
    store->bindUniform("v", wide.data(), 9);
    auto none = untouchedSlot();
    store->bindUniform("nothing", none.data(), 0);
    EXPECT_EQ(store->bindingCount(), 2u);
    EXPECT_EQ(trackNames(store->device()), (std::vector<std::string>{"v.x", "v.y", "v.z", "v.w"}));

    store->evaluateAt(0.0);
    EXPECT_EQ(wide, (std::array<float, 8>{1.0f, 2.0f, 3.0f, 4.0f, kUntouched, kUntouched, kUntouched, kUntouched}));
    EXPECT_EQ(none, untouchedSlot());

    // The empty binding still holds its name.
    store->bindUniform("nothing", none.data(), 2);
    EXPECT_EQ(store->device().numTracks, 4u);
}

TEST_F(StoreTest, MalformedTrackFilesKeepWholeKeysAndAreClosed) {
    const std::vector<FileKey> two{{0, 1.0f, Linear}, {8, 3.0f, Step}};
    const std::string whole = trackFile({{0, 1.0f, Linear}, {8, 3.0f, Linear}, {16, 5.0f, Step}});
    open({{"sync_empty.x.track", ""},
          {"sync_cut.x.track", whole.substr(0, 4 + 9 + 9 + 4)},
          {"sync_cutstored.x.track", whole.substr(0, 4 + 9 + 9 + 4), ZipMethod::Stored},
          {"sync_negative.x.track", trackFileDeclaring(-2, two)},
          {"sync_huge.x.track", trackFileDeclaring(0x7FFFFFFF, two)},
          {"sync_hugestored.x.track", trackFileDeclaring(0x7FFFFFFF, two), ZipMethod::Stored},
          {"sync_typeff.x.track", trackFile({{0, 1.0f, 0xFF}, {8, 3.0f, Step}})}});

    const char* names[] = {"empty", "cut", "cutstored", "negative", "huge", "hugestored", "typeff", "missing"};
    std::array<std::array<float, 4>, 8> slots;
    for (std::size_t i = 0; i < 8; ++i) {
        slots[i] = untouchedSlot();
        store->bindUniform(names[i], slots[i].data(), 1);
    }
    EXPECT_EQ(archive->openCount(), 0u) << "a track entry was left open";

    const SyncDevice& device = store->device();
    ASSERT_EQ(device.numTracks, 8u);
    const std::int32_t kept[] = {0, 2, 2, 0, 2, 2, 2, 0};
    for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(device.tracks[i]->count, kept[i]) << names[i];
    EXPECT_EQ(device.tracks[6]->keys[0].type, -1);

    store->evaluateAt(4.0);
    const float expected[] = {0.0f, 2.0f, 2.0f, 0.0f, 2.0f, 2.0f, 0.0f, 0.0f};
    for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(slots[i][0], expected[i]) << names[i];
    store->evaluateAt(40.0);
    const float last[] = {0.0f, 3.0f, 3.0f, 0.0f, 3.0f, 3.0f, 3.0f, 0.0f};
    for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(slots[i][0], last[i]) << names[i];
}

TEST_F(StoreTest, UpdateBindingsUsesTheSoundtrackRow) {
    // The soundtrack cannot decode its bytes, so its clock reads row 0.
    open({{"sync_pulse.x.track", trackFile({{-8, 2.0f, Linear}, {8, 4.0f, Step}})}});
    ASSERT_EQ(soundtrack->playbackRow(), 0.0);

    auto slot = untouchedSlot();
    store->bindUniform("pulse", slot.data(), 1);
    store->evaluateAt(-8.0);
    EXPECT_EQ(slot[0], 2.0f);
    store->updateBindings();
    EXPECT_EQ(slot[0], 3.0f);
}

TEST_F(StoreTest, UpdateBindingsFollowsThePlayingMusic) {
    // A track whose value is its own row shows which row each update used.
    open({{"sync_clock.x.track", trackFile({{0, 0.0f, Linear}, {1000000, 1000000.0f, Step}})}}, toneMp3(3.0));
    auto slot = untouchedSlot();
    store->bindUniform("clock", slot.data(), 1);
    soundtrack->play();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (soundtrack->playbackRow() < 2.0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_GE(soundtrack->playbackRow(), 2.0) << "the music clock does not run";

    const double before = soundtrack->playbackRow();
    store->updateBindings();
    const double after = soundtrack->playbackRow();
    EXPECT_GE(slot[0], static_cast<float>(before));
    EXPECT_LE(slot[0], static_cast<float>(after));
}

// An authoring tool's edit goes into a loaded track in memory: the next
// evaluation follows the new keys, a key moved keeps the track's block, and a
// track nothing loaded is not made.
TEST_F(StoreTest, KeysSetInMemoryAreEvaluatedAtOnce) {
    open({{"sync_a.x.track", trackFile({{0, 1.0f, Linear}, {10, 3.0f, Step}})}});
    auto slot = untouchedSlot();
    store->bindUniform("a", slot.data(), 1);
    std::vector<SyncKey> keys{{0, 1.0f, Linear}, {20, 5.0f, Step}};
    ASSERT_TRUE(store->setTrackKeys("a.x", keys));
    store->evaluateAt(10.0);
    EXPECT_EQ(slot[0], 3.0f);
    const SyncKey* block = store->device().tracks[0]->keys;
    keys[1].row = 40;
    ASSERT_TRUE(store->setTrackKeys("a.x", keys));
    EXPECT_EQ(store->device().tracks[0]->keys, block);
    store->evaluateAt(10.0);
    EXPECT_EQ(slot[0], 2.0f);
    ASSERT_TRUE(store->setTrackKeys("a.x", {}));
    store->evaluateAt(10.0);
    EXPECT_EQ(slot[0], 0.0f);
    EXPECT_FALSE(store->setTrackKeys("b.x", keys));
    EXPECT_EQ(trackNames(store->device()), std::vector<std::string>{"a.x"});
}

TEST_F(StoreTest, ReadsFromItsOwnArchive) {
    // Whatever archive the stream callbacks pointed at before, a new store
    // points them at the one it was given.
    TempDir otherDir;
    writeZip(otherDir / "zyr.dat", {{"sync_a.x.track", trackFile({{0, 9.0f, Step}})}});
    ResourceArchive other(otherDir / "zyr.dat");
    setStreamArchive(&other);

    open({{"sync_a.x.track", trackFile({{0, 1.0f, Step}})}});
    auto slot = untouchedSlot();
    store->bindUniform("a", slot.data(), 1);
    store->evaluateAt(0.0);
    EXPECT_EQ(slot[0], 1.0f);
    EXPECT_EQ(other.openCount(), 0u);
}

}  // namespace
