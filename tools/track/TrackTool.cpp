#include "TrackTool.h"

#include "FileWrite.h"
#include "PathText.h"
#include "ResourceArchive.h"
#include "TrackText.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <ostream>
#include <set>

namespace zyr {

namespace fs = std::filesystem;

namespace {

constexpr const char* kUsage =
    "usage: zyr-track compile TEXT... --out FOLDER\n"
    "       zyr-track dump FILE.track...\n"
    "       zyr-track dump ARCHIVE ENTRY...\n";

std::optional<std::string> readWhole(const fs::path& path, std::string& error) {
    std::error_code code;
    if (fs::is_directory(path, code)) {
        error = "is a folder";
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = std::string("cannot read: ") + std::strerror(errno);
        return std::nullopt;
    }
    std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        error = "cannot read";
        return std::nullopt;
    }
    return bytes;
}

// Every folder an entry name passes through: "a/b/c.track" gives "a" and "a/b".
std::vector<std::string> folderPrefixes(const std::string& entry) {
    std::vector<std::string> out;
    for (std::size_t slash = entry.find('/'); slash != std::string::npos; slash = entry.find('/', slash + 1))
        out.push_back(entry.substr(0, slash));
    return out;
}

struct PlannedFile {
    std::string entry;
    fs::path path;
    std::string bytes;
};

void dumpBytes(const std::string& label, const std::string& name, std::span<const std::uint8_t> bytes,
               std::vector<Track>& tracks, std::ostream& err, bool& failed) {
    std::string error;
    auto decoded = decodeTrackFile(bytes, error);
    if (!decoded) {
        err << label << ": " << error << "\n";
        failed = true;
        return;
    }
    for (const std::string& warning : decoded->warnings) err << label << ": warning: " << warning << "\n";
    tracks.push_back(Track{name, std::move(decoded->keys)});
}

int dump(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::vector<Track> tracks;
    bool failed = false;
    const bool looseFiles = args.size() == 1 || pathFromUtf8(args[0]).extension() == ".track";
    if (looseFiles) {
        for (const std::string& file : args) {
            const fs::path path = pathFromUtf8(file);
            const auto name = trackNameFromPath(path);
            if (!name) {
                err << file << ": not named like a track file (sync_<escaped name>.track), so no track loads it";
                if (path.extension() != ".track") err << "; to read from an archive, name its entries too";
                err << "\n";
                failed = true;
                continue;
            }
            std::string error;
            const auto bytes = readWhole(path, error);
            if (!bytes) {
                err << file << ": " << error << "\n";
                failed = true;
                continue;
            }
            dumpBytes(file, *name,
                      std::span(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()), tracks, err,
                      failed);
        }
    } else {
        ResourceArchive archive{pathFromUtf8(args[0])};
        if (!archive.isOpen()) {
            err << args[0] << ": cannot open as a zip archive\n";
            return 1;
        }
        for (std::size_t i = 1; i < args.size(); ++i) {
            const std::string& entry = args[i];
            const std::string label = args[0] + ":" + entry;
            const auto name = trackNameFromEntry(entry);
            if (!name) {
                err << label << ": not a track entry name (sync_<escaped name>.track), so no track loads it\n";
                failed = true;
                continue;
            }
            ArchiveFile* file = archive.openFile(entry);
            if (!file) {
                err << label << ": no such entry (names match exactly), or stored with a method the player cannot read\n";
                failed = true;
                continue;
            }
            const std::vector<std::uint8_t> bytes = archive.readBytes(file);
            archive.closeFile(file);
            dumpBytes(label, *name, bytes, tracks, err, failed);
        }
    }
    out << formatTracks(tracks);
    return failed ? 1 : 0;
}

int compile(const std::vector<std::string>& args, std::ostream& err) {
    std::vector<fs::path> inputs;
    std::optional<fs::path> folder;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--out") {
            if (i + 1 >= args.size() || folder) {
                err << kUsage;
                return 2;
            }
            folder = pathFromUtf8(args[++i]);
        } else if (args[i].starts_with("--out=") && !folder) {
            folder = pathFromUtf8(args[i].substr(6));
        } else if (args[i].starts_with("--")) {
            err << "zyr-track: unknown option " << args[i] << "\n" << kUsage;
            return 2;
        } else {
            inputs.push_back(pathFromUtf8(args[i]));
        }
    }
    if (!folder || folder->empty() || inputs.empty()) {
        err << kUsage;
        return 2;
    }
    const CompileResult result = compileTrackTexts(inputs, *folder);
    for (const std::string& error : result.errors) err << error << "\n";
    return result.errors.empty() ? 0 : 1;
}

}  // namespace

