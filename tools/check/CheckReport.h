// CheckReport: what zyr-check found in an archive, as plain data.
//
// Use:
//     CheckReport report = checkArchive("zyr.dat");        // Checker.h
//     for (const Finding& f : report.findings) ...          // the problems, in check order
//     return report.exitStatus();                           // 0 clean or warnings only, 1 errors
//
// The sections (shader, exports, track files, parameters, soundtrack, logo)
// describe the content as the player will see it; findings are the problems,
// each reported once with a stable code that scripts and tests can match.
//
// Severity: an error is content the player cannot do what it says with (it
// fails, stops at once, or silently drops or replaces a value the content
// gives or asks for); a warning is content the player handles in a well-defined
// way that may still be unintended (a missing track reads as 0.0, a uniform the
// compiler removed, a logo that is scaled).
//
// Ownership: plain values, no references into the archive.
#pragma once

#include "Tempo.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class Severity { Warning, Error };

const char* severityName(Severity severity);

struct Finding {
    Severity severity = Severity::Error;
    std::string code;     // stable identifier, e.g. "export.unknown-kind"
    std::string where;    // entry, entry:line:column, or export/track name
    std::string message;  // one sentence for the author
};

// One diagnostic of the compiler or linker log.
struct LogEntry {
    std::string severity;       // "error", "warning", or "" for other lines
    int sourceString = -1;      // as the log gives it; -1 when it gives none
    int line = 0;               // line as the compiler counts it; 0 when none
    int column = 0;             // 0 when the log gives none
    int fileLine = 0;           // line of the author's file; 0 when unknown
    std::string message;        // text after the location and severity
    std::string source;         // the author's line fileLine (cut when very long)
    std::string text;           // the log line as written
};

struct ShaderReport {
    bool present = false;
    bool contextAvailable = false;
    bool compiled = false;
    bool linked = false;
    std::string renderer;              // GL_RENDERER of the context used
    std::vector<LogEntry> compileLog;
    std::vector<LogEntry> linkLog;
};

enum class Activity { Active, Inactive, Unknown };

const char* activityName(Activity activity);

struct TrackReference {
    std::string track;  // track name: target plus ".x", ".y", ".z" or ".w"
    std::string entry;  // archive entry the player reads it from
    bool exists = false;
};

struct ExportReport {
    std::string name;
    std::string kind;
    std::string target;
    std::string typeName;
    int type = -1;  // UniformType value
    Activity activity = Activity::Unknown;
    std::string drivenBy;
    std::vector<TrackReference> tracks;  // rocket exports only
};

struct TrackFileReport {
    std::string entry;
    std::string track;              // the track name the entry stands for, when an export uses it
    bool used = false;              // the player reads it for a bound export
    std::uint64_t size = 0;         // bytes in the entry
    std::int32_t declaredKeys = 0;  // the count field; 0 when the file is too short to hold one
    std::uint32_t keys = 0;         // keys held whole (what the player loads)
    std::optional<std::int32_t> firstRow;
    std::optional<std::int32_t> lastRow;
    double firstSeconds = 0.0;
    double lastSeconds = 0.0;
};

struct ParameterSection {
    std::string key;
    bool selects = false;  // names an active imgui export
};

struct ParameterReport {
    bool present = false;
    bool checked = false;  // parsed (false when absent, invalid, or not checkable)
    std::vector<ParameterSection> sections;
};

struct SoundtrackReport {
    bool present = false;
    bool decodable = false;
    std::optional<double> seconds;
    std::optional<double> rows;
    long sampleRate = 0;
    int channels = 0;
};

struct LogoReport {
    bool present = false;
    bool decodable = false;
    int width = 0;
    int height = 0;
};

struct CheckReport {
    std::string archive;
    bool archiveOpen = false;
    std::vector<std::string> entries;  // names in the archive, in directory order
    ShaderReport shader;
    std::vector<ExportReport> exports;  // in scan order
    std::vector<TrackFileReport> trackFiles;
    ParameterReport parameters;
    SoundtrackReport soundtrack;
    LogoReport logo;
    std::vector<Finding> findings;

    void add(Severity severity, std::string code, std::string where, std::string message);
    std::size_t count(Severity severity) const;
    // 1 when any finding is an error, else 0.
    int exitStatus() const;
};

// The row clock of the presentation: 170 beats per minute, 8 rows per beat.
constexpr double kRowsPerSecond = static_cast<double>(kBeatsPerMinute) / 60.0 * 8.0;
// Size the launcher draws the logo at.
constexpr int kLogoWidth = 280;
constexpr int kLogoHeight = 128;
