#include "ResourceArchive.h"

#include "CurrentDirectory.h"

#include <zzip/zzip.h>

#include <algorithm>
#include <string>
#include <unordered_set>
#include <cstdio>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Entries are always read untranslated. POSIX has no text mode, so plain
// read-only access is that; zziplib's case-folding and path-stripping flags
// stay off so names match byte for byte.
constexpr int kEntryOpenMode = O_RDONLY;

// The archive the stream callbacks act on. Never owned here.
ResourceArchive* streamArchive = nullptr;

constexpr std::uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr std::uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr std::uint32_t kEndRecordSignature = 0x06054b50;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kLongestComment = 0xFFFF;
// Deflate cannot expand one input bit into more than 1032 output bits; a bigger
// claim is a damaged header, and the whole-file read would allocate for it.
constexpr std::uint64_t kDeflateRatioLimit = 1032;
constexpr std::uint64_t kZip64Sentinel = 0xFFFFFFFF;

std::uint32_t little(const unsigned char* bytes, int width) {
    std::uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i) value = (value << 8) | bytes[i];
    return value;
}

bool readAt(int fd, std::uint64_t offset, unsigned char* out, std::size_t length) {
    while (length > 0) {
        const ssize_t got = ::pread(fd, out, length, static_cast<off_t>(offset));
        if (got <= 0) return false;
        out += got;
        offset += static_cast<std::uint64_t>(got);
        length -= static_cast<std::size_t>(got);
    }
    return true;
}

// One entry as zziplib would open it: its local header and data inside the
// file before the directory, a method it reads correctly and sizes that cannot
// make it read past the data or allocate beyond what the data can expand to.
bool isSoundEntry(int fd, const unsigned char* central, std::uint64_t directoryOffset) {
    const std::uint32_t method = little(central + 10, 2);
    const std::uint64_t packedSize = little(central + 20, 4);
    const std::uint64_t size = little(central + 24, 4);
    const std::uint64_t localOffset = little(central + 42, 4);
    // All ones means "see the zip64 record", which zziplib does not read: the
    // values it would use instead are not the entry's.
    if (packedSize == kZip64Sentinel || size == kZip64Sentinel || localOffset == kZip64Sentinel) return false;

    unsigned char local[kLocalHeaderSize];
    if (localOffset + kLocalHeaderSize > directoryOffset) return false;
    if (!readAt(fd, localOffset, local, sizeof local)) return false;
    if (little(local, 4) != kLocalHeaderSignature) return false;
    const std::uint64_t dataOffset = localOffset + kLocalHeaderSize + little(local + 26, 2) + little(local + 28, 2);
    if (dataOffset + packedSize > directoryOffset) return false;
    // zziplib keeps only the method's low byte, so 0x5400 would be read as
    // stored; no defined method needs the high byte.
    if (method > 0xFF) return false;
    // Only these two are ever opened; a stored entry is its data, so a
    // different size would read past it into whatever follows.
    if (method == 0 && size != packedSize) return false;
    if (method == 8 && size > packedSize * kDeflateRatioLimit) return false;
    return true;
}

// zziplib trusts the sizes and offsets in a zip's directory records (this
// release has known overflows on damaged ones), takes an end record cut short,
// and reads a stored entry for as long as its header says, past its data. So
// every record it relies on is checked against the file first. What it walks to
// open the archive (the end record and the central directory) must be sound, or
// nothing is opened; archives that span several disks are refused. What it only
// reads to open one entry (that entry's local header and data) is judged entry
// by entry: a bad entry goes into `refused`, keyed the way zziplib looks names
// up (as C strings, first entry of a name wins), and the rest stays readable.
bool isSoundZip(int fd, std::unordered_set<std::string>& refused) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    const auto fileSize = static_cast<std::uint64_t>(info.st_size);
    if (fileSize < kEndRecordSize) return false;

    const std::size_t tailSize = static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, kEndRecordSize + kLongestComment));
    std::vector<unsigned char> tail(tailSize);
    const std::uint64_t tailStart = fileSize - tailSize;
    if (!readAt(fd, tailStart, tail.data(), tailSize)) return false;
    // zziplib searches backwards from the end, so the last signature is the one
    // it would take; it must be a whole record whose comment ends the file.
    std::size_t at = tailSize - 3;
    do {
        if (at == 0) return false;
        --at;
    } while (little(&tail[at], 4) != kEndRecordSignature);
    if (at + kEndRecordSize > tailSize) return false;
    const unsigned char* end = &tail[at];
    const std::uint32_t entries = little(end + 10, 2);
    const std::uint64_t directorySize = little(end + 12, 4);
    const std::uint64_t directoryOffset = little(end + 16, 4);
    if (little(end + 4, 2) != 0 || little(end + 6, 2) != 0 || little(end + 8, 2) != entries) return false;
    if (at + kEndRecordSize + little(end + 20, 2) != tailSize) return false;
    if (directoryOffset + directorySize > tailStart + at) return false;

    std::vector<unsigned char> directory(static_cast<std::size_t>(directorySize));
    if (!readAt(fd, directoryOffset, directory.data(), directory.size())) return false;
    std::unordered_set<std::string> seen;
    std::size_t entry = 0;
    for (std::uint32_t i = 0; i < entries; ++i) {
        if (entry + kCentralHeaderSize > directory.size()) return false;
        const unsigned char* central = &directory[entry];
        if (little(central, 4) != kCentralHeaderSignature) return false;
        const std::size_t nameLength = little(central + 28, 2);
        entry += kCentralHeaderSize + nameLength + little(central + 30, 2) + little(central + 32, 2);
        if (entry > directory.size()) return false;

        const char* nameBytes = reinterpret_cast<const char*>(central + kCentralHeaderSize);
        std::string name(nameBytes, std::find(nameBytes, nameBytes + nameLength, '\0'));
        if (!seen.insert(name).second) continue;  // never the one zziplib opens
        if (!isSoundEntry(fd, central, directoryOffset)) refused.insert(std::move(name));
    }
    return entry == directory.size();
}
}  // namespace

