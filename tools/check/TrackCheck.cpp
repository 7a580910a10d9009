#include "CheckSteps.h"

#include "ResourceArchive.h"

#include <array>
#include <bit>
#include <cstring>

namespace {

constexpr std::size_t kKeyBytes = 9;  // int32 row, float32 value, int8 type

std::uint32_t little32(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::string plural(std::uint64_t n, const char* word) {
    return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

// Walks the keys of one track file as they stream in, keeping only what the
// report needs, so an entry of any size is checked in constant memory.
class KeyWalk {
public:
    KeyWalk() = default;

    void key(const unsigned char* bytes) {
        const auto row = static_cast<std::int32_t>(little32(bytes));
        const auto type = static_cast<std::int32_t>(static_cast<signed char>(bytes[8]));
        if (count_ == 0) first = row;
        if (count_ > 0 && row <= last && disorder++ == 0) {
            orderAt = count_;
            orderRow = row;
            orderPrevious = last;
        }
        // Remember the latest unknown type: whether it belongs to the last key is
        // only known at the end.
        if (type < 0 || type > 3) {
            ++unknownTypes;
            latestUnknownAt = count_;
            latestUnknownType = type;
            latestUnknownRow = row;
            if (firstUnknownAt == kNone) {
                firstUnknownAt = count_;
                firstUnknownType = type;
                firstUnknownRow = row;
            }
        }
        last = row;
        ++count_;
    }

    std::uint64_t count() const { return count_; }

    static constexpr std::uint64_t kNone = ~std::uint64_t{0};
    std::int32_t first = 0;
    std::int32_t last = 0;
    std::uint64_t disorder = 0;
    std::uint64_t orderAt = 0;
    std::int32_t orderRow = 0;
    std::int32_t orderPrevious = 0;
    std::uint64_t unknownTypes = 0;
    std::uint64_t firstUnknownAt = kNone;
    std::int32_t firstUnknownType = 0;
    std::int32_t firstUnknownRow = 0;
    std::uint64_t latestUnknownAt = kNone;
    std::int32_t latestUnknownType = 0;
    std::int32_t latestUnknownRow = 0;

private:
    std::uint64_t count_ = 0;
};

}  // namespace

TrackFileReport analyzeTrack(ResourceArchive& archive, const std::string& entry, CheckReport& report) {
    TrackFileReport track;
    track.entry = entry;
    ArchiveFile* file = archive.openFile(entry);
    if (!file) return track;

    // The loader's view: a count, then as many whole keys as the count asks for
    // and the file holds; whatever follows is never read.
    std::array<unsigned char, 4> header{};
    std::size_t headerBytes = 0;
    std::int32_t declared = 0;
    std::uint64_t size = 0;
    std::array<unsigned char, kKeyBytes * 1024> chunk{};
    std::array<unsigned char, kKeyBytes> partial{};
    std::size_t partialBytes = 0;
    std::optional<KeyWalk> walk;  // from the moment the count is read
    std::uint64_t wanted = 0;

    for (;;) {
        const std::size_t got = archive.read(chunk.data(), 1, chunk.size(), file);
        if (got == 0) break;
        size += got;
        std::size_t at = 0;
        while (headerBytes < header.size() && at < got) header[headerBytes++] = chunk[at++];
        if (headerBytes < header.size()) continue;
        if (!walk) {
            declared = static_cast<std::int32_t>(little32(header.data()));
            wanted = declared > 0 ? static_cast<std::uint64_t>(declared) : 0;
            walk.emplace();
        }
        while (at < got && walk->count() < wanted) {
            const std::size_t take = std::min(kKeyBytes - partialBytes, got - at);
            std::memcpy(partial.data() + partialBytes, chunk.data() + at, take);
            partialBytes += take;
            at += take;
            if (partialBytes == kKeyBytes) {
                walk->key(partial.data());
                partialBytes = 0;
            }
        }
    }
    archive.closeFile(file);

    track.size = size;
    track.declaredKeys = declared;
    const std::string& where = entry;
    if (size == 0) {
        report.add(Severity::Warning, "track.empty", where, "empty file: the track is 0.0 at every row");
        return track;
    }
    if (size < header.size()) {
        report.add(Severity::Error, "track.short", where,
                   plural(size, "byte") + ": too short to hold the key count; the track is 0.0 at every row");
        return track;
    }

    track.keys = static_cast<std::uint32_t>(walk->count());
    if (walk->count() > 0) {
        track.firstRow = walk->first;
        track.lastRow = walk->last;
        track.firstSeconds = walk->first / kRowsPerSecond;
        track.lastSeconds = walk->last / kRowsPerSecond;
    }

    const std::uint64_t expected = 4 + kKeyBytes * wanted;
    if (declared < 0) {
        report.add(Severity::Error, "track.negative-count", where,
                   "declares " + std::to_string(declared) + " keys: the player loads none");
    } else if (walk->count() < wanted) {
        report.add(Severity::Error, "track.truncated", where,
                   "declares " + plural(wanted, "key") + " (" + std::to_string(expected) + " bytes) but is " +
                       plural(size, "byte") + " long: the player loads only the " +
                       plural(walk->count(), "whole key"));
    } else if (size > expected) {
        report.add(Severity::Warning, "track.trailing", where,
                   plural(size - expected, "byte") + " after the last of its " + plural(wanted, "key") +
                       " (expected " + std::to_string(expected) + " bytes): never read");
    }

    if (walk->disorder > 0) {
        report.add(Severity::Error, "track.order", where,
                   "rows are not strictly ascending: key " + std::to_string(walk->orderAt) + " is at row " +
                       std::to_string(walk->orderRow) + " after row " + std::to_string(walk->orderPrevious) +
                       (walk->disorder > 1 ? " (" + plural(walk->disorder, "key") + " out of order)" : "") +
                       "; the search between keys then finds the wrong ones");
    }

    // The type of the last key is never used: at and after its row the track
    // holds its value whatever the type says.
    const bool lastUnknown = walk->unknownTypes > 0 && walk->latestUnknownAt + 1 == walk->count();
    const bool lastOnly = lastUnknown && walk->unknownTypes == 1;
    const std::uint64_t harmful = walk->unknownTypes - (lastUnknown ? 1 : 0);
    if (lastOnly) {
        report.add(Severity::Warning, "track.key-type", where,
                   "the last key has type " + std::to_string(walk->latestUnknownType) +
                       ", not 0 to 3 (step, linear, smooth, ramp); unused, as the track holds the last value");
    } else if (harmful > 0) {
        report.add(Severity::Error, "track.key-type", where,
                   "key " + std::to_string(walk->firstUnknownAt) + " (row " + std::to_string(walk->firstUnknownRow) +
                       ") has type " + std::to_string(walk->firstUnknownType) +
                       ", not 0 to 3 (step, linear, smooth, ramp): its segment evaluates to 0.0" +
                       (harmful > 1 ? " (" + plural(harmful, "key") + " with unknown types)" : ""));
    }
    return track;
}

void checkTracks(const ExportFacts& facts, ResourceArchive& archive, CheckReport& report) {
    std::set<std::string> analysed;
    for (const RocketBinding& binding : facts.bindings) {
        for (const TrackReference& ref : trackReferences(binding.target, binding.count)) {
            if (analysed.contains(ref.entry)) continue;
            analysed.insert(ref.entry);
            ArchiveFile* file = archive.openFile(ref.entry);
            const bool exists = file != nullptr;
            archive.closeFile(file);
            if (!exists) {
                report.add(Severity::Warning, "track.missing", ref.track,
                           "no entry " + ref.entry + ": the track is 0.0 at every row" + entryHint(report, ref.entry));
                continue;
            }
            TrackFileReport track = analyzeTrack(archive, ref.entry, report);
            track.track = ref.track;
            track.used = true;
            report.trackFiles.push_back(std::move(track));
        }
    }

    // Track files no bound export reads: leftovers, or a target spelt differently
    // in the shader than in the file name.
    for (const std::string& entry : report.entries) {
        if (!entry.ends_with(".track") || analysed.contains(entry)) continue;
        analysed.insert(entry);
        if (facts.shaderPresent)
            report.add(Severity::Warning, "track.unused", entry,
                       "no active rocket export follows this track, so the player never reads it");
        report.trackFiles.push_back(analyzeTrack(archive, entry, report));
    }
}
