// zyr-pack: every file comes back byte for byte through the player's archive
// reader, entries are deflated only where that pays, the archive is the same
// from run to run, and entries the player cannot open refuse the whole archive
// without touching the output.
#include "PackTool.h"
#include "ResourceArchive.h"
#include "TempDir.h"
#include "ZipArchiveWriter.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::uint32_t get16(const std::string& b, std::size_t at) {
    return static_cast<unsigned char>(b[at]) | static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8;
}

std::uint32_t get32(const std::string& b, std::size_t at) { return get16(b, at) | get16(b, at + 2) << 16; }

struct CentralEntry {
    std::string name;
    std::uint32_t method;
    std::uint32_t crc;
    std::uint32_t compressedSize;
    std::uint32_t size;
    std::uint32_t offset;
};

// The archive's own directory, read independently of the player's reader, so
// methods, checksums and offsets can be checked against the files.
std::vector<CentralEntry> centralDirectory(const std::string& zip) {
    std::vector<CentralEntry> entries;
    const std::size_t end = zip.size() - 22;
    EXPECT_EQ(get32(zip, end), 0x06054b50u);
    const std::uint32_t count = get16(zip, end + 10);
    std::size_t at = get32(zip, end + 16);
    for (std::uint32_t i = 0; i < count; ++i) {
        EXPECT_EQ(get32(zip, at), 0x02014b50u);
        CentralEntry e;
        e.method = get16(zip, at + 10);
        e.crc = get32(zip, at + 16);
        e.compressedSize = get32(zip, at + 20);
        e.size = get32(zip, at + 24);
        const std::uint32_t nameLength = get16(zip, at + 28);
        e.offset = get32(zip, at + 42);
        e.name = zip.substr(at + 46, nameLength);
        at += 46 + nameLength + get16(zip, at + 30) + get16(zip, at + 32);
        entries.push_back(e);
    }
    return entries;
}

std::string randomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string out(size, '\0');
    for (char& c : out) c = static_cast<char>(random() & 0xFF);
    return out;
}

std::string textOf(std::size_t size) {
    std::string out;
    for (int line = 0; out.size() < size; ++line) out += "uniform vec3 camPos" + std::to_string(line % 97) + ";\n";
    out.resize(size);
    return out;
}

std::uint32_t crcOf(const std::string& bytes) {
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

bool hasMessage(const std::vector<std::string>& messages, const std::string& part) {
    for (const std::string& m : messages)
        if (m.find(part) != std::string::npos) return true;
    return false;
}

std::vector<std::string> filesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(PackArchive, EveryFileReadsBackThroughThePlayersReader) {
    TempDir dir;
    const fs::path content = dir / "content";
    const std::map<std::string, std::string> files = {
        {"fs.glsl", textOf(5000)},
        {"big.txt", textOf(3 * 1024 * 1024 + 17)},        // many read chunks, deflated
        {"noise.bin", randomBytes(200000, 1)},             // incompressible: stored after a deflate try
        {"chunk.bin", randomBytes(64 * 1024, 2)},          // exactly one read chunk
        {"empty.txt", ""},
        {"tiny", "a"},
        {"deep/er/nested file.txt", "in a folder\n"},
        {"sync_scene/intro.x.track", std::string("\1\0\0\0\0\0\0\0\0\0\x80\x3f\0", 13)},
    };
    for (const auto& [name, bytes] : files) {
        fs::create_directories((content / name).parent_path());
        writeFile(content / name, bytes);
    }

    const zyr::PackPlan plan = zyr::packFolder(content, dir / "zyr.dat");
    ASSERT_TRUE(plan.errors.empty()) << plan.errors.front();
    EXPECT_TRUE(plan.warnings.empty()) << plan.warnings.front();

    ResourceArchive archive(dir / "zyr.dat");
    ASSERT_TRUE(archive.isOpen());
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        ArchiveFile* file = archive.openFile(name);
        ASSERT_NE(file, nullptr);
        const std::vector<std::uint8_t> read = archive.readBytes(file);
        archive.closeFile(file);
        EXPECT_TRUE(std::string(read.begin(), read.end()) == bytes);
    }
    EXPECT_EQ(archive.openFile("deep/er"), nullptr);  // no folder entries

    const std::string zip = readFile(dir / "zyr.dat");
    const std::vector<CentralEntry> entries = centralDirectory(zip);
    ASSERT_EQ(entries.size(), files.size());
    auto expected = files.begin();
    for (const CentralEntry& e : entries) {
        SCOPED_TRACE(e.name);
        EXPECT_EQ(e.name, expected->first);  // sorted by name, like the map
        const std::string& bytes = expected->second;
        EXPECT_EQ(e.size, bytes.size());
        EXPECT_EQ(e.crc, crcOf(bytes));
        EXPECT_EQ(get32(zip, e.offset), 0x04034b50u);
        EXPECT_EQ(get16(zip, e.offset + 8), e.method);  // local header agrees
        EXPECT_EQ(get32(zip, e.offset + 18), e.compressedSize);
        // Short text and noise do not shrink; long text and a track full of zeros do.
        const bool compressible = e.name == "fs.glsl" || e.name == "big.txt" || e.name == "sync_scene/intro.x.track";
        if (compressible) {
            EXPECT_EQ(e.method, 8u);
            EXPECT_LT(e.compressedSize, e.size);
        } else {
            EXPECT_EQ(e.method, 0u);
            EXPECT_EQ(e.compressedSize, e.size);
        }
        ++expected;
    }

    // Same files, same archive, byte for byte.
    ASSERT_TRUE(zyr::packFolder(content, dir / "again.dat").errors.empty());
    EXPECT_TRUE(readFile(dir / "again.dat") == zip);
    EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{"again.dat", "content", "zyr.dat"}));
}