ResourceArchive::ResourceArchive() : ResourceArchive(defaultArchivePath()) {}

ResourceArchive::ResourceArchive(const std::filesystem::path& path) {
    // Opening the file ourselves pins the exact path: zziplib's own open would
    // fall back to "<path>.zip" and the like when the archive is missing.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    if (!isSoundZip(fd, refused_)) {
        refused_.clear();
        ::close(fd);
        return;
    }
    // zziplib takes the descriptor over, closing it on failure as well.
    directory_ = zzip_dir_fdopen(fd, nullptr);
}

ResourceArchive::~ResourceArchive() {
    // A handle closed from inside the walk would invalidate it; take a copy.
    std::vector<ArchiveFile*> open;
    open.reserve(cache_.size());
    for (const auto& entry : cache_) open.push_back(entry.second);
    for (ArchiveFile* file : open) closeFile(file);
    if (directory_) zzip_dir_close(directory_);
    // The stream callbacks must not reach a dead archive.
    if (streamArchive == this) streamArchive = nullptr;
}

ArchiveFile* ResourceArchive::openFile(const std::string& name) {
    if (auto cached = cache_.find(name); cached != cache_.end()) return cached->second;
    if (!directory_) return nullptr;
    // zziplib compares C strings: a name with a NUL inside would match the entry
    // named by its first part and be cached apart from it.
    if (name.find('\0') != std::string::npos) return nullptr;
    if (refused_.count(name) != 0) return nullptr;
    ArchiveFile* file = zzip_file_open(directory_, name.c_str(), kEntryOpenMode);
    if (file) cache_.emplace(name, file);
    return file;
}

std::size_t ResourceArchive::entrySize(ArchiveFile* file) {
    zzip_seek(file, 0, SEEK_END);
    // Zip sizes are 32-bit; anything that does not fit a signed 32-bit count
    // (including a failed tell) is not a size worth allocating for.
    const zzip_off_t end = zzip_tell(file);
    zzip_seek(file, 0, SEEK_SET);
    if (end < 0 || end > std::numeric_limits<std::int32_t>::max()) return 0;
    return static_cast<std::size_t>(end);
}

std::string ResourceArchive::readText(ArchiveFile* file) {
    if (!file) return {};
    std::string text(entrySize(file), ' ');
    read(text.data(), 1, text.size(), file);
    return text;
}

std::vector<std::uint8_t> ResourceArchive::readBytes(ArchiveFile* file) {
    if (!file) return {};
    std::vector<std::uint8_t> bytes(entrySize(file), 0);
    read(bytes.data(), 1, bytes.size(), file);
    return bytes;
}

std::size_t ResourceArchive::read(void* destination, std::size_t size, std::size_t count, ArchiveFile* file) {
    if (!file) return 0;
    // zziplib reads a zero item size as one byte per item.
    const std::size_t itemSize = size == 0 ? 1 : size;
    if (count > static_cast<std::size_t>(std::numeric_limits<zzip_ssize_t>::max()) / itemSize) return 0;
    // zzip_read rather than zzip_fread: the latter divides an error (-1) by the
    // item size and hands back a huge unsigned count.
    const zzip_ssize_t bytes = zzip_read(file, destination, itemSize * count);
    if (bytes < 0) return 0;
    return static_cast<std::size_t>(bytes) / itemSize;
}

void ResourceArchive::closeFile(ArchiveFile* file) {
    if (!file) return;
    for (auto entry = cache_.begin(); entry != cache_.end(); ++entry) {
        if (entry->second == file) {
            zzip_file_close(file);
            cache_.erase(entry);
            return;
        }
    }
}

void setStreamArchive(ResourceArchive* archive) { streamArchive = archive; }

void* archiveOpen(const char* path, const char* /*mode*/) {
    if (!streamArchive || !path) return nullptr;
    return streamArchive->openFile(path);
}

std::size_t archiveRead(void* destination, std::size_t size, std::size_t count, void* handle) {
    if (!streamArchive) return 0;
    return streamArchive->read(destination, size, count, static_cast<ArchiveFile*>(handle));
}

int archiveClose(void* handle) {
    if (streamArchive) streamArchive->closeFile(static_cast<ArchiveFile*>(handle));
    return 0;
}
