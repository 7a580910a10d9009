// Track layer: name escaping and file names, key evaluation, and loading track
// files through the default file callbacks and through callbacks of our own.
#include "SyncTrack.h"

#include "TempDir.h"
#include "TrackFile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <malloc.h>
#include <map>
#include <string>
#include <vector>

namespace {

// ---------------------------------------------------------------- name escaping

struct EncodeCase {
    const char* label;
    std::string name;
    std::string encoded;
};

class EncodeTrackName : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeTrackName, Escapes) {
    const EncodeCase& c = GetParam();
    const char* result = encodeTrackName(c.name.c_str());
    EXPECT_EQ(std::string(result), c.encoded);
    EXPECT_LE(std::strlen(result), kSyncNameBuffer - 1);
}

const std::string a256(256, 'a');
const std::string a257(257, 'a');
const std::string a258(258, 'a');
const std::string a259(259, 'a');

INSTANTIATE_TEST_SUITE_P(
    Names, EncodeTrackName,
    ::testing::Values(
        EncodeCase{"colon", "cam:pos.x", "cam-3Apos.x"},
        EncodeCase{"space", "fade in.x", "fade-20in.x"},
        EncodeCase{"plain", "sync", "sync"},
        EncodeCase{"kept_punctuation", "a/b_c.D9", "a/b_c.D9"},
        EncodeCase{"dash_is_escaped", "-", "-2D"},
        EncodeCase{"utf8_bytes_are_not_letters", "\xC3\xA9", "-C3-A9"},
        EncodeCase{"high_byte_upper_hex", "\x7F\xFE", "-7F-FE"},
        EncodeCase{"empty", "", ""},
        // Cuts: a kept byte needs pos < 259, an escape needs pos < 257.
        EncodeCase{"exactly_259_kept", a259, a259},
        EncodeCase{"260th_kept_byte_dropped", a259 + "b", a259},
        EncodeCase{"escape_ending_at_259", a256 + ":", a256 + "-3A"},
        EncodeCase{"escape_at_257_does_not_fit", a257 + ":", a257},
        EncodeCase{"stops_at_first_misfit_although_later_bytes_fit", a257 + ":bc", a257},
        EncodeCase{"escape_at_258_stops_too", a258 + " x", a258},
        EncodeCase{"after_escape_fills_259", a256 + ":b", a256 + "-3A"},
        EncodeCase{"only_escapes", std::string(100, ':'), [] {
                       std::string s;
                       for (int i = 0; i < 86; ++i) s += "-3A";  // 86 * 3 = 258; the 87th needs 261
                       return s;
                   }()}),
    [](const auto& info) { return std::string(info.param.label); });

// ---------------------------------------------------------------- file names

struct PathCase {
    const char* label;
    std::string base;
    std::string name;
    std::string path;
};

class TrackFilePath : public ::testing::TestWithParam<PathCase> {};

