// zyr-track: the text form round-trips bit for bit, every kind of bad input is
// refused with its place and nothing written, and what it compiles is what the
// player's own loader reads, from loose files and from a packed archive.
#include "PackTool.h"
#include "ResourceArchive.h"
#include "SyncTrack.h"
#include "TempDir.h"
#include "Track.h"
#include "TrackText.h"
#include "TrackTool.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

struct ToolRun {
    int code;
    std::string out;
    std::string err;
};

ToolRun runTool(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    const int code = zyr::runTrackTool(args, out, err);
    return {code, out.str(), err.str()};
}

// Every file under a folder with its bytes, by path relative to it.
std::map<std::string, std::string> snapshot(const fs::path& folder) {
    std::map<std::string, std::string> files;
    if (!fs::exists(folder)) return files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            files[entry.path().lexically_relative(folder).generic_string()] = readFile(entry.path());
    return files;
}

std::uint32_t bitsOf(float value) { return std::bit_cast<std::uint32_t>(value); }

std::uint32_t get32(const std::string& bytes, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    return v;
}

struct DeviceDeleter {
    void operator()(SyncDevice* device) const { destroyDevice(device); }
};
using Device = std::unique_ptr<SyncDevice, DeviceDeleter>;

// A set in the canonical form the dump writes: odd floats of every class,
// the int32 row limits, names with spaces, colons, quotes, backslashes, a
// control byte, UTF-8 and a folder.
const std::string kCanonical =
    "track \"cam:pos.x\"\n"
    "-2147483648 -0 step\n"
    "0 0 linear\n"
    "1 1e-45 smooth\n"
    "2 1.1754942e-38 ramp\n"
    "3 1.1754944e-38 step\n"
    "4 1e+38 linear\n"
    "5 3.4028235e+38 step\n"
    "6 -3.4028235e+38 step\n"
    "7 105574176 linear\n"
    "8 10.0001545 smooth\n"
    "9 1.00003205e-36 ramp\n"
    "10 0.1 step\n"
    "11 inf step\n"
    "12 -inf step\n"
    "13 nan:0x7fc00000 step\n"
    "14 nan:0xffc00001 step\n"
    "15 nan:0x7f800001 step\n"
    "2147483647 1 step\n"
    "\n"
    "track \"fade in.x\"\n"
    "0 0.25 linear\n"
    "\n"
    "track \"say \\\"hi\\\" \\\\ \\x01 caf\xC3\xA9\"\n"
    "-5 -1.5 ramp\n"
    "\n"
    "track \"scene/intro.x\"\n"
    "0 1 step\n"
    "\n"
    "track \"no keys\"\n";

// Expected bits of the first track's values, written out independently of the
// formatter so a formatter and parser that agree on a wrong value still fail.
const std::vector<std::uint32_t> kCamBits = {
    0x80000000, 0x00000000, 0x00000001, 0x007fffff, 0x00800000, 0x7e967699, 0x7f7fffff, 0xff7fffff, 0x4cc95de4,
    0x412000a2, 0x03aa258a, 0x3dcccccd, 0x7f800000, 0xff800000, 0x7fc00000, 0xffc00001, 0x7f800001, 0x3f800000};

zyr::CompileResult compileText(const TempDir& dir, const std::string& text, const fs::path& out) {
    writeFile(dir / "in.txt", text);
    return zyr::compileTrackTexts({dir / "in.txt"}, out);
}

}  // namespace

TEST(TrackText, ValuesRoundTripBitForBit) {
    // Random patterns cover every class (normal, denormal, zero, inf, NaN with
    // any payload and sign); formatting then parsing must return the same bits.
    std::mt19937 random(20230617);
    std::vector<std::uint32_t> patterns = {0x00000000, 0x80000000, 0x00000001, 0x80000001, 0x007fffff,
                                           0x00800000, 0x7f7fffff, 0x7f800000, 0xff800000, 0x7fffffff,
                                           0xffffffff, 0x7f800001, 0x7fc00000, 0xffc00000};
    for (int i = 0; i < 200000; ++i) patterns.push_back(static_cast<std::uint32_t>(random()));
    for (std::uint32_t bits : patterns) {
        const std::string text = zyr::formatValue(std::bit_cast<float>(bits));
        std::string why;
        const std::optional<float> back = zyr::parseValue(text, why);
        ASSERT_TRUE(back) << text << ": " << why;
        ASSERT_EQ(bitsOf(*back), bits) << text;
    }
    // Shortest form: 0.1 and 1e+38 stay short; this value needs all nine digits.
    EXPECT_EQ(zyr::formatValue(0.1f), "0.1");
    EXPECT_EQ(zyr::formatValue(std::bit_cast<float>(0x412000a2u)), "10.0001545");
}

