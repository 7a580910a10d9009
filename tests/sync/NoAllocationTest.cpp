// The per-frame path writes every bound slot without touching the heap.
#include "SyncTrackStore.h"

#include "AllocationCounter.h"
#include "ResourceArchive.h"
#include "Soundtrack.h"
#include "TempDir.h"
#include "TrackFile.h"
#include "ZipWriter.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>


namespace {

TEST(NoAllocation, CounterSeesAllocations) {
    AllocationCounter counter;
    std::string text(100, 'x');  // past any small-string buffer
    std::vector<int> numbers(10);
    EXPECT_GE(counter.calls(), 2u);
}

// Longer than any small-string buffer, so a stray copy of a name would show.
std::string targetName(int t) { return "effect_uniform_target_" + std::to_string(t); }

TEST(NoAllocation, EvaluatingBindingsAllocatesNothing) {
    constexpr int kTargets = 64;
    TempDir dir;
    std::vector<ZipEntry> entries{{"soundtrack.mp3", "no music here", ZipMethod::Stored}};
    const char* suffixes[] = {".x", ".y", ".z", ".w"};
    for (int t = 0; t < kTargets; ++t)
        for (int c = 0; c < 4; ++c) {
            if ((t + c) % 5 == 0) continue;  // some tracks have no file
            std::vector<FileKey> keys;
            for (int k = 0; k < 32; ++k)
                keys.push_back({k * 16, static_cast<float>(t + c + k), static_cast<std::uint8_t>(k % 4)});
            entries.push_back({"sync_" + targetName(t) + suffixes[c] + ".track", trackFile(keys)});
        }
    writeZip(dir / "zyr.dat", entries);

    ResourceArchive archive(dir / "zyr.dat");
    Soundtrack soundtrack(archive, "soundtrack.mp3", 170.0f);
    SyncTrackStore store(archive, soundtrack);
    std::vector<std::array<float, 4>> slots(kTargets);
    for (int t = 0; t < kTargets; ++t) {
        slots[t].fill(-1.0f);
        store.bindUniform(targetName(t), slots[t].data(), 4);
    }
    ASSERT_EQ(store.bindingCount(), static_cast<std::size_t>(kTargets));
    ASSERT_EQ(store.device().numTracks, static_cast<std::size_t>(kTargets * 4));

    std::size_t calls = 0;
    {
        AllocationCounter counter;
        for (int frame = 0; frame < 1000; ++frame) {
            store.evaluateAt(frame * 0.5);
            store.updateBindings();
        }
        store.evaluateAt(16.0);
        calls = counter.calls();
    }
    EXPECT_EQ(calls, 0u);

    // The loop really wrote the slots: at row 16 every track with a file sits
    // on its second key.
    for (int t = 0; t < kTargets; ++t)
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(slots[t][c], (t + c) % 5 == 0 ? 0.0f : static_cast<float>(t + c + 1)) << t << suffixes[c];
}

}  // namespace
