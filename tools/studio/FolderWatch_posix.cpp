#include "FolderWatch.h"

#include "PathText.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <sys/inotify.h>
#include <unistd.h>
#include <unordered_map>

namespace zyr::studio {

namespace {

constexpr std::uint32_t kEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_CREATE |
                                  IN_DELETE_SELF | IN_MOVE_SELF;

}  // namespace

// inotify watches one folder at a time: each folder of the tree has a watch of
// its own, and one made later is added when it appears.
struct FolderWatch::Native {
    Native(const std::filesystem::path& root, int fd, std::vector<std::string>& failures)
        : root(root), fd(fd), failures(failures) {}

    std::filesystem::path root;
    int fd = -1;
    std::unordered_map<int, std::string> folders;  // watch descriptor -> folder relative to the root
    std::vector<std::string>& failures;

    // Watches relative and every folder below it.
    void watchTree(const std::string& relative) {
        watch(relative);
        std::error_code error;
        for (auto it = std::filesystem::recursive_directory_iterator(root / relative, error);
             !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
            if (it->is_symlink(error)) {
                it.disable_recursion_pending();
                continue;
            }
            if (it->is_directory(error)) watch(toGenericUtf8(it->path().lexically_relative(root)));
        }
    }

    void watch(const std::string& relative) {
        const int descriptor = inotify_add_watch(fd, (root / relative).c_str(), kEvents | IN_ONLYDIR);
        if (descriptor >= 0) folders[descriptor] = relative;
        else if (errno != ENOENT && errno != ENOTDIR) failures.push_back("cannot watch " + relative + ": " + std::strerror(errno));
    }
};

FolderWatch::FolderWatch(const std::filesystem::path& folder) : folder_(folder) {
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot watch " + toUtf8(folder) + ": " + std::strerror(errno));
    native_ = std::make_unique<Native>(folder_, fd, failures_);
    const int root = inotify_add_watch(fd, folder_.c_str(), kEvents);
    if (root < 0) {
        const int error = errno;
        close(fd);
        throw std::runtime_error("cannot watch " + toUtf8(folder) + ": " + std::strerror(error));
    }
    native_->folders[root] = "";
    std::error_code error;
    for (auto it = std::filesystem::directory_iterator(folder_, error); !error && it != std::filesystem::directory_iterator();
         it.increment(error))
        if (it->is_directory(error) && !it->is_symlink(error)) native_->watchTree(toUtf8(it->path().filename()));
}

FolderWatch::~FolderWatch() { close(native_->fd); }

void FolderWatch::read(Clock::time_point now) {
    alignas(inotify_event) char buffer[8192];
    for (;;) {
        const ssize_t length = ::read(native_->fd, buffer, sizeof buffer);
        if (length <= 0) return;  // EAGAIN: nothing more for now
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            lastEvent_ = now;
            if (event->mask & IN_Q_OVERFLOW) {
                // Events were lost: every part may have changed.
                changedAll(now);
                continue;
            }
            const auto found = native_->folders.find(event->wd);
            if (found == native_->folders.end()) continue;
            if (event->mask & IN_IGNORED) {
                native_->folders.erase(found);
                continue;
            }
            // A watched folder itself went away or moved: whatever it held did too.
            if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
                changedAll(now);
                continue;
            }
            if (event->len == 0) continue;
            const std::string in = found->second;
            const std::string name(event->name);
            const std::string relative = in.empty() ? name : in + "/" + name;
            if (event->mask & IN_ISDIR) {
                // A folder came, went or was renamed, with whatever it holds.
                changedAll(now);
                if (event->mask & (IN_CREATE | IN_MOVED_TO)) native_->watchTree(relative);
                continue;
            }
            changedFile(relative, now);
        }
    }
}

}  // namespace zyr::studio
