// Sync tracks as the authoring tools see them: keys in memory, the binary
// ".track" file the player loads, and the archive entry name a track lives under.
//
// Use:
//     zyr::Track track{"cam:pos.x", {{0, 0.0f, zyr::kLinear}, {64, 1.0f, zyr::kStep}}};
//     std::string bytes = zyr::encodeTrackFile(track.keys);
//     std::string entry = zyr::trackEntryName(track.name);     // "sync_cam-3Apos.x.track"
//     std::optional<std::string> name = zyr::trackNameFromEntry(entry);
//
// Entry names come from the player's own escaping (trackFilePath with the
// player's base name), so what the tools write is exactly what the player asks
// for.
//
// Ownership: plain values.
//
// Failure: nothing throws. decodeTrackFile returns nullopt with a reason for a
// file the player cannot hold whole (too short, negative count); a name the
// tools cannot compile is described by trackNameProblem.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zyr {

// The base name the player's track device is created with.
inline constexpr const char* kTrackBase = "sync";

// Interpolation of the segment that starts at a key, as stored in the file.
inline constexpr std::int8_t kStep = 0;
inline constexpr std::int8_t kLinear = 1;
inline constexpr std::int8_t kSmooth = 2;
inline constexpr std::int8_t kRamp = 3;

struct TrackKey {
    std::int32_t row;
    float value;
    std::int8_t type;
    friend bool operator==(const TrackKey&, const TrackKey&) = default;
};

struct Track {
    std::string name;
    std::vector<TrackKey> keys;
};

// "step", "linear", "smooth", "ramp" and back; nullopt for anything else.
std::optional<std::int8_t> interpolationFromName(std::string_view name);
std::optional<std::string_view> interpolationName(std::int8_t type);

// Little-endian int32 count, then per key int32 row, float32 value, int8 type.
std::string encodeTrackFile(const std::vector<TrackKey>& keys);

struct DecodedTrackFile {
    std::vector<TrackKey> keys;
    // Things the player tolerates but that no compiled file has: trailing bytes,
    // rows out of order, interpolation types the player evaluates as 0.0.
    std::vector<std::string> warnings;
};

std::optional<DecodedTrackFile> decodeTrackFile(std::span<const std::uint8_t> bytes, std::string& error);

// The archive entry the player opens for a track: trackFilePath("sync", name).
std::string trackEntryName(const std::string& name);

// The track whose entry this is, or nullopt when the player never opens this
// entry for any track (no "sync_" prefix or ".track" suffix, an escape the
// player would not write, a name cut short at 259 characters).
std::optional<std::string> trackNameFromEntry(std::string_view entry);

// Why a track of this name cannot be compiled, or nullopt when it can: empty,
// a NUL byte, an entry name the player would cut at 259 characters, an entry
// name that is no valid archive path ('//', '.' or '..' components), or a path
// component too long for a file name.
std::optional<std::string> trackNameProblem(const std::string& name);

}  // namespace zyr
