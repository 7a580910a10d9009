// Damaged archives must never crash or hang the reader; run under the sanitizer
// build to catch out-of-bounds reads that happen to survive a plain build.
#include "ResourceArchive.h"

#include "TempDir.h"
#include "ZipLayout.h"
#include "ZipWriter.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

const std::vector<std::string> kNames = {"fs.glsl", "soundtrack.mp3", "dir/a.txt", "empty", "zyr.png", "entry", "zeros"};

std::string validArchive(const TempDir& dir) {
    std::string binary;
    for (int i = 0; i < 700; ++i) binary.push_back(static_cast<char>((i * 37) ^ (i >> 3)));
    writeZip(dir / "valid.zip", {{"fs.glsl", "#version 460 core\nvoid main() {}\n", ZipMethod::Stored},
                                 {"soundtrack.mp3", binary, ZipMethod::Deflated},
                                 {"dir/a.txt", std::string(300, 'a'), ZipMethod::Deflated},
                                 {"empty", "", ZipMethod::Stored}});
    return readFile(dir / "valid.zip");
}

struct Outcome {
    bool opened = false;
    std::size_t entries = 0;
    std::size_t largestRead = 0;
};

// Everything a user of the archive may do with whatever it hands out.
Outcome exercise(const std::filesystem::path& path) {
    Outcome outcome;
    ResourceArchive archive(path);
    outcome.opened = archive.isOpen();
    for (const std::string& name : kNames) {
        ArchiveFile* file = archive.openFile(name);
        if (!file) continue;
        ++outcome.entries;
        const std::vector<std::uint8_t> bytes = archive.readBytes(file);
        const std::string text = archive.readText(file);
        outcome.largestRead = std::max({outcome.largestRead, bytes.size(), text.size()});
        std::uint32_t items[16];
        archive.read(items, sizeof items[0], 16, file);
        archive.read(items, 1, sizeof items, file);
        if (name == "dir/a.txt") archive.closeFile(file);  // the rest is left to the destructor
    }
    return outcome;
}

class CorruptArchiveTest : public ::testing::Test {
protected:
    Outcome tryBytes(const std::string& bytes) {
        writeFile(dir / "zyr.dat", bytes);
        return exercise(dir / "zyr.dat");
    }

    TempDir dir;
    const std::string valid = validArchive(dir);
};

TEST_F(CorruptArchiveTest, ValidArchiveServesEveryEntry) {
    const Outcome outcome = tryBytes(valid);
    EXPECT_TRUE(outcome.opened);
    EXPECT_EQ(outcome.entries, 4u);
}

TEST_F(CorruptArchiveTest, TruncatedArchiveIsNotOpened) {
    for (std::size_t length = 0; length < valid.size(); ++length) {
        SCOPED_TRACE(length);
        const Outcome outcome = tryBytes(valid.substr(0, length));
        EXPECT_FALSE(outcome.opened);
        EXPECT_EQ(outcome.entries, 0u);
    }
}

