#include "Png.h"
#include "RenderWindow.h"
#include "ResourceArchive.h"
#include "TempDir.h"
#include "Texture.h"
#include "ZipWriter.h"

#include <GL/glew.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Storage {
    GLint width = -1;
    GLint height = -1;
    GLint internalFormat = -1;
    GLint immutable = -1;
    GLint levels = -1;
};

Storage storageOf(GLuint texture) {
    Storage s;
    glGetTextureLevelParameteriv(texture, 0, GL_TEXTURE_WIDTH, &s.width);
    glGetTextureLevelParameteriv(texture, 0, GL_TEXTURE_HEIGHT, &s.height);
    glGetTextureLevelParameteriv(texture, 0, GL_TEXTURE_INTERNAL_FORMAT, &s.internalFormat);
    glGetTextureParameteriv(texture, GL_TEXTURE_IMMUTABLE_FORMAT, &s.immutable);
    glGetTextureParameteriv(texture, GL_TEXTURE_IMMUTABLE_LEVELS, &s.levels);
    return s;
}

std::vector<std::uint8_t> readBack(GLuint texture, int width, int height) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4, 0xCD);
    glGetTextureImage(texture, 0, GL_RGBA, GL_UNSIGNED_BYTE, static_cast<GLsizei>(pixels.size()), pixels.data());
    return pixels;
}

// Every pixel different from its neighbours in every channel, alpha included, so
// a flip, a swapped size or a dropped channel shows.
std::vector<std::uint8_t> pattern(int width, int height, int channels) {
    std::vector<std::uint8_t> pixels;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < channels; ++c)
                pixels.push_back(static_cast<std::uint8_t>(x * (c + 1) + y * (7 - c) + c * 50));
    return pixels;
}

long peakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

class TextureTest : public ::testing::Test {
protected:
    void SetUp() override { window_ = createWindow({64, 64, false, "t"}); }

    ResourceArchive& archiveWith(const std::vector<ZipEntry>& entries) {
        writeZip(dir_ / "zyr.dat", entries);
        archive_ = std::make_unique<ResourceArchive>(dir_ / "zyr.dat");
        return *archive_;
    }

    void expectEmpty(const Texture& texture) {
        EXPECT_TRUE(glIsTexture(texture.name()));
        const Storage s = storageOf(texture.name());
        EXPECT_EQ(s.width, 0);
        EXPECT_EQ(s.height, 0);
        EXPECT_EQ(s.immutable, GL_FALSE);
        EXPECT_EQ(archive_->openCount(), 0u);
    }

    TempDir dir_;
    std::unique_ptr<ResourceArchive> archive_;
    std::unique_ptr<RenderWindow> window_;
};

TEST_F(TextureTest, RgbaImageBecomesOneImmutableRgba8LevelEqualToTheFile) {
    const std::vector<std::uint8_t> pixels = pattern(280, 128, 4);
    ResourceArchive& archive = archiveWith({{"zyr.png", encodePng(280, 128, 4, pixels)}});

    const Texture texture(archive, "zyr.png");

    ASSERT_TRUE(glIsTexture(texture.name()));
    const Storage s = storageOf(texture.name());
    EXPECT_EQ(s.width, 280);
    EXPECT_EQ(s.height, 128);
    EXPECT_EQ(s.internalFormat, GL_RGBA8);
    EXPECT_EQ(s.immutable, GL_TRUE);
    EXPECT_EQ(s.levels, 1);
    EXPECT_TRUE(readBack(texture.name(), 280, 128) == pixels) << "texels differ from the file's pixels";
    EXPECT_EQ(archive.openCount(), 0u);
}

