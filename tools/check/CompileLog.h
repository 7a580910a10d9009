// CompileLog: reads GLSL compiler and linker logs and ties each diagnostic to
// the line of the author's file it points at.
//
// Use:
//     SourceLines lines(source);
//     std::vector<LogEntry> entries = parseInfoLog(log, lines);
//
// Log lines are recognised in the forms drivers write them:
//     0:12(5): error: message          (Mesa)
//     0(12) : error C0000: message     (NVIDIA)
//     ERROR: 0:12: message             (AMD, Intel on Windows)
//     error: message                   (no location, e.g. link errors)
// Anything else becomes an entry without severity, so no text is lost.
//
// The compiler counts lines exactly as the file has them, version line
// included, because the source is compiled as stored; "#line" directives are
// the one thing that renumbers, and SourceLines follows them back.
//
// Ownership: SourceLines borrows the source text, which must outlive it.
// Failure: none; unparsable numbers leave the fields at their "unknown" values.
#pragma once

#include "CheckReport.h"

#include <string_view>
#include <vector>

class SourceLines {
public:
    explicit SourceLines(std::string_view source);

    // Number of lines in the file (a final line without a line break counts).
    int count() const { return static_cast<int>(lines_.size()); }
    // Line n of the file (1-based) without its line break; empty when out of range.
    std::string_view line(int n) const;
    // The file line the compiler calls `line` of source string `sourceString`
    // (-1: any string); 0 when no file line has that number.
    int fileLine(int sourceString, int line) const;

private:
    struct Numbering {
        int sourceString;
        int line;
    };
    std::vector<std::string_view> lines_;
    std::vector<Numbering> numbering_;  // the compiler's number of each file line
};

std::vector<LogEntry> parseInfoLog(std::string_view log, const SourceLines& source);

// Longest source quote kept in a LogEntry, in bytes.
constexpr std::size_t kMaxQuote = 400;
