// PNG files for the launcher tests.
//
//     std::string rgba = encodePng(280, 128, 4, pixels);   // 8-bit, any channel count
//     std::string big = blankBitmapPng(20000, 20000);      // tiny file, huge image
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// An 8-bit PNG of width x height pixels of `channels` bytes each, rows tightly packed.
std::string encodePng(int width, int height, int channels, const std::vector<std::uint8_t>& pixels);

// A valid 1-bit grey PNG, all black: a few kilobytes even when it decodes to
// gigabytes.
std::string blankBitmapPng(std::uint32_t width, std::uint32_t height);
