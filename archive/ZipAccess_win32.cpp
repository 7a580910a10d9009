#include "ZipAccess.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>
#include <sys/stat.h>
#include <vector>

// The structural check has already walked the directory and judged every
// entry, so reading one needs only where its data lies and an inflater. The
// Windows build has no zziplib (Debian's source for it is not on the mirror),
// and libzip refuses a whole archive over one entry's zip64 marker, where
// every other entry must still be served.
struct ArchiveDirectory {
    std::FILE* file;
    ZipEntryPlaces places;
};

struct ArchiveFile {
    std::FILE* file;
    ZipEntryPlace place;
    z_stream inflater{};
    bool inflating = false;  // inflater set up (deflated entries only)
    bool ended = false;      // the deflate stream came to its end
    int sound = -1;          // deflated: whether the data inflates without failing (-1 not known yet)
    std::uint64_t packedRead = 0;
    std::uint64_t delivered = 0;
    std::vector<unsigned char> input;
};

namespace {

constexpr std::size_t kInputChunk = 64 * 1024;

// Reads up to `length` bytes at `offset`; the count read.
std::size_t readSome(std::FILE* file, std::uint64_t offset, void* out, std::size_t length) {
    if (offset > static_cast<std::uint64_t>(LLONG_MAX)) return 0;
    if (_fseeki64(file, static_cast<long long>(offset), SEEK_SET) != 0) return 0;
    return std::fread(out, 1, length, file);
}

std::int64_t readStored(ArchiveFile& entry, unsigned char* out, std::size_t bytes) {
    const std::size_t got = readSome(entry.file, entry.place.dataOffset + entry.delivered, out, bytes);
    if (got == 0 && bytes > 0) return -1;
    return static_cast<std::int64_t>(got);
}

std::int64_t readDeflated(ArchiveFile& entry, unsigned char* out, std::size_t bytes) {
    std::size_t got = 0;
    z_stream& z = entry.inflater;
    while (got < bytes && !entry.ended) {
        if (z.avail_in == 0) {
            const std::uint64_t left = entry.place.packedSize - entry.packedRead;
            const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, kInputChunk));
            if (want > 0) {
                if (readSome(entry.file, entry.place.dataOffset + entry.packedRead, entry.input.data(), want) != want)
                    return -1;
                entry.packedRead += want;
                z.next_in = entry.input.data();
                z.avail_in = static_cast<uInt>(want);
            }
        }
        z.next_out = out + got;
        z.avail_out = static_cast<uInt>(std::min<std::size_t>(bytes - got, UINT_MAX));
        const uInt before = z.avail_out;
        const int status = inflate(&z, Z_NO_FLUSH);
        got += before - z.avail_out;
        if (status == Z_STREAM_END) entry.ended = true;
        // No progress with all the entry's data taken in is a stream cut short;
        // like a damaged one, it fails the read, whatever came out of it so far
        // (as zziplib's reads do), instead of handing out a short count.
        else if (status != Z_OK) return -1;
    }
    return static_cast<std::int64_t>(got);
}

bool restart(ArchiveFile& file) {
    if (file.inflating && inflateReset(&file.inflater) != Z_OK) return false;
    file.inflater.avail_in = 0;
    file.ended = false;
    file.packedRead = 0;
    file.delivered = 0;
    return true;
}

// zziplib finds a deflated entry's end by inflating the whole entry; so does
// this. Data that fails, or is cut short, before the entry's size gives it no
// size, so a whole-entry read gets nothing rather than zeros (or the part before
// the damage). Data that ends cleanly before the size keeps it, and the read
// the pre-fill for the rest, as on Linux.
bool inflatesWithoutFailing(ArchiveFile& file) {
    std::vector<unsigned char> scratch(kInputChunk);
    std::uint64_t total = 0;
    while (total < file.place.size && !file.ended) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(file.place.size - total, scratch.size()));
        const std::int64_t got = readDeflated(file, scratch.data(), want);
        if (got < 0) return false;
        total += static_cast<std::uint64_t>(got);
    }
    return true;
}

}  // namespace

ArchiveDirectory* openZipDirectory(const std::filesystem::path& path, std::unordered_set<std::string>& refused,
                                   std::vector<std::string>& names) {
    std::FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file) return nullptr;
    auto directory = std::make_unique<ArchiveDirectory>(ArchiveDirectory{file, {}});
    struct _stat64 info {};
    const bool sound = _fstat64(_fileno(file), &info) == 0 && (info.st_mode & _S_IFMT) == _S_IFREG &&
                       isSoundZip(static_cast<std::uint64_t>(info.st_size),
                                  [file](std::uint64_t offset, unsigned char* out, std::size_t length) {
                                      return readSome(file, offset, out, length) == length;
                                  },
                                  refused, &directory->places, &names);
    if (!sound) {
        std::fclose(file);
        return nullptr;
    }
    return directory.release();
}

void closeZipDirectory(ArchiveDirectory* directory) {
    const std::unique_ptr<ArchiveDirectory> owned(directory);
    std::fclose(owned->file);
}

ArchiveFile* openZipEntry(ArchiveDirectory* directory, const char* name) {
    const auto found = directory->places.find(name);
    if (found == directory->places.end()) return nullptr;
    const ZipEntryPlace& place = found->second;
    // Stored and deflated are what the archive format's readers all know.
    if (place.method != 0 && place.method != 8) return nullptr;
    auto entry = std::make_unique<ArchiveFile>();
    entry->file = directory->file;
    entry->place = place;
    if (place.method == 8) {
        if (inflateInit2(&entry->inflater, -MAX_WBITS) != Z_OK) return nullptr;
        entry->inflating = true;
        entry->input.resize(kInputChunk);
    }
    return entry.release();
}

std::int64_t rewindZipEntry(ArchiveFile* file) {
    if (!restart(*file)) return -1;
    if (file->inflating && file->sound < 0) {
        file->sound = inflatesWithoutFailing(*file) ? 1 : 0;
        if (!restart(*file)) return -1;
    }
    if (file->sound == 0) return -1;
    return static_cast<std::int64_t>(file->place.size);
}

std::int64_t readZipEntry(ArchiveFile* file, void* destination, std::size_t bytes) {
    // Never more than the entry's size, whatever the data would inflate to.
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(bytes, file->place.size - file->delivered));
    if (wanted == 0) return 0;
    auto* out = static_cast<unsigned char*>(destination);
    const std::int64_t got = file->inflating ? readDeflated(*file, out, wanted) : readStored(*file, out, wanted);
    if (got > 0) file->delivered += static_cast<std::uint64_t>(got);
    return got;
}

void closeZipEntry(ArchiveFile* file) {
    const std::unique_ptr<ArchiveFile> owned(file);
    if (owned->inflating) inflateEnd(&owned->inflater);
}