TEST(PackRefusal, EntryNamesThePlayerCannotOpen) {
    for (const std::string& good : std::vector<std::string>{"a", "a/b.c", "sync_../x.track", "...", "a b/c-d_e.f"})
        EXPECT_EQ(zyr::entryNameProblem(good), std::nullopt) << good;
    for (const std::string& bad : std::vector<std::string>{"", "/abs", "a/", "a//b", ".", "..", "a/../b", "./a", "a/.", "a\\b",
                                  std::string("a\0b", 3), std::string(65536, 'a')})
        EXPECT_NE(zyr::entryNameProblem(bad), std::nullopt) << bad;

    // A file whose name holds a backslash: refused, and the old output stays.
    TempDir dir;
    fs::create_directory(dir / "content");
    writeFile(dir / "content" / "fs.glsl", "void main() {}\n");
    writeFile(dir / "content" / "tex\\ture.png", "png");
    writeFile(dir / "zyr.dat", "previous archive");
    const zyr::PackPlan plan = zyr::packFolder(dir / "content", dir / "zyr.dat");
    ASSERT_EQ(plan.errors.size(), 1u);
    EXPECT_NE(plan.errors[0].find("tex\\ture.png: cannot be an archive entry: a backslash"), std::string::npos)
        << plan.errors[0];
    EXPECT_EQ(readFile(dir / "zyr.dat"), "previous archive");
    EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{"content", "zyr.dat"}));
}

TEST(PackRefusal, Zip32Limits) {
    // Counted before anything is read: 65535 entries fit, one more does not.
    zyr::PackPlan plan;
    for (std::size_t i = 0; i < zyr::kZipMaxEntries; ++i) plan.items.push_back({"f/" + std::to_string(i), "x", 0});
    zyr::checkPack(plan);
    EXPECT_TRUE(plan.errors.empty());
    plan.items.push_back({"g", "x", 0});
    plan.errors.clear();
    zyr::checkPack(plan);
    EXPECT_TRUE(hasMessage(plan.errors, "65536 files; a zip archive holds at most 65535 entries"));

    // A real file one byte past 4 GiB - 1 (sparse, so it costs no disk space).
    TempDir dir;
    fs::create_directory(dir / "content");
    writeFile(dir / "content" / "small.txt", "fine");
    {
        std::ofstream grow(dir / "content" / "huge.bin");
    }
    fs::resize_file(dir / "content" / "huge.bin", zyr::kZipMaxEntrySize + 1);
    const zyr::PackPlan huge = zyr::packFolder(dir / "content", dir / "zyr.dat");
    ASSERT_EQ(huge.errors.size(), 1u);
    EXPECT_NE(huge.errors[0].find("huge.bin: 4294967296 bytes, more than the 4294967295"), std::string::npos)
        << huge.errors[0];
    EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"content"});
}