TEST_P(TrackFilePath, JoinsAndCuts) {
    const PathCase& c = GetParam();
    EXPECT_EQ(std::string(trackFilePath(c.base.c_str(), c.name.c_str())), c.path);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, TrackFilePath,
    ::testing::Values(
        PathCase{"escaped", "sync", "cam:pos.x", "sync_cam-3Apos.x.track"},
        PathCase{"space", "sync", "fade in.y", "sync_fade-20in.y.track"},
        PathCase{"folder", "sync", "fx/glow.x", "sync_fx/glow.x.track"},
        PathCase{"exactly_259", "sync", std::string(248, 'n'), "sync_" + std::string(248, 'n') + ".track"},
        PathCase{"suffix_cut_first", "sync", std::string(250, 'n'), "sync_" + std::string(250, 'n') + ".tra"},
        PathCase{"suffix_gone", "sync", std::string(254, 'n'), "sync_" + std::string(254, 'n')},
        PathCase{"name_cut", "sync", a259, "sync_" + std::string(254, 'a')},
        PathCase{"escape_cut_mid_way", "sync", std::string(100, ':'),
                 "sync_" + [] {
                     std::string s;
                     for (int i = 0; i < 84; ++i) s += "-3A";
                     return s + "-3";  // 5 + 252 + 2 = 259
                 }()},
        PathCase{"base_fills_all_but_one", a258, "x", a258 + "_"},
        PathCase{"base_cut", std::string(300, 'b'), "x", std::string(259, 'b')}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(TrackFilePathTest, PathAndEscapingUseSeparateBuffers) {
    // The path is built from the escaping buffer, so it must not live in it.
    const char* encoded = encodeTrackName("a b");
    const char* path = trackFilePath("sync", "c:d");
    EXPECT_STREQ(path, "sync_c-3Ad.track");
    EXPECT_STREQ(encoded, "c-3Ad");  // the escaping buffer holds its latest result
}

// ---------------------------------------------------------------- evaluation

struct ValueCase {
    const char* label;
    std::vector<SyncKey> keys;
    double row;
    double expected;
};

class GetValue : public ::testing::TestWithParam<ValueCase> {};

TEST_P(GetValue, Evaluates) {
    const ValueCase& c = GetParam();
    std::vector<SyncKey> keys = c.keys;
    const SyncTrack track{nullptr, keys.data(), static_cast<std::int32_t>(keys.size())};
    const double value = getValue(&track, c.row);
    if (std::isnan(c.expected))
        EXPECT_TRUE(std::isnan(value)) << value;
    else
        EXPECT_EQ(value, c.expected);  // exact: the arithmetic order is fixed
}

const std::vector<SyncKey> kLinear{{0, 0.0f, Linear}, {8, 1.0f, Step}};
const std::vector<SyncKey> kSmooth{{0, 0.0f, Smooth}, {8, 1.0f, Step}};
const std::vector<SyncKey> kRamp{{0, 0.0f, Ramp}, {8, 1.0f, Step}};
const std::vector<SyncKey> kStep{{0, 5.0f, Step}, {8, 1.0f, Step}};
const std::vector<SyncKey> kThree{{0, 0.0f, Linear}, {8, 8.0f, Linear}, {16, 0.0f, Step}};

INSTANTIATE_TEST_SUITE_P(
    Interpolation, GetValue,
    ::testing::Values(
        ValueCase{"linear_quarter", kLinear, 2.0, 0.25},
        ValueCase{"smooth_half", kSmooth, 4.0, 0.5},
        ValueCase{"smooth_quarter", kSmooth, 2.0, 0.15625},
        ValueCase{"ramp_half", kRamp, 4.0, 0.25},
        ValueCase{"step_before_next", kStep, 7.9, 5.0},
        ValueCase{"step_at_next", kStep, 8.0, 1.0},
        // The search takes the floored row, the interpolation the exact one.
        ValueCase{"between_keys_exact_row", kThree, 7.5, 7.5},
        ValueCase{"floored_row_hits_key", kThree, 8.5, 7.5},
        ValueCase{"last_key", kThree, 16.0, 0.0},
        // d is the difference of the widened values.
        ValueCase{"double_difference", {{0, 0.1f, Linear}, {1, 0.3f, Step}}, 0.5,
                  static_cast<double>(0.1f) + (static_cast<double>(0.3f) - static_cast<double>(0.1f)) * 0.5}),
    [](const auto& info) { return std::string(info.param.label); });

INSTANTIATE_TEST_SUITE_P(
    Clamps, GetValue,
    ::testing::Values(
        ValueCase{"before_first", kLinear, -3.0, 0.0},
        ValueCase{"at_last", kLinear, 8.0, 1.0},
        ValueCase{"after_last", kLinear, 100.0, 1.0},
        ValueCase{"half_row_before_first_floors_to_minus_one", {{0, 3.0f, Linear}, {8, 1.0f, Step}}, -0.5, 3.0},
        ValueCase{"single_key_before", {{4, 2.5f, Linear}}, 0.0, 2.5},
        ValueCase{"single_key_after", {{4, 2.5f, Linear}}, 9.0, 2.5}),
    [](const auto& info) { return std::string(info.param.label); });

const std::vector<SyncKey> kType7{{0, 1.0f, 7}, {8, 2.0f, Step}};
const std::vector<SyncKey> kTypeMinus1{{0, 1.0f, -1}, {8, 2.0f, Step}};

INSTANTIATE_TEST_SUITE_P(
    UnknownTypes, GetValue,
    ::testing::Values(
        ValueCase{"type7_segment", kType7, 4.0, 0.0},
        ValueCase{"type7_at_its_key", kType7, 0.0, 0.0},
        ValueCase{"type7_before_first", kType7, -1.0, 1.0},
        ValueCase{"type7_at_last", kType7, 8.0, 2.0},
        ValueCase{"typeFF_segment", kTypeMinus1, 4.0, 0.0},
        ValueCase{"typeFF_after_last", kTypeMinus1, 50.0, 2.0}),
    [](const auto& info) { return std::string(info.param.label); });

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
const std::vector<SyncKey> kWide{{kMin, 0.0f, Linear}, {kMax, 1.0f, Step}};
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    ExtremeRows, GetValue,
    ::testing::Values(
        ValueCase{"huge_row", kLinear, 1e300, 1.0},
        ValueCase{"huge_negative_row", kLinear, -1e300, 0.0},
        ValueCase{"infinity", kLinear, kInf, 1.0},
        ValueCase{"minus_infinity", kLinear, -kInf, 0.0},
        ValueCase{"nan_reads_as_start", kLinear, kNaN, 0.0},
        ValueCase{"just_below_int_max", kLinear, 2147483647.5, 1.0},
        ValueCase{"just_above_int_max", kLinear, 2147483648.0, 1.0},
        ValueCase{"floor_below_int_min", kLinear, -2147483648.5, 0.0},
        // Keys spanning the whole int range: the row difference is 2^32 - 1.
        ValueCase{"full_range_span_middle", kWide, 0.0, 2147483648.0 / 4294967295.0},
        ValueCase{"full_range_span_first_key", kWide, -2147483648.0, 0.0},
        ValueCase{"full_range_span_last_key", kWide, 2147483647.0, 1.0},
        ValueCase{"full_range_span_past_last", kWide, 1e300, 1.0},
        ValueCase{"full_range_span_before_first", kWide, -1e300, 0.0},
        ValueCase{"full_range_span_nan", kWide, kNaN, 0.0}),
    [](const auto& info) { return std::string(info.param.label); });

// Files are not checked for order; two keys on one row must not divide by zero.
const std::vector<SyncKey> kSameRow{{0, 0.0f, Linear}, {4, 1.0f, Linear}, {8, 2.0f, Linear}, {8, 3.0f, Step}};

INSTANTIATE_TEST_SUITE_P(
    RepeatedRows, GetValue,
    ::testing::Values(
        ValueCase{"on_the_repeated_row", kSameRow, 8.0, 2.0},
        ValueCase{"inside_the_repeated_row", kSameRow, 8.5, 2.0},
        ValueCase{"before_it", kSameRow, 6.0, 1.5},
        // The jump is for interpolating types only: an unknown type on a repeated
        // row reads 0.0 like every other unknown-type segment, a step its value.
        ValueCase{"unknown_type_on_the_repeated_row", {{0, 0.0f, Linear}, {4, 1.0f, Linear}, {8, 4.0f, 7}, {8, 5.0f, Step}}, 8.5, 0.0},
        ValueCase{"negative_type_on_the_repeated_row", {{0, 0.0f, Linear}, {4, 1.0f, Linear}, {8, 4.0f, -1}, {8, 5.0f, Step}}, 8.0, 0.0},
        ValueCase{"step_on_the_repeated_row", {{0, 0.0f, Linear}, {4, 1.0f, Linear}, {8, 4.0f, Step}, {8, 5.0f, Step}}, 8.5, 4.0}),
    [](const auto& info) { return std::string(info.param.label); });

// Finite keys at opposite ends of the float range: their difference overflows a
// float, and a segment of keys out of order runs past its end key. Callers round
// to float, which must stay finite.
TEST(GetValueTest, FiniteKeysAtTheEndsOfTheFloatRangeStayFiniteAsFloats) {
    constexpr float kBig = std::numeric_limits<float>::max();
    for (const KeyType type : {Linear, Smooth, Ramp}) {
        SCOPED_TRACE(type);
        std::vector<SyncKey> ordered{{0, -kBig, type}, {2, kBig, Step}};
        const SyncTrack crossing{nullptr, ordered.data(), 2};
        for (double row : {0.0, 0.5, 1.0, 1.999999}) {
            const double value = getValue(&crossing, row);
            EXPECT_TRUE(std::isfinite(static_cast<float>(value))) << row << ": " << value;
            EXPECT_GE(value, -kBig);
            EXPECT_LE(value, kBig);
        }
        // Row 8.9 finds key 1 exactly; its next key lies a row before it, so
        // t = -0.9: linear and smooth run far past either key.
        std::vector<SyncKey> unordered{{0, 0.0f, Linear}, {8, kBig, type}, {7, -kBig, Step}};
        const SyncTrack backwards{nullptr, unordered.data(), 3};
        const double value = getValue(&backwards, 8.9);
        EXPECT_GE(value, -kBig);
        EXPECT_LE(value, kBig);
    }
    std::vector<SyncKey> linear{{0, -kBig, Linear}, {2, kBig, Step}};
    const SyncTrack halfway{nullptr, linear.data(), 2};
    EXPECT_EQ(getValue(&halfway, 1.0), 0.0);
}

TEST(GetValueTest, TrackWithoutKeysIsZero) {
    const SyncTrack empty{nullptr, nullptr, 0};
    for (double row : {-5.0, 0.0, 3.5, 1e9, kNaN}) EXPECT_EQ(getValue(&empty, row), 0.0) << row;
    EXPECT_EQ(getValue(nullptr, 1.0), 0.0);
}

// ---------------------------------------------------------------- loading with fopen

class LoadFromFiles : public ::testing::Test {
protected:
    TempDir dir;
    ScopedCurrentDir cd{dir.path()};
};

TEST_F(LoadFromFiles, ReadsKeysInFileOrderWithSignedTypes) {
    writeFile(dir / "sync_cam-3Apos.x.track",
              trackFile({{-4, -1.5f, 0}, {0, 2.0f, 1}, {8, 0.25f, 0xFF}, {9, 7.0f, 0x80}, {12, 3.0f, 3}}));
    SyncDevice* device = createDevice("sync");
    ASSERT_NE(device, nullptr);
    SyncTrack* track = getTrack(device, "cam:pos.x");
    ASSERT_NE(track, nullptr);
    EXPECT_STREQ(track->name, "cam:pos.x");
    ASSERT_EQ(track->count, 5);
    const SyncKey expected[] = {{-4, -1.5f, 0}, {0, 2.0f, 1}, {8, 0.25f, -1}, {9, 7.0f, -128}, {12, 3.0f, 3}};
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(track->keys[k].row, expected[k].row) << k;
        EXPECT_EQ(track->keys[k].value, expected[k].value) << k;
        EXPECT_EQ(track->keys[k].type, expected[k].type) << k;
    }
    EXPECT_EQ(getValue(track, 4.0), 2.0 + (0.25f - 2.0f) * 0.5);
    EXPECT_EQ(getValue(track, 8.5), 0.0);  // type 0xFF
    destroyDevice(device);
}

