// ImageDecode: an image file held in memory, decoded to 8-bit RGBA within the
// bounds a texture can take and at a cost its bytes could hold. No GL: the logo
// texture, the checker and the fuzzers share it.
//
// Use:
//     DecodedImage image = decodeImage(bytes.data(), bytes.size());
//     if (!image.empty()) upload(image.width, image.height, image.pixels());
//     else explain(image.failure, image.reason);
//
// Ownership: the result owns its pixels (width * height * 4 bytes, rows top
// down) until it is destroyed; the input is only read during the call.
//
// Failure: nothing is reported and nothing throws; an empty result says why in
// `failure`. Bytes that are not a decodable image, an image wider or taller than
// kMaxTextureSide, a PNG whose chunks claim more bytes than the file holds (the
// decoder would reserve what they claim before finding out), and an image whose
// decoding would hold more than decodeBudget(size) bytes at once (a header
// claiming far more pixels than the file carries) all give an empty result. The
// decoder never holds more than that budget, whatever the format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

constexpr int kMaxTextureSide = 16384;

enum class ImageFailure {
    None,
    NotAnImage,    // empty, over 2 GiB, or a header the decoder does not know
    DamagedPng,    // a PNG chunk runs past the end of the file
    TooLarge,      // a side beyond kMaxTextureSide
    OverBudget,    // decoding would hold more than decodeBudget(size)
    DecodeFailed,  // a known header over data the decoder could not read
};

struct DecodedImage {
    // The decoded image's size; for a refused one, what its header claims (0
    // when there is no header to read).
    int width = 0;
    int height = 0;
    std::unique_ptr<std::uint8_t, void (*)(void*)> data{nullptr, nullptr};
    ImageFailure failure = ImageFailure::NotAnImage;
    std::string reason;  // the decoder's own words, for NotAnImage and DecodeFailed

    bool empty() const { return data == nullptr; }
    const std::uint8_t* pixels() const { return data.get(); }
};

DecodedImage decodeImage(const std::uint8_t* bytes, std::size_t size);

// The most the decoder may hold at once for a file of `size` bytes: a fixed
// allowance, ample for a launcher logo in any format at several times its
// shown size, plus a few times the file's own size for larger images.
std::size_t decodeBudget(std::size_t size);

// True unless the bytes start as a PNG whose chunk lengths run past the end of
// the bytes present. Anything that is not a PNG passes: it is not this check's
// to judge.
bool pngChunksFit(const std::uint8_t* bytes, std::size_t size);
