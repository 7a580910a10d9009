// The track loader over a file of any bytes, read through the device's
// callbacks from memory, then getValue at the keys' rows, between them, at
// rows the input picks and at the extremes of the clock.
//
// Input (FuzzedDataProvider): a track name of up to 255 bytes, up to four rows
// as doubles, then the track file.
#include "FuzzSupport.h"
#include "SyncTrack.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

struct MemoryFile {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t at = 0;
    bool open = false;
    std::string expectedPath;
    std::string openedPath;
} gFile;

void* memoryOpen(const char* path, const char* /*mode*/) {
    fuzzCheck(!gFile.open, "a track file opened twice at once");
    gFile.open = true;
    gFile.at = 0;
    gFile.openedPath = path;
    return &gFile;
}

std::size_t memoryRead(void* destination, std::size_t size, std::size_t count, void* handle) {
    fuzzCheck(handle == &gFile && gFile.open, "read through a handle that is not open");
    if (size == 0) return 0;
    const std::size_t items = std::min(count, (gFile.size - gFile.at) / size);
    if (items == 0) return 0;
    std::memcpy(destination, gFile.data + gFile.at, items * size);
    gFile.at += items * size;
    return items;
}

int memoryClose(void* handle) {
    fuzzCheck(handle == &gFile && gFile.open, "close of a handle that is not open");
    gFile.open = false;
    return 0;
}

bool sortedWithFiniteValues(const SyncTrack* track) {
    for (std::int32_t i = 0; i < track->count; ++i) {
        if (!std::isfinite(track->keys[i].value)) return false;
        if (i > 0 && track->keys[i].row <= track->keys[i - 1].row) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string name = input.ConsumeBytesAsString(input.ConsumeIntegral<std::uint8_t>());
    std::vector<double> rows;
    for (int i = 0; i < 4 && input.remaining_bytes() > 8; ++i) rows.push_back(input.ConsumeFloatingPoint<double>());
    const std::vector<std::uint8_t> file = input.ConsumeRemainingBytes<std::uint8_t>();

    gFile = MemoryFile{};
    gFile.data = file.data();
    gFile.size = file.size();

    SyncDevice* device = createDevice("sync");
    if (!device) return 0;
    device->io = SyncIo{memoryOpen, memoryRead, memoryClose};
    gFile.expectedPath = trackFilePath(device->base, name.c_str());
    fuzzCheck(gFile.expectedPath.size() < kSyncNameBuffer, "track path longer than its buffer");

    SyncTrack* track = getTrack(device, name.c_str());
    fuzzCheck(track != nullptr, "no track");
    fuzzCheck(!gFile.open, "track file left open");
    fuzzCheck(gFile.openedPath == gFile.expectedPath, "the loader opened another path");
    fuzzCheck(getTrack(device, name.c_str()) == track, "a second lookup loads again");

    // Exactly the keys read whole, up to the declared count.
    std::int64_t declared = 0;
    if (file.size() >= 4) {
        std::int32_t count = 0;
        std::memcpy(&count, file.data(), 4);  // little-endian host
        declared = count;
    }
    const std::int64_t whole = file.size() >= 4 ? static_cast<std::int64_t>((file.size() - 4) / 9) : 0;
    fuzzCheck(track->count == std::max<std::int64_t>(0, std::min(declared, whole)), "wrong number of keys kept");

    constexpr double kInf = std::numeric_limits<double>::infinity();
    const double extremes[] = {std::nan(""), -std::nan(""), kInf, -kInf, 2147483648.0, -2147483648.0,
                               2147483647.0, -2147483649.0, 2147483647.5, -2147483648.5, 1e300, -1e300,
                               std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest(),
                               std::numeric_limits<double>::denorm_min(), 0.0, -0.0, 0.5};
    for (double row : extremes) rows.push_back(row);
    for (std::int32_t i = 0; i < track->count && i < 64; ++i) {
        const double r = track->keys[i].row;
        rows.insert(rows.end(), {r, r - 0.5, r + 0.25, r + 0.999999, std::nextafter(r, -kInf)});
    }

    const bool ordered = sortedWithFiniteValues(track);
    float lowest = 0.0f;
    float highest = 0.0f;
    if (track->count > 0) {
        lowest = highest = track->keys[0].value;
        for (std::int32_t i = 0; i < track->count; ++i) {
            lowest = std::min(lowest, track->keys[i].value);
            highest = std::max(highest, track->keys[i].value);
        }
    }
    for (double row : rows) {
        const double value = getValue(track, row);
        if (track->count == 0) fuzzCheck(value == 0.0, "a track without keys is not 0.0");
        if (track->count > 0 && std::isnan(row)) {
            const float first = track->keys[0].value;
            fuzzCheck(value == static_cast<double>(first) || (std::isnan(value) && std::isnan(first)),
                      "a NaN row does not read the first key");
        }
        // Between ordered keys with finite values the curve stays within them
        // (0.0 for a segment of an unknown type).
        if (ordered && track->count > 0 && value != 0.0) {
            const double slack = 1e-6 * (static_cast<double>(highest) - lowest) + 1e-30;
            fuzzCheck(std::isfinite(value), "a finite track gives a non-finite value");
            fuzzCheck(value >= lowest - slack && value <= highest + slack, "the curve leaves its keys' range");
        }
    }
    destroyDevice(device);
    return 0;
}