TEST(TrackText, CompileThenDumpGivesTheSameTextAndBits) {
    TempDir dir;
    const zyr::CompileResult result = compileText(dir, kCanonical, dir / "out");
    ASSERT_TRUE(result.errors.empty()) << result.errors.front();
    ASSERT_EQ(result.written.size(), 5u);

    // The files sit at the player's entry names.
    const std::map<std::string, std::string> files = snapshot(dir / "out");
    ASSERT_EQ(files.size(), 5u);
    ASSERT_TRUE(files.contains("sync_cam-3Apos.x.track"));
    ASSERT_TRUE(files.contains("sync_fade-20in.x.track"));
    ASSERT_TRUE(files.contains("sync_say-20-22hi-22-20-5C-20-01-20caf-C3-A9.track"));
    ASSERT_TRUE(files.contains("sync_scene/intro.x.track"));
    ASSERT_TRUE(files.contains("sync_no-20keys.track"));

    // Layout and bits, read straight from the bytes.
    const std::string& cam = files.at("sync_cam-3Apos.x.track");
    ASSERT_EQ(cam.size(), 4 + 9 * kCamBits.size());
    EXPECT_EQ(get32(cam, 0), kCamBits.size());
    EXPECT_EQ(get32(cam, 4), 0x80000000u);  // row INT32_MIN
    EXPECT_EQ(get32(cam, 4 + 9 * 17), 0x7fffffffu);
    for (std::size_t k = 0; k < kCamBits.size(); ++k) EXPECT_EQ(get32(cam, 8 + 9 * k), kCamBits[k]) << "key " << k;
    EXPECT_EQ(cam[12], 0);      // step
    EXPECT_EQ(cam[12 + 9], 1);  // linear
    EXPECT_EQ(cam[12 + 18], 2); // smooth
    EXPECT_EQ(cam[12 + 27], 3); // ramp
    EXPECT_EQ(files.at("sync_no-20keys.track"), std::string(4, '\0'));
    EXPECT_EQ(files.at("sync_scene/intro.x.track"), std::string("\1\0\0\0\0\0\0\0\0\0\x80\x3f\0", 13));

    std::vector<std::string> args{"dump"};
    for (const fs::path& path : result.written) args.push_back(path.string());
    const ToolRun dump = runTool(args);
    EXPECT_EQ(dump.code, 0) << dump.err;
    EXPECT_EQ(dump.err, "");
    EXPECT_EQ(dump.out, kCanonical);
}

TEST(TrackText, LooseTextCompilesToTheSameBytesAsItsCanonicalForm) {
    TempDir dir;
    const std::string loose =
        "\xEF\xBB\xBF# camera\r\n"
        "  track   \"cam:pos.x\"   # the flight\r\n"
        "\t+0   0.500   linear  # start\r\n"
        "\n"
        "0008 1.5e0 smooth\r\n"
        "16\t-0.0\tstep\n"
        "track\"b\"\n"
        "-3 +inf ramp\n"
        "4 .25 step";  // no newline at the end
    const zyr::CompileResult first = compileText(dir, loose, dir / "a");
    ASSERT_TRUE(first.errors.empty()) << first.errors.front();

    std::vector<std::string> args{"dump"};
    for (const fs::path& path : first.written) args.push_back(path.string());
    const ToolRun dump = runTool(args);
    ASSERT_EQ(dump.code, 0) << dump.err;
    EXPECT_EQ(dump.out,
              "track \"cam:pos.x\"\n0 0.5 linear\n8 1.5 smooth\n16 -0 step\n\n"
              "track \"b\"\n-3 inf ramp\n4 0.25 step\n");

    const zyr::CompileResult second = compileText(dir, dump.out, dir / "b");
    ASSERT_TRUE(second.errors.empty());
    EXPECT_EQ(snapshot(dir / "a"), snapshot(dir / "b"));
}

