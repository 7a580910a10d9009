// What FileWrite does the same way on every platform.
#include "FileWrite.h"

#include "PartName.h"

#include <chrono>
#include <random>

namespace zyr {

unsigned part_name::freshSeed() {
    std::random_device random;
    return random() ^ static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
}

void replaceFile(const std::filesystem::path& target, std::string_view bytes) {
    PartFile part(target);
    part.write(bytes);
    part.commit();
}

std::optional<std::string_view> partFileTarget(std::string_view name) {
    using namespace part_name;
    const std::size_t tail = 1 + kTagLength + kPartFileSuffix.size();
    if (name.size() < 2 + tail || name.front() != '.' || !name.ends_with(kPartFileSuffix)) return std::nullopt;
    const std::string_view tag = name.substr(name.size() - tail + 1, kTagLength);
    if (name[name.size() - tail] != '.' || tag.find_first_not_of(kTagChars) != std::string_view::npos)
        return std::nullopt;
    return name.substr(1, name.size() - 1 - tail);
}

}  // namespace zyr
