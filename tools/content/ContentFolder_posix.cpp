// POSIX stand-ins for the content library: mkdtemp and posix_spawn.
#include "ContentFolder.h"
#include "LameEncoder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace zyr::content {

namespace fs = std::filesystem;

namespace {

#ifndef ZYR_LAME_PROGRAM
#define ZYR_LAME_PROGRAM "lame"
#endif

void writeWhole(const fs::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw ContentError(path.string(), 0, 0, std::string("cannot write: ") + std::strerror(errno));
}

}  // namespace

PrivateTempFolder::PrivateTempFolder() {
    std::error_code code;
    fs::path base = fs::temp_directory_path(code);
    if (code) base = "/tmp";
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

std::string encodeMp3(std::string_view wav) {
    PrivateTempFolder temp;
    const fs::path in = temp.path() / "soundtrack.wav";
    const fs::path out = temp.path() / "soundtrack.mp3";
    writeWhole(in, wav);

    const std::string program = ZYR_LAME_PROGRAM;
    std::string a0 = program, a1 = "--quiet", a2 = "-b", a3 = "192", a4 = in.string(), a5 = out.string();
    char* argv[] = {a0.data(), a1.data(), a2.data(), a3.data(), a4.data(), a5.data(), nullptr};
    pid_t pid = 0;
    // posix_spawnp: a bare "lame" is looked up on PATH; no shell is involved.
    const int spawned = ::posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv, environ);
    if (spawned != 0) {
        if (spawned == ENOENT)
            throw ContentError(program, 0, 0,
                               "the MP3 encoder lame is not installed (Debian package lame); it encodes song/");
        throw ContentError(program, 0, 0, std::string("cannot start: ") + std::strerror(spawned));
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) throw ContentError(program, 0, 0, std::string("lost the encoder: ") + std::strerror(errno));
    if (WIFSIGNALED(status))
        throw ContentError(program, 0, 0, "the encoder was killed by signal " + std::to_string(WTERMSIG(status)));
    if (WEXITSTATUS(status) == 127)
        throw ContentError(program, 0, 0,
                           "the MP3 encoder lame is not installed (Debian package lame); it encodes song/");
    if (WEXITSTATUS(status) != 0)
        throw ContentError(program, 0, 0,
                           "the encoder failed with exit status " + std::to_string(WEXITSTATUS(status)));
    std::ifstream result(out, std::ios::binary);
    std::string mp3{std::istreambuf_iterator<char>(result), std::istreambuf_iterator<char>()};
    if (!result || mp3.empty()) throw ContentError(program, 0, 0, "the encoder wrote no MP3");
    return mp3;
}

}  // namespace zyr::content
