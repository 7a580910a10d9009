#include "ChildProcess.h"

#include "WindowsText_win32.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <random>

namespace zyr {

namespace fs = std::filesystem;

namespace {

// Pipes are named pipes, so that this side can write with a time limit
// (overlapped) and the child can open a further input by name.
constexpr DWORD kDefaultPipeBytes = 64 * 1024;
constexpr DWORD kPollMilliseconds = 100;

class Handle {
public:
    explicit Handle(HANDLE handle = nullptr) : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    ~Handle() { reset(); }
    Handle(Handle&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = other.handle_;
            other.handle_ = nullptr;
        }
        return *this;
    }
    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    void reset() {
        if (handle_) CloseHandle(handle_);
        handle_ = nullptr;
    }

private:
    HANDLE handle_;
};

[[noreturn]] void fail(const std::string& what) { throw ProcessError(what + ": " + windowsMessage(GetLastError())); }

// A name no other pipe or file of this or another process has.
std::wstring uniqueName(const wchar_t* prefix) {
    static std::atomic<unsigned> counter{0};
    static const unsigned seed = std::random_device{}();
    wchar_t name[96];
    std::swprintf(name, 96, L"%ls%lu-%u-%08x", prefix, GetCurrentProcessId(), counter++, seed);
    return name;
}

SECURITY_ATTRIBUTES inheritable() { return SECURITY_ATTRIBUTES{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE}; }

Handle serverPipe(const std::wstring& name, DWORD bytes) {
    Handle pipe(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_OUTBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                 PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                                 bytes, 0, 0, nullptr));
    if (!pipe) fail("cannot make a pipe");
    return pipe;
}

// MSVCRT's rules for splitting a command line, applied backwards: spaces and
// quotes are quoted, and backslashes doubled where a quote follows them.
void appendQuoted(std::wstring& line, const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += argument;
        return;
    }
    line += L'"';
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        line.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(2 * backslashes, L'\\');
    line += L'"';
}

// One overlapped operation on a pipe, waited for a tenth of a second at a
// time alongside the child: false when it failed, the child ended first, or
// giveUp said so (the operation is then cancelled).
template <typename Begin>
bool overlapped(HANDLE pipe, HANDLE process, const std::function<bool()>& giveUp, DWORD& done, Begin begin) {
    OVERLAPPED operation{};
    Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event) return false;
    operation.hEvent = event.get();
    if (!begin(&operation)) {
        const DWORD error = GetLastError();
        if (error == ERROR_PIPE_CONNECTED) return true;
        if (error != ERROR_IO_PENDING) return false;
    }
    const HANDLE both[] = {event.get(), process};
    while (true) {
        const DWORD woke = WaitForMultipleObjects(2, both, FALSE, kPollMilliseconds);
        if (woke == WAIT_OBJECT_0) return GetOverlappedResult(pipe, &operation, &done, FALSE) != 0;
        if (woke == WAIT_OBJECT_0 + 1 || woke == WAIT_FAILED || giveUp()) {
            CancelIoEx(pipe, &operation);
            GetOverlappedResult(pipe, &operation, &done, TRUE);
            return false;
        }
    }
}

bool writeAll(HANDLE pipe, HANDLE process, std::span<const std::uint8_t> bytes, const std::function<bool()>& giveUp) {
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1 << 20));
        DWORD put = 0;
        if (!overlapped(pipe, process, giveUp, put,
                        [&](OVERLAPPED* operation) { return WriteFile(pipe, bytes.data(), chunk, nullptr, operation); }))
            return false;
        if (put == 0) return false;
        bytes = bytes.subspan(put);
    }
    return true;
}

}  // namespace

struct ChildProcess::State {
    Handle process;  // kept open until destruction: writer threads wait on it
    std::optional<ChildEnd> end;
    Handle standardInput;  // ours: the pipe's server end
    struct Input {
        std::wstring name;
        Handle pipe;
        bool connected = false;
    };
    std::vector<Input> inputs;
    Handle output;      // the child's standard output and error
    Handle outputRead;  // a handle of our own with its own position
};

std::string describe(const ChildEnd& end) {
    switch (end.kind) {
    case ChildEnd::Kind::Exited:
        return end.code == 0 ? "succeeded" : "failed with status " + std::to_string(end.code);
    case ChildEnd::Kind::Killed: {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(end.code));
        return std::string("ended by exception ") + code;
    }
    case ChildEnd::Kind::Unknown: break;
    }
    return "ended in a way that could not be read";
}

