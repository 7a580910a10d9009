#include "SyncTrack.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

char gEncodedName[kSyncNameBuffer];
char gTrackPath[kSyncNameBuffer];

constexpr std::size_t kMaxResult = kSyncNameBuffer - 1;

// fopen/fread/fclose take FILE*; the device stores opaque handles, so the
// defaults go through adaptors of exactly the callback shape instead of casts
// between function pointer types.
void* stdOpen(const char* path, const char* mode) { return std::fopen(path, mode); }

std::size_t stdRead(void* destination, std::size_t size, std::size_t count, void* handle) {
    return std::fread(destination, size, count, static_cast<std::FILE*>(handle));
}

int stdClose(void* handle) { return std::fclose(static_cast<std::FILE*>(handle)); }

bool keptAsIs(unsigned char c) {
    // Only ASCII letters and digits are kept, whatever locale the process runs in.
    return c == '.' || c == '/' || c == '_' || (c < 0x80 && std::isalnum(c));
}

// Appends as much of text as fits in the path buffer after its current contents.
void appendCut(const char* text) {
    std::size_t length = std::strlen(gTrackPath);
    while (length < kMaxResult && *text != '\0') gTrackPath[length++] = *text++;
    gTrackPath[length] = '\0';
}

std::uint32_t littleEndian32(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

constexpr std::size_t kFileKeySize = 9;  // int32 row, float32 value, int8 type
// Keys are read this many at a time; the key array grows by what each chunk
// actually delivered, so a declared count never drives an allocation.
constexpr std::size_t kKeysPerChunk = 256;

void loadTrack(const SyncDevice* device, SyncTrack* track) {
    void* file = device->io.open(trackFilePath(device->base, track->name), "rb");
    if (file == nullptr) return;

    unsigned char header[4];
    std::int32_t declared = 0;
    if (device->io.read(header, sizeof header, 1, file) == 1)
        declared = static_cast<std::int32_t>(littleEndian32(header));

    unsigned char chunk[kKeysPerChunk * kFileKeySize];
    std::size_t remaining = declared > 0 ? static_cast<std::size_t>(declared) : 0;
    while (remaining > 0) {
        const std::size_t wanted = remaining < kKeysPerChunk ? remaining : kKeysPerChunk;
        std::size_t delivered = device->io.read(chunk, kFileKeySize, wanted, file);
        if (delivered > wanted) delivered = wanted;  // never trust a callback past its request
        if (delivered == 0) break;

        const std::size_t have = static_cast<std::size_t>(track->count);
        void* grown = std::realloc(track->keys, (have + delivered) * sizeof(SyncKey));
        if (grown == nullptr) break;  // keep the keys already held
        track->keys = static_cast<SyncKey*>(grown);

        for (std::size_t k = 0; k < delivered; ++k) {
            const unsigned char* bytes = chunk + k * kFileKeySize;
            SyncKey& key = track->keys[have + k];
            key.row = static_cast<std::int32_t>(littleEndian32(bytes));
            key.value = std::bit_cast<float>(littleEndian32(bytes + 4));
            key.type = static_cast<std::int32_t>(static_cast<signed char>(bytes[8]));
        }
        track->count = static_cast<std::int32_t>(have + delivered);
        remaining -= delivered;
        if (delivered < wanted) break;  // end of file: the rest was never there
    }
    device->io.close(file);
}

}  // namespace

const char* encodeTrackName(const char* name) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::size_t pos = 0;
    for (const char* p = name ? name : ""; *p != '\0'; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (keptAsIs(c)) {
            if (pos >= kMaxResult) break;
            gEncodedName[pos++] = static_cast<char>(c);
        } else {
            // An escape is written whole or not at all, and nothing after it follows.
            if (pos + 3 > kMaxResult) break;
            gEncodedName[pos++] = '-';
            gEncodedName[pos++] = kHex[c >> 4];
            gEncodedName[pos++] = kHex[c & 0x0F];
        }
    }
    gEncodedName[pos] = '\0';
    return gEncodedName;
}

const char* trackFilePath(const char* base, const char* name) {
    gTrackPath[0] = '\0';
    appendCut(base ? base : "");
    appendCut("_");
    appendCut(encodeTrackName(name));
    appendCut(".track");
    return gTrackPath;
}

SyncDevice* createDevice(const char* base) {
    auto* device = static_cast<SyncDevice*>(std::malloc(sizeof(SyncDevice)));
    if (device == nullptr) return nullptr;
    device->base = strdup(encodeTrackName(base));
    if (device->base == nullptr) {
        std::free(device);
        return nullptr;
    }
    device->tracks = nullptr;
    device->numTracks = 0;
    device->io = SyncIo{stdOpen, stdRead, stdClose};
    return device;
}

