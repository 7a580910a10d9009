#include "ResourceArchive.h"

#include "TempDir.h"
#include "ZipWriter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

class StreamCallbacksTest : public ::testing::Test {
protected:
    StreamCallbacksTest() {
        // Two little-endian 32-bit values and a trailing half item.
        writeZip(dir / "zyr.dat", {{"sync_cam-3Apos.x.track", std::string("\x01\0\0\0\x02\0\0\0\x03\0", 10)}});
        archive = std::make_unique<ResourceArchive>(dir / "zyr.dat");
    }
    ~StreamCallbacksTest() override { setStreamArchive(nullptr); }

    TempDir dir;
    std::unique_ptr<ResourceArchive> archive;
};

TEST_F(StreamCallbacksTest, WithoutAnArchiveNothingOpensOrReads) {
    setStreamArchive(nullptr);
    EXPECT_EQ(archiveOpen("sync_cam-3Apos.x.track", "rb"), nullptr);
    char buffer[4];
    EXPECT_EQ(archiveRead(buffer, 1, 4, nullptr), 0u);
    EXPECT_EQ(archiveClose(nullptr), 0);
}

TEST_F(StreamCallbacksTest, OpenReadCloseGoThroughTheArchiveCache) {
    setStreamArchive(archive.get());

    void* handle = archiveOpen("sync_cam-3Apos.x.track", "rb");
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(handle, archive->openFile("sync_cam-3Apos.x.track"));
    EXPECT_EQ(archive->openCount(), 1u);

    std::uint32_t values[4] = {};
    EXPECT_EQ(archiveRead(values, sizeof values[0], 4, handle), 2u);
    EXPECT_EQ(values[0], 1u);
    EXPECT_EQ(values[1], 2u);
    EXPECT_EQ(archiveRead(values, sizeof values[0], 4, handle), 0u);

    EXPECT_EQ(archiveClose(handle), 0);
    EXPECT_EQ(archive->openCount(), 0u);
    EXPECT_EQ(archiveClose(handle), 0);

    EXPECT_EQ(archiveOpen("sync_cam-3Apos.y.track", "rb"), nullptr);
    EXPECT_EQ(archiveOpen("SYNC_CAM-3APOS.X.TRACK", "rb"), nullptr);
    EXPECT_EQ(archive->openCount(), 0u);
}

TEST_F(StreamCallbacksTest, ZeroItemSizeReadsOneBytePerItem) {
    setStreamArchive(archive.get());
    void* handle = archiveOpen("sync_cam-3Apos.x.track", "rb");
    ASSERT_NE(handle, nullptr);
    char bytes[6] = {};
    EXPECT_EQ(archiveRead(bytes, 0, 6, handle), 6u);
    EXPECT_EQ(std::memcmp(bytes, "\x01\0\0\0\x02\0", 6), 0);
    archiveClose(handle);
}

TEST_F(StreamCallbacksTest, DestroyedArchiveIsNoLongerReached) {
    setStreamArchive(archive.get());
    ASSERT_NE(archiveOpen("sync_cam-3Apos.x.track", "rb"), nullptr);
    archive.reset();

    EXPECT_EQ(archiveOpen("sync_cam-3Apos.x.track", "rb"), nullptr);
    EXPECT_EQ(archiveClose(nullptr), 0);
}

TEST_F(StreamCallbacksTest, ReplacingTheArchiveRedirectsTheCallbacks) {
    writeZip(dir / "second.zip", {{"only-here.track", "x"}});
    ResourceArchive second(dir / "second.zip");
    setStreamArchive(archive.get());
    setStreamArchive(&second);

    EXPECT_EQ(archiveOpen("sync_cam-3Apos.x.track", "rb"), nullptr);
    void* handle = archiveOpen("only-here.track", "rb");
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(second.openCount(), 1u);
    archiveClose(handle);
    EXPECT_EQ(second.openCount(), 0u);
}

}  // namespace
