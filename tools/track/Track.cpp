#include "Track.h"

#include "SyncTrack.h"
#include "ZipArchiveWriter.h"

#include <array>
#include <bit>

namespace zyr {

namespace {

constexpr std::array<std::string_view, 4> kInterpolationNames = {"step", "linear", "smooth", "ramp"};
constexpr std::string_view kEntryPrefix = "sync_";
constexpr std::string_view kEntrySuffix = ".track";
constexpr std::size_t kMaxEntryName = kSyncNameBuffer - 1;
// Longest file name most Linux file systems take (NAME_MAX).
constexpr std::size_t kMaxFileName = 255;
constexpr std::size_t kFileKeySize = 9;

void put32(std::string& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>((v >> shift) & 0xFF));
}

std::uint32_t get32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// The bytes the player's escaping keeps as they are; all others become "-HH".
bool keptByte(unsigned char c) {
    return c == '.' || c == '/' || c == '_' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
           (c >= 'a' && c <= 'z');
}

int upperHexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<std::int8_t> interpolationFromName(std::string_view name) {
    for (std::size_t i = 0; i < kInterpolationNames.size(); ++i)
        if (kInterpolationNames[i] == name) return static_cast<std::int8_t>(i);
    return std::nullopt;
}

std::optional<std::string_view> interpolationName(std::int8_t type) {
    if (type < 0 || static_cast<std::size_t>(type) >= kInterpolationNames.size()) return std::nullopt;
    return kInterpolationNames[static_cast<std::size_t>(type)];
}

std::string encodeTrackFile(const std::vector<TrackKey>& keys) {
    std::string out;
    out.reserve(4 + kFileKeySize * keys.size());
    put32(out, static_cast<std::uint32_t>(keys.size()));
    for (const TrackKey& key : keys) {
        put32(out, static_cast<std::uint32_t>(key.row));
        put32(out, std::bit_cast<std::uint32_t>(key.value));
        out.push_back(static_cast<char>(key.type));
    }
    return out;
}

std::optional<DecodedTrackFile> decodeTrackFile(std::span<const std::uint8_t> bytes, std::string& error) {
    if (bytes.size() < 4) {
        error = "truncated: " + std::to_string(bytes.size()) +
                " bytes, too short for the 4-byte key count every track file starts with";
        return std::nullopt;
    }
    const auto count = static_cast<std::int32_t>(get32(bytes.data()));
    if (count < 0) {
        error = "declares a negative key count (" + std::to_string(count) + ")";
        return std::nullopt;
    }
    const std::uint64_t needed = 4 + kFileKeySize * static_cast<std::uint64_t>(count);
    if (bytes.size() < needed) {
        error = "truncated: declares " + std::to_string(count) + " keys (" + std::to_string(needed) +
                " bytes) but holds " + std::to_string(bytes.size()) + " bytes";
        return std::nullopt;
    }

    DecodedTrackFile decoded;
    decoded.keys.reserve(static_cast<std::size_t>(count));
    for (std::int32_t k = 0; k < count; ++k) {
        const std::uint8_t* at = bytes.data() + 4 + kFileKeySize * static_cast<std::size_t>(k);
        const TrackKey key{static_cast<std::int32_t>(get32(at)), std::bit_cast<float>(get32(at + 4)),
                           static_cast<std::int8_t>(at[8])};
        if (!decoded.keys.empty() && key.row <= decoded.keys.back().row)
            decoded.warnings.push_back("key " + std::to_string(k) + ": row " + std::to_string(key.row) +
                                       " does not follow row " + std::to_string(decoded.keys.back().row) +
                                       "; the player's search expects strictly ascending rows");
        if (!interpolationName(key.type))
            decoded.warnings.push_back("key " + std::to_string(k) + ": interpolation type " +
                                       std::to_string(key.type) + " is none the player knows; its segment evaluates to 0.0");
        decoded.keys.push_back(key);
    }
    if (bytes.size() > needed)
        decoded.warnings.push_back(std::to_string(bytes.size() - needed) +
                                   " bytes after the last key, which the player never reads");
    return decoded;
}

std::string trackEntryName(const std::string& name) { return trackFilePath(kTrackBase, name.c_str()); }

std::optional<std::string> trackNameFromEntry(std::string_view entry) {
    if (entry.size() < kEntryPrefix.size() + kEntrySuffix.size() || !entry.starts_with(kEntryPrefix) ||
        !entry.ends_with(kEntrySuffix))
        return std::nullopt;
    const std::string_view escaped =
        entry.substr(kEntryPrefix.size(), entry.size() - kEntryPrefix.size() - kEntrySuffix.size());
    std::string name;
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        const auto c = static_cast<unsigned char>(escaped[i]);
        if (keptByte(c)) {
            name.push_back(static_cast<char>(c));
            continue;
        }
        if (c != '-' || i + 2 >= escaped.size()) return std::nullopt;
        const int high = upperHexDigit(escaped[i + 1]);
        const int low = upperHexDigit(escaped[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        const auto byte = static_cast<unsigned char>(high * 16 + low);
        // The player writes kept bytes as they are; an escaped one names no track.
        if (byte == 0 || keptByte(byte)) return std::nullopt;
        name.push_back(static_cast<char>(byte));
        i += 2;
    }
    // A name whose entry would not fit is cut by the player, so it never asks
    // for this (uncut) entry.
    if (trackEntryName(name) != entry) return std::nullopt;
    return name;
}

std::optional<std::string> trackNameProblem(const std::string& name) {
    if (name.empty()) return "an empty track name";
    if (name.find('\0') != std::string::npos) return "a NUL byte in the track name";
    std::size_t escapedLength = 0;
    for (char c : name) escapedLength += keptByte(static_cast<unsigned char>(c)) ? 1 : 3;
    const std::size_t entryLength = kEntryPrefix.size() + escapedLength + kEntrySuffix.size();
    if (entryLength > kMaxEntryName)
        return "its entry name would be " + std::to_string(entryLength) +
               " characters, and the player cuts entry names at " + std::to_string(kMaxEntryName);
    const std::string entry = trackEntryName(name);
    if (auto problem = entryNameProblem(entry))
        return "its entry name \"" + entry + "\" is no archive path: " + *problem;
    std::size_t start = 0;
    while (start < entry.size()) {
        const std::size_t end = std::min(entry.find('/', start), entry.size());
        if (end - start > kMaxFileName)
            return "a part of its entry name is " + std::to_string(end - start) +
                   " characters long, more than a file name may have (" + std::to_string(kMaxFileName) + ")";
        start = end + 1;
    }
    return std::nullopt;
}

}  // namespace zyr