void destroyDevice(SyncDevice* device) {
    if (device == nullptr) return;
    for (std::size_t i = 0; i < device->numTracks; ++i) {
        SyncTrack* track = device->tracks[i];
        std::free(track->name);
        std::free(track->keys);
        std::free(track);
    }
    std::free(device->tracks);
    std::free(device->base);
    std::free(device);
}

SyncTrack* getTrack(SyncDevice* device, const char* name) {
    if (device == nullptr || name == nullptr) return nullptr;
    for (std::size_t i = 0; i < device->numTracks; ++i)
        if (std::strcmp(device->tracks[i]->name, name) == 0) return device->tracks[i];

    auto* track = static_cast<SyncTrack*>(std::malloc(sizeof(SyncTrack)));
    if (track == nullptr) return nullptr;
    track->name = strdup(name);
    track->keys = nullptr;
    track->count = 0;
    if (track->name == nullptr) {
        std::free(track);
        return nullptr;
    }
    void* grown = std::realloc(device->tracks, (device->numTracks + 1) * sizeof(SyncTrack*));
    if (grown == nullptr) {
        std::free(track->name);
        std::free(track);
        return nullptr;
    }
    device->tracks = static_cast<SyncTrack**>(grown);
    device->tracks[device->numTracks++] = track;

    loadTrack(device, track);
    return track;
}

bool setTrackKeys(SyncTrack* track, const SyncKey* keys, std::int32_t count) {
    if (track == nullptr || count < 0 || (count > 0 && keys == nullptr)) return false;
    if (count != track->count) {
        if (count == 0) {
            std::free(track->keys);
            track->keys = nullptr;
            track->count = 0;
            return true;
        }
        void* grown = std::realloc(track->keys, static_cast<std::size_t>(count) * sizeof(SyncKey));
        if (grown == nullptr) return false;
        track->keys = static_cast<SyncKey*>(grown);
        track->count = count;
    }
    if (count > 0) std::memmove(track->keys, keys, static_cast<std::size_t>(count) * sizeof(SyncKey));
    return true;
}

double getValue(const SyncTrack* track, double row) {
    if (track == nullptr || track->count <= 0 || track->keys == nullptr) return 0.0;
    const std::int32_t n = track->count;
    const SyncKey* keys = track->keys;

    // Rows outside the int range lie before or after every key; deciding that
    // here keeps the floor's conversion to int defined. A NaN row has no place
    // on the clock at all and reads as the start of the track.
    const double floored = std::floor(row);
    if (std::isnan(floored) || floored < static_cast<double>(std::numeric_limits<std::int32_t>::min()))
        return keys[0].value;
    if (floored > static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return keys[n - 1].value;
    const auto irow = static_cast<std::int32_t>(floored);

    std::int32_t lo = 0;
    std::int32_t hi = n;
    std::int32_t index = -1;
    bool found = false;
    while (lo < hi && !found) {
        const std::int32_t mid = lo + (hi - lo) / 2;
        if (keys[mid].row < irow) {
            lo = mid + 1;
        } else if (keys[mid].row > irow) {
            hi = mid;
        } else {
            index = mid;
            found = true;
        }
    }
    if (!found) index = lo - 1;  // the last key before irow, or -1

    if (index < 0) return keys[0].value;
    if (index > n - 2) return keys[n - 1].value;

    const SyncKey& k0 = keys[index];
    const SyncKey& k1 = keys[index + 1];
    // Rows span the whole int range, so their difference is taken in 64 bits.
    const std::int64_t span = static_cast<std::int64_t>(k1.row) - static_cast<std::int64_t>(k0.row);
    switch (k0.type) {
    case Step:
        return k0.value;
    case Linear:
    case Smooth:
    case Ramp:
        break;
    default:
        return 0.0;
    }
    // Two keys on one row (files are not checked for order) leave no segment to
    // interpolate; the value jumps there instead of dividing by zero.
    if (span == 0) return k0.value;
    const double t = (row - k0.row) / static_cast<double>(span);
    // Widened before subtracting: two finite floats of opposite sign near the
    // ends of the float range differ by more than a float holds.
    const double from = k0.value;
    const double d = static_cast<double>(k1.value) - from;

    double s = 0.0;
    switch (k0.type) {
    case Linear:
        s = t;
        break;
    case Smooth:
        s = (3.0 - (t + t)) * (t * t);
        break;
    case Ramp:
        s = std::pow(t, 2.0);
        break;
    default:
        return 0.0;
    }
    // Callers round the value to float. Between ordered keys it lies between
    // them; keys out of order can make a segment run past its end key (t is
    // then in (-1, 0)), so finite keys are held to the float range here. An
    // infinite key (or NaN) reads as it did.
    const double value = from + d * s;
    constexpr double kFloatMax = std::numeric_limits<float>::max();
    return std::isinf(value) ? value : std::clamp(value, -kFloatMax, kFloatMax);
}