TEST_F(LoadFromFiles, MissingFileGivesEmptyTrack) {
    SyncDevice* device = createDevice("sync");
    ASSERT_NE(device, nullptr);
    SyncTrack* track = getTrack(device, "nothing.x");
    ASSERT_NE(track, nullptr);
    EXPECT_EQ(track->count, 0);
    EXPECT_EQ(getValue(track, 3.0), 0.0);
    EXPECT_EQ(device->numTracks, 1u);
    destroyDevice(device);
}

TEST_F(LoadFromFiles, DeviceBaseIsEscaped) {
    writeFile(dir / "my-20dev_v.track", trackFile({{0, 6.0f, Step}}));
    SyncDevice* device = createDevice("my dev");
    ASSERT_NE(device, nullptr);
    EXPECT_STREQ(device->base, "my-20dev");
    EXPECT_EQ(getValue(getTrack(device, "v"), 0.0), 6.0);
    destroyDevice(device);
}

// ---------------------------------------------------------------- malformed files

// In-memory files behind the device callbacks, counting what the loader does.
struct MemoryFs {
    std::map<std::string, std::string> files;
    std::vector<std::string> opened;
    int openHandles = 0;
};
MemoryFs* gFs = nullptr;

struct MemoryHandle {
    const std::string* bytes;
    std::size_t position;
};

