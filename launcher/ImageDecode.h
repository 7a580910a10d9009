// ImageDecode: an image file held in memory, decoded to 8-bit RGBA within the
// bounds a texture can take. No GL: the logo texture, the checker and the
// fuzzers share it.
//
// Use:
//     DecodedImage image = decodeImage(bytes.data(), bytes.size());
//     if (!image.empty()) upload(image.width, image.height, image.pixels());
//
// Ownership: the result owns its pixels (width * height * 4 bytes, rows top
// down) until it is destroyed; the input is only read during the call.
//
// Failure: bytes that are not a decodable image, an image wider or taller than
// kMaxTextureSide, and a PNG whose chunks claim more bytes than the file holds
// (the decoder would reserve what they claim before finding out) give an empty
// result; nothing is reported.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

constexpr int kMaxTextureSide = 16384;

struct DecodedImage {
    int width = 0;
    int height = 0;
    std::unique_ptr<std::uint8_t, void (*)(void*)> data{nullptr, nullptr};

    bool empty() const { return data == nullptr; }
    const std::uint8_t* pixels() const { return data.get(); }
};

DecodedImage decodeImage(const std::uint8_t* bytes, std::size_t size);

// True unless the bytes start as a PNG whose chunk lengths run past the end of
// the bytes present. Anything that is not a PNG passes: it is not this check's
// to judge.
bool pngChunksFit(const std::uint8_t* bytes, std::size_t size);
