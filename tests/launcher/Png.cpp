#include "Png.h"

#include <stb/stb_image_write.h>
#include <zlib.h>

#include <stdexcept>

namespace {

void appendBytes(void* context, void* data, int size) {
    static_cast<std::string*>(context)->append(static_cast<const char*>(data), static_cast<std::size_t>(size));
}

void putBigEndian32(std::string& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((v >> shift) & 0xFF));
}

std::string chunk(const std::string& type, const std::string& data) {
    std::string out;
    putBigEndian32(out, static_cast<std::uint32_t>(data.size()));
    const std::string body = type + data;
    out += body;
    putBigEndian32(out, static_cast<std::uint32_t>(
                            crc32(0L, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
    return out;
}

} // namespace

std::string encodePng(int width, int height, int channels, const std::vector<std::uint8_t>& pixels) {
    if (pixels.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                             static_cast<std::size_t>(channels))
        throw std::invalid_argument("pixel count does not match the size");
    std::string png;
    if (!stbi_write_png_to_func(appendBytes, &png, width, height, channels, pixels.data(), width * channels))
        throw std::runtime_error("stbi_write_png_to_func failed");
    return png;
}

std::string blankBitmapPng(std::uint32_t width, std::uint32_t height) {
    std::string header;
    putBigEndian32(header, width);
    putBigEndian32(header, height);
    header += std::string("\x01\x00\x00\x00\x00", 5);  // 1 bit, grey, deflate, no filter set, no interlace

    // Each row: filter type 0, then the row's bits, all zero. Fed row by row so
    // even a huge image never exists in memory here.
    const std::string row(1 + (width + 7) / 8, '\0');
    z_stream z{};
    if (deflateInit(&z, Z_BEST_COMPRESSION) != Z_OK) throw std::runtime_error("deflateInit failed");
    std::string compressed;
    char buffer[1 << 16];
    for (std::uint32_t y = 0; y <= height; ++y) {
        const bool last = y == height;
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(row.data()));
        z.avail_in = last ? 0 : static_cast<uInt>(row.size());
        int rc = Z_OK;
        do {
            z.next_out = reinterpret_cast<Bytef*>(buffer);
            z.avail_out = sizeof buffer;
            rc = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
            compressed.append(buffer, sizeof buffer - z.avail_out);
        } while (z.avail_out == 0 || (last && rc != Z_STREAM_END));
    }
    deflateEnd(&z);

    return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + chunk("IDAT", compressed) +
           chunk("IEND", "");
}
