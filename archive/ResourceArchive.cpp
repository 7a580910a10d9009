#include "ResourceArchive.h"

#include "CurrentDirectory.h"
#include "ZipAccess.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <string>
#include <unordered_set>

namespace {

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

// One entry as zziplib would open it: its local header and data inside the
// file before the directory, a method it reads correctly and sizes that cannot
// make it read past the data or allocate beyond what the data can expand to.
std::optional<ZipEntryPlace> soundEntry(const ArchiveReadAt& readAt, const unsigned char* central,
                                        std::uint64_t directoryOffset) {
    const std::uint32_t method = little(central + 10, 2);
    const std::uint64_t packedSize = little(central + 20, 4);
    const std::uint64_t size = little(central + 24, 4);
    const std::uint64_t localOffset = little(central + 42, 4);
    // All ones means "see the zip64 record", which zziplib does not read: the
    // values it would use instead are not the entry's.
    if (packedSize == kZip64Sentinel || size == kZip64Sentinel || localOffset == kZip64Sentinel) return std::nullopt;

    unsigned char local[kLocalHeaderSize];
    if (localOffset + kLocalHeaderSize > directoryOffset) return std::nullopt;
    if (!readAt(localOffset, local, sizeof local)) return std::nullopt;
    if (little(local, 4) != kLocalHeaderSignature) return std::nullopt;
    const std::uint64_t dataOffset = localOffset + kLocalHeaderSize + little(local + 26, 2) + little(local + 28, 2);
    if (dataOffset + packedSize > directoryOffset) return std::nullopt;
    // zziplib keeps only the method's low byte, so 0x5400 would be read as
    // stored; no defined method needs the high byte.
    if (method > 0xFF) return std::nullopt;
    // Only these two are ever opened; a stored entry is its data, so a
    // different size would read past it into whatever follows.
    if (method == 0 && size != packedSize) return std::nullopt;
    if (method == 8 && size > packedSize * kDeflateRatioLimit) return std::nullopt;
    return ZipEntryPlace{dataOffset, packedSize, size, method};
}

}  // namespace

// zziplib trusts the sizes and offsets in a zip's directory records (this
// release has known overflows on damaged ones), takes an end record cut short,
// and reads a stored entry for as long as its header says, past its data. So
// every record it relies on is checked against the file first. What it walks to
// open the archive (the end record and the central directory) must be sound, or
// nothing is opened; archives that span several disks are refused. What it only
// reads to open one entry (that entry's local header and data) is judged entry
// by entry: a bad entry goes into `refused`, keyed the way zziplib looks names
// up (as C strings, first entry of a name wins), and the rest stays readable.
// The same check stands before every platform's zip library, so all of them
// serve the same entries of the same archive.
bool isSoundZip(std::uint64_t fileSize, const ArchiveReadAt& readAt, std::unordered_set<std::string>& refused,
                ZipEntryPlaces* places, std::vector<std::string>* names) {
    if (fileSize < kEndRecordSize) return false;

    const std::size_t tailSize = static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, kEndRecordSize + kLongestComment));
    std::vector<unsigned char> tail(tailSize);
    const std::uint64_t tailStart = fileSize - tailSize;
    if (!readAt(tailStart, tail.data(), tailSize)) return false;
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
    // zziplib does not open a directory without entries.
    if (entries == 0) return false;
    if (at + kEndRecordSize + little(end + 20, 2) != tailSize) return false;
    if (directoryOffset + directorySize > tailStart + at) return false;

    std::vector<unsigned char> directory(static_cast<std::size_t>(directorySize));
    if (!readAt(directoryOffset, directory.data(), directory.size())) return false;
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
        if (names) names->push_back(name);
        if (!seen.insert(name).second) continue;  // never the one zziplib opens
        const std::optional<ZipEntryPlace> place = soundEntry(readAt, central, directoryOffset);
        if (!place) refused.insert(std::move(name));
        else if (places) places->emplace(std::move(name), *place);
    }
    return entry == directory.size();
}

ResourceArchive::ResourceArchive() : ResourceArchive(defaultArchivePath()) {}

ResourceArchive::ResourceArchive(const std::filesystem::path& path) {
    directory_ = openZipDirectory(path, refused_, names_);
    if (!directory_) {
        refused_.clear();
        names_.clear();
    }
}

ResourceArchive::~ResourceArchive() {
    // A handle closed from inside the walk would invalidate it; take a copy.
    std::vector<ArchiveFile*> open;
    open.reserve(cache_.size());
    for (const auto& entry : cache_) open.push_back(entry.second);
    for (ArchiveFile* file : open) closeFile(file);
    if (directory_) closeZipDirectory(directory_);
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
    ArchiveFile* file = openZipEntry(directory_, name.c_str());
    if (file) cache_.emplace(name, file);
    return file;
}

std::size_t ResourceArchive::entrySize(ArchiveFile* file) {
    // Zip sizes are 32-bit; anything that does not fit a signed 32-bit count
    // (including an unknown size) is not a size worth allocating for.
    const std::int64_t end = rewindZipEntry(file);
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
    if (count > static_cast<std::size_t>(std::numeric_limits<std::int64_t>::max()) / itemSize) return 0;
    const std::int64_t bytes = readZipEntry(file, destination, itemSize * count);
    if (bytes < 0) return 0;
    return static_cast<std::size_t>(bytes) / itemSize;
}

void ResourceArchive::closeFile(ArchiveFile* file) {
    if (!file) return;
    for (auto entry = cache_.begin(); entry != cache_.end(); ++entry) {
        if (entry->second == file) {
            closeZipEntry(file);
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
