#include "StudioSource.h"

#include "FileWrite.h"
#include "PathText.h"

#include <stdexcept>
#include <system_error>
#include <utility>
#include <vector>

namespace zyr::studio {

namespace fs = std::filesystem;
using content::Part;

Source::Source(const fs::path& path, ProblemBoard& problems) {
    std::error_code error;
    if (fs::is_directory(path, error)) {
        folder_ = path;
        name_ = toUtf8(fs::absolute(path).lexically_normal().filename());
        if (name_.empty()) name_ = toUtf8(path);
        openFolder(problems);
        for (Part part : {Part::Shader, Part::Parameters, Part::Tracks, Part::Song}) snapshots_[part] = snapshot(part);
        return;
    }
    if (!fs::is_regular_file(path, error)) throw std::runtime_error(toUtf8(path) + ": no such folder or archive");
    name_ = toUtf8(path.filename());
    file_ = std::make_unique<ResourceArchive>(path);
    if (!file_->isOpen()) throw std::runtime_error(toUtf8(path) + ": not an archive the player reads");
    archive_ = file_.get();
    if (ArchiveFile* music = archive_->openFile(kMusicEntry)) {
        music_ = archive_->readText(music);
        archive_->closeFile(music);
    }
}

void Source::openFolder(ProblemBoard& problems) {
    // Part by part, so a part with a mistake is shown rather than ending the
    // studio: only the music is needed to start at all.
    std::vector<content::Entry> entries;
    for (const char* name : {kShaderEntry, kParameterEntry}) {
        try {
            if (std::optional<std::string> text = read(name)) entries.push_back({name, std::move(*text)});
        } catch (const FileError& error) {
            problems.set(name == std::string(kShaderEntry) ? Topic::Shader : Topic::Parameters, {{{}, error.what(), {}, 0}});
        }
    }
    try {
        startTracks_ = content::readTrackPart(folder_);
        entries.insert(entries.end(), startTracks_->entries.begin(), startTracks_->entries.end());
    } catch (const content::ContentError& error) {
        problems.set(Topic::Tracks, contentProblems(error, folder_));
    }
    std::optional<std::string> mp3 = content::soundtrackMp3(folder_);
    if (!mp3) throw std::runtime_error(toUtf8(folder_) + ": no music (song/ or soundtrack.mp3)");
    music_ = *mp3;
    entries.push_back({kMusicEntry, std::move(*mp3)});
    packed_ = std::make_unique<MemoryArchive>(content::packArchive(entries));
    archive_ = &packed_->archive();
}

std::optional<std::string> Source::read(const std::string& name) const { return readFileIfPresent(folder_ / pathFromUtf8(name)); }

Source::Snapshot Source::snapshot(Part part) const {
    Snapshot files;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder_, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
        if (!it->is_regular_file(error)) continue;
        const std::string relative = toGenericUtf8(it->path().lexically_relative(folder_));
        if (content::partOf(relative) != part) continue;
        try {
            files[relative] = readFileIfPresent(it->path()).value_or(std::string());
        } catch (const FileError& unreadable) {
            // Counts as a change until it reads again; the reload says why.
            files[relative] = std::string("\0", 1) + unreadable.what();
        }
    }
    return files;
}

bool Source::changed(Part part) {
    if (!isFolder()) return false;
    Snapshot now = snapshot(part);
    if (now == snapshots_[part]) return false;
    snapshots_[part] = std::move(now);
    return true;
}

void Source::wrote(const std::string& name, const std::string& bytes) {
    if (isFolder()) snapshots_[content::partOf(name)][name] = bytes;
}

}  // namespace zyr::studio
