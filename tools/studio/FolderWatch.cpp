#include "FolderWatch.h"

namespace zyr::studio {

void FolderWatch::changedFile(const std::string& relative, Clock::time_point now) {
    lastEvent_ = now;
    pending_.add(content::partOf(relative));
}

void FolderWatch::changedAll(Clock::time_point now) {
    lastEvent_ = now;
    for (auto part : {content::Part::Shader, content::Part::Parameters, content::Part::Tracks, content::Part::Song})
        pending_.add(part);
}

PartSet FolderWatch::poll(Clock::time_point now) {
    read(now);
    if (!pending_ || now - lastEvent_ < kQuiet) return {};
    const PartSet changed = pending_;
    pending_ = {};
    return changed;
}

}  // namespace zyr::studio