// Files without alpha (or colour) come out as RGBA with opaque alpha.
TEST_F(TextureTest, RgbAndGreyImagesAreExpandedToOpaqueRgba) {
    const std::vector<std::uint8_t> rgb = pattern(33, 17, 3);
    const std::vector<std::uint8_t> grey = pattern(9, 5, 1);
    ResourceArchive& archive =
        archiveWith({{"rgb.png", encodePng(33, 17, 3, rgb)}, {"grey.png", encodePng(9, 5, 1, grey), ZipMethod::Stored}});

    {
        const Texture texture(archive, "rgb.png");
        ASSERT_EQ(storageOf(texture.name()).width, 33);
        const std::vector<std::uint8_t> texels = readBack(texture.name(), 33, 17);
        for (std::size_t i = 0; i < rgb.size() / 3; ++i) {
            ASSERT_EQ(texels[i * 4 + 0], rgb[i * 3 + 0]) << "pixel " << i;
            ASSERT_EQ(texels[i * 4 + 1], rgb[i * 3 + 1]) << "pixel " << i;
            ASSERT_EQ(texels[i * 4 + 2], rgb[i * 3 + 2]) << "pixel " << i;
            ASSERT_EQ(texels[i * 4 + 3], 255) << "pixel " << i;
        }
    }
    {
        const Texture texture(archive, "grey.png");
        ASSERT_EQ(storageOf(texture.name()).width, 9);
        const std::vector<std::uint8_t> texels = readBack(texture.name(), 9, 5);
        for (std::size_t i = 0; i < grey.size(); ++i) {
            const std::uint8_t expected[4] = {grey[i], grey[i], grey[i], 255};
            ASSERT_EQ(0, std::memcmp(&texels[i * 4], expected, 4)) << "pixel " << i;
        }
    }
    EXPECT_EQ(archive.openCount(), 0u);
}

TEST_F(TextureTest, MissingOrUndecodableEntriesLeaveAnEmptyTextureAndNoOpenHandle) {
    const std::string png = encodePng(16, 16, 4, pattern(16, 16, 4));
    ResourceArchive& archive = archiveWith({
        {"notes.txt", "this is not an image, just some text of a fair length"},
        {"empty.png", ""},
        {"truncated.png", png.substr(0, png.size() / 2)},  // header intact, pixels missing
        {"zyr.png", png},
    });

    for (const char* name : {"absent.png", "notes.txt", "empty.png", "truncated.png"}) {
        SCOPED_TRACE(name);
        const Texture texture(archive, name);
        expectEmpty(texture);
    }
}

TEST_F(TextureTest, DestructorDeletesTheTextureInEitherState) {
    ResourceArchive& archive = archiveWith({{"zyr.png", encodePng(4, 4, 4, pattern(4, 4, 4))}});
    GLuint loaded = 0, empty = 0;
    {
        const Texture a(archive, "zyr.png");
        const Texture b(archive, "absent.png");
        loaded = a.name();
        empty = b.name();
        ASSERT_TRUE(glIsTexture(loaded));
        ASSERT_TRUE(glIsTexture(empty));
        ASSERT_NE(loaded, empty);
    }
    EXPECT_FALSE(glIsTexture(loaded));
    EXPECT_FALSE(glIsTexture(empty));
}

// 16384 is the largest side every GL 4.6 driver must accept.
TEST_F(TextureTest, SidesUpToTheLimitLoadAndLongerOnesStayEmpty) {
    ResourceArchive& archive = archiveWith({
        {"wide.png", encodePng(kMaxTextureSide, 1, 3, std::vector<std::uint8_t>(kMaxTextureSide * 3, 0x40))},
        {"tall.png", encodePng(1, kMaxTextureSide, 3, std::vector<std::uint8_t>(kMaxTextureSide * 3, 0x40))},
        {"too-wide.png", encodePng(kMaxTextureSide + 1, 1, 3, std::vector<std::uint8_t>((kMaxTextureSide + 1) * 3))},
        {"too-tall.png", encodePng(1, kMaxTextureSide + 1, 3, std::vector<std::uint8_t>((kMaxTextureSide + 1) * 3))},
    });

    {
        const Texture wide(archive, "wide.png");
        EXPECT_EQ(storageOf(wide.name()).width, kMaxTextureSide);
        const Texture tall(archive, "tall.png");
        EXPECT_EQ(storageOf(tall.name()).height, kMaxTextureSide);
    }
    for (const char* name : {"too-wide.png", "too-tall.png"}) {
        SCOPED_TRACE(name);
        const Texture texture(archive, name);
        expectEmpty(texture);
    }
}

