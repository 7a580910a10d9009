#include "ResourceArchive.h"

#include "CurrentDirectory.h"
#include "TempDir.h"
#include "ZipLayout.h"
#include "ZipWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::uint8_t> asBytes(const std::string& s) { return {s.begin(), s.end()}; }

// About 1 MiB: every byte value, runs that deflate well and stretches that do not.
std::string largeContent() {
    std::string out;
    out.reserve(1 << 20);
    std::uint32_t state = 12345;
    while (out.size() < (1u << 20) + 17) {
        state = state * 1664525u + 1013904223u;
        if ((state >> 28) < 6) out.append(1 + (state >> 20) % 64, static_cast<char>(state >> 8));
        else out.push_back(static_cast<char>(state >> 16));
    }
    return out;
}

std::size_t openDescriptors() {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

const std::string kBinary("\0\x01\xff\0zip\0\0\x7f\x80\0", 12);

class ResourceArchiveTest : public ::testing::Test {
protected:
    std::unique_ptr<ResourceArchive> open(const std::vector<ZipEntry>& entries) {
        writeZip(dir / "zyr.dat", entries);
        return std::make_unique<ResourceArchive>(dir / "zyr.dat");
    }

    TempDir dir;
};

TEST_F(ResourceArchiveTest, StoredAndDeflatedEntriesReadByteExact) {
    const std::string big = largeContent();
    const std::string text = "void main() {\n\tcolor = vec4(1.0);\n}\n";
    auto archive = open({{"text.stored", text, ZipMethod::Stored},
                         {"text.deflated", text, ZipMethod::Deflated},
                         {"binary.stored", kBinary, ZipMethod::Stored},
                         {"binary.deflated", kBinary, ZipMethod::Deflated},
                         {"big.stored", big, ZipMethod::Stored},
                         {"big.deflated", big, ZipMethod::Deflated}});
    ASSERT_TRUE(archive->isOpen());

    for (const char* name : {"text.stored", "text.deflated"}) {
        SCOPED_TRACE(name);
        ArchiveFile* file = archive->openFile(name);
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(archive->readText(file), text);
        archive->closeFile(file);
    }
    for (const char* name : {"binary.stored", "binary.deflated"}) {
        SCOPED_TRACE(name);
        ArchiveFile* file = archive->openFile(name);
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(archive->readBytes(file), asBytes(kBinary));
        // Text reads keep embedded NULs too: the length is the entry's, not strlen's.
        EXPECT_EQ(archive->readText(file), kBinary);
        archive->closeFile(file);
    }
    for (const char* name : {"big.stored", "big.deflated"}) {
        SCOPED_TRACE(name);
        ArchiveFile* file = archive->openFile(name);
        ASSERT_NE(file, nullptr);
        const std::vector<std::uint8_t> bytes = archive->readBytes(file);
        ASSERT_EQ(bytes.size(), big.size());
        EXPECT_TRUE(bytes == asBytes(big));
        archive->closeFile(file);
    }
    EXPECT_EQ(archive->openCount(), 0u);
}

TEST_F(ResourceArchiveTest, WholeReadsStartAtTheBeginningAndLeaveTheHandleOpen) {
    auto archive = open({{"fsshader.ini", "[a]\nb = 1.0\n"}});
    ArchiveFile* file = archive->openFile("fsshader.ini");
    ASSERT_NE(file, nullptr);
    char first[4] = {};
    ASSERT_EQ(archive->read(first, 1, 4, file), 4u);

    EXPECT_EQ(archive->readText(file), "[a]\nb = 1.0\n");
    EXPECT_EQ(archive->readText(file), "[a]\nb = 1.0\n");
    EXPECT_EQ(archive->readBytes(file), asBytes("[a]\nb = 1.0\n"));
    EXPECT_EQ(archive->openCount(), 1u);
    EXPECT_EQ(archive->openFile("fsshader.ini"), file);
}

TEST_F(ResourceArchiveTest, EmptyEntryReadsAsEmpty) {
    auto archive = open({{"empty.deflated", ""}, {"empty.stored", "", ZipMethod::Stored}});
    for (const char* name : {"empty.deflated", "empty.stored"}) {
        SCOPED_TRACE(name);
        ArchiveFile* file = archive->openFile(name);
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(archive->readText(file), "");
        EXPECT_TRUE(archive->readBytes(file).empty());
        char byte = 'x';
        EXPECT_EQ(archive->read(&byte, 1, 1, file), 0u);
        EXPECT_EQ(byte, 'x');
    }
}

TEST_F(ResourceArchiveTest, ShortReadKeepsThePrefill) {
    writeZip(dir / "zyr.dat", {{"short.txt", std::string(300, 'e')}});
    std::string zip = readFile(dir / "zyr.dat");
    // The directory promises 50 bytes more than the data inflates to.
    zipPut(zip, zipLayout(zip).central[0] + 24, 4, 350);
    writeFile(dir / "zyr.dat", zip);
    ResourceArchive archive(dir / "zyr.dat");

    ArchiveFile* file = archive.openFile("short.txt");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(archive.readText(file), std::string(300, 'e') + std::string(50, ' '));
    std::vector<std::uint8_t> expected(350, 0);
    std::fill_n(expected.begin(), 300, static_cast<std::uint8_t>('e'));
    EXPECT_EQ(archive.readBytes(file), expected);
}

TEST_F(ResourceArchiveTest, NamesMatchExactlyFolderPartIncluded) {
    auto archive = open({{"Fs.glsl", "shader"}, {"dir/a.txt", "in a folder"}});

    EXPECT_EQ(archive->openFile("fs.glsl"), nullptr);
    EXPECT_EQ(archive->openFile("FS.GLSL"), nullptr);
    EXPECT_EQ(archive->openFile("a.txt"), nullptr);
    EXPECT_EQ(archive->openFile("DIR/a.txt"), nullptr);
    EXPECT_EQ(archive->openFile("/dir/a.txt"), nullptr);
    EXPECT_EQ(archive->openFile("missing.track"), nullptr);
    EXPECT_EQ(archive->openFile(""), nullptr);
    // Everything up to the NUL names a real entry; the whole name does not.
    EXPECT_EQ(archive->openFile(std::string("Fs.glsl\0.bak", 12)), nullptr);
    EXPECT_EQ(archive->openCount(), 0u);

    ArchiveFile* nested = archive->openFile("dir/a.txt");
    ASSERT_NE(nested, nullptr);
    EXPECT_EQ(archive->readText(nested), "in a folder");
    ArchiveFile* exact = archive->openFile("Fs.glsl");
    ASSERT_NE(exact, nullptr);
    EXPECT_EQ(archive->readText(exact), "shader");
    EXPECT_EQ(archive->openCount(), 2u);
}

TEST_F(ResourceArchiveTest, UnsupportedCompressionMethodGivesNoHandle) {
    writeZip(dir / "zyr.dat", {{"bzip2.bin", "payload payload payload"}, {"ok.txt", "fine"}});
    std::string zip = readFile(dir / "zyr.dat");
    setEntryMethod(zip, "bzip2.bin", 12);
    writeFile(dir / "zyr.dat", zip);

    ResourceArchive archive(dir / "zyr.dat");
    ASSERT_TRUE(archive.isOpen());
    EXPECT_EQ(archive.openFile("bzip2.bin"), nullptr);
    EXPECT_EQ(archive.openCount(), 0u);
    ArchiveFile* file = archive.openFile("ok.txt");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(archive.readText(file), "fine");
}

TEST_F(ResourceArchiveTest, OneHandlePerNameSharedUntilClosed) {
    auto archive = open({{"a.track", "0123456789"}, {"b.track", "abc"}});

    ArchiveFile* first = archive->openFile("a.track");
    ASSERT_NE(first, nullptr);
    char head[3] = {};
    ASSERT_EQ(archive->read(head, 1, 3, first), 3u);

    // The second holder gets the very same handle, not rewound.
    ArchiveFile* second = archive->openFile("a.track");
    EXPECT_EQ(second, first);
    EXPECT_EQ(archive->openCount(), 1u);
    char next[3] = {};
    ASSERT_EQ(archive->read(next, 1, 3, second), 3u);
    EXPECT_EQ(std::string(next, 3), "345");

    ArchiveFile* other = archive->openFile("b.track");
    ASSERT_NE(other, nullptr);
    EXPECT_NE(other, first);
    EXPECT_EQ(archive->openCount(), 2u);

    archive->closeFile(first);
    EXPECT_EQ(archive->openCount(), 1u);
    // Already closed for both holders: nothing left to close.
    archive->closeFile(second);
    archive->closeFile(nullptr);
    EXPECT_EQ(archive->openCount(), 1u);

    // Reopening gives a handle at the start of the entry.
    ArchiveFile* again = archive->openFile("a.track");
    ASSERT_NE(again, nullptr);
    char fresh[3] = {};
    ASSERT_EQ(archive->read(fresh, 1, 3, again), 3u);
    EXPECT_EQ(std::string(fresh, 3), "012");
    EXPECT_EQ(archive->readText(other), "abc");
}

TEST_F(ResourceArchiveTest, CloseIgnoresHandlesOfAnotherArchive) {
    auto archive = open({{"a.txt", "one"}});
    writeZip(dir / "other.zip", {{"a.txt", "two"}});
    ResourceArchive other(dir / "other.zip");

    ArchiveFile* mine = archive->openFile("a.txt");
    ArchiveFile* theirs = other.openFile("a.txt");
    ASSERT_NE(mine, nullptr);
    ASSERT_NE(theirs, nullptr);

    archive->closeFile(theirs);
    EXPECT_EQ(archive->openCount(), 1u);
    EXPECT_EQ(other.openCount(), 1u);
    EXPECT_EQ(other.readText(theirs), "two");
    EXPECT_EQ(archive->readText(mine), "one");
}

TEST_F(ResourceArchiveTest, DestructionClosesOpenEntriesThenTheArchive) {
    writeZip(dir / "zyr.dat", {{"a.txt", "a"}, {"b.txt", std::string(100000, 'b')}});
    const std::size_t before = openDescriptors();
    {
        ResourceArchive archive(dir / "zyr.dat");
        ASSERT_TRUE(archive.isOpen());
        ASSERT_NE(archive.openFile("a.txt"), nullptr);
        ArchiveFile* b = archive.openFile("b.txt");
        ASSERT_NE(b, nullptr);
        char partial[10];
        ASSERT_EQ(archive.read(partial, 1, sizeof partial, b), sizeof partial);
        EXPECT_EQ(archive.openCount(), 2u);
        EXPECT_GT(openDescriptors(), before);
    }
    // The zip directory only lets go of the file once no entry is attached to it.
    EXPECT_EQ(openDescriptors(), before);
}

TEST_F(ResourceArchiveTest, MissingOrUnreadableArchiveOpensNothing) {
    writeFile(dir / "text.dat", "this is not a zip archive, just some text long enough to scan");
    writeFile(dir / "empty.dat", "");
    std::filesystem::create_directory(dir / "folder.dat");
    writeZip(dir / "fallback.dat.zip", {{"fs.glsl", "x"}});

    for (const char* name : {"missing.dat", "text.dat", "empty.dat", "folder.dat", "fallback.dat"}) {
        SCOPED_TRACE(name);
        ResourceArchive archive(dir / name);
        EXPECT_FALSE(archive.isOpen());
        EXPECT_EQ(archive.openFile("fs.glsl"), nullptr);
        EXPECT_EQ(archive.openFile(""), nullptr);
        EXPECT_EQ(archive.openCount(), 0u);
        EXPECT_EQ(archive.readText(nullptr), "");
        EXPECT_TRUE(archive.readBytes(nullptr).empty());
        archive.closeFile(nullptr);
    }
}

TEST_F(ResourceArchiveTest, DefaultArchiveIsZyrDatInTheCurrentDirectory) {
    writeZip(dir / "zyr.dat", {{"fs.glsl", "from the current directory"}});
    std::filesystem::create_directory(dir / "elsewhere");
    {
        ScopedCurrentDir here(dir.path());
        EXPECT_EQ(defaultArchivePath(), std::filesystem::current_path() / "zyr.dat");
        ResourceArchive archive;
        ASSERT_TRUE(archive.isOpen());
        ArchiveFile* file = archive.openFile("fs.glsl");
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(archive.readText(file), "from the current directory");
    }
    {
        ScopedCurrentDir elsewhere(dir / "elsewhere");
        ResourceArchive archive;
        EXPECT_FALSE(archive.isOpen());
        EXPECT_EQ(archive.openFile("fs.glsl"), nullptr);
    }
}

TEST_F(ResourceArchiveTest, VanishedCurrentDirectoryMeansNoArchive) {
    std::filesystem::create_directory(dir / "gone");
    writeZip(dir / "gone" / "zyr.dat", {{"fs.glsl", "x"}});
    ScopedCurrentDir gone(dir / "gone");
    std::filesystem::remove_all(dir / "gone");

    std::filesystem::path path;
    ASSERT_NO_THROW(path = defaultArchivePath());
    std::error_code error;
    EXPECT_FALSE(std::filesystem::exists(path, error));
    ResourceArchive archive;
    EXPECT_FALSE(archive.isOpen());
}

TEST_F(ResourceArchiveTest, ItemReadsCountWholeItems) {
    auto archive = open({{"ten.bin", "0123456789", ZipMethod::Stored}});
    ArchiveFile* file = archive->openFile("ten.bin");
    ASSERT_NE(file, nullptr);

    char buffer[16] = {};
    EXPECT_EQ(archive->read(buffer, 4, 3, file), 2u);  // 10 bytes: two whole items of 4
    EXPECT_EQ(std::string(buffer, 10), "0123456789");
    EXPECT_EQ(archive->read(buffer, 4, 3, file), 0u);
    EXPECT_EQ(archive->read(buffer, 1, 4, nullptr), 0u);

    archive->closeFile(file);
    file = archive->openFile("ten.bin");
    ASSERT_NE(file, nullptr);
    // A zero item size reads one byte per item.
    EXPECT_EQ(archive->read(buffer, 0, 5, file), 5u);
    EXPECT_EQ(std::string(buffer, 5), "01234");
}

TEST_F(ResourceArchiveTest, BrokenDeflateDataReadsAsNothingAndEnds) {
    const std::string content(5000, 'q');
    writeZip(dir / "zyr.dat", {{"broken.bin", content}, {"whole.bin", content}});
    std::string zip = readFile(dir / "zyr.dat");
    // The first deflate block header now names the reserved block type.
    zip.at(entryDataOffset(zip, "broken.bin")) = '\x07';
    writeFile(dir / "zyr.dat", zip);
    ResourceArchive archive(dir / "zyr.dat");

    ArchiveFile* file = archive.openFile("broken.bin");
    ASSERT_NE(file, nullptr);
    std::uint32_t items[8] = {};
    EXPECT_EQ(archive.read(items, sizeof items[0], 8, file), 0u);
    EXPECT_EQ(archive.read(items, 1, sizeof items, file), 0u);

    // Whatever the size comes out as, nothing inflated means nothing but pre-fill.
    const std::string text = archive.readText(file);
    EXPECT_LE(text.size(), content.size());
    EXPECT_EQ(text.find_first_not_of(' '), std::string::npos);
    const std::vector<std::uint8_t> bytes = archive.readBytes(file);
    EXPECT_LE(bytes.size(), content.size());
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 0), static_cast<std::ptrdiff_t>(bytes.size()));

    ArchiveFile* whole = archive.openFile("whole.bin");
    ASSERT_NE(whole, nullptr);
    EXPECT_EQ(archive.readText(whole), content);
}

}  // namespace
