#include "CommandLine.h"

const char* const kUsage =
    "usage: zyr-check [--json] [ARCHIVE]\n"
    "Checks a presentation archive (default: zyr.dat in the current folder) the way the player reads it.\n"
    "  --json   write the report as JSON instead of a table\n"
    "Exit status: 0 nothing wrong (warnings allowed), 1 errors found, 2 bad usage.\n";

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine line;
    bool archiveGiven = false;
    bool optionsEnded = false;
    for (const std::string& argument : arguments) {
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && argument == "--json") {
            line.json = true;
        } else if (!optionsEnded && (argument == "--help" || argument == "-h")) {
            line.help = true;
        } else if (!optionsEnded && argument.size() > 1 && argument[0] == '-') {
            line.error = "unknown option " + argument;
            return line;
        } else if (archiveGiven) {
            line.error = "more than one archive given";
            return line;
        } else if (argument.empty()) {
            line.error = "empty archive path";
            return line;
        } else {
            line.archive = argument;
            archiveGiven = true;
        }
    }
    return line;
}