TEST(TrackText, EntryNameLengthLimitIsExact) {
    // 248 kept characters make an entry of exactly 259; one more would be cut.
    // The folder keeps each file name part under 255.
    const std::string fits = std::string(120, 'a') + "/" + std::string(127, 'b');
    ASSERT_EQ(fits.size(), 248u);
    EXPECT_EQ(zyr::trackNameProblem(fits), std::nullopt);
    EXPECT_EQ(zyr::trackEntryName(fits).size(), 259u);
    EXPECT_EQ(zyr::trackNameFromEntry(zyr::trackEntryName(fits)), fits);
    TempDir dir;
    const zyr::CompileResult result = compileText(dir, "track \"" + fits + "\"\n0 1 step\n", dir / "out");
    ASSERT_TRUE(result.errors.empty()) << result.errors.front();
    EXPECT_TRUE(fs::is_regular_file(dir / "out" / zyr::trackEntryName(fits)));

    const auto tooLong = zyr::trackNameProblem(fits + "b");
    ASSERT_TRUE(tooLong);
    EXPECT_NE(tooLong->find("260 characters"), std::string::npos) << *tooLong;
}

TEST(TrackText, EntryNamesDecodeOnlyWhenThePlayerWouldAskForThem) {
    EXPECT_EQ(zyr::trackNameFromEntry("sync_cam-3Apos.x.track"), "cam:pos.x");
    EXPECT_EQ(zyr::trackNameFromEntry("sync_a-2Db.track"), "a-b");
    EXPECT_EQ(zyr::trackNameFromEntry("sync_-C3-A9.track"), "\xC3\xA9");
    EXPECT_EQ(zyr::trackNameFromEntry("sync_cam:pos.x.track"), std::nullopt);  // ':' is always escaped
    EXPECT_EQ(zyr::trackNameFromEntry("sync_-41.track"), std::nullopt);        // 'A' is never escaped
    EXPECT_EQ(zyr::trackNameFromEntry("sync_-3a.track"), std::nullopt);        // escapes are upper case
    EXPECT_EQ(zyr::trackNameFromEntry("sync_-3.track"), std::nullopt);
    EXPECT_EQ(zyr::trackNameFromEntry("sync_a-00.track"), std::nullopt);
    EXPECT_EQ(zyr::trackNameFromEntry("sync_a.x.trac"), std::nullopt);
    EXPECT_EQ(zyr::trackNameFromEntry("cam_a.x.track"), std::nullopt);
    // The player cuts this name's entry, so it never asks for the whole one.
    EXPECT_EQ(zyr::trackNameFromEntry("sync_" + std::string(249, 'a') + ".track"), std::nullopt);
}

struct Refusal {
    const char* what;
    std::string text;
    int line;
    std::string reason;
};

