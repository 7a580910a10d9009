#include "ZipArchiveWriter.h"

#include "FileWrite.h"
#include "PathText.h"

#include <zip.h>
#include <zlib.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>

namespace zyr {

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kEndSignature = 0x06054b50;
// Made on Unix, so extractors honour these permission bits.
constexpr std::uint32_t kRegularFileAttributes = 0100644u << 16;
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

std::string quotedName(std::string_view name) {
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

void ZipArchiveWriter::ArchiveDiscard::operator()(zip_t* archive) const { zip_discard(archive); }

namespace {

std::string libzipMessage(zip_t* archive) { return zip_error_strerror(zip_get_error(archive)); }

// What deflating a source would give: its size, CRC and deflated size, read in
// chunks. The method is chosen from this before the entry is added, so an entry
// is deflated only where that makes it smaller; the CRC is held against the one
// the archive gets, which tells a source that changed in between.
struct Measure {
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
    std::uint64_t deflated = 0;
};

template <typename Read>
Measure measure(std::string_view name, Read read) {
    z_stream z{};
    // The level and memory the archive's deflate uses (libzip: level 9, the
    // default memory level), so the sizes compared are the ones written.
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw ZipError("zlib: deflateInit2 failed");
    struct DeflateEnd {
        z_stream* z;
        ~DeflateEnd() { deflateEnd(z); }
    } endDeflate{&z};
    std::vector<unsigned char> in(kChunk);
    std::vector<unsigned char> out(kChunk);
    Measure m;
    uLong crc = crc32(0, nullptr, 0);
    int flush = Z_NO_FLUSH;
    do {
        const std::size_t got = read(in.data(), in.size());
        m.size += got;
        if (m.size > kZipMaxEntrySize)
            throw ZipError(quotedName(name) + ": larger than 4 GiB - 1 bytes, the zip32 limit for an entry");
        crc = crc32(crc, in.data(), static_cast<uInt>(got));
        flush = got < in.size() ? Z_FINISH : Z_NO_FLUSH;
        z.next_in = in.data();
        z.avail_in = static_cast<uInt>(got);
        do {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            if (deflate(&z, flush) == Z_STREAM_ERROR) throw ZipError("zlib: deflate failed");
            m.deflated += out.size() - z.avail_out;
        } while (z.avail_out == 0);
    } while (flush != Z_FINISH);
    m.crc = static_cast<std::uint32_t>(crc);
    return m;
}

}  // namespace

ZipArchiveWriter::ZipArchiveWriter(const std::filesystem::path& path) : path_(path) {
    // libzip writes nothing before finish; the file is made now so a path that
    // cannot be written is refused before any work.
    if (!std::ofstream(path, std::ios::binary | std::ios::trunc))
        throw ZipError(toUtf8(path) + ": cannot create: " + std::strerror(errno));
    // libzip takes names as UTF-8 on every platform.
    int error = 0;
    archive_.reset(zip_open(toUtf8(path).c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error));
    if (!archive_) {
        zip_error_t why;
        zip_error_init_with_code(&why, error);
        const std::string message = zip_error_strerror(&why);
        zip_error_fini(&why);
        throw ZipError(toUtf8(path) + ": cannot create: " + message);
    }
}

ZipArchiveWriter::~ZipArchiveWriter() = default;

void ZipArchiveWriter::checkName(std::string_view name) {
    if (finished_) throw ZipError("archive already finished");
    if (auto problem = entryNameProblem(name)) throw ZipError(quotedName(name) + ": " + *problem);
    if (names_.contains(std::string(name))) throw ZipError(quotedName(name) + ": entry already in the archive");
    if (pending_.size() >= kZipMaxEntries)
        throw ZipError(quotedName(name) + ": more than 65535 entries do not fit a zip archive");
}

void ZipArchiveWriter::addFile(std::string_view name, const std::filesystem::path& source) {
    checkName(name);
    std::ifstream input(source, std::ios::binary);
    if (!input) throw ZipError(toUtf8(source) + ": cannot read: " + std::strerror(errno));
    const Measure m = measure(name, [&](unsigned char* destination, std::size_t size) {
        input.read(reinterpret_cast<char*>(destination), static_cast<std::streamsize>(size));
        if (input.bad()) throw ZipError(toUtf8(source) + ": cannot read: " + std::strerror(errno));
        return static_cast<std::size_t>(input.gcount());
    });
    zip_source_t* data =
        zip_source_file(archive_.get(), toUtf8(source).c_str(), 0, static_cast<zip_int64_t>(m.size));
    if (data == nullptr) throw ZipError(toUtf8(source) + ": cannot read: " + libzipMessage(archive_.get()));
    add(name, data, m.size, m.crc, m.deflated);
}

void ZipArchiveWriter::addBytes(std::string_view name, std::string_view bytes) {
    checkName(name);
    std::size_t offset = 0;
    const Measure m = measure(name, [&](unsigned char* destination, std::size_t size) {
        const std::size_t n = std::min(size, bytes.size() - offset);
        std::memcpy(destination, bytes.data() + offset, n);
        offset += n;
        return n;
    });
    // libzip reads the bytes when the archive is written: they are kept here
    // until then, whatever the caller does with its own.
    const std::string& kept = *held_.emplace_back(std::make_unique<std::string>(bytes));
    zip_source_t* data = zip_source_buffer(archive_.get(), kept.data(), kept.size(), 0);
    if (data == nullptr) throw ZipError(quotedName(name) + ": " + libzipMessage(archive_.get()));
    add(name, data, m.size, m.crc, m.deflated);
}

void ZipArchiveWriter::add(std::string_view name, zip_source_t* data, std::uint64_t size, std::uint32_t crc,
                           std::uint64_t deflated) {
    const std::string entry(name);
    // Raw bytes: the name is the player's lookup key, never re-encoded. libzip
    // marks names that are UTF-8 as such.
    const zip_int64_t index = zip_file_add(archive_.get(), entry.c_str(), data, ZIP_FL_ENC_GUESS);
    if (index < 0) {
        zip_source_free(data);
        throw ZipError(quotedName(name) + ": " + libzipMessage(archive_.get()));
    }
    const auto at = static_cast<zip_uint64_t>(index);
    const ZipMethod method = deflated < size ? ZipMethod::Deflated : ZipMethod::Stored;
    // A fixed time stamp keeps archives of the same files byte-identical from
    // one build to the next.
    if (zip_set_file_compression(archive_.get(), at, method == ZipMethod::Deflated ? ZIP_CM_DEFLATE : ZIP_CM_STORE,
                                 9) != 0 ||
        zip_file_set_dostime(archive_.get(), at, kDosTime, kDosDate, 0) != 0 ||
        zip_file_set_external_attributes(archive_.get(), at, 0, ZIP_OPSYS_UNIX, kRegularFileAttributes) != 0)
        throw ZipError(quotedName(name) + ": " + libzipMessage(archive_.get()));
    pending_.push_back({entry, method, crc, 0, static_cast<std::uint32_t>(size)});
    names_.insert(entry);
}

void ZipArchiveWriter::finish() {
    if (finished_) return;
    if (pending_.empty()) {
        // libzip removes an archive without entries; the player reads an empty
        // one, so that is written here: the end record alone.
        archive_.reset();
        std::string end;
        put32(end, kEndSignature);
        end.append(18, '\0');
        std::ofstream file(path_, std::ios::binary | std::ios::trunc);
        file.write(end.data(), static_cast<std::streamsize>(end.size()));
        file.close();
        if (!file) throw ZipError(toUtf8(path_) + ": cannot write: " + std::strerror(errno));
        finished_ = true;
        return;
    }
    if (zip_close(archive_.get()) != 0) throw ZipError(toUtf8(path_) + ": " + libzipMessage(archive_.get()));
    archive_.release();  // zip_close freed it
    held_.clear();

    // Read back what was written: the sizes libzip chose, and sources that
    // changed after they were measured.
    int error = 0;
    const std::unique_ptr<zip_t, ArchiveDiscard> written(zip_open(toUtf8(path_).c_str(), ZIP_RDONLY, &error));
    if (!written) throw ZipError(toUtf8(path_) + ": the archive written does not read back");
    for (std::size_t i = 0; i < pending_.size(); ++i) {
        ZipEntryInfo info = pending_[i];
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat_index(written.get(), i, ZIP_FL_ENC_RAW, &stat) != 0 || stat.name == nullptr ||
            info.name != stat.name)
            throw ZipError(toUtf8(path_) + ": the archive written does not read back");
        if (stat.size != info.size || stat.crc != info.crc)
            throw ZipError(quotedName(info.name) + ": the source changed while it was being packed");
        info.compressedSize = static_cast<std::uint32_t>(stat.comp_size);
        entries_.push_back(info);
    }
    if (fs::file_size(path_) > 0xFFFFFFFFull)
        throw ZipError(toUtf8(path_) + ": the archive outgrows 4 GiB, the zip32 limit");
    finished_ = true;
}

namespace {

template <typename AddAll>
std::vector<ZipEntryInfo> writeAtomically(const std::filesystem::path& output, AddAll addAll) {
    try {
        // libzip writes a file of its own and renames it to the part's name;
        // the part file takes the output's mode and place when all is well.
        PartFile part(output);
        ZipArchiveWriter zip(part.path());
        addAll(zip);
        zip.finish();
        part.commit();
        return zip.entries();
    } catch (const FileError& error) {
        throw ZipError(error.what());
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
