#include "ImageDecode.h"

#include <stb/stb_image.h>

#include <climits>
#include <cstring>

namespace {

constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// Length, type and CRC around each chunk's data.
constexpr std::size_t kChunkOverhead = 12;

std::uint32_t bigEndian32(const std::uint8_t* at) {
    return (std::uint32_t{at[0]} << 24) | (std::uint32_t{at[1]} << 16) | (std::uint32_t{at[2]} << 8) | std::uint32_t{at[3]};
}

}  // namespace

bool pngChunksFit(const std::uint8_t* bytes, std::size_t size) {
    if (size < sizeof kPngSignature || std::memcmp(bytes, kPngSignature, sizeof kPngSignature) != 0) return true;
    // stb_image grows its compressed-data buffer to each IDAT's declared length
    // before it reads the data, so a 1x1 image can ask for gigabytes. Every
    // chunk up to the end marker must lie within the file.
    std::size_t at = sizeof kPngSignature;
    while (at < size) {
        if (size - at < kChunkOverhead) return false;
        const std::uint64_t length = bigEndian32(bytes + at);
        if (length > size - at - kChunkOverhead) return false;
        if (std::memcmp(bytes + at + 4, "IEND", 4) == 0) return true;
        at += kChunkOverhead + static_cast<std::size_t>(length);
    }
    return true;
}

DecodedImage decodeImage(const std::uint8_t* bytes, std::size_t size) {
    DecodedImage image;
    // stb_image takes the length as an int.
    if (!bytes || size == 0 || size > static_cast<std::size_t>(INT_MAX)) return image;
    if (!pngChunksFit(bytes, size)) return image;
    const int length = static_cast<int>(size);

    // The header alone can ask for an enormous allocation; read the size first and
    // refuse what no GL 4.6 driver is bound to accept (16384 is the guaranteed
    // minimum of GL_MAX_TEXTURE_SIZE, and the context has no error checking).
    int width = 0, height = 0, channelsInFile = 0;
    if (!stbi_info_from_memory(bytes, length, &width, &height, &channelsInFile)) return image;
    if (width <= 0 || height <= 0 || width > kMaxTextureSide || height > kMaxTextureSide) return image;

    std::unique_ptr<std::uint8_t, void (*)(void*)> pixels{
        stbi_load_from_memory(bytes, length, &width, &height, &channelsInFile, 4), stbi_image_free};
    if (!pixels) return image;
    // The decoder has the last word on the size; hold it to the same bound.
    if (width <= 0 || height <= 0 || width > kMaxTextureSide || height > kMaxTextureSide) return image;
    image.width = width;
    image.height = height;
    image.data = std::move(pixels);
    return image;
}