void* memoryOpen(const char* path, const char* mode) {
    EXPECT_STREQ(mode, "rb");
    gFs->opened.emplace_back(path);
    auto it = gFs->files.find(path);
    if (it == gFs->files.end()) return nullptr;
    ++gFs->openHandles;
    return new MemoryHandle{&it->second, 0};
}

std::size_t memoryRead(void* destination, std::size_t size, std::size_t count, void* handle) {
    auto* file = static_cast<MemoryHandle*>(handle);
    const std::size_t available = file->bytes->size() - file->position;
    std::size_t bytes = size * count < available ? size * count : available;
    std::memcpy(destination, file->bytes->data() + file->position, bytes);
    file->position += bytes;
    return size == 0 ? 0 : bytes / size;
}

int memoryClose(void* handle) {
    --gFs->openHandles;
    delete static_cast<MemoryHandle*>(handle);
    return 0;
}

class Malformed : public ::testing::Test {
protected:
    void SetUp() override {
        gFs = &fs;
        device = createDevice("sync");
        ASSERT_NE(device, nullptr);
        device->io = SyncIo{memoryOpen, memoryRead, memoryClose};
    }
    void TearDown() override {
        destroyDevice(device);
        EXPECT_EQ(fs.openHandles, 0) << "a track file was left open";
        gFs = nullptr;
    }
    SyncTrack* load(const std::string& bytes) {
        fs.files["sync_t.x.track"] = bytes;
        return getTrack(device, "t.x");
    }

