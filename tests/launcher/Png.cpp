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

void putBigEndian16(std::string& out, std::uint16_t v) {
    out.push_back(static_cast<char>(v >> 8));
    out.push_back(static_cast<char>(v & 0xFF));
}

void putLittle(std::string& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
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

std::vector<ClaimingHeader> headersClaiming(std::uint16_t width, std::uint16_t height) {
    const std::string fourPixelBytes(4, '\x7F');
    std::vector<ClaimingHeader> headers;

    std::string bmp = "BM";  // file header, then a 40-byte info header: 24 bits, no compression
    putLittle(bmp, 58, 4);
    putLittle(bmp, 0, 4);
    putLittle(bmp, 54, 4);
    for (std::uint32_t v : {40u, std::uint32_t{width}, std::uint32_t{height}}) putLittle(bmp, v, 4);
    putLittle(bmp, 1, 2);
    putLittle(bmp, 24, 2);
    for (std::uint32_t v : {0u, 0u, 2835u, 2835u, 0u, 0u}) putLittle(bmp, v, 4);
    headers.push_back({"bmp", bmp + fourPixelBytes});

    std::string tga(12, '\0');  // uncompressed true colour, top-down
    tga[2] = 2;
    putLittle(tga, width, 2);
    putLittle(tga, height, 2);
    tga += std::string("\x18\x20", 2);
    headers.push_back({"tga", tga + fourPixelBytes});

    headers.push_back({"pnm", "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n" + fourPixelBytes});

    std::string psd = std::string("8BPS\0\x01", 6) + std::string(6, '\0');  // RGB, 8 bits, raw
    putBigEndian16(psd, 3);
    putBigEndian32(psd, height);
    putBigEndian32(psd, width);
    putBigEndian16(psd, 8);
    putBigEndian16(psd, 3);
    psd += std::string(12, '\0') + std::string(2, '\0');
    headers.push_back({"psd", psd + fourPixelBytes});

    std::string gif = "GIF89a";  // no palette, one frame as large as the screen, then the end
    putLittle(gif, width, 2);
    putLittle(gif, height, 2);
    gif += std::string(3, '\0') + ",";
    putLittle(gif, 0, 4);
    putLittle(gif, width, 2);
    putLittle(gif, height, 2);
    gif += std::string("\0\x02\x02\x4C\x01\0;", 7);
    headers.push_back({"gif", gif});

    headers.push_back({"hdr", "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y " + std::to_string(height) + " +X " +
                                  std::to_string(width) + "\n" + fourPixelBytes});

    std::string pic = std::string("\x53\x80\xF6\x34", 4) + std::string(84, '\0') + "PICT";  // one raw RGBA packet
    putBigEndian16(pic, width);
    putBigEndian16(pic, height);
    pic += std::string(8, '\0') + std::string("\0\x08\0\xF0", 4);
    headers.push_back({"pic", pic + fourPixelBytes});

    std::string jpeg = "\xFF\xD8\xFF\xC0";  // baseline frame of three components, then the end
    putBigEndian16(jpeg, 17);
    jpeg += '\x08';
    putBigEndian16(jpeg, height);
    putBigEndian16(jpeg, width);
    jpeg += std::string("\x03\x01\x11\0\x02\x11\0\x03\x11\0\xFF\xD9", 12);
    headers.push_back({"jpeg", jpeg});

    headers.push_back({"png", blankBitmapPng(width, height)});
    return headers;
}
