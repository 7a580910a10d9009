// ChildProcess: one way for the tools to run another program and wait for it
// (zyr-capture runs ffmpeg), one platform file each: posix_spawn with pipes
// on POSIX, CreateProcessW with named pipes on Windows.
//
// Use:
//     ChildProcess child;
//     const std::string audio = child.addInput();         // a name the child opens to read
//     child.start({ffmpeg, "-i", "pipe:0", "-i", audio, ...}, ChildInput::Pipe);
//     std::jthread feed([&] { child.writeTo(0, wav); child.closeInput(0); });
//     if (!child.write(frame, stopRequested)) ...         // it stopped reading
//     child.closeStandardInput();
//     ChildEnd end = child.wait(stopRequested);           // ended early if asked
//     std::string said = child.output();                  // its stdout and stderr
//
// The child's standard output and error go to an unnamed file of their own,
// so a child that talks a lot never blocks on them. Writes to the child
// never wait longer than a tenth of a second without asking whether to give
// up, so a stop request is seen while the child is busy.
//
// Ownership: a ChildProcess owns the child, its pipes and its output file.
// Destroyed with the child still running, it ends the child (POSIX: SIGTERM,
// SIGKILL two seconds later; Windows: TerminateProcess) and waits for it, so
// no child outlives it.
//
// Failure: start throws ProcessError naming the program (not found, cannot
// run, no pipes). Writes report a child that stopped reading as false.
// wait's ChildEnd tells an exit from a kill and from an ending that could not
// be read (the child was reaped elsewhere).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zyr {

class ProcessError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// How a child ended.
struct ChildEnd {
    enum class Kind {
        Exited,   // on its own, with code as its exit status
        Killed,   // by a signal (POSIX) or an exception (Windows): code says which
        Unknown,  // the ending could not be read; never take it for a success
    };
    Kind kind = Kind::Unknown;
    int code = 0;
    bool succeeded() const { return kind == Kind::Exited && code == 0; }
};

// "was killed by signal 9", "ended by exception 0xC0000005", "failed with
// status 3", "ended in a way that could not be read", "succeeded".
std::string describe(const ChildEnd& end);

enum class ChildInput {
    Nothing,  // the null device
    Pipe,     // a pipe this side writes with write()
};

// The first program called name in the folders of PATH (on Windows, name.exe),
// as a path that can be run; nullopt when there is none.
std::optional<std::filesystem::path> findOnPath(std::string_view name);

class ChildProcess {
public:
    ChildProcess();
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Before start: a further input the child reads by opening the name
    // returned ("/dev/fd/3" on POSIX, a named pipe on Windows); index 0 first.
    std::string addInput();
    // Runs command[0] (a path, not looked up) with the arguments after it.
    // bufferBytes asks for room in the standard input pipe.
    void start(const std::vector<std::string>& command, ChildInput input, std::size_t bufferBytes = 0);

    // Writes all of bytes to the child's standard input. False when the child
    // no longer reads (it ended or closed it), or when giveUp, asked at least
    // every tenth of a second while the child is busy, says so.
    bool write(std::span<const std::uint8_t> bytes, const std::function<bool()>& giveUp);
    void closeStandardInput();
    // Writes all of bytes to input i (from addInput), waiting for the child to
    // open it; false once the child ended or stopped reading. One thread per input.
    bool writeTo(std::size_t i, std::span<const std::uint8_t> bytes);
    void closeInput(std::size_t i);

    // Waits for the child to end. Once endIt says so (asked every few
    // milliseconds), the child is ended: on POSIX SIGTERM, then SIGKILL two
    // seconds later; on Windows TerminateProcess. Calls after the first
    // return the same ending.
    ChildEnd wait(const std::function<bool()>& endIt);
    // Whether the child has ended (reaping it if so); never waits.
    bool ended();

    // Everything the child wrote to its standard output and error so far.
    std::string output() const;

    struct State;  // the platform's handles and descriptors

private:
    std::unique_ptr<State> state_;
};

}  // namespace zyr
