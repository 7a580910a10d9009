// zyr-check: reports what the player would silently do with an archive.
#include "Checker.h"
#include "CommandLine.h"
#include "ReportFormat.h"

#include <cstdio>
#include <cstdlib>
#include <exception>

int main(int argc, char** argv) {
    const CommandLine line = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!line.error.empty()) {
        std::fprintf(stderr, "zyr-check: %s\n%s", line.error.c_str(), kUsage);
        return 2;
    }
    if (line.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }

    // Software GL offers 4.5 unless asked for 4.6; real 4.6 drivers ignore
    // this, and settings the user made win.
    setenv("MESA_GL_VERSION_OVERRIDE", "4.6", 0);
    setenv("MESA_GLSL_VERSION_OVERRIDE", "460", 0);

    try {
        const CheckReport report = checkArchive(line.archive);
        const std::string text = line.json ? formatJson(report) : formatTable(report);
        std::fwrite(text.data(), 1, text.size(), stdout);
        if (std::fflush(stdout) != 0) return 1;
        return report.exitStatus();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zyr-check: %s\n", error.what());
        return 1;
    }
}
