// zyr-check: reports what the player would silently do with an archive.
#include "Checker.h"
#include "CommandLine.h"
#include "PathText.h"
#include "ReportFormat.h"
#include "ToolConsole.h"

#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
    const CommandLine line = parseCommandLine(zyr::startTool(argc, argv));
    if (!line.error.empty()) {
        std::fprintf(stderr, "zyr-check: %s\n%s", line.error.c_str(), kUsage);
        return 2;
    }
    if (line.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }

    zyr::askForOpenGl46();

    try {
        const CheckReport report = checkArchive(zyr::pathFromUtf8(line.archive));
        const std::string text = line.json ? formatJson(report) : formatTable(report);
        std::fwrite(text.data(), 1, text.size(), stdout);
        if (std::fflush(stdout) != 0) return 1;
        return report.exitStatus();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zyr-check: %s\n", error.what());
        return 1;
    }
}
