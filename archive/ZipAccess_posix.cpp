#include "ZipAccess.h"

#include <zzip/zzip.h>

#include <algorithm>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

// zziplib's own types stand for ours; a pointer only ever goes back to what it was.
namespace {

// Entries are always read untranslated. POSIX has no text mode, so plain
// read-only access is that; zziplib's case-folding and path-stripping flags
// stay off so names match byte for byte.
constexpr int kEntryOpenMode = O_RDONLY;

ZZIP_FILE* zzip(ArchiveFile* file) { return reinterpret_cast<ZZIP_FILE*>(file); }
ZZIP_DIR* zzip(ArchiveDirectory* directory) { return reinterpret_cast<ZZIP_DIR*>(directory); }

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

// zziplib's seek to the end of a deflated entry inflates up to it, but where
// the data fails or is cut short it stops there and takes that place for the
// end: a whole-entry read would then get the part before the damage as if it
// were all. So the entry is inflated here instead, and one whose data fails
// before its size has no size. Data that ends cleanly before it keeps the size
// the directory gives, and the read the pre-fill for the rest.
std::int64_t rewindDeflated(ZZIP_FILE* file, zzip_ssize_t size) {
    zzip_seek(file, 0, SEEK_SET);
    char scratch[16 * 1024];
    zzip_ssize_t total = 0;
    while (total < size) {
        const zzip_ssize_t want = std::min<zzip_ssize_t>(size - total, sizeof scratch);
        const zzip_ssize_t got = zzip_read(file, scratch, static_cast<zzip_size_t>(want));
        if (got < 0) return -1;
        if (got == 0) break;
        total += got;
    }
    zzip_seek(file, 0, SEEK_SET);
    return size < 0 ? -1 : static_cast<std::int64_t>(size);
}

}  // namespace

ArchiveDirectory* openZipDirectory(const std::filesystem::path& path, std::unordered_set<std::string>& refused,
                                   std::vector<std::string>& names) {
    // Opening the file ourselves pins the exact path: zziplib's own open would
    // fall back to "<path>.zip" and the like when the archive is missing.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat info {};
    const bool sound = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                       isSoundZip(static_cast<std::uint64_t>(info.st_size),
                                  [fd](std::uint64_t offset, unsigned char* out, std::size_t length) {
                                      return readAt(fd, offset, out, length);
                                  },
                                  refused, nullptr, &names);
    if (!sound) {
        ::close(fd);
        return nullptr;
    }
    // zziplib takes the descriptor over, closing it on failure as well.
    return reinterpret_cast<ArchiveDirectory*>(zzip_dir_fdopen(fd, nullptr));
}

void closeZipDirectory(ArchiveDirectory* directory) { zzip_dir_close(zzip(directory)); }

ArchiveFile* openZipEntry(ArchiveDirectory* directory, const char* name) {
    return reinterpret_cast<ArchiveFile*>(zzip_file_open(zzip(directory), name, kEntryOpenMode));
}

std::int64_t rewindZipEntry(ArchiveFile* file) {
    ZZIP_STAT entry{};
    if (zzip_file_stat(zzip(file), &entry) == 0 && entry.d_compr != 0) return rewindDeflated(zzip(file), entry.st_size);
    zzip_seek(zzip(file), 0, SEEK_END);
    const zzip_off_t end = zzip_tell(zzip(file));
    zzip_seek(zzip(file), 0, SEEK_SET);
    return end < 0 ? -1 : static_cast<std::int64_t>(end);
}

std::int64_t readZipEntry(ArchiveFile* file, void* destination, std::size_t bytes) {
    if (bytes > static_cast<std::size_t>(std::numeric_limits<zzip_ssize_t>::max())) return -1;
    // zzip_read rather than zzip_fread: the latter divides an error (-1) by the
    // item size and hands back a huge unsigned count.
    const zzip_ssize_t got = zzip_read(zzip(file), destination, bytes);
    return got < 0 ? -1 : static_cast<std::int64_t>(got);
}

void closeZipEntry(ArchiveFile* file) { zzip_file_close(zzip(file)); }
