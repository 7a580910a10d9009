// Checker: runs every check of zyr-check over one archive.
//
// Use:
//     CheckReport report = checkArchive("zyr.dat");
//     std::fputs(formatTable(report).c_str(), stdout);     // ReportFormat.h
//     return report.exitStatus();
//
// The archive is opened and read the way the player reads it (same archive
// class, same entry names, same track file names, same parameter parser, same
// audio layer), so what is reported is what the player would silently do.
// fs.glsl is compiled in an OpenGL 4.6 core context: a hidden window of the
// checker's own, or the caller's current context.
//
// Ownership: the report owns everything it holds. The checker writes no files.
//
// Failure: never throws for anything in the archive. Problems with the
// archive, and an OpenGL context or audio layer that cannot be had, are
// findings in the report. Only running out of memory outside the per-entry
// checks propagates (std::bad_alloc).
#pragma once

#include "CheckReport.h"

#include <filesystem>

struct CheckOptions {
    // True: open a hidden window for the shader build and close it again (GLFW
    // is initialised and terminated inside the call). False: the caller's
    // OpenGL 4.6 core context is current and stays so during the call.
    bool openContext = true;
};

CheckReport checkArchive(const std::filesystem::path& archive, const CheckOptions& options = {});
