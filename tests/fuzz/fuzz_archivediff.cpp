// The two zip readers under ResourceArchive on the same archive: the Linux one
// (zziplib) and the Windows one (zlib's inflater on the places the structural
// check found), driven the way ResourceArchive drives them. Both must refuse
// the same archives and entries, serve the same entries with the same sizes,
// and give the same bytes and the same failures, read whole and in pieces.
#include "FuzzSupport.h"
#include "WindowsZipAccess.h"
#include "ZipAccess.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

// One reader's answers, in the order they were asked for, as ResourceArchive
// sees them: a size it cannot use is 0, and a failed read delivers nothing.
struct Transcript {
    std::vector<std::string> lines;
    void add(const std::string& what, long long value) { lines.push_back(what + " " + std::to_string(value)); }
    void addBytes(const std::string& what, const unsigned char* bytes, std::int64_t count) {
        count = std::max<std::int64_t>(count, 0);
        add(what, count);
        if (count > 0) lines.push_back(what + " bytes " + std::string(reinterpret_cast<const char*>(bytes), count));
    }
};

std::int64_t usableSize(std::int64_t size) {
    return size < 0 || size > std::numeric_limits<std::int32_t>::max() ? 0 : size;
}

template <typename Directory, typename File>
struct Reader {
    Directory* (*openDirectory)(const std::filesystem::path&, std::unordered_set<std::string>&,
                                std::vector<std::string>&);
    void (*closeDirectory)(Directory*);
    File* (*openEntry)(Directory*, const char*);
    std::int64_t (*rewind)(File*);
    std::int64_t (*read)(File*, void*, std::size_t);
    void (*closeEntry)(File*);
};

// Names the player asks for, whether or not the archive has them.
const char* const kFixedNames[] = {"fs.glsl", "fsshader.ini", "soundtrack.mp3", "zyr.png", "sync_cam-3Apos.x.track"};
constexpr std::size_t kMaxNames = 64;
// Entries are read whole up to this size (the harness's inputs are far smaller
// unless an entry claims to inflate a long way).
constexpr std::int64_t kMaxWhole = 8 << 20;

template <typename Directory, typename File>
Transcript drive(const Reader<Directory, File>& reader, const std::filesystem::path& path,
                 const std::vector<std::string>& names) {
    Transcript t;
    std::unordered_set<std::string> refused;
    std::vector<std::string> listed;
    Directory* directory = reader.openDirectory(path, refused, listed);
    t.add("opened", directory != nullptr);
    if (!directory) return t;
    // The names a checker lists must be the same whichever reader opened it.
    for (const std::string& name : listed) t.lines.push_back("listed " + name);
    std::vector<std::string> sortedRefusals(refused.begin(), refused.end());
    std::sort(sortedRefusals.begin(), sortedRefusals.end());
    for (const std::string& name : sortedRefusals) t.lines.push_back("refused " + name);

    std::vector<unsigned char> buffer;
    for (const std::string& name : names) {
        // What ResourceArchive never hands to a reader.
        if (refused.count(name) != 0 || name.find('\0') != std::string::npos) continue;
        File* file = reader.openEntry(directory, name.c_str());
        t.add("open " + name, file != nullptr);
        if (!file) continue;
        // In pieces from the open, as the track loader's callbacks read.
        unsigned char piece[9];
        for (int i = 0; i < 4096; ++i) {
            const std::int64_t got = reader.read(file, piece, sizeof piece);
            t.addBytes("piece", piece, got);
            if (got <= 0) break;
        }
        // Whole, as readBytes does: the size, then one read of it.
        const std::int64_t size = usableSize(reader.rewind(file));
        t.add("size", size);
        buffer.assign(static_cast<std::size_t>(std::min(size, kMaxWhole)), 0);
        t.addBytes("whole", buffer.data(), reader.read(file, buffer.data(), buffer.size()));
        t.addBytes("past the end", buffer.data(), reader.read(file, buffer.data(), std::min<std::size_t>(buffer.size(), 1)));
        reader.closeEntry(file);
    }
    reader.closeDirectory(directory);
    return t;
}

void compare(const Transcript& linux, const Transcript& windows) {
    const std::size_t common = std::min(linux.lines.size(), windows.lines.size());
    for (std::size_t i = 0; i <= common; ++i) {
        const bool linuxEnded = i == linux.lines.size();
        const bool windowsEnded = i == windows.lines.size();
        if (linuxEnded && windowsEnded) return;
        if (!linuxEnded && !windowsEnded && linux.lines[i] == windows.lines[i]) continue;
        const auto shown = [](const std::string& line) { return line.substr(0, 120); };
        std::fprintf(stderr, "answer %zu differs:\n  linux:   %s\n  windows: %s\n", i,
                     linuxEnded ? "(nothing more)" : shown(linux.lines[i]).c_str(),
                     windowsEnded ? "(nothing more)" : shown(windows.lines[i]).c_str());
        fuzzCheck(false, "the Windows reader answers differently from the Linux one");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path& path = scratchFile(data, size);

    // Every name the directory holds (as the check reads it), and the fixed ones.
    std::unordered_set<std::string> refused;
    ZipEntryPlaces places;
    const ArchiveReadAt fromMemory = [&](std::uint64_t offset, unsigned char* out, std::size_t length) {
        if (offset > size || length > size - offset) return false;
        if (length > 0) std::memcpy(out, data + offset, length);
        return true;
    };
    std::vector<std::string> names(std::begin(kFixedNames), std::end(kFixedNames));
    if (isSoundZip(size, fromMemory, refused, &places)) {
        for (const auto& [name, place] : places)
            if (names.size() < kMaxNames) names.push_back(name);
        for (const std::string& name : refused)
            if (names.size() < kMaxNames) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());

    const Reader<ArchiveDirectory, ArchiveFile> linuxReader{openZipDirectory, closeZipDirectory, openZipEntry,
                                                            rewindZipEntry,   readZipEntry,      closeZipEntry};
    const Reader<WindowsArchiveDirectory, WindowsArchiveFile> windowsReader{
        windowsOpenZipDirectory, windowsCloseZipDirectory, windowsOpenZipEntry,
        windowsRewindZipEntry,   windowsReadZipEntry,      windowsCloseZipEntry};
    compare(drive(linuxReader, path, names), drive(windowsReader, path, names));
    return 0;
}
