#include "ZipArchiveWriter.h"

#include <zlib.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace zyr {

namespace {

constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint16_t kVersionNeeded = 20;
// Made by Unix (3), so extractors honour the permission bits below.
constexpr std::uint16_t kVersionMadeBy = (3 << 8) | 20;
constexpr std::uint32_t kRegularFileAttributes = 0100644u << 16;
constexpr std::uint16_t kUtf8NameFlag = 1u << 11;
// A fixed time stamp (2023-01-01 00:00) keeps archives of the same files
// byte-identical from one build to the next.
constexpr std::uint16_t kDosTime = 0;
constexpr std::uint16_t kDosDate = ((2023 - 1980) << 9) | (1 << 5) | 1;
constexpr std::size_t kChunk = 64 * 1024;

void put16(std::string& out, std::uint32_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
}

void put32(std::string& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

bool isAscii(std::string_view name) {
    for (char c : name)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

// Only names that really are UTF-8 get the UTF-8 flag; anything else is left
// for the reader to take as raw bytes, which is all the player does anyway.
bool isUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t extra = 0;
        std::uint32_t code = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            code = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            code = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            code = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size()) return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3F);
        }
        static constexpr std::uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
        if (code < kSmallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += extra + 1;
    }
    return true;
}

std::string localHeader(std::string_view name, const ZipEntryInfo& info) {
    std::string out;
    put32(out, kLocalSignature);
    put16(out, kVersionNeeded);
    put16(out, isAscii(name) || !isUtf8(name) ? 0 : kUtf8NameFlag);
    put16(out, static_cast<std::uint16_t>(info.method));
    put16(out, kDosTime);
    put16(out, kDosDate);
    put32(out, info.crc);
    put32(out, info.compressedSize);
    put32(out, info.size);
    put16(out, static_cast<std::uint32_t>(name.size()));
    put16(out, 0);  // no extra field
    out.append(name);
    return out;
}

std::string quoted(std::string_view name) {
    std::string out;
    out.reserve(name.size() + 2);
    out.push_back('"');
    out.append(name);
    out.push_back('"');
    return out;
}

}  // namespace

std::optional<std::string> entryNameProblem(std::string_view name) {
    if (name.empty()) return "an empty entry name";
    if (name.size() > 0xFFFF) return "an entry name longer than 65535 bytes";
    if (name.find('\0') != std::string_view::npos) return "a NUL byte in the entry name";
    if (name.find('\\') != std::string_view::npos)
        return "a backslash in the entry name (entry names separate folders with '/')";
    if (name.front() == '/') return "an absolute entry name";
    if (name.back() == '/') return "an entry name ending in '/' (a folder, not a file)";
    std::size_t start = 0;
    while (start <= name.size()) {
        const std::size_t end = std::min(name.find('/', start), name.size());
        const std::string_view part = name.substr(start, end - start);
        if (part.empty()) return "an empty folder name ('//') in the entry name";
        if (part == "." || part == "..") return "a '" + std::string(part) + "' component in the entry name";
        start = end + 1;
    }
    return std::nullopt;
}

void ZipArchiveWriter::FileCloser::operator()(std::FILE* file) const { std::fclose(file); }

// Where an entry's bytes come from; read twice when deflating did not pay off.
class ZipArchiveWriter::Source {
public:
    explicit Source(std::string_view bytes) : bytes_(bytes) {}
    explicit Source(const std::filesystem::path& path) : path_(path), file_(std::fopen(path.c_str(), "rb")) {
        if (!file_) throw ZipError(path.string() + ": cannot read: " + std::strerror(errno));
    }

    void rewind() {
        offset_ = 0;
        if (file_ && std::fseek(file_.get(), 0, SEEK_SET) != 0)
            throw ZipError(path_.string() + ": cannot read: " + std::strerror(errno));
    }

    std::size_t read(unsigned char* destination, std::size_t size) {
        if (!file_) {
            const std::size_t n = std::min(size, bytes_.size() - offset_);
            std::memcpy(destination, bytes_.data() + offset_, n);
            offset_ += n;
            return n;
        }
        const std::size_t n = std::fread(destination, 1, size, file_.get());
        if (n < size && std::ferror(file_.get()))
            throw ZipError(path_.string() + ": cannot read: " + std::strerror(errno));
        return n;
    }

private:
    std::string_view bytes_;
    std::size_t offset_ = 0;
    std::filesystem::path path_;
    std::unique_ptr<std::FILE, FileCloser> file_;
};

