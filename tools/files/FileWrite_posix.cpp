#include "FileWrite.h"

#include "PartName.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace zyr {

namespace fs = std::filesystem;

namespace {

std::string failure(const fs::path& path, const char* what, int error) {
    return path.string() + ": " + what + ": " + std::strerror(error);
}

// target with every symbolic link along its last component followed, so the
// file a link names is replaced and the link itself stays a link.
fs::path followLinks(const fs::path& target) {
    fs::path at = target;
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(at, error))) return at;
        const fs::path link = fs::read_symlink(at, error);
        if (error) throw FileError(failure(at, "cannot read the link", error.value()));
        at = link.is_absolute() ? link : at.parent_path() / link;
    }
    throw FileError(failure(target, "cannot follow the link", ELOOP));
}

bool writeAll(int fd, const char* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t put = ::write(fd, bytes, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            if (put == 0) errno = EIO;
            return false;
        }
        bytes += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

void syncFolder(int folderFd) {
    // Some file systems cannot sync a folder (EINVAL); the rename stands anyway.
    if (folderFd >= 0) ::fsync(folderFd);
}

int openFolder(const fs::path& folder) {
    return ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// part holds a whole part name whose last kTagLength characters before the
// suffix are the tag: fills them in until an exclusive create succeeds.
// Exclusive, so neither a planted link nor another writer's part is ever
// opened; the kernel applies the umask to a new file's mode. -1 with errno.
int createPart(std::string& part, unsigned& state) {
    for (int attempt = 0; attempt < part_name::kTagAttempts; ++attempt) {
        part_name::drawTag(part, state);
        const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

// The replaced file's permission bits (and owner, where allowed) for the part:
// the replacement is the same file to everyone who could use the old one.
// Nothing to do for a new file. false with errno when the mode cannot be set.
bool adoptMode(int fd, const char* destination) {
    struct stat old {};
    if (::stat(destination, &old) != 0 || !S_ISREG(old.st_mode)) return true;
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
        // Only a privileged writer may give a file away; the mode still holds.
    }
    return ::fchmod(fd, old.st_mode & 07777) == 0;
}

// Syncs and closes fd (the part's), then renames part over destination.
// Returns 0, or the errno of the step that failed with what it was.
int finishPart(int fd, const char* part, const char* destination, const char*& what) {
    what = "cannot write";
    const bool synced = ::fsync(fd) == 0;
    int error = errno;
    const bool closed = ::close(fd) == 0;
    if (synced && !closed) error = errno;
    if (!synced || !closed) return error;
    what = "cannot replace";
    if (::rename(part, destination) != 0) return errno;
    return 0;
}

}  // namespace

std::optional<std::string> readFileIfPresent(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return std::nullopt;
        throw FileError(failure(path, "cannot be read", errno));
    }
    std::string text;
    char buffer[65536];
    while (true) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            throw FileError(failure(path, "cannot be read", error));
        }
        if (got == 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return text;
}

PartFile::PartFile(const fs::path& target) : destination_(followLinks(target)) {
    std::string part = (destination_.parent_path() / "").string();
    part_name::append<char>(part, destination_.filename().native());
    unsigned state = part_name::freshSeed();
    const int fd = createPart(part, state);
    if (fd < 0) throw FileError(failure(target, "cannot create a file beside it", errno));
    file_ = fd;
    part_ = part;
    if (!adoptMode(fd, destination_.c_str())) {
        const int error = errno;
        ::close(fd);
        file_ = -1;
        ::unlink(part_.c_str());
        throw FileError(failure(target, "cannot keep its permissions", error));
    }
}

PartFile::~PartFile() {
    if (file_ >= 0) ::close(static_cast<int>(file_));
    if (!committed_) ::unlink(part_.c_str());
}

void PartFile::write(std::string_view bytes) {
    if (file_ < 0 || committed_) throw FileError(destination_.string() + ": written after it was committed");
    if (!writeAll(static_cast<int>(file_), bytes.data(), bytes.size())) throw FileError(failure(destination_, "cannot write", errno));
}

void PartFile::commit() {
    if (committed_) return;
    if (file_ < 0) throw FileError(destination_.string() + ": cannot write: the part file was lost");
    // A writer that opened path() itself may have replaced the file under
    // that name (libzip writes a file of its own and renames it there): what
    // is synced and renamed is whatever holds the name now, with our mode.
    int fd = static_cast<int>(std::exchange(file_, -1));
    struct stat mine {};
    struct stat named {};
    if (::fstat(fd, &mine) != 0) {
        const int error = errno;
        ::close(fd);
        throw FileError(failure(destination_, "cannot write", error));
    }
    if (::stat(part_.c_str(), &named) != 0 || mine.st_ino != named.st_ino || mine.st_dev != named.st_dev) {
        ::close(fd);
        fd = ::open(part_.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) throw FileError(failure(destination_, "cannot write", errno));
        if (::fchmod(fd, mine.st_mode & 07777) != 0) {
            const int error = errno;
            ::close(fd);
            throw FileError(failure(destination_, "cannot keep its permissions", error));
        }
    }
    const char* what = nullptr;
    if (const int error = finishPart(fd, part_.c_str(), destination_.c_str(), what))
        throw FileError(failure(destination_, what, error));
    committed_ = true;
    const int folder = openFolder(destination_.parent_path());
    syncFolder(folder);
    if (folder >= 0) ::close(folder);
}

FileSeries::FileSeries(const fs::path& folder)
    : folder_((folder / "").string()), folderFile_(openFolder(folder)), tagState_(part_name::freshSeed()) {
    if (folderFile_ < 0) throw FileError(failure(folder, "cannot be opened", errno));
    target_.reserve(folder_.size() + 256);
    part_.reserve(folder_.size() + 256);
}

FileSeries::~FileSeries() { ::close(static_cast<int>(folderFile_)); }

void FileSeries::replace(std::string_view name, std::string_view bytes) {
    target_.assign(folder_);
    target_.append(name);
    struct stat info {};
    if (::lstat(target_.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        // Rare enough to take the general road, which writes through links.
        replaceFile(target_, bytes);
        return;
    }
    part_.assign(folder_);
    part_name::append(part_, name);
    const int fd = createPart(part_, tagState_);
    if (fd < 0) throw FileError(failure(target_, "cannot create a file beside it", errno));
    const char* what = "cannot write";
    int error = 0;
    if (!adoptMode(fd, target_.c_str())) {
        error = errno;
        what = "cannot keep its permissions";
    } else if (!writeAll(fd, bytes.data(), bytes.size())) {
        error = errno;
    }
    if (error != 0) ::close(fd);
    else error = finishPart(fd, part_.c_str(), target_.c_str(), what);
    if (error != 0) {
        ::unlink(part_.c_str());
        throw FileError(failure(target_, what, error));
    }
    syncFolder(static_cast<int>(folderFile_));
}

void placeNew(const fs::path& from, const fs::path& to) {
    auto kept = [&](const std::string& why) {
        return FileError(to.string() + ": " + why + "; the finished file is kept as " + from.string());
    };
    const auto placed = [&] {
        const int folder = openFolder(to.parent_path());
        syncFolder(folder);
        if (folder >= 0) ::close(folder);
    };
    // link refuses an existing name where rename would replace it.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        placed();
        return;
    }
    int error = errno;
    if (error == EEXIST) throw kept("already exists (made while this ran), and is never replaced");
    // FAT, exFAT and many network and FUSE mounts have no hard links, but most
    // can rename without replacing.
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        placed();
        return;
    }
    if (errno == EEXIST) throw kept("already exists (made while this ran), and is never replaced");
    if (errno != EINVAL && errno != ENOSYS) error = errno;
    throw kept(std::string("cannot take this name: ") + std::strerror(error));
}

}  // namespace zyr
