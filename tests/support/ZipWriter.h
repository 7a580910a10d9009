// Writes small zip archives for tests: each entry stored or deflated, names as
// given (byte for byte). Lets a test lay out exactly the archive it needs.
//
//     writeZip(dir / "zyr.dat", {{"fs.glsl", source}, {"big.bin", bytes, ZipMethod::Stored}});
#pragma once

#include <filesystem>
#include <string>
#include <vector>

enum class ZipMethod { Stored = 0, Deflated = 8 };

struct ZipEntry {
    std::string name;
    std::string bytes;
    ZipMethod method = ZipMethod::Deflated;
};

void writeZip(const std::filesystem::path& path, const std::vector<ZipEntry>& entries);