std::optional<std::string> trackNameFromPath(const fs::path& path) {
    std::vector<std::string> parts;
    for (const fs::path& part : path.lexically_normal()) parts.push_back(toUtf8(part));
    std::string tail;
    for (auto part = parts.rbegin(); part != parts.rend(); ++part) {
        if (*part == "/" || part->empty()) break;
        tail = tail.empty() ? *part : *part + "/" + tail;
        if (auto name = trackNameFromEntry(tail)) return name;
    }
    return std::nullopt;
}

CompileResult compileTrackTexts(const std::vector<fs::path>& inputs, const fs::path& folder) {
    CompileResult result;
    TrackSetParser parser;
    for (const fs::path& input : inputs) {
        std::string error;
        const auto text = readWhole(input, error);
        if (!text) {
            result.errors.push_back(toUtf8(input) + ": " + error);
            continue;
        }
        parser.parse(*text, toUtf8(input));
    }
    result.errors.insert(result.errors.end(), parser.errors().begin(), parser.errors().end());
    if (!result.errors.empty()) return result;
    result.errors = writeTrackFiles(parser.tracks(), folder, result.written);
    return result;
}

std::vector<std::string> writeTrackFiles(const std::vector<Track>& tracks, const fs::path& folder,
                                         std::vector<fs::path>& written) {
    std::vector<std::string> errors;
    const std::string where = toUtf8(folder);

    std::vector<PlannedFile> plan;
    std::set<std::string> entries;
    std::set<std::string> folders;
    for (const Track& track : tracks) {
        PlannedFile file{trackEntryName(track.name), {}, encodeTrackFile(track.keys)};
        file.path = folder / pathFromUtf8(file.entry);
        entries.insert(file.entry);
        for (const std::string& prefix : folderPrefixes(file.entry)) folders.insert(prefix);
        plan.push_back(std::move(file));
    }
    // In an archive "a.track" and "a.track/b.track" may live side by side; on
    // disk the first would have to be a file and a folder at once.
    for (const PlannedFile& file : plan)
        if (folders.contains(file.entry))
            errors.push_back(where + ": the entry " + file.entry + " is also the folder of another track's entry");

    std::error_code code;
    if (fs::exists(folder, code) && !fs::is_directory(folder, code))
        errors.push_back(where + ": exists and is not a folder");
    for (const std::string& prefix : folders)
        if (fs::exists(folder / pathFromUtf8(prefix), code) && !fs::is_directory(folder / pathFromUtf8(prefix), code))
            errors.push_back(where + ": " + prefix + " is in the way of a folder the tracks need");
    for (const PlannedFile& file : plan)
        if (fs::is_directory(file.path, code))
            errors.push_back(where + ": a folder stands where " + file.entry + " must go");
    if (!errors.empty()) return errors;

    // Folders made here are removed again if the write fails.
    std::vector<fs::path> created;
    std::vector<fs::path> needed{folder};
    for (const std::string& prefix : folders) needed.push_back(folder / pathFromUtf8(prefix));
    std::vector<std::unique_ptr<PartFile>> parts;
    auto rollBack = [&] {
        std::error_code ignored;
        parts.clear();
        for (auto dir = created.rbegin(); dir != created.rend(); ++dir) fs::remove(*dir, ignored);
    };

    // Parents come before their children: std::set orders "a" before "a/b".
    for (const fs::path& dir : needed) {
        if (fs::exists(dir, code)) continue;
        std::vector<fs::path> missing;
        for (fs::path up = dir; !up.empty() && !fs::exists(up, code); up = up.parent_path()) {
            missing.push_back(up);
            if (up == up.parent_path()) break;
        }
        for (auto part = missing.rbegin(); part != missing.rend(); ++part) {
            if (!fs::create_directory(*part, code) && code) {
                errors.push_back(toUtf8(*part) + ": cannot create folder: " + code.message());
                rollBack();
                return errors;
            }
            created.push_back(*part);
        }
    }

    // Every file is written in full before any takes its name, so a full disk
    // or a refused folder leaves every track file as it was.
    try {
        for (const PlannedFile& file : plan) {
            parts.push_back(std::make_unique<PartFile>(file.path));
            parts.back()->write(file.bytes);
        }
        for (std::size_t i = 0; i < plan.size(); ++i) {
            parts[i]->commit();
            written.push_back(plan[i].path);
        }
    } catch (const FileError& error) {
        errors.push_back(error.what());
        if (written.empty()) rollBack();
        return errors;
    }
    return errors;
}

int runTrackTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        (args.empty() ? err : out) << kUsage;
        return args.empty() ? 2 : 0;
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (args[0] == "compile") return compile(rest, err);
    if (args[0] == "dump" && !rest.empty()) return dump(rest, out, err);
    err << kUsage;
    return 2;
}

}  // namespace zyr