std::optional<fs::path> findOnPath(std::string_view name) {
    if (name.empty() || name.find_first_of("/\\:") != std::string_view::npos) return std::nullopt;
    std::wstring file = widen(name);
    if (fs::path(file).extension().empty()) file += L".exe";
    const DWORD size = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (size == 0) return std::nullopt;
    std::wstring path(size, L'\0');
    path.resize(GetEnvironmentVariableW(L"PATH", path.data(), size));
    std::size_t at = 0;
    while (at <= path.size()) {
        const std::size_t end = std::min(path.find(L';', at), path.size());
        std::wstring folder = path.substr(at, end - at);
        at = end + 1;
        if (folder.size() >= 2 && folder.front() == L'"' && folder.back() == L'"') folder = folder.substr(1, folder.size() - 2);
        if (folder.empty()) continue;
        const fs::path candidate = fs::path(folder) / file;
        const DWORD attributes = GetFileAttributesW(candidate.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return candidate;
    }
    return std::nullopt;
}

ChildProcess::ChildProcess() : state_(std::make_unique<State>()) {}

ChildProcess::~ChildProcess() {
    if (state_->process) wait([] { return true; });
}

std::string ChildProcess::addInput() {
    State::Input input;
    input.name = uniqueName(L"\\\\.\\pipe\\zyr-input-");
    input.pipe = serverPipe(input.name, kDefaultPipeBytes);
    const std::string name = narrow(input.name);
    state_->inputs.push_back(std::move(input));
    return name;
}

void ChildProcess::start(const std::vector<std::string>& command, ChildInput input, std::size_t bufferBytes) {
    State& s = *state_;
    SECURITY_ATTRIBUTES inherit = inheritable();
    Handle childInput;
    if (input == ChildInput::Pipe) {
        const std::wstring name = uniqueName(L"\\\\.\\pipe\\zyr-stdin-");
        s.standardInput = serverPipe(name, bufferBytes > 0 ? static_cast<DWORD>(bufferBytes) : kDefaultPipeBytes);
        childInput = Handle(CreateFileW(name.c_str(), GENERIC_READ, 0, &inherit, OPEN_EXISTING, 0, nullptr));
    } else {
        childInput = Handle(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                        OPEN_EXISTING, 0, nullptr));
    }
    if (!childInput) fail("cannot make the standard input of " + command[0]);

    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    const std::wstring outputName =
        (length > 0 && length <= MAX_PATH ? std::wstring(folder, length) : std::wstring(L".\\")) +
        uniqueName(L"zyr-output-") + L".tmp";
    s.output = Handle(CreateFileW(outputName.c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit, CREATE_NEW,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!s.output) fail("cannot make a temporary file");
    s.outputRead = Handle(CreateFileW(outputName.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      0, nullptr));
    if (!s.outputRead) fail("cannot read back a temporary file");

    std::wstring line;
    for (const std::string& argument : command) {
        if (!line.empty()) line += L' ';
        appendQuoted(line, widen(argument));
    }
    const std::wstring program = widen(command[0]);

    // Exactly these handles are inherited, whatever else is open and inheritable.
    HANDLE handles[] = {childInput.get(), s.output.get()};
    SIZE_T listBytes = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &listBytes);
    std::vector<unsigned char> list(listBytes);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list.data());
    if (!InitializeProcThreadAttributeList(attributes, 1, 0, &listBytes) ||
        !UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles, sizeof handles, nullptr,
                                   nullptr))
        fail("cannot run " + command[0]);
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = childInput.get();
    startup.StartupInfo.hStdOutput = s.output.get();
    startup.StartupInfo.hStdError = s.output.get();
    startup.lpAttributeList = attributes;
    PROCESS_INFORMATION started{};
    // No console of its own (nothing pops up) and a process group of its
    // own, so a console's Ctrl+C reaches this program, which then ends the
    // child itself.
    const BOOL ran = CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                                    EXTENDED_STARTUPINFO_PRESENT | CREATE_NO_WINDOW | CREATE_NEW_PROCESS_GROUP,
                                    nullptr, nullptr, &startup.StartupInfo, &started);
    const DWORD error = GetLastError();
    DeleteProcThreadAttributeList(attributes);
    if (!ran) throw ProcessError("cannot run " + command[0] + ": " + windowsMessage(error));
    CloseHandle(started.hThread);
    s.process = Handle(started.hProcess);
}

bool ChildProcess::write(std::span<const std::uint8_t> bytes, const std::function<bool()>& giveUp) {
    State& s = *state_;
    if (!s.standardInput || !s.process) return false;
    if (!writeAll(s.standardInput.get(), s.process.get(), bytes, giveUp)) {
        ended();
        return false;
    }
    return true;
}

void ChildProcess::closeStandardInput() { state_->standardInput.reset(); }

bool ChildProcess::writeTo(std::size_t i, std::span<const std::uint8_t> bytes) {
    State& s = *state_;
    State::Input& input = s.inputs.at(i);
    if (!input.pipe || !s.process) return false;
    const auto never = [] { return false; };
    if (!input.connected) {
        DWORD ignored = 0;
        if (!overlapped(input.pipe.get(), s.process.get(), never, ignored,
                        [&](OVERLAPPED* operation) { return ConnectNamedPipe(input.pipe.get(), operation); }))
            return false;
        input.connected = true;
    }
    return writeAll(input.pipe.get(), s.process.get(), bytes, never);
}

// Closing (not disconnecting) the server end leaves what the child has not
// read yet in the pipe; the child then reads to an end.
void ChildProcess::closeInput(std::size_t i) { state_->inputs.at(i).pipe.reset(); }

bool ChildProcess::ended() {
    State& s = *state_;
    if (s.end) return true;
    if (!s.process || WaitForSingleObject(s.process.get(), 0) != WAIT_OBJECT_0) return false;
    DWORD code = 0;
    if (!GetExitCodeProcess(s.process.get(), &code)) s.end = ChildEnd{};
    // NTSTATUS error codes: an exception (an access violation, a stack
    // overflow) ended it, not its own exit.
    else if (code >= 0xC0000000u) s.end = ChildEnd{ChildEnd::Kind::Killed, static_cast<int>(code)};
    else s.end = ChildEnd{ChildEnd::Kind::Exited, static_cast<int>(code)};
    return true;
}

// A console child could be asked to end with Ctrl+Break, but whatever it
// would write then is thrown away here anyway: it is terminated at once.
ChildEnd ChildProcess::wait(const std::function<bool()>& endIt) {
    State& s = *state_;
    bool terminated = false;
    while (!ended()) {
        if (!s.process) return ChildEnd{};  // never started
        if (!terminated && endIt()) {
            TerminateProcess(s.process.get(), 1);
            terminated = true;
        }
        WaitForSingleObject(s.process.get(), 5);
    }
    return *s.end;
}

std::string ChildProcess::output() const {
    std::string text;
    const HANDLE file = state_->outputRead.get();
    if (!file) return text;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    return text;
}

}  // namespace zyr
