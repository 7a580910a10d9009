// Sync track layer: named key-frame tracks loaded from ".track" files.
//
// Plain records and free functions over heap blocks (malloc/realloc/strdup/free),
// so a track file maps straight onto them and nothing here throws.
//
// Use:
//     SyncDevice* device = createDevice("sync");       // callbacks: fopen/fread/fclose
//     device->io = SyncIo{archiveOpen, archiveRead, archiveClose};
//     SyncTrack* track = getTrack(device, "cam:pos.x"); // reads sync_cam-3Apos.x.track once
//     double v = getValue(track, row);
//     destroyDevice(device);                           // frees every track
//
// Ownership: the device owns its base name, its track array and every track in
// it (name and keys). Tracks live until destroyDevice; pointers to them stay
// valid while the device lives.
//
// Failure: a missing file gives an empty track (value 0.0 everywhere). A file
// that is short, declares a negative or oversized key count, or is cut inside a
// key keeps exactly the keys read whole. createDevice and getTrack return null
// only when memory runs out. encodeTrackName and trackFilePath return
// process-wide buffers valid until the next call of the same function: one
// thread, one device at a time.
#pragma once

#include <cstddef>
#include <cstdint>

enum KeyType : std::int32_t { Step = 0, Linear = 1, Smooth = 2, Ramp = 3 };

struct SyncKey {
    std::int32_t row;
    float value;
    std::int32_t type;  // a KeyType, or any other value as read from the file
};

struct SyncTrack {
    char* name;
    SyncKey* keys;
    std::int32_t count;
};

// File access of a device; the shape of fopen/fread/fclose.
struct SyncIo {
    void* (*open)(const char* path, const char* mode);
    std::size_t (*read)(void* destination, std::size_t size, std::size_t count, void* handle);
    int (*close)(void* handle);
};

struct SyncDevice {
    char* base;
    SyncTrack** tracks;
    std::size_t numTracks;
    SyncIo io;
};

// Size of the process-wide result buffers; results hold at most 259 characters.
constexpr std::size_t kSyncNameBuffer = 260;

const char* encodeTrackName(const char* name);
const char* trackFilePath(const char* base, const char* name);

SyncDevice* createDevice(const char* base);
void destroyDevice(SyncDevice* device);
SyncTrack* getTrack(SyncDevice* device, const char* name);
double getValue(const SyncTrack* track, double row);

// Authoring tools (the player never does): track's keys replaced by a copy of
// count keys. A track that keeps its count keeps its block, so moving a key
// allocates nothing. False, the track as it was, when memory runs out.
bool setTrackKeys(SyncTrack* track, const SyncKey* keys, std::int32_t count);
