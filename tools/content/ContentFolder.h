// A content folder: the sources an author edits, and the archive entries the
// player reads that they turn into. The build's content target, zyr-pack and
// the studio all go through this, so a folder means the same thing to each.
//
// What a folder holds, and what each thing becomes:
//
//     fs.glsl, fsshader.ini, zyr.png   -> the entry of the same name, as is
//     tracks/*.txt                      -> sync_<escaped name>.track, compiled
//     song/*.song                       -> soundtrack.mp3, rendered + encoded (lame -b 192)
//     soundtrack.mp3                    -> soundtrack.mp3, as is
//     any other file (ready .track      -> the entry named by its path, as is
//     files included)
//
// Left out: CMakeLists.txt at the root (the build's own file), anything in
// tracks/ other than *.txt and in song/ other than *.song (with a warning), and
// an output archive inside the folder (packFolder). A folder of ready entries
// (no tracks/, no song/) is therefore packed exactly as it always was.
//
// Both forms of one thing are refused, naming both files: song/*.song beside
// soundtrack.mp3 (whatever the songs hold), and a track compiled from
// tracks/*.txt whose entry is also there as a ready file. Ready track files of
// other tracks may sit beside the texts.
//
// Use:
//     auto entries = zyr::content::folderEntries("content");          // everything
//     std::string zip = zyr::content::packArchive(entries);            // archive bytes
//     zyr::content::writeArchive(entries, "build/zyr.dat");            // all or nothing
//
//     // A watcher rebuilds only the part a changed file belongs to:
//     switch (zyr::content::partOf("tracks/cam.txt")) {               // Part::Tracks
//     case Part::Tracks: tracks = trackEntries(folder); break;
//     case Part::Song:   mp3 = soundtrackMp3(folder); break;          // slow: off the frame thread
//     ...
//     }
//
// Ownership: plain values; every function reads the folder afresh and keeps
// nothing between calls. soundtrackMp3 encodes in memory and packArchive works
// in a private temporary folder it removes on every way out, so calls may run
// on several threads at once.
//
// Failure: everything throws ContentError, whose what() is "FILE:LINE[:COL]:
// reason" (or "FILE: reason" where no line applies) and whose file(), line()
// and column() give the place (0 for none); messages() lists every problem
// found when there were several (bad track texts report them all). Nothing here
// writes anything but writeArchive's output, and that only when all is well.
#pragma once

#include "Track.h"

#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace zyr::content {

// An archive entry: its exact name and its bytes.
struct Entry {
    std::string name;
    std::string bytes;
    friend bool operator==(const Entry&, const Entry&) = default;
};

class ContentError : public std::runtime_error {
public:
    ContentError(std::string file, int line, int column, const std::string& reason);
    // Several problems at once: the first gives file, line and column.
    ContentError(std::string file, int line, int column, const std::string& reason,
                 std::vector<std::string> messages);

    const std::string& file() const { return file_; }
    int line() const { return line_; }      // 1-based; 0 when none applies
    int column() const { return column_; }  // 1-based; 0 when none applies
    // Every problem as "FILE:LINE[:COL]: reason"; the first is what().
    const std::vector<std::string>& messages() const { return messages_; }

private:
    std::string file_;
    int line_;
    int column_;
    std::vector<std::string> messages_;
};

// Where a message points, as every tool words it: "FILE:LINE:COLUMN", with
// what is not known (0) left out.
std::string place(const std::string& file, int line, int column);

enum class Part { Shader, Parameters, Tracks, Song, Logo, Other };

// Which part a file belongs to, from its path relative to the folder
// ("tracks/a.txt", "song/drums.song", "soundtrack.mp3", "sync_a.x.track").
Part partOf(const std::filesystem::path& relativePath);

// Every track entry: tracks/*.txt compiled, plus the ready .track files.
std::vector<Entry> trackEntries(const std::filesystem::path& folder);

// The track part read once, for a tool that edits the texts: what trackEntries
// gives, each text's bytes as they were read, and each track of the texts with
// the text that holds it. Fails as trackEntries does.
struct TextTrack {
    std::string name;
    std::string file;  // "tracks/cam.txt"
    std::vector<TrackKey> keys;
};
struct TrackPart {
    std::vector<Entry> entries;
    std::map<std::string, std::string> texts;  // "tracks/cam.txt" -> its bytes
    std::vector<TextTrack> tracks;
};
TrackPart readTrackPart(const std::filesystem::path& folder);

// The soundtrack's bytes: song/ rendered and encoded (Mp3Encoder.h), or the ready
// soundtrack.mp3; nullopt when the folder has neither. Slow for a song
// (seconds); thread-safe. A song that does not parse is a ContentError at its
// line; the encoder failing is a ContentError naming it.
std::optional<std::string> soundtrackMp3(const std::filesystem::path& folder);

struct FolderOptions {
    // Goes in as zyr.png when the folder has none (the build's generated logo).
    std::optional<std::filesystem::path> defaultLogo;
    // A file under the folder to leave out (the archive being written).
    std::optional<std::filesystem::path> output;
};

// Everything the archive holds, sorted by entry name. Warnings (the pack
// tool's: leftovers, hidden files, misplaced names, skipped files) are added
// to warnings when given.
std::vector<Entry> folderEntries(const std::filesystem::path& folder, const FolderOptions& options = {},
                                 std::vector<std::string>* warnings = nullptr);

// Zip bytes from the pack tool's writer, with its refusals (entry names the
// player cannot open, zip32 limits) as ContentError naming the entry, and its
// warnings (look-alike names, track files no track loads) added to warnings.
// The same entries give the same bytes, whatever their order.
std::string packArchive(const std::vector<Entry>& entries, std::vector<std::string>* warnings = nullptr);

// packArchive written to output through a temporary beside it, then renamed:
// output is either the whole new archive or left as it was.
void writeArchive(const std::vector<Entry>& entries, const std::filesystem::path& output,
                  std::vector<std::string>* warnings = nullptr);

}  // namespace zyr::content
