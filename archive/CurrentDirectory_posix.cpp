#include "CurrentDirectory.h"

#include <system_error>

std::filesystem::path defaultArchivePath() {
    // The current directory can vanish or become unreadable under a running
    // process; an empty path then makes the open fail like a missing archive.
    std::error_code error;
    std::filesystem::path directory = std::filesystem::current_path(error);
    if (error) return {};
    return directory / "zyr.dat";
}