// An entry whose own headers disagree with the file is refused alone: the
// archive opens and every other entry reads as written, whichever place the
// bad entry has in the directory.
TEST_F(CorruptArchiveTest, OneBadEntryIsRefusedAndTheRestIsServed) {
    const std::string zeros(1 << 20, '\0');  // deflates close to the format's limit
    const std::string shader = "#version 460 core\nvoid main() {}\n";
    struct Damage {
        const char* what;
        std::size_t header;  // 0: central entry, 1: local header
        std::size_t at;
        int width;
        std::uint32_t value;
        std::optional<ZipMethod> onlyFor = std::nullopt;
    };
    const std::vector<Damage> damages = {
        {"stored, one byte longer than its data", 0, 24, 4, 301, ZipMethod::Stored},
        {"method 0x5400, which zziplib reads as stored", 0, 10, 2, 0x5400},
        {"method 0x108, which zziplib reads as deflated", 0, 10, 2, 0x108},
        {"more than deflate can expand to", 0, 24, 4, 0x7FFFFFF0},
        {"zip64 marker for the size", 0, 24, 4, 0xFFFFFFFF},
        {"zip64 marker for the packed size", 0, 20, 4, 0xFFFFFFFF},
        {"zip64 marker for the header offset", 0, 42, 4, 0xFFFFFFFF},
        {"local header past the directory", 0, 42, 4, 0x7FFFFF00},
        {"local header signature", 1, 0, 4, 0x04034b51},
        {"local name running past the directory", 1, 26, 2, 0xFFFF},
    };
    for (const ZipMethod written : {ZipMethod::Stored, ZipMethod::Deflated}) {
        for (const std::size_t victim : {0u, 1u, 2u}) {
            for (const Damage& damage : damages) {
                if (damage.onlyFor && *damage.onlyFor != written) continue;
                std::vector<ZipEntry> entries = {{"fs.glsl", shader, ZipMethod::Stored}, {"zeros", zeros}};
                entries.insert(entries.begin() + static_cast<std::ptrdiff_t>(victim), {"entry", std::string(300, 'e'), written});
                writeZip(dir / "zyr.dat", entries);
                std::string zip = readFile(dir / "zyr.dat");
                const ZipLayout layout = zipLayout(zip);
                const std::size_t header = damage.header == 0 ? layout.central[victim] : layout.local[victim];
                zipPut(zip, header + damage.at, damage.width, damage.value);
                writeFile(dir / "zyr.dat", zip);
                SCOPED_TRACE(testing::Message() << damage.what << ", entry " << victim << ", method "
                                                << static_cast<int>(written));

                ResourceArchive archive(dir / "zyr.dat");
                ASSERT_TRUE(archive.isOpen());
                EXPECT_EQ(archive.openFile("entry"), nullptr);
                ArchiveFile* text = archive.openFile("fs.glsl");
                ArchiveFile* bytes = archive.openFile("zeros");
                ASSERT_NE(text, nullptr);
                ASSERT_NE(bytes, nullptr);
                EXPECT_EQ(archive.readText(text), shader);
                EXPECT_EQ(archive.readBytes(bytes), std::vector<std::uint8_t>(zeros.begin(), zeros.end()));
            }
        }
    }

    // The refusal is about the claim, not the entry: with a claim its data can
    // back, the same entry is served.
    writeZip(dir / "zyr.dat", {{"entry", std::string(300, 'e')}, {"zeros", zeros}});
    std::string plausible = readFile(dir / "zyr.dat");
    zipPut(plausible, zipLayout(plausible).central[0] + 24, 4, 300);
    const Outcome outcome = tryBytes(plausible);
    EXPECT_TRUE(outcome.opened);
    EXPECT_EQ(outcome.entries, 2u);
    EXPECT_EQ(outcome.largestRead, zeros.size());
}

// A deflated entry whose data fails to inflate or is cut short gives no bytes
// to the whole-entry reads (not the part before the damage as if it were all);
// data that goes on past the entry's size is read up to it. The other entries
// are served as written.
TEST_F(CorruptArchiveTest, DeflatedEntryIsServedWholeOrNotAtAll) {
    std::string content;
    for (int i = 0; i < 5000; ++i) content += static_cast<char>('a' + (i * 7 + i / 13) % 26);
    const std::string shader = "#version 460 core\nvoid main() {}\n";
    writeZip(dir / "zyr.dat", {{"fs.glsl", shader, ZipMethod::Stored}, {"entry", content, ZipMethod::Deflated}});
    const std::string written = readFile(dir / "zyr.dat");
    const ZipLayout layout = zipLayout(written);
    const std::size_t central = layout.central[1], local = layout.local[1];
    const std::uint32_t packed = zipGet(written, central + 20, 4);
    const auto sizes = [&](std::string zip, std::uint32_t newPacked, std::uint32_t newSize) {
        for (const auto& [header, offset] : {std::pair{central, 20}, std::pair{local, 18}}) {
            zipPut(zip, header + offset, 4, newPacked);
            zipPut(zip, header + offset + 4, 4, newSize);
        }
        return zip;
    };
    std::string invalidBlock = written;
    invalidBlock[entryDataOffset(written, "entry")] = '\x07';  // a last block of the reserved type
    struct Case {
        const char* what;
        std::string zip;
        std::string expected;
    };
    const Case cases[] = {
        {"as written", written, content},
        {"data that fails at once", invalidBlock, ""},
        {"data cut short", sizes(written, packed - 9, 5000), ""},
        {"data going on past the size", sizes(written, packed, 4000), content.substr(0, 4000)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(dir / "zyr.dat", c.zip);
        ResourceArchive archive(dir / "zyr.dat");
        ArchiveFile* entry = archive.openFile("entry");
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(archive.readText(entry), c.expected);
        const std::vector<std::uint8_t> bytes = archive.readBytes(entry);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), c.expected);
        ArchiveFile* text = archive.openFile("fs.glsl");
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(archive.readText(text), shader);
    }
}

