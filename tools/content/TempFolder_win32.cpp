#include "TempFolder.h"

#include "ContentFolder.h"
#include "PathText.h"
#include "WindowsText_win32.h"

#include <windows.h>

#include <random>
#include <string>

namespace zyr::content {

namespace fs = std::filesystem;

// Under the user's own temporary folder, whose access rights a new folder
// inherits; CreateDirectoryW never takes a name that exists.
PrivateTempFolder::PrivateTempFolder() {
    std::error_code code;
    const fs::path base = fs::temp_directory_path(code);
    if (code) throw ContentError("", 0, 0, "cannot find the temporary folder: " + code.message());
    std::random_device random;
    DWORD error = ERROR_ALREADY_EXISTS;
    for (int attempt = 0; attempt < 100 && error == ERROR_ALREADY_EXISTS; ++attempt) {
        const fs::path candidate = base / ("zyr-content-" + std::to_string(GetCurrentProcessId()) + "-" +
                                           std::to_string(random()));
        if (CreateDirectoryW(candidate.c_str(), nullptr)) {
            path_ = candidate;
            return;
        }
        error = GetLastError();
    }
    throw ContentError(toUtf8(base), 0, 0, "cannot create a temporary folder: " + windowsMessage(error));
}

PrivateTempFolder::~PrivateTempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

}  // namespace zyr::content
