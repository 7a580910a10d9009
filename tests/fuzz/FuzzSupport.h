// Helpers the libFuzzer harnesses share.
//
//     const std::filesystem::path& file = scratchFile(data, size);  // readers that want a path
//     fuzzCheck(parsed == expected, "round trip changed the tracks");
//
// scratchFile writes to one file per process under the temporary folder,
// rewritten on every call and removed at exit. fuzzCheck aborts with the
// message, so a broken property is a finding with its input kept.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

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
