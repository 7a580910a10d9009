// Zip archive writing for the authoring tools, through libzip: entries the
// player's archive reader opens (stored or deflated, 32-bit sizes, no
// encryption, exact names).
//
// Use:
//     zyr::ZipArchiveWriter zip(tempPath);            // creates/truncates tempPath
//     zip.addFile("fs.glsl", "content/fs.glsl");      // streamed, deflated or stored
//     zip.addBytes("sync_a.x.track", bytes);
//     zip.finish();                                   // central directory; file complete
//
//     zyr::writeZipAtomically(out, entries);          // temp file + rename, all or nothing
//
// Ownership: the writer owns the libzip archive and the bytes given to addBytes
// until finish, when libzip writes the whole file (files given to addFile are
// read then, and once before to choose the method). A writer destroyed
// unfinished leaves the empty file the constructor made, which is why tools go
// through writeZipAtomically (it removes the temporary on any failure).
//
// Failure: every operation throws zyr::ZipError with a message naming the entry
// or path: an invalid entry name, a duplicate name, an entry or archive past the
// 32-bit zip limits, more than 65535 entries, an I/O error, or a source file that
// changed size while it was read.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

struct zip;
typedef struct zip zip_t;
struct zip_source;
typedef struct zip_source zip_source_t;

namespace zyr {

struct ZipError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The plain zip32 limits: sizes and offsets are 32-bit, the entry count 16-bit.
inline constexpr std::uint64_t kZipMaxEntrySize = 0xFFFFFFFFull;
inline constexpr std::size_t kZipMaxEntries = 0xFFFF;

// Why a name cannot be an entry the player opens, or nullopt when it can. Entry
// names are relative, '/'-separated paths: not empty, no leading or trailing '/',
// no empty, "." or ".." component, no backslash, no NUL, at most 65535 bytes.
std::optional<std::string> entryNameProblem(std::string_view name);

enum class ZipMethod : std::uint16_t { Stored = 0, Deflated = 8 };

struct ZipEntryInfo {
    std::string name;
    ZipMethod method;
    std::uint32_t crc;
    std::uint32_t compressedSize;
    std::uint32_t size;
};

class ZipArchiveWriter {
public:
    explicit ZipArchiveWriter(const std::filesystem::path& path);
    ~ZipArchiveWriter();
    ZipArchiveWriter(const ZipArchiveWriter&) = delete;
    ZipArchiveWriter& operator=(const ZipArchiveWriter&) = delete;

    // Adds a file; deflated (level 9) unless that does not make it smaller.
    void addFile(std::string_view name, const std::filesystem::path& source);
    void addBytes(std::string_view name, std::string_view bytes);
    // Writes the archive; entries() then holds what was written.
    void finish();

    const std::vector<ZipEntryInfo>& entries() const { return entries_; }

private:
    struct ArchiveDiscard {
        void operator()(zip_t* archive) const;
    };

    void checkName(std::string_view name);
    void add(std::string_view name, zip_source_t* data, std::uint64_t size, std::uint32_t crc, std::uint64_t deflated);

    std::filesystem::path path_;
    std::unique_ptr<zip_t, ArchiveDiscard> archive_;
    std::vector<std::unique_ptr<std::string>> held_;  // addBytes' bytes until finish
    std::vector<ZipEntryInfo> pending_;  // as added; sizes from the source
    std::vector<ZipEntryInfo> entries_;  // as written
    std::unordered_set<std::string> names_;
    bool finished_ = false;
};

struct ZipSource {
    std::string name;              // entry name
    std::filesystem::path source;  // file whose bytes the entry holds
};

// Writes the archive to a temporary file beside output, then renames it over
// output: either the whole archive appears or output is left as it was.
std::vector<ZipEntryInfo> writeZipAtomically(const std::filesystem::path& output,
                                             const std::vector<ZipSource>& sources);

struct ZipBytes {
    std::string_view name;   // entry name
    std::string_view bytes;  // the entry's bytes, borrowed for the call
};

// The same for entries held in memory.
std::vector<ZipEntryInfo> writeZipAtomically(const std::filesystem::path& output,
                                             const std::vector<ZipBytes>& entries);

}  // namespace zyr
