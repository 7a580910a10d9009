#include "ContentFolder.h"

#include "FileWrite.h"
#include "Mp3Encoder.h"
#include "PackTool.h"
#include "PathText.h"
#include "TempFolder.h"
#include "Song.h"
#include "Synth.h"
#include "Track.h"
#include "TrackText.h"
#include "ZipArchiveWriter.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <iterator>
#include <map>

namespace zyr::content {

namespace fs = std::filesystem;

namespace {

// Problems already worded "WHERE: reason" by the pack rules.
[[noreturn]] void refuse(const std::vector<std::string>& messages) {
    throw ContentError("", 0, 0, messages.front(), messages);
}

// Through the tools' one reader, which on Windows waits out a file another
// program holds for a moment (an editor in the middle of saving it) rather
// than calling it unreadable.
std::string readWhole(const fs::path& path) {
    const std::string file = toUtf8(path);
    std::optional<std::string> bytes;
    try {
        bytes = readFileIfPresent(path);
    } catch (const FileError& error) {
        // "FILE: cannot be read: REASON", worded as this library words it.
        const std::string what = error.what();
        const std::string lead = file + ": cannot be read: ";
        throw ContentError(file, 0, 0, "cannot read: " + (what.starts_with(lead) ? what.substr(lead.size()) : what));
    }
    if (!bytes) throw ContentError(file, 0, 0, std::string("cannot read: ") + std::strerror(ENOENT));
    return std::move(*bytes);
}

bool directChild(const std::string& name, std::string_view folder, std::string_view extension) {
    if (!name.starts_with(folder) || name.size() <= folder.size() || name[folder.size()] != '/') return false;
    const std::string_view rest = std::string_view(name).substr(folder.size() + 1);
    return rest.find('/') == std::string_view::npos && rest.size() > extension.size() && rest.ends_with(extension);
}

// The folder sorted into what each file is for.
struct Scan {
    std::vector<PackItem> plain;       // go in as they are, under their own names
    std::vector<PackItem> trackTexts;  // tracks/*.txt, sorted
    std::vector<fs::path> songs;       // song/*.song, sorted
    std::vector<std::string> warnings;
};

Scan scanFolder(const fs::path& folder, const std::optional<fs::path>& output) {
    PackPlan plan = planPack(folder, output.value_or(fs::path()));
    if (!plan.errors.empty()) refuse(plan.errors);
    Scan scan;
    scan.warnings = std::move(plan.warnings);
    for (PackItem& item : plan.items) {
        if (item.name == "CMakeLists.txt") continue;  // the build's description of the folder, not content
        if (item.name.starts_with("tracks/")) {
            if (directChild(item.name, "tracks", ".txt"))
                scan.trackTexts.push_back(std::move(item));
            else
                scan.warnings.push_back(item.name + ": tracks/ holds track texts (*.txt); left out");
        } else if (item.name.starts_with("song/")) {
            if (directChild(item.name, "song", ".song"))
                scan.songs.push_back(item.source);
            else
                scan.warnings.push_back(item.name + ": song/ holds the song's sources (*.song); left out");
        } else {
            scan.plain.push_back(std::move(item));
        }
    }
    return scan;
}

const PackItem* findPlain(const Scan& scan, std::string_view name) {
    for (const PackItem& item : scan.plain)
        if (item.name == name) return &item;
    return nullptr;
}

// Files the pack rules refuse (names, sizes) are refused before anything is
// read, so a 5 GB file is never loaded to be turned down.
std::vector<Entry> readPlain(std::vector<PackItem> items) {
    PackPlan plan;
    plan.items = std::move(items);
    checkPack(plan);
    if (!plan.errors.empty()) refuse(plan.errors);
    std::vector<Entry> entries;
    entries.reserve(plan.items.size());
    for (const PackItem& item : plan.items) entries.push_back(Entry{item.name, readWhole(item.source)});
    return entries;
}

// The texts parsed, with each one's bytes and the tracks it holds kept in part
// when given.
std::vector<Entry> compileTracks(const Scan& scan, TrackPart* part = nullptr) {
    std::vector<Entry> entries;
    if (scan.trackTexts.empty()) return entries;
    TrackSetParser parser;
    std::vector<std::size_t> ends;  // where each text's tracks end in parser.tracks()
    for (const PackItem& text : scan.trackTexts) {
        std::string bytes = readWhole(text.source);
        parser.parse(bytes, toUtf8(text.source));
        ends.push_back(parser.tracks().size());
        if (part) part->texts[text.name] = std::move(bytes);
    }
    if (!parser.errors().empty()) {
        // "FILE:LINE: reason", FILE being the path handed to the parser.
        const std::string& first = parser.errors().front();
        for (const PackItem& text : scan.trackTexts) {
            const std::string file = toUtf8(text.source);
            if (!first.starts_with(file + ":")) continue;
            int line = 0;
            const char* digits = first.data() + file.size() + 1;
            const auto [end, ec] = std::from_chars(digits, first.data() + first.size(), line);
            const bool numbered = ec == std::errc() && end[0] == ':';
            const std::string reason = first.substr(
                static_cast<std::size_t>((numbered ? end : digits) - first.data()) + (numbered ? 2 : 0));
            throw ContentError(file, numbered ? line : 0, 0, reason.starts_with(' ') ? reason.substr(1) : reason,
                               parser.errors());
        }
        throw ContentError("", 0, 0, first, parser.errors());
    }
    std::vector<std::string> clashes;
    for (std::size_t t = 0, file = 0; t < parser.tracks().size(); ++t) {
        const Track& track = parser.tracks()[t];
        while (t >= ends[file]) ++file;
        if (part) part->tracks.push_back({track.name, scan.trackTexts[file].name, track.keys});
        Entry entry{trackEntryName(track.name), encodeTrackFile(track.keys)};
        if (const PackItem* ready = findPlain(scan, entry.name))
            clashes.push_back(toUtf8(ready->source) + ": track \"" + track.name +
                              "\" is both compiled from tracks/*.txt and given ready as this file; keep one form");
        entries.push_back(std::move(entry));
    }
    if (!clashes.empty()) refuse(clashes);
    return entries;
}

std::vector<PackItem> readyTracks(const Scan& scan) {
    std::vector<PackItem> out;
    for (const PackItem& item : scan.plain)
        if (partOf(item.name) == Part::Tracks) out.push_back(item);
    return out;
}

void refuseTwoSongs(const Scan& scan, const fs::path& folder) {
    if (scan.songs.empty()) return;
    if (const PackItem* mp3 = findPlain(scan, "soundtrack.mp3"))
        throw ContentError(toUtf8(mp3->source), 0, 0,
                           "the soundtrack is given twice: as this file and as the song in " +
                               toUtf8(folder / "song") + "/*.song; keep one form");
}

std::optional<std::string> soundtrackOf(const Scan& scan, const fs::path& folder) {
    refuseTwoSongs(scan, folder);
    if (scan.songs.empty()) {
        const PackItem* mp3 = findPlain(scan, "soundtrack.mp3");
        if (!mp3) return std::nullopt;
        return readPlain({*mp3}).front().bytes;
    }
    synth::Song song;
    try {
        song = synth::loadSong(folder / "song");
    } catch (const synth::SongError& error) {
        const std::string prefix = place(error.file(), error.line(), 0) + ": ";
        const std::string what = error.what();
        throw ContentError(error.file(), error.line(), 0, what.starts_with(prefix) ? what.substr(prefix.size()) : what);
    }
    return encodeMp3(synth::render(song));
}

}  // namespace

std::string place(const std::string& file, int line, int column) {
    std::string out = file;
    if (line > 0) out += ":" + std::to_string(line);
    if (line > 0 && column > 0) out += ":" + std::to_string(column);
    return out;
}

ContentError::ContentError(std::string file, int line, int column, const std::string& reason)
    : ContentError(std::move(file), line, column, reason, {}) {}

ContentError::ContentError(std::string file, int line, int column, const std::string& reason,
                           std::vector<std::string> messages)
    : std::runtime_error(file.empty() ? reason : place(file, line, column) + ": " + reason),
      file_(std::move(file)),
      line_(line),
      column_(column),
      messages_(std::move(messages)) {
    if (messages_.empty()) messages_.push_back(what());
}

Part partOf(const fs::path& relativePath) {
    const std::string name = toGenericUtf8(relativePath.lexically_normal());
    if (name == "fs.glsl") return Part::Shader;
    if (name == "fsshader.ini") return Part::Parameters;
    if (name == "zyr.png") return Part::Logo;
    if (name == "soundtrack.mp3" || directChild(name, "song", ".song")) return Part::Song;
    if (directChild(name, "tracks", ".txt") || (name.ends_with(".track") && !name.starts_with("tracks/") &&
                                                !name.starts_with("song/")))
        return Part::Tracks;
    return Part::Other;
}

std::vector<Entry> trackEntries(const fs::path& folder) { return readTrackPart(folder).entries; }

TrackPart readTrackPart(const fs::path& folder) {
    const Scan scan = scanFolder(folder, std::nullopt);
    TrackPart part;
    part.entries = compileTracks(scan, &part);
    for (Entry& ready : readPlain(readyTracks(scan))) part.entries.push_back(std::move(ready));
    std::sort(part.entries.begin(), part.entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return part;
}

std::optional<std::string> soundtrackMp3(const fs::path& folder) {
    return soundtrackOf(scanFolder(folder, std::nullopt), folder);
}

std::vector<Entry> folderEntries(const fs::path& folder, const FolderOptions& options,
                                 std::vector<std::string>* warnings) {
    Scan scan = scanFolder(folder, options.output);
    // Every refusal about the folder's shape comes before the slow work.
    refuseTwoSongs(scan, folder);
    std::vector<Entry> tracks = compileTracks(scan);
    if (options.defaultLogo && !findPlain(scan, "zyr.png")) {
        std::error_code code;
        const std::uintmax_t size = fs::file_size(*options.defaultLogo, code);
        if (code) throw ContentError(toUtf8(*options.defaultLogo), 0, 0, "cannot read: " + code.message());
        scan.plain.push_back(PackItem{"zyr.png", *options.defaultLogo, size});
    }
    std::vector<Entry> entries = readPlain(scan.plain);
    std::move(tracks.begin(), tracks.end(), std::back_inserter(entries));
    if (!scan.songs.empty()) entries.push_back(Entry{"soundtrack.mp3", *soundtrackOf(scan, folder)});
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    if (warnings) warnings->insert(warnings->end(), scan.warnings.begin(), scan.warnings.end());
    return entries;
}

namespace {

// The pack rules over entries in memory, sorted; refusals throw.
std::vector<ZipBytes> checkedEntries(const std::vector<Entry>& entries, std::vector<std::string>* warnings) {
    std::vector<const Entry*> sorted;
    for (const Entry& entry : entries) sorted.push_back(&entry);
    std::sort(sorted.begin(), sorted.end(), [](const Entry* a, const Entry* b) { return a->name < b->name; });
    PackPlan plan;
    std::vector<std::string_view> bytes;
    for (const Entry* entry : sorted) {
        plan.items.push_back(PackItem{entry->name, pathFromUtf8(entry->name), entry->bytes.size()});
        bytes.push_back(entry->bytes);
    }
    checkPack(plan, bytes);
    for (std::size_t i = 1; i < sorted.size(); ++i)
        if (sorted[i]->name == sorted[i - 1]->name)
            plan.errors.push_back(sorted[i]->name + ": two entries of this name");
    if (!plan.errors.empty()) refuse(plan.errors);
    if (warnings) warnings->insert(warnings->end(), plan.warnings.begin(), plan.warnings.end());
    std::vector<ZipBytes> out;
    for (const Entry* entry : sorted) out.push_back(ZipBytes{entry->name, entry->bytes});
    return out;
}

}  // namespace

std::string packArchive(const std::vector<Entry>& entries, std::vector<std::string>* warnings) {
    const std::vector<ZipBytes> zipEntries = checkedEntries(entries, warnings);
    // The writer seeks back over what it wrote, so it works on a file; a
    // private one, so concurrent calls never meet.
    PrivateTempFolder temp;
    const fs::path file = temp.path() / "archive.zip";
    try {
        ZipArchiveWriter zip(file);
        for (const ZipBytes& entry : zipEntries) zip.addBytes(entry.name, entry.bytes);
        zip.finish();
    } catch (const ZipError& error) {
        throw ContentError("", 0, 0, error.what());
    }
    return readWhole(file);
}

void writeArchive(const std::vector<Entry>& entries, const fs::path& output, std::vector<std::string>* warnings) {
    const std::vector<ZipBytes> zipEntries = checkedEntries(entries, warnings);
    try {
        writeZipAtomically(output, zipEntries);
    } catch (const ZipError& error) {
        throw ContentError("", 0, 0, error.what());
    }
}

}  // namespace zyr::content