TEST(TrackCompile, RefusesBadInputWithPlaceAndWritesNothing) {
    const std::string good = "track \"good\"\n0 1 step\n";  // lines 1-2: valid, must not be written either
    std::vector<Refusal> cases = {
        {"unknown interpolation", good + "track \"t\"\n0 1 cubic\n", 4, "unknown interpolation 'cubic'"},
        {"names are lower case", good + "track \"t\"\n0 1 Linear\n", 4, "unknown interpolation 'Linear'"},
        {"equal rows", good + "track \"t\"\n8 1 step\n8 2 step\n", 5, "row 8 does not follow row 8"},
        {"falling rows", good + "track \"t\"\n8 1 step\n4 2 step\n", 5, "row 4 does not follow row 8"},
        {"row above int32", good + "track \"t\"\n2147483648 0 step\n", 4, "out of the int32 range"},
        {"row below int32", good + "track \"t\"\n-2147483649 0 step\n", 4, "out of the int32 range"},
        {"huge row", good + "track \"t\"\n99999999999999999999 0 step\n", 4, "out of the int32 range"},
        {"fractional row", good + "track \"t\"\n1.5 0 step\n", 4, "row '1.5' is not an integer"},
        {"too large for float", good + "track \"t\"\n0 1e39 step\n", 4, "out of the float32 range"},
        {"too small for float", good + "track \"t\"\n0 -1e-50 step\n", 4, "out of the float32 range"},
        {"nan bits of a number", good + "track \"t\"\n0 nan:0x3f800000 step\n", 4, "no NaN bit pattern"},
        {"short nan bits", good + "track \"t\"\n0 nan:0x7fc0 step\n", 4, "8 hex digits"},
        {"two fields", good + "track \"t\"\n0 1\n", 4, "found 2 fields"},
        {"four fields", good + "track \"t\"\n0 1 step 2\n", 4, "found 4 fields"},
        {"key before header", "0 1 step\n" + good, 1, "a key before any track header"},
        {"duplicate in file", good + "track \"t\"\ntrack \"good\"\n", 4, "duplicate track \"good\" (first at "},
        {"name cut at 259", good + "track \"" + std::string(83, ':') + "\"\n", 3, "cuts entry names at 259"},
        {"file name part too long", good + "track \"" + std::string(246, 'a') + "\"\n", 3,
         "more than a file name may have"},
        {"'..' in entry", good + "track \"x/../y\"\n", 3, "'..' component"},
        {"'//' in entry", good + "track \"a//b\"\n", 3, "'//'"},
        {"empty name", good + "track \"\"\n", 3, "an empty track name"},
        {"NUL in name", good + "track \"a\\x00b\"\n", 3, "a NUL byte"},
        {"unquoted name", good + "track cam\n", 3, "double quotes"},
        {"unterminated name", good + "track \"cam\n", 3, "no closing double quote"},
        {"unknown escape", good + "track \"a\\qb\"\n", 3, "unknown escape"},
        {"text after name", good + "track \"a\" b\n", 3, "unexpected text after the track name: b"},
        {"raw control byte", good + "track \"a\tb\"\n", 3, "a control byte"},
    };
    for (const char* notANumber : {"abc", "1.0f", "0x10", "1,5", "--1", "+-1", "infinity", "NaN", "1e", "."})
        cases.push_back({notANumber, good + "track \"t\"\n0 " + std::string(notANumber) + " step\n", 4,
                         "value '" + std::string(notANumber) + "': not a number"});

    for (const Refusal& refusal : cases) {
        SCOPED_TRACE(refusal.what);
        TempDir dir;
        // An existing output folder with the good track's file in it: it must
        // keep its old bytes, and nothing may join it.
        fs::create_directory(dir / "out");
        writeFile(dir / "out" / "sync_good.track", "old");
        const zyr::CompileResult result = compileText(dir, refusal.text, dir / "out");
        ASSERT_FALSE(result.errors.empty());
        const std::string place = (dir / "in.txt").string() + ":" + std::to_string(refusal.line) + ": ";
        EXPECT_EQ(result.errors.front().rfind(place, 0), 0u) << result.errors.front();
        EXPECT_NE(result.errors.front().find(refusal.reason), std::string::npos) << result.errors.front();
        EXPECT_TRUE(result.written.empty());
        EXPECT_EQ(snapshot(dir / "out"), (std::map<std::string, std::string>{{"sync_good.track", "old"}}));

        // Into a folder that does not exist yet: it is not even created.
        const zyr::CompileResult again = compileText(dir, refusal.text, dir / "fresh");
        EXPECT_FALSE(again.errors.empty());
        EXPECT_FALSE(fs::exists(dir / "fresh"));
    }
}

TEST(TrackCompile, ReportsEveryErrorAcrossFiles) {
    TempDir dir;
    writeFile(dir / "a.txt", "track \"x\"\n0 1 step\n4 oops linear\n8 2 bogus\n");
    writeFile(dir / "b.txt", "# other file\ntrack \"x\"\n0 1 step\n");
    const zyr::CompileResult result = zyr::compileTrackTexts({dir / "a.txt", dir / "b.txt", dir / "missing.txt"},
                                                             dir / "out");
    ASSERT_EQ(result.errors.size(), 4u);
    // Unreadable inputs first, then every text problem in order.
    EXPECT_EQ(result.errors[0].rfind((dir / "missing.txt").string() + ": cannot read", 0), 0u) << result.errors[0];
    EXPECT_EQ(result.errors[1].rfind((dir / "a.txt").string() + ":3: value 'oops'", 0), 0u) << result.errors[1];
    EXPECT_EQ(result.errors[2].rfind((dir / "a.txt").string() + ":4: unknown interpolation", 0), 0u);
    EXPECT_EQ(result.errors[3], (dir / "b.txt").string() + ":2: duplicate track \"x\" (first at " +
                                    (dir / "a.txt").string() + ":1)");
    EXPECT_FALSE(fs::exists(dir / "out"));
}

