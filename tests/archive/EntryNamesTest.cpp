// The archive's own list of entry names against zziplib's directory walk, the
// listing tools used to take from zziplib directly: the same names in the same
// order for every archive the reader accepts, damaged ones included.
#include "ResourceArchive.h"

#include "TempDir.h"
#include "ZipWriter.h"

#include <gtest/gtest.h>
#include <zzip/zzip.h>

#include <fcntl.h>
#include <string>
#include <vector>

namespace {

std::vector<std::string> ziplibListing(const std::filesystem::path& path) {
    std::vector<std::string> names;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return names;
    ZZIP_DIR* directory = zzip_dir_fdopen(fd, nullptr);
    if (!directory) return names;
    ZZIP_DIRENT entry{};
    while (zzip_dir_read(directory, &entry))
        if (entry.d_name) names.emplace_back(entry.d_name);
    zzip_dir_close(directory);
    return names;
}

TEST(ArchiveEntryNames, AreZiplibsListingForEveryArchiveTheReaderOpens) {
    TempDir dir;
    std::string odd = std::string("cut") + '\0' + "off";
    writeZip(dir / "base.zip", {{"fs.glsl", "void main() {}", ZipMethod::Stored},
                                {"dir/a.txt", std::string(300, 'a'), ZipMethod::Deflated},
                                {"fs.glsl", "again"},
                                {odd, "x"},
                                {"", ""}});
    const std::string base = readFile(dir / "base.zip");
    std::vector<std::string> variants{base};
    // Every byte of the directory and the local headers damaged: whatever the
    // reader still opens must list as zziplib lists it.
    for (std::size_t at = 0; at < base.size(); ++at)
        for (const char mask : {'\x01', '\x80'}) {
            std::string damaged = base;
            damaged[at] = static_cast<char>(damaged[at] ^ mask);
            variants.push_back(std::move(damaged));
        }
    int opened = 0;
    for (std::size_t i = 0; i < variants.size(); ++i) {
        writeFile(dir / "zyr.dat", variants[i]);
        ResourceArchive archive(dir / "zyr.dat");
        SCOPED_TRACE(i);
        if (!archive.isOpen()) {
            EXPECT_TRUE(archive.entryNames().empty());
            continue;
        }
        ++opened;
        EXPECT_EQ(archive.entryNames(), ziplibListing(dir / "zyr.dat"));
    }
    EXPECT_GT(opened, static_cast<int>(variants.size() / 2));
    ResourceArchive archive(dir / "base.zip");
    EXPECT_EQ(archive.entryNames(), (std::vector<std::string>{"fs.glsl", "dir/a.txt", "fs.glsl", "cut", ""}));
}

}  // namespace
