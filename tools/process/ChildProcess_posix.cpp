#include "ChildProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace zyr {

namespace fs = std::filesystem;

namespace {

using namespace std::chrono_literals;

// The descriptor the first further input has in the child.
constexpr int kFirstInput = 3;

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept {
        reset(other.release());
        return *this;
    }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

[[noreturn]] void fail(const std::string& what) { throw ProcessError(what + ": " + std::strerror(errno)); }

// A pipe whose ends sit above the standard descriptors and the further
// inputs, so handing them to the child is always a real dup2 (which drops
// close-on-exec), and which no other child inherits.
void makePipe(Fd& read, Fd& write) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) fail("cannot make a pipe");
    Fd low0(ends[0]);
    Fd low1(ends[1]);
    read.reset(::fcntl(ends[0], F_DUPFD_CLOEXEC, 10));
    write.reset(::fcntl(ends[1], F_DUPFD_CLOEXEC, 10));
    if (read.get() < 0 || write.get() < 0) fail("cannot make a pipe");
}

// An unnamed file for the child's output: nothing to clean up, however we end.
Fd unnamedFile() {
    std::FILE* file = std::tmpfile();
    if (file == nullptr) fail("cannot make a temporary file");
    Fd fd(::fcntl(::fileno(file), F_DUPFD_CLOEXEC, 10));
    std::fclose(file);
    if (fd.get() < 0) fail("cannot make a temporary file");
    return fd;
}

