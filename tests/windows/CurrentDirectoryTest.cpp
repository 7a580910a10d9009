// Where the Windows presentation looks for its archive.
#include "CurrentDirectory.h"
#include "ResourceArchive.h"
#include "TempDir.h"
#include "ZipWriter.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

TEST(CurrentDirectory, ArchiveIsZyrDatBesideTheQueriedDirectory) {
    TempDir dir;
    writeZip(dir / "zyr.dat", {{"fs.glsl", "from the current directory"}});
    ScopedCurrentDir here(dir.path());
    char queried[MAX_PATH] = {};
    ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, queried), 0u);
    EXPECT_EQ(defaultArchivePath(), std::filesystem::path(std::string(queried) + "\\zyr.dat"));
    ResourceArchive archive;
    ASSERT_TRUE(archive.isOpen());
    ArchiveFile* file = archive.openFile("fs.glsl");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(archive.readText(file), "from the current directory");
}

// The query fills a 256-character buffer. A directory that does not fit must
// not be cut to one that does: here the cut would name a folder that holds an
// archive of its own.
TEST(CurrentDirectory, DirectoryLongerThanTheBufferGivesNoArchive) {
    TempDir dir;
    std::filesystem::path deep = dir.path();
    while (deep.native().size() < 300) {
        deep /= std::string(40, 'd');
        std::filesystem::create_directory(deep);
        writeZip(deep / "zyr.dat", {{"fs.glsl", "a folder above"}});
    }
    std::filesystem::remove(deep / "zyr.dat");
    std::error_code entered;
    std::filesystem::current_path(deep, entered);
    ASSERT_FALSE(entered) << "cannot enter a " << deep.native().size() << "-character directory: " << entered.message();
    ResourceArchive archive;
    EXPECT_TRUE(defaultArchivePath().empty());
    EXPECT_FALSE(archive.isOpen());
    EXPECT_EQ(archive.openFile("fs.glsl"), nullptr);
    std::filesystem::current_path(dir.path());
}
