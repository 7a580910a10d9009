#include "FileWrite.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

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

void syncFolder(const fs::path& folder) {
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    // Some file systems cannot sync a folder (EINVAL); the rename stands anyway.
    ::fsync(fd);
    ::close(fd);
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
    const fs::path folder = destination_.parent_path();
    // Room for the dot, the random tag and the suffix within a 255-byte name.
    std::string stem = "." + destination_.filename().string().substr(0, 200) + ".";
    std::random_device random;
    std::minstd_rand tags(random());
    static constexpr char kTagChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = stem;
        for (int i = 0; i < 8; ++i) name += kTagChars[tags() % (sizeof kTagChars - 1)];
        name += kPartFileSuffix;
        part_ = folder / name;
        // Exclusive, so neither a planted link nor another writer's part is
        // ever opened; the kernel applies the umask to a new file's mode.
        fd_ = ::open(part_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd_ >= 0) break;
        if (errno != EEXIST) throw FileError(failure(target, "cannot create a file beside it", errno));
    }
    if (fd_ < 0) throw FileError(failure(target, "cannot create a file beside it", EEXIST));
    struct stat old {};
    if (::stat(destination_.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        // The replacement is the same file to everyone who could use the old.
        if (::fchown(fd_, old.st_uid, old.st_gid) != 0) {
            // Only a privileged writer may give a file away; the mode still holds.
        }
        if (::fchmod(fd_, old.st_mode & 07777) != 0) {
            const int error = errno;
            ::close(fd_);
            fd_ = -1;
            ::unlink(part_.c_str());
            throw FileError(failure(target, "cannot keep its permissions", error));
        }
    }
}

PartFile::~PartFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_) ::unlink(part_.c_str());
}

void PartFile::write(std::string_view bytes) {
    if (fd_ < 0 || committed_) throw FileError(destination_.string() + ": written after it was committed");
    if (!writeAll(fd_, bytes.data(), bytes.size())) throw FileError(failure(destination_, "cannot write", errno));
}

void PartFile::commit() {
    if (committed_) return;
    // A writer that opened path() itself may have replaced the file under
    // that name: what is synced and renamed is whatever holds the name now.
    int fd = fd_;
    fd_ = -1;
    struct stat mine {};
    struct stat named {};
    if (fd >= 0 && (::fstat(fd, &mine) != 0 || ::stat(part_.c_str(), &named) != 0 || mine.st_ino != named.st_ino ||
                    mine.st_dev != named.st_dev)) {
        mode_t mode = mine.st_mode & 07777;
        ::close(fd);
        fd = ::open(part_.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) ::fchmod(fd, mode);
    }
    if (fd < 0) throw FileError(failure(destination_, "cannot write", errno));
    const bool synced = ::fsync(fd) == 0;
    int error = errno;
    const bool closed = ::close(fd) == 0;
    if (synced && !closed) error = errno;
    if (!synced || !closed) throw FileError(failure(destination_, "cannot write", error));
    if (::rename(part_.c_str(), destination_.c_str()) != 0)
        throw FileError(failure(destination_, "cannot replace", errno));
    committed_ = true;
    syncFolder(destination_.parent_path());
}

void replaceFile(const fs::path& target, std::string_view bytes) {
    PartFile part(target);
    part.write(bytes);
    part.commit();
}

void placeNew(const fs::path& from, const fs::path& to) {
    auto kept = [&](const std::string& why) {
        return FileError(to.string() + ": " + why + "; the finished file is kept as " + from.string());
    };
    // link refuses an existing name where rename would replace it.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        syncFolder(to.parent_path());
        return;
    }
    int error = errno;
    if (error == EEXIST) throw kept("already exists (made while this ran), and is never replaced");
    // FAT, exFAT and many network and FUSE mounts have no hard links, but most
    // can rename without replacing.
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        syncFolder(to.parent_path());
        return;
    }
    if (errno == EEXIST) throw kept("already exists (made while this ran), and is never replaced");
    if (errno != EINVAL && errno != ENOSYS) error = errno;
    throw kept(std::string("cannot take this name: ") + std::strerror(error));
}

}  // namespace zyr