TEST(TrackCompile, RefusesOutputsTheFileSystemCannotHold) {
    TempDir dir;
    // "a" lands at sync_a.track; "a.track/b" needs a folder of that very name.
    const zyr::CompileResult clash = compileText(dir, "track \"a\"\ntrack \"a.track/b\"\n", dir / "out");
    ASSERT_EQ(clash.errors.size(), 1u);
    EXPECT_NE(clash.errors[0].find("sync_a.track is also the folder"), std::string::npos) << clash.errors[0];
    EXPECT_FALSE(fs::exists(dir / "out"));

    writeFile(dir / "plain", "not a folder");
    const zyr::CompileResult onFile = compileText(dir, "track \"a\"\n0 1 step\n", dir / "plain");
    ASSERT_FALSE(onFile.errors.empty());
    EXPECT_EQ(readFile(dir / "plain"), "not a folder");

    fs::create_directories(dir / "busy" / "sync_a.track");
    const zyr::CompileResult blocked = compileText(dir, "track \"z\"\n0 1 step\ntrack \"a\"\n0 1 step\n", dir / "busy");
    ASSERT_FALSE(blocked.errors.empty());
    EXPECT_NE(blocked.errors[0].find("a folder stands where sync_a.track must go"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "busy" / "sync_z.track"));
}

TEST(TrackCompile, ReplacesEarlierOutputAndLeavesNoTemporaries) {
    TempDir dir;
    ASSERT_TRUE(compileText(dir, "track \"a\"\n0 1 step\n", dir / "out").errors.empty());
    ASSERT_TRUE(compileText(dir, "track \"a\"\n0 2 step\n4 3 step\n", dir / "out").errors.empty());
    const auto files = snapshot(dir / "out");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(get32(files.at("sync_a.track"), 0), 2u);
}

TEST(TrackDump, MalformedFilesAreReportedNotRead) {
    TempDir dir;
    struct Malformed {
        const char* what;
        std::string bytes;
        std::string reason;
    };
    const std::vector<Malformed> cases = {
        {"empty", "", "truncated: 0 bytes"},
        {"short count", std::string("\1\0\0", 3), "truncated: 3 bytes"},
        {"negative count", std::string("\xFB\xFF\xFF\xFF", 4), "negative key count (-5)"},
        {"huge count", std::string("\xFF\xFF\xFF\x7F", 4), "declares 2147483647 keys"},
        {"cut inside a key", std::string("\2\0\0\0" "\0\0\0\0" "\0\0\x80\x3f" "\1" "\4\0\0\0", 17),
         "declares 2 keys (22 bytes) but holds 17 bytes"},
    };
    for (const Malformed& m : cases) {
        SCOPED_TRACE(m.what);
        writeFile(dir / "sync_bad.track", m.bytes);
        const ToolRun run = runTool({"dump", (dir / "sync_bad.track").string()});
        EXPECT_EQ(run.code, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find(m.reason), std::string::npos) << run.err;
    }

    // Readable but odd: shown as it is, with warnings; the unknown type comes
    // out as a number that compiling refuses again.
    writeFile(dir / "sync_odd.track", std::string("\2\0\0\0" "\x08\0\0\0" "\0\0\x80\x3f" "\x07"
                                                  "\x04\0\0\0" "\0\0\0\x40" "\0" "zz", 24));
    const ToolRun odd = runTool({"dump", (dir / "sync_odd.track").string()});
    EXPECT_EQ(odd.code, 0);
    EXPECT_EQ(odd.out, "track \"odd\"\n8 1 7\n4 2 step\n");
    EXPECT_NE(odd.err.find("interpolation type 7"), std::string::npos) << odd.err;
    EXPECT_NE(odd.err.find("row 4 does not follow row 8"), std::string::npos);
    EXPECT_NE(odd.err.find("2 bytes after the last key"), std::string::npos);

    writeFile(dir / "cam.track", std::string(4, '\0'));
    const ToolRun misnamed = runTool({"dump", (dir / "cam.track").string()});
    EXPECT_EQ(misnamed.code, 1);
    EXPECT_NE(misnamed.err.find("not named like a track file"), std::string::npos);

    const ToolRun missing = runTool({"dump", (dir / "sync_gone.track").string()});
    EXPECT_EQ(missing.code, 1);
    EXPECT_NE(missing.err.find("cannot read"), std::string::npos);
}