// zziplib opens the first entry of a name, so that is the one judged: a bad
// duplicate behind a good one changes nothing, a bad one in front hides the name.
TEST_F(CorruptArchiveTest, OnlyTheFirstEntryOfANameIsJudged) {
    for (const bool badFirst : {false, true}) {
        writeZip(dir / "zyr.dat", {{"entry", "first"}, {"entry", "second"}, {"other", "other"}});
        std::string zip = readFile(dir / "zyr.dat");
        zipPut(zip, zipLayout(zip).central[badFirst ? 0 : 1] + 10, 2, 0x108);
        writeFile(dir / "zyr.dat", zip);
        SCOPED_TRACE(badFirst);
        ResourceArchive archive(dir / "zyr.dat");
        ArchiveFile* entry = archive.openFile("entry");
        if (badFirst) {
            EXPECT_EQ(entry, nullptr);
        } else {
            ASSERT_NE(entry, nullptr);
            EXPECT_EQ(archive.readText(entry), "first");
        }
        ASSERT_NE(archive.openFile("other"), nullptr);
    }
}

TEST_F(CorruptArchiveTest, DamagedDirectoryOrHeadersNeverCrash) {
    const ZipLayout layout = zipLayout(valid);
    std::vector<std::size_t> positions;
    for (std::size_t at = layout.centralDirectory; at < valid.size(); ++at) positions.push_back(at);
    for (std::size_t local : layout.local)
        for (std::size_t at = local; at < local + 30; ++at) positions.push_back(at);

    for (std::size_t at : positions) {
        for (const auto& damage : {+[](char c) { return static_cast<char>(c ^ 0x01); },
                                   +[](char c) { return static_cast<char>(c ^ 0x80); },
                                   +[](char) { return '\xff'; }, +[](char) { return '\0'; }}) {
            std::string bytes = valid;
            bytes[at] = damage(bytes[at]);
            if (bytes == valid) continue;
            SCOPED_TRACE(at);
            const Outcome outcome = tryBytes(bytes);
            // No damaged header may turn a few hundred bytes into a huge read.
            EXPECT_LE(outcome.largestRead, valid.size() * 1032);
        }
    }
}

TEST_F(CorruptArchiveTest, DamagedEntryDataNeverCrashesOrHangs) {
    const ZipLayout layout = zipLayout(valid);
    std::mt19937 random(2023);
    for (int round = 0; round < 400; ++round) {
        std::string bytes = valid;
        const int flips = 1 + round % 4;
        for (int i = 0; i < flips; ++i) {
            const std::size_t at = random() % layout.centralDirectory;
            bytes[at] = static_cast<char>(bytes[at] ^ (1 << (random() % 8)));
        }
        SCOPED_TRACE(round);
        tryBytes(bytes);
    }
}

TEST_F(CorruptArchiveTest, RandomBytesAreNotAnArchive) {
    std::mt19937 random(170);
    for (int round = 0; round < 300; ++round) {
        std::string bytes(random() % 2048, '\0');
        for (char& c : bytes) c = static_cast<char>(random());
        // Half of them carry an end record, so the directory parser gets to run.
        if (round % 2 == 1) {
            std::string end = valid.substr(valid.size() - 22);
            zipPut(end, 8, 2, random() % 8);
            zipPut(end, 10, 2, random() % 8);
            zipPut(end, 12, 4, random() % (bytes.size() + 64));
            zipPut(end, 16, 4, random() % (bytes.size() + 64));
            bytes += end;
        }
        SCOPED_TRACE(round);
        const Outcome outcome = tryBytes(bytes);
        EXPECT_EQ(outcome.entries, 0u);
    }
}

TEST_F(CorruptArchiveTest, EndRecordPointingAnywhereNeverCrashes) {
    const ZipLayout layout = zipLayout(valid);
    const std::size_t end = layout.endRecord;
    for (std::uint32_t entries : {0u, 1u, 4u, 5u, 0xFFFFu}) {
        for (std::uint32_t size : {0u, 10u, 46u, static_cast<std::uint32_t>(end - layout.centralDirectory),
                                   static_cast<std::uint32_t>(end), 0x7FFFFFFFu, 0xFFFFFFFFu}) {
            for (std::uint32_t offset : {0u, 1u, static_cast<std::uint32_t>(layout.centralDirectory),
                                         static_cast<std::uint32_t>(end - 1), static_cast<std::uint32_t>(end),
                                         0x7FFFFFFFu, 0xFFFFFFFFu}) {
                std::string bytes = valid;
                zipPut(bytes, end + 8, 2, entries);
                zipPut(bytes, end + 10, 2, entries);
                zipPut(bytes, end + 12, 4, size);
                zipPut(bytes, end + 16, 4, offset);
                SCOPED_TRACE(testing::Message() << entries << " entries, " << size << " bytes at " << offset);
                tryBytes(bytes);
            }
        }
    }
}

}  // namespace
