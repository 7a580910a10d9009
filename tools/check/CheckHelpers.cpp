#include "CheckSteps.h"

#include "ResourceArchive.h"

#include <algorithm>
#include <cctype>
#include <numeric>

std::size_t editDistance(std::string_view a, std::string_view b) {
    // Names compared here are short (uniform names, keys); anything long is far
    // from everything anyway, so the quadratic table is capped by the caller.
    const std::size_t n = a.size();
    const std::size_t m = b.size();
    std::vector<std::size_t> before(m + 1), previous(m + 1), current(m + 1);
    std::iota(previous.begin(), previous.end(), std::size_t{0});
    for (std::size_t i = 1; i <= n; ++i) {
        current[0] = i;
        for (std::size_t j = 1; j <= m; ++j) {
            const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                current[j] = std::min(current[j], before[j - 2] + 1);
        }
        before.swap(previous);
        previous.swap(current);
    }
    return previous[m];
}

std::optional<std::string> closestName(std::string_view name, const std::vector<std::string>& candidates) {
    constexpr std::size_t kLongest = 256;
    if (name.empty() || name.size() > kLongest) return std::nullopt;
    std::optional<std::string> best;
    std::size_t bestDistance = 0;
    for (const std::string& candidate : candidates) {
        if (candidate.size() > kLongest || candidate == name) continue;
        const std::size_t distance = editDistance(name, candidate);
        // One slip in a short name, two in a longer one; more is another name.
        const std::size_t allowed = std::max(name.size(), candidate.size()) <= 4 ? 1 : 2;
        if (distance > allowed) continue;
        if (!best || distance < bestDistance) {
            best = candidate;
            bestDistance = distance;
        }
    }
    return best;
}

std::string suggestion(std::string_view name, const std::vector<std::string>& candidates) {
    const std::optional<std::string> near = closestName(name, candidates);
    return near ? " (did you mean \"" + *near + "\"?)" : std::string();
}

std::string entryHint(const CheckReport& report, std::string_view name) {
    const auto folded = [](std::string_view s) {
        std::string out(s);
        for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return out;
    };
    const std::string wanted = folded(name);
    for (const std::string& entry : report.entries) {
        const std::size_t slash = entry.find_last_of('/');
        const std::string_view base = slash == std::string::npos ? std::string_view(entry)
                                                                  : std::string_view(entry).substr(slash + 1);
        if (entry != name && (folded(entry) == wanted || folded(base) == wanted))
            return " (the archive has \"" + entry + "\"; names match exactly, at the archive's root)";
    }
    return {};
}

std::optional<std::string> readEntryText(ResourceArchive& archive, const std::string& name) {
    ArchiveFile* file = archive.openFile(name);
    if (!file) return std::nullopt;
    std::string text;
    try {
        text = archive.readText(file);
    } catch (...) {
        archive.closeFile(file);
        throw;
    }
    archive.closeFile(file);
    return text;
}

std::optional<std::vector<std::uint8_t>> readEntryBytes(ResourceArchive& archive, const std::string& name) {
    ArchiveFile* file = archive.openFile(name);
    if (!file) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    try {
        bytes = archive.readBytes(file);
    } catch (...) {
        archive.closeFile(file);
        throw;
    }
    archive.closeFile(file);
    return bytes;
}
