// Helpers the libFuzzer harnesses share.
//
//     const std::filesystem::path& file = scratchFile(data, size);  // readers that want a path
//     fuzzCheck(parsed == expected, "round trip changed the tracks");
//     for (const std::string& name : listEntries(file, 64)) ...   // an archive's names
//
// scratchFile writes to one file per process under the temporary folder,
// rewritten on every call and removed at exit. fuzzCheck aborts with the
// message, so a broken property is a finding with its input kept.
#pragma once

#include <fcntl.h>
#include <unistd.h>
#include <zzip/zzip.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

inline const std::filesystem::path& scratchFile(const std::uint8_t* data, std::size_t size) {
    static const std::filesystem::path path = [] {
        std::filesystem::path p =
            std::filesystem::temp_directory_path() / ("tessaran-fuzz-" + std::to_string(::getpid()) + ".bin");
        static const std::string removeAtExit = p.string();
        std::atexit([] { std::remove(removeAtExit.c_str()); });
        return p;
    }();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        std::perror("fuzz: scratch file");
        std::abort();
    }
    if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
    std::fclose(file);
    return path;
}

inline void fuzzCheck(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "fuzz: property broken: %s\n", what);
    std::abort();
}

// The names in a zip's directory as zziplib lists them, at most `most`. Call it
// only on a file ResourceArchive accepted: its pre-check is what makes
// zziplib's directory walk safe.
inline std::vector<std::string> listEntries(const std::filesystem::path& path, std::size_t most) {
    std::vector<std::string> names;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return names;
    zzip_error_t error{};
    ZZIP_DIR* directory = zzip_dir_fdopen(fd, &error);
    if (!directory) return names;
    ZZIP_DIRENT entry{};
    while (names.size() < most && zzip_dir_read(directory, &entry)) {
        if (entry.d_name) names.emplace_back(entry.d_name);
    }
    zzip_dir_close(directory);
    return names;
}