bool writeAll(int fd, const std::uint8_t* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t put = ::write(fd, bytes, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        bytes += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

ChildEnd endOf(int status) {
    if (WIFSIGNALED(status)) return {ChildEnd::Kind::Killed, WTERMSIG(status)};
    return {ChildEnd::Kind::Exited, WEXITSTATUS(status)};
}

}  // namespace

struct ChildProcess::State {
    pid_t pid = -1;
    std::optional<ChildEnd> end;
    Fd standardInput;             // ours, non-blocking
    std::vector<Fd> inputReads;   // the child's ends, until it has them
    std::vector<Fd> inputWrites;  // ours, blocking
    Fd output;
};

std::string describe(const ChildEnd& end) {
    switch (end.kind) {
    case ChildEnd::Kind::Exited:
        return end.code == 0 ? "succeeded" : "failed with status " + std::to_string(end.code);
    case ChildEnd::Kind::Killed: return "was killed by signal " + std::to_string(end.code);
    case ChildEnd::Kind::Unknown: break;
    }
    return "ended in a way that could not be read";
}

std::optional<fs::path> findOnPath(std::string_view name) {
    const char* path = std::getenv("PATH");
    if (path == nullptr || name.empty() || name.find('/') != std::string_view::npos) return std::nullopt;
    std::string_view rest(path);
    while (true) {
        const std::size_t colon = rest.find(':');
        const std::string_view folder = rest.substr(0, colon);
        // An empty entry means the current folder, as for the shell.
        const fs::path candidate = fs::path(folder.empty() ? "." : std::string(folder)) / name;
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (colon == std::string_view::npos) return std::nullopt;
        rest.remove_prefix(colon + 1);
    }
}

ChildProcess::ChildProcess() : state_(std::make_unique<State>()) {}

ChildProcess::~ChildProcess() {
    if (state_->pid > 0) wait([] { return true; });
}

std::string ChildProcess::addInput() {
    Fd read, write;
    makePipe(read, write);
    state_->inputReads.push_back(std::move(read));
    state_->inputWrites.push_back(std::move(write));
    return "/dev/fd/" + std::to_string(kFirstInput + state_->inputReads.size() - 1);
}

void ChildProcess::start(const std::vector<std::string>& command, ChildInput input, std::size_t bufferBytes) {
    State& s = *state_;
    // A child gone while we write shows as a failed write, not as this
    // process killed by SIGPIPE. An ignored SIGCHLD (inherited across exec)
    // would have the kernel reap the child, and with it the only word on how
    // it ended.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGCHLD, SIG_DFL);

    Fd childInput;
    if (input == ChildInput::Pipe) {
        makePipe(childInput, s.standardInput);
        // Room for a few writes' worth lets this side run ahead of a
        // momentarily busy child (the size is a request; the kernel may cap it).
        if (bufferBytes > 0) ::fcntl(s.standardInput.get(), F_SETPIPE_SZ, static_cast<int>(bufferBytes));
        // Ours alone (the child's end is a description of its own): write()
        // never blocks past a poll, so giving up is possible while it is busy.
        ::fcntl(s.standardInput.get(), F_SETFL, ::fcntl(s.standardInput.get(), F_GETFL) | O_NONBLOCK);
    } else {
        childInput.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
        if (childInput.get() < 0) fail("cannot open /dev/null");
    }
    s.output = unnamedFile();

    std::vector<char*> argv;
    for (const std::string& argument : command) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, childInput.get(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, s.output.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, s.output.get(), STDERR_FILENO);
    for (std::size_t i = 0; i < s.inputReads.size(); ++i)
        posix_spawn_file_actions_adddup2(&actions, s.inputReads[i].get(), kFirstInput + static_cast<int>(i));
    const int error = posix_spawn(&s.pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    s.inputReads.clear();
    if (error != 0) {
        s.pid = -1;
        throw ProcessError("cannot run " + command[0] + ": " + std::strerror(error));
    }
}

bool ChildProcess::write(std::span<const std::uint8_t> bytes, const std::function<bool()>& giveUp) {
    State& s = *state_;
    if (s.standardInput.get() < 0) return false;
    while (!bytes.empty()) {
        pollfd ready{s.standardInput.get(), POLLOUT, 0};
        const int polled = ::poll(&ready, 1, 100);
        if (giveUp()) return false;
        if (polled < 0 && errno == EINTR) continue;
        if (polled < 0) return false;
        // A child that has ended never reads again.
        if (polled == 0) {
            if (ended()) return false;
            continue;
        }
        const ssize_t put = ::write(s.standardInput.get(), bytes.data(), std::min<std::size_t>(bytes.size(), 1 << 20));
        if (put < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (put <= 0) return false;  // EPIPE: the child is gone
        bytes = bytes.subspan(static_cast<std::size_t>(put));
    }
    return true;
}

void ChildProcess::closeStandardInput() { state_->standardInput.reset(); }

bool ChildProcess::writeTo(std::size_t i, std::span<const std::uint8_t> bytes) {
    const int fd = state_->inputWrites.at(i).get();
    return fd >= 0 && writeAll(fd, bytes.data(), bytes.size());
}

void ChildProcess::closeInput(std::size_t i) { state_->inputWrites.at(i).reset(); }

bool ChildProcess::ended() {
    State& s = *state_;
    if (s.end) return true;
    if (s.pid <= 0) return false;
    int status = 0;
    const pid_t done = ::waitpid(s.pid, &status, WNOHANG);
    if (done == s.pid) s.end = endOf(status);
    // Reaped elsewhere (ECHILD): ended, but how is not known.
    else if (done < 0 && errno == ECHILD) s.end = ChildEnd{};
    else return false;
    s.pid = -1;
    return true;
}

// Polled, so endIt is asked while waiting; a child that ignores SIGTERM for
// two seconds is not ending on its own.
ChildEnd ChildProcess::wait(const std::function<bool()>& endIt) {
    State& s = *state_;
    std::optional<std::chrono::steady_clock::time_point> killAt;
    while (!ended()) {
        if (s.pid <= 0) return ChildEnd{};  // never started
        if (!killAt && endIt()) {
            ::kill(s.pid, SIGTERM);
            killAt = std::chrono::steady_clock::now() + 2s;
        }
        if (killAt && std::chrono::steady_clock::now() > *killAt) ::kill(s.pid, SIGKILL);
        std::this_thread::sleep_for(5ms);
    }
    return *s.end;
}

std::string ChildProcess::output() const {
    std::string text;
    const int fd = state_->output.get();
    if (fd < 0) return text;
    char buffer[4096];
    off_t at = 0;
    ssize_t got = 0;
    // pread: the child shares the file's offset, so it is left where it is.
    while ((got = ::pread(fd, buffer, sizeof buffer, at)) > 0) {
        text.append(buffer, static_cast<std::size_t>(got));
        at += got;
    }
    return text;
}

}  // namespace zyr