TEST(PackRefusal, MissingFoldersAndUnwritableOutput) {
    TempDir dir;
    const zyr::PackPlan noFolder = zyr::packFolder(dir / "absent", dir / "zyr.dat");
    EXPECT_TRUE(hasMessage(noFolder.errors, "not a folder"));

    fs::create_directory(dir / "content");
    writeFile(dir / "content" / "fs.glsl", "x");
    const zyr::PackPlan noParent = zyr::packFolder(dir / "content", dir / "absent" / "zyr.dat");
    EXPECT_TRUE(hasMessage(noParent.errors, "cannot create"));
    EXPECT_FALSE(fs::exists(dir / "absent"));

    fs::create_directory(dir / "out.dat");
    const zyr::PackPlan onFolder = zyr::packFolder(dir / "content", dir / "out.dat");
    EXPECT_TRUE(hasMessage(onFolder.errors, "is a folder"));
    EXPECT_TRUE(fs::is_empty(dir / "out.dat"));

    if (geteuid() != 0) {  // root reads any file, whatever its mode
        writeFile(dir / "content" / "secret.txt", "x");
        fs::permissions(dir / "content" / "secret.txt", fs::perms::none);
        const zyr::PackPlan unreadable = zyr::packFolder(dir / "content", dir / "zyr.dat");
        EXPECT_TRUE(hasMessage(unreadable.errors, "secret.txt: cannot read"));
        EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{"content", "out.dat"}));  // temporary gone too
    }
}

TEST(PackWarnings, SuspiciousContentIsPackedWithAWarning) {
    TempDir dir;
    const fs::path content = dir / "content";
    fs::create_directories(content / "sub");
    writeFile(content / "fs.glsl", "void main() {}\n");
    writeFile(content / ".hidden", "h");
    writeFile(content / "notes.txt~", "n");
    writeFile(content / "fsshader.ini.part", "[half");
    writeFile(content / "sub" / "fs.glsl", "misplaced");
    writeFile(content / "Readme", "r");
    writeFile(content / "README", "R");
    writeFile(content / "sync_cam:pos.x.track", std::string(4, '\0'));
    writeFile(content / "sync_bad.track", "abc");
    writeFile(content / "caf\xC3\xA9.txt", "c");
    fs::create_symlink("fs.glsl", content / "link.glsl");
    fs::create_directory_symlink("sub", content / "linkdir");
    ASSERT_EQ(mkfifo((content / "pipe").c_str(), 0600), 0);
    writeFile(content / "zyr.dat", "stale archive inside the folder");

    const zyr::PackPlan plan = zyr::packFolder(content, content / "zyr.dat");
    ASSERT_TRUE(plan.errors.empty()) << plan.errors.front();
    const std::vector<std::string> expected = {
        ".hidden: a hidden file",
        "notes.txt~: looks like an editor or backup leftover",
        "fsshader.ini.part: looks like an editor or backup leftover",
        "sub/fs.glsl: the player reads only \"fs.glsl\", exactly so, at the archive's root",
        "differ only in letter case",
        "sync_cam:pos.x.track: no track loads this entry",
        "sync_bad.track: malformed track file: truncated",
        "caf\xC3\xA9.txt: control or non-ASCII bytes",
        "link.glsl: a symbolic link",
        "linkdir: a link to a folder; not followed",
        "pipe: not a regular file",
        "zyr.dat: the output archive itself; left out",
    };
    for (const std::string& warning : expected) EXPECT_TRUE(hasMessage(plan.warnings, warning)) << warning;
    EXPECT_EQ(plan.warnings.size(), expected.size());

    std::vector<std::string> names;
    for (const CentralEntry& e : centralDirectory(readFile(content / "zyr.dat"))) names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::string>{".hidden", "README", "Readme", "caf\xC3\xA9.txt", "fs.glsl",
                                               "fsshader.ini.part", "link.glsl", "notes.txt~", "sub/fs.glsl", "sync_bad.track",
                                               "sync_cam:pos.x.track"}));
    ResourceArchive archive(content / "zyr.dat");
    ArchiveFile* link = archive.openFile("link.glsl");
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(archive.readText(link), "void main() {}\n");
    archive.closeFile(link);
}

