#include "MemoryArchive.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace zyr::studio {

MemoryArchive::MemoryArchive(std::string_view bytes) {
    const int fd = memfd_create("zyr-studio-archive", MFD_CLOEXEC);
    if (fd < 0) throw std::runtime_error(std::string("cannot make an in-memory archive: ") + std::strerror(errno));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = errno;
            close(fd);
            throw std::runtime_error(std::string("cannot fill the in-memory archive: ") + std::strerror(error));
        }
        done += static_cast<std::size_t>(n);
    }
    file_ = fd;
    path_ = "/proc/self/fd/" + std::to_string(fd);
    // The archive opens the file by name and keeps a descriptor of its own.
    archive_ = std::make_unique<ResourceArchive>(path_);
}

MemoryArchive::~MemoryArchive() {
    archive_.reset();
    if (file_ >= 0) close(static_cast<int>(file_));
}

}  // namespace zyr::studio