ZipArchiveWriter::ZipArchiveWriter(const std::filesystem::path& path)
    : path_(path), file_(std::fopen(path.c_str(), "w+b")) {
    if (!file_) throw ZipError(path.string() + ": cannot create: " + std::strerror(errno));
}

ZipArchiveWriter::~ZipArchiveWriter() = default;

std::uint64_t ZipArchiveWriter::position() {
    const off_t at = ftello(file_.get());
    if (at < 0) throw ZipError(path_.string() + ": cannot tell position: " + std::strerror(errno));
    return static_cast<std::uint64_t>(at);
}

void ZipArchiveWriter::seek(std::uint64_t offset) {
    if (fseeko(file_.get(), static_cast<off_t>(offset), SEEK_SET) != 0)
        throw ZipError(path_.string() + ": cannot seek: " + std::strerror(errno));
}

void ZipArchiveWriter::write(const void* bytes, std::size_t size) {
    if (size != 0 && std::fwrite(bytes, 1, size, file_.get()) != size)
        throw ZipError(path_.string() + ": cannot write: " + std::strerror(errno));
}

void ZipArchiveWriter::addFile(std::string_view name, const std::filesystem::path& source) {
    if (finished_) throw ZipError("archive already finished");
    Source input(source);
    addEntry(name, input);
}

void ZipArchiveWriter::addBytes(std::string_view name, std::string_view bytes) {
    if (finished_) throw ZipError("archive already finished");
    Source input(bytes);
    addEntry(name, input);
}

void ZipArchiveWriter::addEntry(std::string_view name, Source& source) {
    if (auto problem = entryNameProblem(name)) throw ZipError(quoted(name) + ": " + *problem);
    if (names_.contains(std::string(name))) throw ZipError(quoted(name) + ": entry already in the archive");
    if (entries_.size() >= kZipMaxEntries)
        throw ZipError(quoted(name) + ": more than 65535 entries do not fit a zip archive");

    const std::uint64_t headerOffset = position();
    if (headerOffset > 0xFFFFFFFFull)
        throw ZipError(quoted(name) + ": the archive outgrows 4 GiB, the zip32 limit");

    ZipEntryInfo info{std::string(name), ZipMethod::Deflated, 0, 0, 0};
    const std::string placeholder = localHeader(name, info);
    write(placeholder.data(), placeholder.size());
    const std::uint64_t dataStart = position();

    z_stream z{};
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        throw ZipError("zlib: deflateInit2 failed");
    // deflateEnd on every way out, exceptions included.
    struct DeflateEnd {
        z_stream* z;
        ~DeflateEnd() { deflateEnd(z); }
    } endDeflate{&z};

    std::vector<unsigned char> in(kChunk);
    std::vector<unsigned char> out(kChunk);
    uLong crc = crc32(0, nullptr, 0);
    std::uint64_t size = 0;
    int flush = Z_NO_FLUSH;
    do {
        const std::size_t got = source.read(in.data(), in.size());
        size += got;
        if (size > kZipMaxEntrySize)
            throw ZipError(quoted(name) + ": larger than 4 GiB - 1 bytes, the zip32 limit for an entry");
        crc = crc32(crc, in.data(), static_cast<uInt>(got));
        flush = got < in.size() ? Z_FINISH : Z_NO_FLUSH;
        z.next_in = in.data();
        z.avail_in = static_cast<uInt>(got);
        do {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            if (deflate(&z, flush) == Z_STREAM_ERROR) throw ZipError("zlib: deflate failed");
            write(out.data(), out.size() - z.avail_out);
        } while (z.avail_out == 0);
    } while (flush != Z_FINISH);

    std::uint64_t compressed = position() - dataStart;
    info.crc = static_cast<std::uint32_t>(crc);
    info.size = static_cast<std::uint32_t>(size);

    if (compressed >= size) {
        // Deflating did not help (already compressed data, tiny files): store the
        // bytes instead, over what was just written, and cut the file after them.
        seek(dataStart);
        source.rewind();
        uLong again = crc32(0, nullptr, 0);
        std::uint64_t copied = 0;
        for (;;) {
            const std::size_t got = source.read(in.data(), in.size());
            if (got == 0) break;
            copied += got;
            if (copied > size) break;
            again = crc32(again, in.data(), static_cast<uInt>(got));
            write(in.data(), got);
        }
        if (copied != size || again != crc)
            throw ZipError(quoted(name) + ": the source changed while it was being packed");
        if (std::fflush(file_.get()) != 0 || ftruncate(fileno(file_.get()), static_cast<off_t>(dataStart + size)) != 0)
            throw ZipError(path_.string() + ": cannot write: " + std::strerror(errno));
        info.method = ZipMethod::Stored;
        compressed = size;
    }
    info.compressedSize = static_cast<std::uint32_t>(compressed);

    const std::string header = localHeader(name, info);
    seek(headerOffset);
    write(header.data(), header.size());
    seek(dataStart + compressed);

    entries_.push_back(info);
    offsets_.push_back(static_cast<std::uint32_t>(headerOffset));
    names_.insert(info.name);
}