TEST(TrackPlayer, CompiledFilesLoadThroughThePlayersOwnLoader) {
    TempDir dir;
    const std::string text = kCanonical +
                             "\ntrack \"curve.x\"\n0 0 linear\n8 1 smooth\n16 2 ramp\n24 3 step\n";
    const zyr::CompileResult result = compileText(dir, text, dir / "out");
    ASSERT_TRUE(result.errors.empty()) << result.errors.front();
    zyr::TrackSetParser parser;
    parser.parse(text, "text");
    ASSERT_TRUE(parser.errors().empty());

    auto expectSameKeys = [&](SyncDevice* device) {
        for (const zyr::Track& track : parser.tracks()) {
            SCOPED_TRACE(track.name);
            const SyncTrack* loaded = getTrack(device, track.name.c_str());
            ASSERT_NE(loaded, nullptr);
            ASSERT_EQ(loaded->count, static_cast<std::int32_t>(track.keys.size()));
            for (std::size_t k = 0; k < track.keys.size(); ++k) {
                EXPECT_EQ(loaded->keys[k].row, track.keys[k].row);
                EXPECT_EQ(bitsOf(loaded->keys[k].value), bitsOf(track.keys[k].value));
                EXPECT_EQ(loaded->keys[k].type, track.keys[k].type);
            }
        }
        const SyncTrack* curve = getTrack(device, "curve.x");
        EXPECT_DOUBLE_EQ(getValue(curve, 4.0), 0.5);    // linear half way
        EXPECT_DOUBLE_EQ(getValue(curve, 12.0), 1.5);   // smooth half way
        EXPECT_DOUBLE_EQ(getValue(curve, 20.0), 2.25);  // ramp: t squared
        EXPECT_DOUBLE_EQ(getValue(curve, 99.0), 3.0);
        EXPECT_DOUBLE_EQ(getValue(getTrack(device, "fade in.x"), 50.0), 0.25);
    };

    {
        // Loose files, opened by the device's default file callbacks.
        ScopedCurrentDir inside(dir / "out");
        Device device(createDevice("sync"));
        ASSERT_NE(device, nullptr);
        expectSameKeys(device.get());
    }
    {
        // The same folder packed, read through the archive as the player does.
        const zyr::PackPlan packed = zyr::packFolder(dir / "out", dir / "zyr.dat");
        ASSERT_TRUE(packed.errors.empty()) << packed.errors.front();
        ResourceArchive archive(dir / "zyr.dat");
        ASSERT_TRUE(archive.isOpen());
        setStreamArchive(&archive);
        Device device(createDevice("sync"));
        ASSERT_NE(device, nullptr);
        device->io = SyncIo{archiveOpen, archiveRead, archiveClose};
        expectSameKeys(device.get());
        EXPECT_EQ(archive.openCount(), 0u);
        device.reset();
        setStreamArchive(nullptr);

        // And dumped from the archive, entry by entry, back to the same text.
        const ToolRun dump = runTool({"dump", (dir / "zyr.dat").string(), "sync_cam-3Apos.x.track",
                                      "sync_scene/intro.x.track"});
        EXPECT_EQ(dump.code, 0) << dump.err;
        EXPECT_EQ(dump.out, kCanonical.substr(0, kCanonical.find("\ntrack \"fade")) +
                                "\ntrack \"scene/intro.x\"\n0 1 step\n");
        const ToolRun absent = runTool({"dump", (dir / "zyr.dat").string(), "sync_nothing.track"});
        EXPECT_EQ(absent.code, 1);
        EXPECT_NE(absent.err.find("no such entry"), std::string::npos);
        const ToolRun notZip = runTool({"dump", (dir / "out" / "sync_scene").string(), "sync_a.track"});
        EXPECT_EQ(notZip.code, 1);
        EXPECT_NE(notZip.err.find("cannot open as a zip archive"), std::string::npos);
    }
}

#ifdef ZYR_TRACK_EXE
TEST(TrackExecutable, ExitStatusAndMessages) {
    TempDir dir;
    writeFile(dir / "bad.txt", "track \"a\"\n0 1 wobble\n");
    const std::string exe = std::string("'") + ZYR_TRACK_EXE + "'";
    const std::string errFile = (dir / "err").string();
    auto status = [&](const std::string& args) {
        const int raw = std::system((exe + " " + args + " 2>" + errFile + " >/dev/null").c_str());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    };
    EXPECT_EQ(status("compile " + (dir / "bad.txt").string() + " --out " + (dir / "out").string()), 1);
    EXPECT_EQ(readFile(errFile), (dir / "bad.txt").string() +
                                     ":2: unknown interpolation 'wobble' (step, linear, smooth or ramp)\n");
    EXPECT_FALSE(fs::exists(dir / "out"));
    EXPECT_EQ(status(""), 2);
    EXPECT_EQ(status("compile " + (dir / "bad.txt").string()), 2);  // no --out
    writeFile(dir / "good.txt", "track \"a\"\n0 1 linear\n");
    EXPECT_EQ(status("compile --out " + (dir / "out").string() + " " + (dir / "good.txt").string()), 0);
    EXPECT_TRUE(fs::is_regular_file(dir / "out" / "sync_a.track"));
}
#endif
