#include "DemoContent.h"

#include "Track.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<SongSection> songSections() {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(ZYR_SONG_DIR))
        if (entry.path().extension() == ".song") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    std::vector<SongSection> sections;
    int bar = 0;
    for (const fs::path& file : files) {
        std::istringstream lines(fileText(file));
        for (std::string line; std::getline(lines, line);) {
            std::istringstream words(line.substr(0, line.find('#')));
            std::string word, name;
            int bars = 0;
            if (words >> word && word == "section" && words >> name >> bars) {
                sections.push_back({name, bar * kRowsPerBar, (bar + bars) * kRowsPerBar});
                bar += bars;
            }
        }
    }
    return sections;
}

SongSection sectionNamed(const std::vector<SongSection>& sections, const std::string& name) {
    for (const SongSection& s : sections)
        if (s.name == name) return s;
    ADD_FAILURE() << "the song has no section \"" << name << "\"";
    return {};
}

std::string entryText(ResourceArchive& archive, const std::string& name) {
    ArchiveFile* file = archive.openFile(name);
    if (file == nullptr) return {};
    std::string text = archive.readText(file);
    archive.closeFile(file);
    return text;
}

std::string entryBytes(ResourceArchive& archive, const std::string& name) {
    ArchiveFile* file = archive.openFile(name);
    if (file == nullptr) return {};
    const std::vector<std::uint8_t> bytes = archive.readBytes(file);
    archive.closeFile(file);
    return {bytes.begin(), bytes.end()};
}

TrackReader::TrackReader(ResourceArchive& archive) {
    setStreamArchive(&archive);
    device_ = createDevice(zyr::kTrackBase);
    if (device_ == nullptr) throw std::bad_alloc();
    device_->io = SyncIo{archiveOpen, archiveRead, archiveClose};
}

TrackReader::~TrackReader() { destroyDevice(device_); }

const SyncTrack& TrackReader::track(const std::string& name) {
    const SyncTrack* track = getTrack(device_, name.c_str());
    if (track == nullptr) throw std::bad_alloc();
    return *track;
}

float TrackReader::value(const std::string& name, double row) {
    return static_cast<float>(getValue(&track(name), row));
}

std::vector<std::string> componentTracks(const ExportedUniform& e) {
    static const char* const suffix[] = {".x", ".y", ".z", ".w"};
    std::vector<std::string> names;
    for (std::uint32_t i = 0; i < componentCount(e.type) && i < 4; ++i) names.push_back(e.target + suffix[i]);
    return names;
}

std::vector<ExportedUniform> exportsOf(const std::string& source, ExportKind kind) {
    std::vector<ExportedUniform> out;
    for (const ExportedUniform& e : scanExports(source))
        if (classifyKind(e.kind) == kind) out.push_back(e);
    return out;
}