void ZipArchiveWriter::finish() {
    if (finished_) return;
    const std::uint64_t directoryOffset = position();
    std::string directory;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const ZipEntryInfo& e = entries_[i];
        put32(directory, kCentralSignature);
        put16(directory, kVersionMadeBy);
        put16(directory, kVersionNeeded);
        put16(directory, isAscii(e.name) || !isUtf8(e.name) ? 0 : kUtf8NameFlag);
        put16(directory, static_cast<std::uint16_t>(e.method));
        put16(directory, kDosTime);
        put16(directory, kDosDate);
        put32(directory, e.crc);
        put32(directory, e.compressedSize);
        put32(directory, e.size);
        put16(directory, static_cast<std::uint32_t>(e.name.size()));
        put16(directory, 0);  // extra field
        put16(directory, 0);  // comment
        put16(directory, 0);  // disk number
        put16(directory, 0);  // internal attributes
        put32(directory, kRegularFileAttributes);
        put32(directory, offsets_[i]);
        directory += e.name;
    }
    if (directoryOffset > 0xFFFFFFFFull || directoryOffset + directory.size() > 0xFFFFFFFFull)
        throw ZipError(path_.string() + ": the archive outgrows 4 GiB, the zip32 limit");
    std::string end;
    put32(end, kEndSignature);
    put16(end, 0);  // this disk
    put16(end, 0);  // disk with the directory
    put16(end, static_cast<std::uint32_t>(entries_.size()));
    put16(end, static_cast<std::uint32_t>(entries_.size()));
    put32(end, static_cast<std::uint32_t>(directory.size()));
    put32(end, static_cast<std::uint32_t>(directoryOffset));
    put16(end, 0);  // comment length
    write(directory.data(), directory.size());
    write(end.data(), end.size());
    if (std::fflush(file_.get()) != 0 || fsync(fileno(file_.get())) != 0)
        throw ZipError(path_.string() + ": cannot write: " + std::strerror(errno));
    if (std::fclose(file_.release()) != 0)
        throw ZipError(path_.string() + ": cannot write: " + std::strerror(errno));
    finished_ = true;
}

namespace {

template <typename AddAll>
std::vector<ZipEntryInfo> writeAtomically(const std::filesystem::path& output, AddAll addAll) {
    // The temporary sits beside the output so the final rename stays on one file system.
    const std::filesystem::path folder = output.parent_path().empty() ? "." : output.parent_path();
    std::string name = output.filename().string();
    name.insert(name.begin(), '.');
    name += ".tmp-XXXXXX";
    std::string pattern = (folder / name).string();
    const int fd = mkstemp(pattern.data());
    if (fd < 0) throw ZipError(output.string() + ": cannot create a file beside it: " + std::strerror(errno));
    ::close(fd);
    const std::filesystem::path temp = pattern;
    try {
        ZipArchiveWriter zip(temp);
        addAll(zip);
        zip.finish();
        // mkstemp makes the file private; the archive gets the usual permissions.
        const mode_t mask = umask(0);
        umask(mask);
        ::chmod(temp.c_str(), 0666 & ~mask);
        std::error_code error;
        std::filesystem::rename(temp, output, error);
        if (error) throw ZipError(output.string() + ": cannot replace: " + error.message());
        return zip.entries();
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove(temp, ignored);
        throw;
    }
}

}  // namespace

std::vector<ZipEntryInfo> writeZipAtomically(const std::filesystem::path& output,
                                             const std::vector<ZipSource>& sources) {
    return writeAtomically(output, [&](ZipArchiveWriter& zip) {
        for (const ZipSource& s : sources) zip.addFile(s.name, s.source);
    });
}

std::vector<ZipEntryInfo> writeZipAtomically(const std::filesystem::path& output,
                                             const std::vector<ZipBytes>& entries) {
    return writeAtomically(output, [&](ZipArchiveWriter& zip) {
        for (const ZipBytes& e : entries) zip.addBytes(e.name, e.bytes);
    });
}

}  // namespace zyr
