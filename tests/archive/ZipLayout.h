// Offsets inside the zip files the test writer produces, so tests can damage
// exactly one structure (an end record, a central entry, a local header).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline std::uint32_t zipGet(const std::string& zip, std::size_t at, int width) {
    std::uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i) value = (value << 8) | static_cast<std::uint8_t>(zip.at(at + i));
    return value;
}

inline void zipPut(std::string& zip, std::size_t at, int width, std::uint32_t value) {
    for (int i = 0; i < width; ++i) zip.at(at + i) = static_cast<char>((value >> (8 * i)) & 0xFF);
}

struct ZipLayout {
    std::size_t endRecord = 0;          // the end record, no archive comment
    std::size_t centralDirectory = 0;   // first central entry
    std::vector<std::size_t> central;   // each central entry
    std::vector<std::size_t> local;     // each local header
};

// Only for archives without a comment, as the test writer makes them.
inline ZipLayout zipLayout(const std::string& zip) {
    ZipLayout layout;
    layout.endRecord = zip.size() - 22;
    layout.centralDirectory = zipGet(zip, layout.endRecord + 16, 4);
    const std::uint32_t entries = zipGet(zip, layout.endRecord + 10, 2);
    std::size_t at = layout.centralDirectory;
    for (std::uint32_t i = 0; i < entries; ++i) {
        layout.central.push_back(at);
        layout.local.push_back(zipGet(zip, at + 42, 4));
        at += 46 + zipGet(zip, at + 28, 2) + zipGet(zip, at + 30, 2) + zipGet(zip, at + 32, 2);
    }
    return layout;
}

// Rewrites the compression method of the named entry in both of its headers.
inline void setEntryMethod(std::string& zip, std::string_view name, std::uint16_t method) {
    const ZipLayout layout = zipLayout(zip);
    for (std::size_t i = 0; i < layout.central.size(); ++i) {
        const std::size_t c = layout.central[i];
        if (zip.compare(c + 46, zipGet(zip, c + 28, 2), name) != 0) continue;
        zipPut(zip, c + 10, 2, method);
        zipPut(zip, layout.local[i] + 8, 2, method);
    }
}

// Offset of the named entry's data (after its local header).
inline std::size_t entryDataOffset(const std::string& zip, std::string_view name) {
    const ZipLayout layout = zipLayout(zip);
    for (std::size_t i = 0; i < layout.central.size(); ++i) {
        const std::size_t c = layout.central[i];
        if (zip.compare(c + 46, zipGet(zip, c + 28, 2), name) != 0) continue;
        const std::size_t l = layout.local[i];
        return l + 30 + zipGet(zip, l + 26, 2) + zipGet(zip, l + 28, 2);
    }
    return std::string::npos;
}
