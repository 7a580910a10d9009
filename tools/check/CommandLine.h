// CommandLine: the arguments of zyr-check.
//
//     zyr-check [--json] [ARCHIVE]        (ARCHIVE defaults to zyr.dat in the current folder)
//     zyr-check --help
//
// Use:
//     CommandLine line = parseCommandLine({argv + 1, argv + argc});
//     if (!line.error.empty()) { print usage; exit 2; }
//
// Ownership: plain values. Failure: a bad argument leaves a message in `error`.
#pragma once

#include <string>
#include <vector>

struct CommandLine {
    std::string archive = "zyr.dat";
    bool json = false;
    bool help = false;
    std::string error;  // empty when the arguments are good
};

CommandLine parseCommandLine(const std::vector<std::string>& arguments);

extern const char* const kUsage;
