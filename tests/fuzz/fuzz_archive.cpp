// The archive as the player reads it: the structural pre-check and zziplib's
// open, then every entry opened, read whole, read in pieces, and streamed
// through the callbacks the track loader uses.
#include "FuzzSupport.h"
#include "ResourceArchive.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kMaxNames = 64;

// Names the player asks for, whether or not the archive has them.
const char* const kFixedNames[] = {"fs.glsl", "fsshader.ini", "soundtrack.mp3", "zyr.png",
                                   "sync_cam-3Apos.x.track", "", "/", "FS.GLSL"};

void readEntry(ResourceArchive& archive, const std::string& name) {
    ArchiveFile* file = archive.openFile(name);
    if (!file) return;
    fuzzCheck(archive.openFile(name) == file, "a second open gives another handle");
    const std::vector<std::uint8_t> bytes = archive.readBytes(file);
    const std::string text = archive.readText(file);
    fuzzCheck(text.size() == bytes.size(), "text and bytes of one entry differ in length");
    std::array<std::uint8_t, 7> piece{};
    while (archive.read(piece.data(), 3, 2, file) == 2) {
    }
    archive.closeFile(file);
    archive.closeFile(file);  // a stale handle does nothing
}

void streamEntry(const std::string& name) {
    void* handle = archiveOpen(name.c_str(), "rb");
    if (!handle) return;
    std::array<char, 61> chunk{};
    // An entry is bounded by the pre-check's ratio limit; so is this loop.
    for (int i = 0; i < 1 << 20 && archiveRead(chunk.data(), 1, chunk.size(), handle) > 0; ++i) {
    }
    archiveRead(chunk.data(), 4, 3, handle);
    archiveClose(handle);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path& path = scratchFile(data, size);
    ResourceArchive archive(path);
    if (!archive.isOpen()) {
        fuzzCheck(archive.openFile("fs.glsl") == nullptr, "a refused archive opens an entry");
        return 0;
    }
    std::vector<std::string> names(std::begin(kFixedNames), std::end(kFixedNames));
    for (std::string& listed : listEntries(path, kMaxNames)) names.push_back(std::move(listed));

    for (const std::string& name : names) readEntry(archive, name);
    fuzzCheck(archive.openCount() == 0, "handles left open");

    setStreamArchive(&archive);
    for (const std::string& name : names) streamEntry(name);
    setStreamArchive(nullptr);
    fuzzCheck(archive.openCount() == 0, "stream handles left open");
    return 0;
}
