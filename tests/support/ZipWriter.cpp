#include "ZipWriter.h"

#include "TempDir.h"

#include <cstdint>
#include <stdexcept>
#include <zlib.h>

namespace {

void put16(std::string& out, std::uint32_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
}

void put32(std::string& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

std::string deflateRaw(const std::string& in) {
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    std::string out(deflateBound(&z, static_cast<uLong>(in.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (rc != Z_STREAM_END) throw std::runtime_error("deflate failed");
    return out;
}

}  // namespace

void writeZip(const std::filesystem::path& path, const std::vector<ZipEntry>& entries) {
    std::string body;
    std::string central;
    for (const ZipEntry& e : entries) {
        const std::uint32_t crc = static_cast<std::uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(e.bytes.data()), static_cast<uInt>(e.bytes.size())));
        const std::string data = e.method == ZipMethod::Deflated ? deflateRaw(e.bytes) : e.bytes;
        const auto method = static_cast<std::uint32_t>(e.method);
        const auto offset = static_cast<std::uint32_t>(body.size());

        put32(body, 0x04034b50);
        put16(body, 20);  // version needed
        put16(body, 0);   // flags
        put16(body, method);
        put16(body, 0);   // time
        put16(body, 0x21);  // date: 1980-01-01
        put32(body, crc);
        put32(body, static_cast<std::uint32_t>(data.size()));
        put32(body, static_cast<std::uint32_t>(e.bytes.size()));
        put16(body, static_cast<std::uint32_t>(e.name.size()));
        put16(body, 0);
        body += e.name;
        body += data;

        put32(central, 0x02014b50);
        put16(central, 20);  // made by
        put16(central, 20);  // version needed
        put16(central, 0);
        put16(central, method);
        put16(central, 0);
        put16(central, 0x21);
        put32(central, crc);
        put32(central, static_cast<std::uint32_t>(data.size()));
        put32(central, static_cast<std::uint32_t>(e.bytes.size()));
        put16(central, static_cast<std::uint32_t>(e.name.size()));
        put16(central, 0);  // extra
        put16(central, 0);  // comment
        put16(central, 0);  // disk
        put16(central, 0);  // internal attributes
        put32(central, 0);  // external attributes
        put32(central, offset);
        central += e.name;
    }
    std::string end;
    put32(end, 0x06054b50);
    put16(end, 0);
    put16(end, 0);
    put16(end, static_cast<std::uint32_t>(entries.size()));
    put16(end, static_cast<std::uint32_t>(entries.size()));
    put32(end, static_cast<std::uint32_t>(central.size()));
    put32(end, static_cast<std::uint32_t>(body.size()));
    put16(end, 0);
    writeFile(path, body + central + end);
}
