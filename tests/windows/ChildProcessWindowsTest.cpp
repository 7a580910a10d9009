// The process module on Windows, with this test program as the child:
// arguments arrive as they were given (spaces, quotes, backslashes, Unicode),
// every byte of both pipes arrives, and a child that stops reading or never
// ends cannot hold its parent.
#include "ChildProcess.h"
#include "PathText.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <zlib.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <shellapi.h>
#include <thread>

namespace fs = std::filesystem;

namespace {

using namespace std::chrono_literals;

std::string narrowOf(const wchar_t* text) {
    const fs::path path(text);
    return zyr::toUtf8(path);
}

std::string selfPath() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return narrowOf(path);
}

std::string digest(const std::string& bytes) {
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
    return std::to_string(bytes.size()) + " " + std::to_string(crc);
}

std::vector<std::uint8_t> pattern(std::size_t size, unsigned seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>((i * seed) ^ (i >> 11));
    return bytes;
}

const auto never = [] { return false; };
const auto always = [] { return true; };

}  // namespace

// The child's side, run by main when the first argument is "--child".
int runAsChild() {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    const std::string mode = count > 2 ? narrowOf(arguments[2]) : "";
    if (mode == "echo") {
        for (int i = 3; i < count; ++i) std::printf("[%s]\n", narrowOf(arguments[i]).c_str());
        return 0;
    }
    if (mode == "drink" && count > 3) {
        _setmode(_fileno(stdin), _O_BINARY);
        std::string in;
        char buffer[65536];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;) in.append(buffer, got);
        std::ifstream further(fs::path(arguments[3]), std::ios::binary);
        const std::string other{std::istreambuf_iterator<char>(further), {}};
        std::printf("stdin %s\ninput %s\n", digest(in).c_str(), digest(other).c_str());
        return 7;
    }
    if (mode == "sleep") Sleep(60000);
    return 0;
}

TEST(ChildProcessWindows, ArgumentsArriveAsGiven) {
    const std::vector<std::string> given{"plain", "two words", "quote\"inside", "trailing\\", "back\\\\\"quote",
                                         "", "Zoë démo\\", "tab\there"};
    std::vector<std::string> command{selfPath(), "--child", "echo"};
    command.insert(command.end(), given.begin(), given.end());
    zyr::ChildProcess child;
    child.start(command, zyr::ChildInput::Nothing);
    const zyr::ChildEnd end = child.wait(never);
    EXPECT_TRUE(end.succeeded()) << zyr::describe(end);
    std::string expected;
    for (const std::string& argument : given) expected += "[" + argument + "]\r\n";
    EXPECT_EQ(child.output(), expected);
}

TEST(ChildProcessWindows, BothPipesCarryEveryByte) {
    zyr::ChildProcess child;
    const std::string further = child.addInput();
    child.start({selfPath(), "--child", "drink", further}, zyr::ChildInput::Pipe, 1 << 20);
    const std::vector<std::uint8_t> frames = pattern(5 << 20, 7);
    const std::vector<std::uint8_t> sound = pattern(3 << 20, 13);
    std::thread feed([&] {
        EXPECT_TRUE(child.writeTo(0, sound));
        child.closeInput(0);
    });
    EXPECT_TRUE(child.write(frames, never));
    child.closeStandardInput();
    const zyr::ChildEnd end = child.wait(never);
    feed.join();
    EXPECT_EQ(end.kind, zyr::ChildEnd::Kind::Exited);
    EXPECT_EQ(end.code, 7);
    EXPECT_EQ(zyr::describe(end), "failed with status 7");
    EXPECT_EQ(child.output(), "stdin " + digest(std::string(frames.begin(), frames.end())) + "\r\ninput " +
                                  digest(std::string(sound.begin(), sound.end())) + "\r\n");
}

TEST(ChildProcessWindows, AChildThatStopsReadingOrNeverEndsHoldsNoOne) {
    const std::vector<std::uint8_t> lots = pattern(16 << 20, 3);
    {
        // Ends at once, reading nothing: the write fails, it does not hang.
        zyr::ChildProcess child;
        child.start({selfPath(), "--child", "quit"}, zyr::ChildInput::Pipe);
        EXPECT_FALSE(child.write(lots, never));
        EXPECT_TRUE(child.wait(never).succeeded());
    }
    zyr::ChildProcess child;
    const std::string further = child.addInput();
    child.start({selfPath(), "--child", "sleep"}, zyr::ChildInput::Pipe);
    // Busy for good: giving up is seen within a tenth of a second or so.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(child.write(lots, [&] { return std::chrono::steady_clock::now() - start > 300ms; }));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_FALSE(child.ended());
    // A writer of the further input, never opened by the child, is let go
    // once the child is ended.
    std::thread feed([&] { EXPECT_FALSE(child.writeTo(0, lots)); });
    const zyr::ChildEnd end = child.wait(always);
    feed.join();
    EXPECT_EQ(end.kind, zyr::ChildEnd::Kind::Exited);
    EXPECT_TRUE(child.ended());
}

TEST(ChildProcessWindows, ProgramsAreFoundOnPathAsExecutables) {
    TempDir dir;
    const fs::path folder = dir.path() / zyr::pathFromUtf8("outils é");
    fs::create_directories(folder / "ffmpeg.exe" / "not a file");
    fs::create_directories(dir.path() / "bin");
    writeFile(dir.path() / "bin" / "ffmpeg.exe", "");
    const std::wstring path = L"\"" + folder.native() + L"\";;" + (dir.path() / "bin").native();
    wchar_t previous[32768];
    const DWORD kept = GetEnvironmentVariableW(L"PATH", previous, 32768);
    SetEnvironmentVariableW(L"PATH", path.c_str());
    EXPECT_EQ(zyr::findOnPath("ffmpeg"), dir.path() / "bin" / "ffmpeg.exe");
    EXPECT_EQ(zyr::findOnPath("lame"), std::nullopt);
    EXPECT_EQ(zyr::findOnPath("bin\\ffmpeg"), std::nullopt);
    SetEnvironmentVariableW(L"PATH", kept > 0 ? previous : nullptr);
}
