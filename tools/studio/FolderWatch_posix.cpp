#include "FolderWatch.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <sys/inotify.h>
#include <unistd.h>

namespace zyr::studio {

namespace {

constexpr std::uint32_t kEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_CREATE |
                                  IN_DELETE_SELF | IN_MOVE_SELF;

}  // namespace

FolderWatch::FolderWatch(const std::filesystem::path& folder) : folder_(folder) {
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) throw std::runtime_error(std::string("cannot watch ") + folder.string() + ": " + std::strerror(errno));
    const int root = inotify_add_watch(fd_, folder_.c_str(), kEvents);
    if (root < 0) {
        const int error = errno;
        close(fd_);
        throw std::runtime_error("cannot watch " + folder.string() + ": " + std::strerror(error));
    }
    folders_[root] = "";
    std::error_code error;
    for (auto it = std::filesystem::directory_iterator(folder_, error); !error && it != std::filesystem::directory_iterator();
         it.increment(error))
        if (it->is_directory(error) && !it->is_symlink(error)) watchTree(it->path().filename().string());
}

FolderWatch::~FolderWatch() { close(fd_); }

void FolderWatch::watchTree(const std::string& relative) {
    watch(relative);
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(folder_ / relative, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_symlink(error)) {
            it.disable_recursion_pending();
            continue;
        }
        if (it->is_directory(error)) watch(it->path().lexically_relative(folder_).generic_string());
    }
}

void FolderWatch::watch(const std::string& relative) {
    const int descriptor = inotify_add_watch(fd_, (folder_ / relative).c_str(), kEvents | IN_ONLYDIR);
    if (descriptor >= 0) folders_[descriptor] = relative;
    else if (errno != ENOENT && errno != ENOTDIR) failures_.push_back("cannot watch " + relative + ": " + std::strerror(errno));
}

void FolderWatch::changedAll() {
    for (auto part : {content::Part::Shader, content::Part::Parameters, content::Part::Tracks, content::Part::Song})
        pending_.add(part);
}

void FolderWatch::read(Clock::time_point now) {
    alignas(inotify_event) char buffer[8192];
    for (;;) {
        const ssize_t length = ::read(fd_, buffer, sizeof buffer);
        if (length <= 0) return;  // EAGAIN: nothing more for now
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            lastEvent_ = now;
            if (event->mask & IN_Q_OVERFLOW) {
                // Events were lost: every part may have changed.
                changedAll();
                continue;
            }
            const auto found = folders_.find(event->wd);
            if (found == folders_.end()) continue;
            if (event->mask & IN_IGNORED) {
                folders_.erase(found);
                continue;
            }
            // A watched folder itself went away or moved: whatever it held did too.
            if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
                changedAll();
                continue;
            }
            if (event->len == 0) continue;
            const std::string in = found->second;
            const std::string name(event->name);
            const std::string relative = in.empty() ? name : in + "/" + name;
            if (event->mask & IN_ISDIR) {
                // A folder came, went or was renamed, with whatever it holds.
                changedAll();
                if (event->mask & (IN_CREATE | IN_MOVED_TO)) watchTree(relative);
                continue;
            }
            pending_.add(content::partOf(relative));
        }
    }
}

PartSet FolderWatch::poll(Clock::time_point now) {
    read(now);
    if (!pending_ || now - lastEvent_ < kQuiet) return {};
    const PartSet changed = pending_;
    pending_ = {};
    return changed;
}

}  // namespace zyr::studio
