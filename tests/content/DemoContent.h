// What the content tests read besides frames: the song's sections from its
// sources, archive entries, and track values through the player's own loader.
#pragma once

#include "ExportScan.h"
#include "ResourceArchive.h"
#include "SyncTrack.h"

#include <filesystem>
#include <string>
#include <vector>

inline constexpr int kRowsPerBeat = 8;
inline constexpr int kRowsPerBar = 32;

struct SongSection {
    std::string name;
    int start = 0;  // rows
    int end = 0;
};

// The sections as the song's sources (ZYR_SONG_DIR) state them: "section NAME
// BARS" statements, files read in name order, each section following the one
// before. What the picture has to follow, taken from the music rather than
// restated in the tests.
std::vector<SongSection> songSections();
// The section of that name; a test failure (and an empty section) if the song has none.
SongSection sectionNamed(const std::vector<SongSection>& sections, const std::string& name);

std::string fileText(const std::filesystem::path& path);
std::string entryText(ResourceArchive& archive, const std::string& name);
std::string entryBytes(ResourceArchive& archive, const std::string& name);

// Track values as the player loads and evaluates them, from an archive. Points
// the archive stream callbacks at this archive, as the sync store does.
class TrackReader {
public:
    explicit TrackReader(ResourceArchive& archive);
    ~TrackReader();
    TrackReader(const TrackReader&) = delete;
    TrackReader& operator=(const TrackReader&) = delete;

    const SyncTrack& track(const std::string& name);
    // Rounded to float, as the store writes it into a value slot.
    float value(const std::string& name, double row);

private:
    SyncDevice* device_ = nullptr;
};

// The tracks a rocket export follows, one per component.
std::vector<std::string> componentTracks(const ExportedUniform& e);
std::vector<ExportedUniform> exportsOf(const std::string& source, ExportKind kind);