    MemoryFs fs;
    SyncDevice* device = nullptr;
};

struct MalformedCase {
    const char* label;
    std::string bytes;
    std::int32_t keptKeys;
};

class MalformedFile : public Malformed, public ::testing::WithParamInterface<MalformedCase> {};

TEST_P(MalformedFile, KeepsWholeKeysAndCloses) {
    const MalformedCase& c = GetParam();
    SyncTrack* track = load(c.bytes);
    ASSERT_NE(track, nullptr);
    ASSERT_EQ(track->count, c.keptKeys);
    EXPECT_EQ(fs.openHandles, 0);
    for (std::int32_t k = 0; k < track->count; ++k) {
        EXPECT_EQ(track->keys[k].row, 10 * k);
        EXPECT_EQ(track->keys[k].value, static_cast<float>(k + 1));
    }
    const double expectedAtEnd = c.keptKeys == 0 ? 0.0 : static_cast<double>(c.keptKeys);
    EXPECT_EQ(getValue(track, 1e6), expectedAtEnd);
}

const std::vector<FileKey> kTwoKeys{{0, 1.0f, Linear}, {10, 2.0f, Step}};
const std::vector<FileKey> kThreeKeys{{0, 1.0f, Linear}, {10, 2.0f, Linear}, {20, 3.0f, Step}};