#ifdef ZYR_PACK_EXE
TEST(PackExecutable, ExitStatusAndMessages) {
    TempDir dir;
    const std::string exe = std::string("'") + ZYR_PACK_EXE + "'";
    const std::string errFile = (dir / "err").string();
    auto status = [&](const std::string& args) {
        const int raw = std::system((exe + " " + args + " 2>" + errFile + " >/dev/null").c_str());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    };
    fs::create_directory(dir / "content");
    writeFile(dir / "content" / "fs.glsl", "void main() {}\n");
    EXPECT_EQ(status(""), 2);
    EXPECT_EQ(status((dir / "content").string()), 2);
    EXPECT_EQ(status((dir / "content").string() + " " + (dir / "zyr.dat").string()), 0);
    EXPECT_EQ(readFile(errFile), "");
    ASSERT_TRUE(fs::is_regular_file(dir / "zyr.dat"));

    writeFile(dir / "content" / "a\\b", "x");
    const std::string before = readFile(dir / "zyr.dat");
    EXPECT_EQ(status((dir / "content").string() + " " + (dir / "zyr.dat").string()), 1);
    const std::string err = readFile(errFile);
    EXPECT_NE(err.find("a backslash"), std::string::npos) << err;
    EXPECT_NE(err.find("zyr-pack: nothing written"), std::string::npos) << err;
    EXPECT_TRUE(readFile(dir / "zyr.dat") == before);
}
#endif

// What the writer adds around libzip, which writes only at finish: bytes the
// caller let go of before then, a source that changed in between, an archive
// without entries (libzip would remove the file), files sharing one content.
TEST(PackWriter, DeferredWritingKeepsItsPromises) {
    TempDir dir;
    writeFile(dir / "src.txt", textOf(10000));
    {
        zyr::ZipArchiveWriter zip(dir / "a.zip");
        {
            std::string transient = textOf(3000);
            zip.addBytes("kept.txt", transient);
            transient.assign(3000, 'x');  // the caller's buffer changes before the archive is written
        }
        zip.addFile("src.txt", dir / "src.txt");
        zip.addFile("again.txt", dir / "src.txt");
        EXPECT_THROW(zip.addBytes("kept.txt", "dup"), zyr::ZipError);
        zip.finish();
        ASSERT_EQ(zip.entries().size(), 3u);
        EXPECT_EQ(zip.entries()[0].size, 3000u);
        EXPECT_LT(zip.entries()[0].compressedSize, 3000u);
        EXPECT_EQ(zip.entries()[1].crc, crcOf(textOf(10000)));
    }
    ResourceArchive archive(dir / "a.zip");
    ASSERT_TRUE(archive.isOpen());
    for (const auto& [name, bytes] : std::map<std::string, std::string>{
             {"kept.txt", textOf(3000)}, {"src.txt", textOf(10000)}, {"again.txt", textOf(10000)}}) {
        ArchiveFile* file = archive.openFile(name);
        ASSERT_NE(file, nullptr) << name;
        const std::vector<std::uint8_t> read = archive.readBytes(file);
        archive.closeFile(file);
        EXPECT_TRUE(std::string(read.begin(), read.end()) == bytes) << name;
    }

    // Changed after it was measured: refused, never packed as something else.
    {
        zyr::ZipArchiveWriter zip(dir / "b.zip");
        zip.addFile("src.txt", dir / "src.txt");
        writeFile(dir / "src.txt", textOf(9999) + "!");
        EXPECT_THROW(zip.finish(), zyr::ZipError);
    }

    // No entries: still a file, the end record alone (libzip would write none).
    const std::vector<zyr::ZipEntryInfo> none =
        zyr::writeZipAtomically(dir / "empty.zip", std::vector<zyr::ZipBytes>{});
    EXPECT_TRUE(none.empty());
    EXPECT_TRUE(readFile(dir / "empty.zip") == std::string("PK\5\6", 4) + std::string(18, '\0'));
}
