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

// The folders whose files become parts of the archive.
bool watchedFolder(const std::string& name) { return name == "tracks" || name == "song"; }

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
    watch("tracks");
    watch("song");
}

FolderWatch::~FolderWatch() { close(fd_); }

void FolderWatch::watch(const std::string& relative) {
    std::error_code error;
    if (!std::filesystem::is_directory(folder_ / relative, error)) return;
    const int descriptor = inotify_add_watch(fd_, (folder_ / relative).c_str(), kEvents);
    if (descriptor >= 0) folders_[descriptor] = relative;
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
                for (auto part : {content::Part::Shader, content::Part::Parameters, content::Part::Tracks,
                                  content::Part::Song})
                    pending_.add(part);
                continue;
            }
            const auto found = folders_.find(event->wd);
            if (found == folders_.end()) continue;
            const std::string& in = found->second;
            if (event->mask & IN_IGNORED) {
                folders_.erase(found);
                continue;
            }
            if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
                if (in == "tracks") pending_.add(content::Part::Tracks);
                if (in == "song") pending_.add(content::Part::Song);
                continue;
            }
            if (event->len == 0) continue;
            const std::string name(event->name);
            if (in.empty() && watchedFolder(name)) {
                // tracks/ or song/ came, went or was renamed: its whole part changed.
                pending_.add(name == "tracks" ? content::Part::Tracks : content::Part::Song);
                if (event->mask & (IN_CREATE | IN_MOVED_TO)) watch(name);
                continue;
            }
            const std::filesystem::path relative = in.empty() ? std::filesystem::path(name) : std::filesystem::path(in) / name;
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
