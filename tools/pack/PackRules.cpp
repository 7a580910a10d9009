// The pack tool's rules: what goes in, what is refused, what is suspicious.
#include "PackTool.h"
#include "PathText.h"

#include "Track.h"
#include "ZipArchiveWriter.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>

namespace zyr {

namespace fs = std::filesystem;

namespace {

// The entries the player asks for by fixed name, all at the archive's root.
constexpr std::array<std::string_view, 4> kRootEntries = {"fs.glsl", "soundtrack.mp3", "fsshader.ini", "zyr.png"};
// ".part": what an interrupted write of the tools (or a download) left.
constexpr std::array<std::string_view, 7> kLeftoverSuffixes = {"~", ".swp", ".swo", ".bak", ".orig", ".tmp", ".part"};

std::string lowered(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string baseName(std::string_view entry) {
    const std::size_t slash = entry.rfind('/');
    return std::string(slash == std::string_view::npos ? entry : entry.substr(slash + 1));
}

bool hasHiddenPart(std::string_view entry) {
    for (std::size_t start = 0; start < entry.size();) {
        if (entry[start] == '.') return true;
        const std::size_t slash = entry.find('/', start);
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
    return false;
}

bool sameFile(const fs::path& a, const fs::path& b) {
    std::error_code code;
    return fs::equivalent(a, b, code) && !code;
}

std::string trackFileWarning(const PackItem& item, const std::string_view* inMemory) {
    if (!trackNameFromEntry(item.name))
        return item.name + ": no track loads this entry; track files are named sync_<escaped track name>.track";
    std::string onDisk;
    if (!inMemory) {
        std::ifstream in(item.source, std::ios::binary);
        onDisk.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const std::string_view bytes = inMemory ? *inMemory : std::string_view(onDisk);
    std::string error;
    const auto decoded =
        decodeTrackFile(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), error);
    if (!decoded) return item.name + ": malformed track file: " + error;
    if (!decoded->warnings.empty()) return item.name + ": " + decoded->warnings.front();
    return {};
}

}  // namespace

PackPlan planPack(const fs::path& folder, const fs::path& output) {
    PackPlan plan;
    std::error_code code;
    if (!fs::is_directory(folder, code)) {
        plan.errors.push_back(toUtf8(folder) + ": not a folder");
        return plan;
    }
    fs::recursive_directory_iterator walk(folder, fs::directory_options::none, code);
    if (code) {
        plan.errors.push_back(toUtf8(folder) + ": cannot list: " + code.message());
        return plan;
    }
    for (; walk != fs::recursive_directory_iterator(); walk.increment(code)) {
        if (code) break;
        const fs::directory_entry& entry = *walk;
        const fs::path& path = entry.path();
        const std::string name = toGenericUtf8(path.lexically_relative(folder));
        const bool link = entry.is_symlink(code);
        if (entry.is_directory(code)) {
            if (link) plan.warnings.push_back(name + ": a link to a folder; not followed, nothing in it is packed");
            continue;
        }
        if (!entry.is_regular_file(code)) {
            plan.warnings.push_back(name + (link ? ": a link that leads nowhere; skipped"
                                                 : ": not a regular file (device, pipe or socket); skipped"));
            continue;
        }
        if (sameFile(path, output)) {
            plan.warnings.push_back(name + ": the output archive itself; left out");
            continue;
        }
        if (link) plan.warnings.push_back(name + ": a symbolic link; the file it points to is packed");
        const std::uintmax_t size = entry.file_size(code);
        if (code) {
            plan.errors.push_back(toUtf8(path) + ": cannot read its size: " + code.message());
            code.clear();
            continue;
        }
        plan.items.push_back(PackItem{name, path, size});
    }
    if (code) plan.errors.push_back(toUtf8(folder) + ": cannot list everything in it: " + code.message());
    std::sort(plan.items.begin(), plan.items.end(),
              [](const PackItem& a, const PackItem& b) { return a.name < b.name; });
    return plan;
}

namespace {

void checkItems(PackPlan& plan, const std::vector<std::string_view>* bytes) {
    if (plan.items.size() > kZipMaxEntries)
        plan.errors.push_back(std::to_string(plan.items.size()) + " files; a zip archive holds at most " +
                              std::to_string(kZipMaxEntries) + " entries");
    if (plan.items.empty()) plan.warnings.push_back("nothing to pack: the archive will be empty");

    std::map<std::string, std::string> byLowerName;
    for (std::size_t i = 0; i < plan.items.size(); ++i) {
        const PackItem& item = plan.items[i];
        if (auto problem = entryNameProblem(item.name)) {
            plan.errors.push_back(toUtf8(item.source) + ": cannot be an archive entry: " + *problem);
            continue;
        }
        if (item.size > kZipMaxEntrySize)
            plan.errors.push_back(toUtf8(item.source) + ": " + std::to_string(item.size) +
                                  " bytes, more than the 4294967295 a zip32 entry can hold");

        const std::string base = baseName(item.name);
        if (hasHiddenPart(item.name)) plan.warnings.push_back(item.name + ": a hidden file or folder");
        for (std::string_view suffix : kLeftoverSuffixes)
            if (base.ends_with(suffix) && base.size() > suffix.size()) {
                plan.warnings.push_back(item.name + ": looks like an editor or backup leftover");
                break;
            }
        if (std::any_of(item.name.begin(), item.name.end(), [](char c) {
                const auto b = static_cast<unsigned char>(c);
                return b < 0x20 || b >= 0x7F;
            }))
            plan.warnings.push_back(item.name + ": control or non-ASCII bytes in the name; the player matches "
                                                "entry names byte for byte");
        for (std::string_view root : kRootEntries)
            if (lowered(base) == root && item.name != root)
                plan.warnings.push_back(item.name + ": the player reads only \"" + std::string(root) +
                                        "\", exactly so, at the archive's root");
        if (auto [other, fresh] = byLowerName.emplace(lowered(item.name), item.name); !fresh)
            plan.warnings.push_back(item.name + " and " + other->second +
                                    " differ only in letter case; unpacked on a case-insensitive file system "
                                    "one would replace the other");
        if (item.name.ends_with(".track"))
            if (std::string warning = trackFileWarning(item, bytes ? &(*bytes)[i] : nullptr); !warning.empty())
                plan.warnings.push_back(warning);
    }
}

}  // namespace

void checkPack(PackPlan& plan) { checkItems(plan, nullptr); }

void checkPack(PackPlan& plan, const std::vector<std::string_view>& bytes) {
    if (bytes.size() != plan.items.size()) throw std::logic_error("checkPack: one byte string per item");
    checkItems(plan, &bytes);
}

}  // namespace zyr
