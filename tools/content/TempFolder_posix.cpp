#include "TempFolder.h"

#include "ContentFolder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace zyr::content {

namespace fs = std::filesystem;

PrivateTempFolder::PrivateTempFolder() {
    std::error_code code;
    fs::path base = fs::temp_directory_path(code);
    if (code) base = "/tmp";
    // mkdtemp: a fresh name, mode 0700 from the start.
    std::string pattern = (base / "zyr-content-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw ContentError(base.string(), 0, 0,
                           std::string("cannot create a temporary folder: ") + std::strerror(errno));
    path_ = pattern;
}

PrivateTempFolder::~PrivateTempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

}  // namespace zyr::content
