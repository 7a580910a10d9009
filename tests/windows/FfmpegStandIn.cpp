// A stand-in for ffmpeg.exe that zyr-capture runs under Wine: it lists the
// encoders zyr-capture asks for, reads its frames (standard input) and its
// sound (the second -i, opened by name) to their ends, and writes the size and
// CRC of each into the output file (the last argument). STANDIN_FFMPEG=fail
// makes it fail as ffmpeg does; =hang makes it start and never end.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Digest {
    unsigned long long size = 0;
    uLong crc = crc32(0, nullptr, 0);
};

Digest drink(std::FILE* file) {
    Digest digest;
    std::vector<unsigned char> buffer(1 << 16);
    for (std::size_t got; (got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0;) {
        digest.size += got;
        digest.crc = crc32(digest.crc, buffer.data(), static_cast<uInt>(got));
    }
    return digest;
}

}  // namespace

int main() {
    int count = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> inputs;
    for (int i = 1; i < count; ++i) {
        if (std::wstring(argv[i]) == L"-encoders") {
            std::printf(" V....D libx264 H.264\n A..... aac AAC\n V....D libvpx-vp9 VP9\n A..... libopus Opus\n");
            return 0;
        }
        if (std::wstring(argv[i]) == L"-i" && i + 1 < count) inputs.push_back(argv[i + 1]);
    }
    if (count < 2 || inputs.size() != 2 || inputs[0] != L"pipe:0") {
        std::fprintf(stderr, "stand-in: unexpected arguments\n");
        return 2;
    }
    const wchar_t* output = argv[count - 1];
    const char* mode = std::getenv("STANDIN_FFMPEG");
    const std::string how = mode ? mode : "";
    if (how == "fail" || how == "hang") {
        if (std::FILE* partial = _wfopen(output, L"wb")) {
            std::fputs("partial", partial);
            std::fclose(partial);
        }
        if (how == "hang") Sleep(INFINITE);
        std::fprintf(stderr, "Conversion failed: no room\n");
        return 3;
    }
    _setmode(_fileno(stdin), _O_BINARY);
    const Digest frames = drink(stdin);
    std::FILE* sound = _wfopen(inputs[1].c_str(), L"rb");
    if (!sound) {
        std::fprintf(stderr, "stand-in: cannot open the sound input\n");
        return 4;
    }
    const Digest wav = drink(sound);
    std::fclose(sound);
    std::FILE* out = _wfopen(output, L"wb");
    if (!out) return 5;
    std::fprintf(out, "frames %llu %lu\nsound %llu %lu\n", frames.size, frames.crc, wav.size, wav.crc);
    return std::fclose(out) == 0 ? 0 : 5;
}