INSTANTIATE_TEST_SUITE_P(
    Files, MalformedFile,
    ::testing::Values(
        MalformedCase{"empty", "", 0},
        MalformedCase{"count_cut_short", std::string("\x02\x00", 2), 0},
        MalformedCase{"zero_count", trackFileDeclaring(0, kTwoKeys), 0},
        MalformedCase{"negative_count", trackFileDeclaring(-1, kTwoKeys), 0},
        MalformedCase{"most_negative_count", trackFileDeclaring(std::numeric_limits<std::int32_t>::min(), kTwoKeys), 0},
        MalformedCase{"huge_count", trackFileDeclaring(0x7FFFFFFF, kTwoKeys), 2},
        MalformedCase{"count_larger_than_keys", trackFileDeclaring(5, kThreeKeys), 3},
        MalformedCase{"cut_inside_second_key", trackFile(kThreeKeys).substr(0, 4 + 9 + 5), 1},
        MalformedCase{"cut_before_type_byte", trackFile(kThreeKeys).substr(0, 4 + 9 * 3 - 1), 2},
        MalformedCase{"trailing_bytes_ignored", trackFileDeclaring(2, kThreeKeys) + "junk", 2},
        MalformedCase{"well_formed", trackFile(kThreeKeys), 3}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(Malformed, ManyKeysAcrossReadChunks) {
    std::vector<FileKey> keys;
    for (int k = 0; k < 1000; ++k) keys.push_back({10 * k, static_cast<float>(k + 1), Linear});
    std::string bytes = trackFileDeclaring(0x7FFFFFFF, keys);
    bytes.resize(bytes.size() - 4);  // the last key loses its tail
    SyncTrack* track = load(bytes);
    ASSERT_NE(track, nullptr);
    ASSERT_EQ(track->count, 999);
    for (int k = 0; k < 999; ++k) ASSERT_EQ(track->keys[k].row, 10 * k);
    EXPECT_EQ(getValue(track, 9985.0), 999.0);
    EXPECT_EQ(getValue(track, 5005.0), 501.5);
}

TEST_F(Malformed, HugeDeclaredCountAllocatesOnlyForKeysPresent) {
    const auto before = mallinfo2();
    SyncTrack* track = load(trackFileDeclaring(0x7FFFFFFF, kTwoKeys));
    const auto after = mallinfo2();
    ASSERT_NE(track, nullptr);
    EXPECT_EQ(track->count, 2);
    // Heap in use (arena and mapped blocks) grows by a few small blocks, not by
    // the 24 GiB that the declared count would ask for.
    const auto grown = static_cast<long long>(after.uordblks + after.hblkhd) -
                       static_cast<long long>(before.uordblks + before.hblkhd);
    EXPECT_LT(grown, 64 * 1024);
}

// ---------------------------------------------------------------- track set

TEST_F(Malformed, TracksAreFoundInCreationOrderAndLoadedOnce) {
    fs.files["sync_a.track"] = trackFile({{0, 1.0f, Step}});
    fs.files["sync_b.track"] = trackFile({{0, 2.0f, Step}});
    SyncTrack* a = getTrack(device, "a");
    SyncTrack* b = getTrack(device, "b");
    SyncTrack* upperA = getTrack(device, "A");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(upperA, nullptr);
    EXPECT_NE(a, b);
    EXPECT_NE(a, upperA);  // names compare case-sensitively

    fs.files["sync_a.track"] = trackFile({{0, 9.0f, Step}});
    EXPECT_EQ(getTrack(device, "a"), a);
    EXPECT_EQ(getTrack(device, "b"), b);
    EXPECT_EQ(getValue(a, 0.0), 1.0);  // not reloaded

    ASSERT_EQ(device->numTracks, 3u);
    EXPECT_STREQ(device->tracks[0]->name, "a");
    EXPECT_STREQ(device->tracks[1]->name, "b");
    EXPECT_STREQ(device->tracks[2]->name, "A");
    EXPECT_EQ(fs.opened, (std::vector<std::string>{"sync_a.track", "sync_b.track", "sync_A.track"}));
}

TEST(DeviceTest, DestroyingNullIsHarmless) {
    destroyDevice(nullptr);
    EXPECT_EQ(getTrack(nullptr, "x"), nullptr);
}

}  // namespace