// A few kilobytes of file that decode to 20000 x 20000 pixels (1.6 GB as RGBA) must
// be turned away on its header, before the decoder allocates anything.
TEST_F(TextureTest, HugeDeclaredImageIsRefusedWithoutDecoding) {
    const std::string huge = blankBitmapPng(20000, 20000);
    ASSERT_LT(huge.size(), 1u << 20);
    ResourceArchive& archive = archiveWith({{"small.png", blankBitmapPng(64, 48)}, {"huge.png", huge}});

    {
        // The same encoder's output loads when small: the refusal below is about size.
        const Texture small(archive, "small.png");
        const Storage s = storageOf(small.name());
        EXPECT_EQ(s.width, 64);
        EXPECT_EQ(s.height, 48);
        const std::vector<std::uint8_t> texels = readBack(small.name(), 64, 48);
        EXPECT_EQ(texels[0], 0);
        EXPECT_EQ(texels[3], 255);
    }

    const long before = peakResidentKiB();
    {
        const Texture texture(archive, "huge.png");
        expectEmpty(texture);
    }
    EXPECT_LT(peakResidentKiB() - before, 128 * 1024) << "peak memory grew: the image was decoded";
}

// Peak virtual size of this process, in bytes. Unlike resident memory it counts
// what was reserved and never touched, which is how a decoder that reserves
// for a claimed length and then finds the data missing shows.
long long peakVirtualBytes() {
    std::ifstream status("/proc/self/status");
    std::string key;
    long long kib = -1;
    while (status >> key) {
        if (key == "VmPeak:") {
            status >> kib;
            break;
        }
    }
    return kib * 1024;
}

// A 1 x 1 image whose second IDAT chunk declares a gibibyte that is not there:
// the size check on the header passes, and the decoder used to reserve twice the
// claim before finding the data missing. Measured in a child process, where the
// peak starts out at the current size.
TEST(ImageDecode, ChunkClaimingMoreThanTheFileHoldsIsRefusedWithoutReservingIt) {
    const std::string good = encodePng(1, 1, 3, {0x10, 0x20, 0x30});
    const std::size_t iend = good.size() - 12;
    ASSERT_EQ(good.compare(iend + 4, 4, "IEND"), 0);
    std::string claim = good.substr(0, iend);
    claim += std::string("\x40\x00\x00\x00IDAT", 8) + "abcd";
    claim += good.substr(iend);

    const auto decode = [](const std::string& file) {
        return decodeImage(reinterpret_cast<const std::uint8_t*>(file.data()), file.size());
    };
    const DecodedImage decoded = decode(good);
    ASSERT_FALSE(decoded.empty());
    EXPECT_EQ(decoded.pixels()[2], 0x30);
    // Bytes after the end marker are not chunks.
    EXPECT_FALSE(decode(good + std::string(16, '\xFF')).empty());
    // Cut anywhere inside a chunk: refused, whichever chunk it is.
    for (std::size_t cut = 9; cut < good.size(); cut += 5) EXPECT_TRUE(decode(good.substr(0, cut)).empty()) << cut;

    EXPECT_EXIT(
        {
            const long long before = peakVirtualBytes();
            const bool empty = decode(claim).empty();
            const long long grown = peakVirtualBytes() - before;
            std::fprintf(stderr, "empty %d, peak grew by %lld bytes\n", empty, grown);
            std::exit(empty && before > 0 && grown < (256ll << 20) ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
