// Builds ".track" file bytes for tests: int32 key count, then per key int32 row,
// float32 value and int8 type, all little-endian, with no padding.
#pragma once

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

struct FileKey {
    std::int32_t row;
    float value;
    std::uint8_t type;  // the raw byte as stored
};

inline void appendLittleEndian32(std::string& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>((v >> shift) & 0xFF));
}

// The count written is `declared`, whatever the number of keys that follow.
inline std::string trackFileDeclaring(std::int32_t declared, const std::vector<FileKey>& keys) {
    std::string out;
    appendLittleEndian32(out, static_cast<std::uint32_t>(declared));
    for (const FileKey& key : keys) {
        appendLittleEndian32(out, static_cast<std::uint32_t>(key.row));
        appendLittleEndian32(out, std::bit_cast<std::uint32_t>(key.value));
        out.push_back(static_cast<char>(key.type));
    }
    return out;
}

inline std::string trackFile(const std::vector<FileKey>& keys) {
    return trackFileDeclaring(static_cast<std::int32_t>(keys.size()), keys);
}
