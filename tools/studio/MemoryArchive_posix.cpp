#include "MemoryArchive.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace zyr::studio {

MemoryArchive::MemoryArchive(std::string_view bytes) {
    fd_ = memfd_create("zyr-studio-archive", MFD_CLOEXEC);
    if (fd_ < 0) throw std::runtime_error(std::string("cannot make an in-memory archive: ") + std::strerror(errno));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = errno;
            close(fd_);
            throw std::runtime_error(std::string("cannot fill the in-memory archive: ") + std::strerror(error));
        }
        done += static_cast<std::size_t>(n);
    }
    // The archive opens the file by name and keeps a descriptor of its own.
    archive_ = std::make_unique<ResourceArchive>("/proc/self/fd/" + std::to_string(fd_));
}

MemoryArchive::~MemoryArchive() {
    archive_.reset();
    if (fd_ >= 0) close(fd_);
}

}  // namespace zyr::studio
