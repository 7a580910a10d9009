// Helpers the libFuzzer harnesses share.
//
//     const std::filesystem::path& file = scratchFile(data, size);  // readers that want a path
//     fuzzCheck(parsed == expected, "round trip changed the tracks");
//     for (const std::string& name : listEntries(file, 64)) ...   // an archive's names
//
// scratchFile writes to one file per process, in memory, rewritten on every
// call. fuzzCheck aborts with the message, so a broken property is a finding
// with its input kept.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
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
    // A file in memory, named through this process's own descriptor: the name is
    // the same in every run (the pid in it would reach the fuzzer's dictionary
    // through the string compares on the path, and a fixed-seed run would no
    // longer repeat), yet no two processes share the file.
    static const int fd = ::memfd_create("tessaran-fuzz", MFD_CLOEXEC);
    static const std::filesystem::path path = "/proc/self/fd/" + std::to_string(fd);
    if (fd < 0 || ::ftruncate(fd, 0) != 0) {
        std::perror("fuzz: scratch file");
        std::abort();
    }
    for (std::size_t done = 0; done < size;) {
        const ssize_t wrote = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (wrote <= 0) std::abort();
        done += static_cast<std::size_t>(wrote);
    }
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
