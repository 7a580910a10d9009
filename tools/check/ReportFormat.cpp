#include "ReportFormat.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Text from the archive as it may safely go to a terminal: control bytes, C1
// controls and malformed UTF-8 become \xNN; tabs stay when asked, so quoted
// source lines keep their indentation.
std::string safe(std::string_view text, bool keepTabs = false) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    const auto escape = [&](unsigned char c) {
        out += "\\x";
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 0x0F]);
    };
    std::size_t at = 0;
    while (at < text.size()) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c < 0x80) {
            if ((c < 0x20 && !(keepTabs && c == '\t')) || c == 0x7F) escape(c);
            else out.push_back(static_cast<char>(c));
            ++at;
            continue;
        }
        // Well-formed multi-byte sequences pass, except C1 controls (U+0080..U+009F).
        std::size_t length = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
        if (c > 0xF4) length = 0;
        bool good = length > 0 && at + length <= text.size();
        for (std::size_t i = 1; good && i < length; ++i)
            good = (static_cast<unsigned char>(text[at + i]) & 0xC0) == 0x80;
        if (good && c == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0) good = false;
        if (good) {
            out.append(text.substr(at, length));
            at += length;
        } else {
            escape(c);
            ++at;
        }
    }
    return out;
}

// Columns on a terminal: one per character, not per byte.
std::size_t width(std::string_view text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

class Table {
public:
    explicit Table(std::vector<std::string> header) : rows_{std::move(header)} {}
    void row(std::vector<std::string> cells) {
        for (std::string& cell : cells) cell = safe(cell);
        rows_.push_back(std::move(cells));
    }
    void write(std::string& out, const std::string& indent = "  ") const {
        std::vector<std::size_t> widths;
        for (const auto& row : rows_) {
            widths.resize(std::max(widths.size(), row.size()), 0);
            for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], width(row[i]));
        }
        for (const auto& row : rows_) {
            std::string line = indent;
            for (std::size_t i = 0; i < row.size(); ++i) {
                line += row[i];
                if (i + 1 < row.size()) line += std::string(widths[i] - width(row[i]) + 2, ' ');
            }
            while (!line.empty() && line.back() == ' ') line.pop_back();
            out += line + "\n";
        }
    }

private:
    std::vector<std::vector<std::string>> rows_;
};

void writeLog(std::string& out, const std::vector<LogEntry>& log) {
    for (const LogEntry& entry : log) {
        if (entry.severity.empty()) {
            out += "  " + safe(entry.text) + "\n";
            continue;
        }
        std::string at = "fs.glsl";
        if (entry.fileLine > 0) at += ":" + std::to_string(entry.fileLine);
        else if (entry.line > 0) at += " (compiler line " + std::to_string(entry.line) + ")";
        if (entry.fileLine > 0 && entry.column > 0) at += ":" + std::to_string(entry.column);
        out += "  " + at + ": " + entry.severity + ": " + safe(entry.message) + "\n";
        if (entry.fileLine <= 0) continue;
        const std::string number = std::to_string(entry.fileLine);
        out += "  " + std::string(number.size() < 6 ? 6 - number.size() : 0, ' ') + number + " | " +
               safe(entry.source, true) + "\n";
        if (entry.column > 0) {
            // The column counts characters from 1; tabs are copied so the caret
            // lines up under the same tab stops as the quoted line.
            std::string pad;
            const std::string_view source = entry.source;
            for (std::size_t i = 0; i + 1 < static_cast<std::size_t>(entry.column) && i < source.size(); ++i)
                pad.push_back(source[i] == '\t' ? '\t' : ' ');
            out += "         | " + pad + "^\n";
        }
    }
}

std::string rowsAndSeconds(const std::optional<std::int32_t>& row, double seconds) {
    if (!row) return "-";
    return std::to_string(*row) + " (" + fixed(seconds, 3) + " s)";
}

}  // namespace

std::string formatTable(const CheckReport& report) {
    std::string out;
    out += "archive  " + safe(report.archive);
    if (report.archiveOpen) out += "  (" + std::to_string(report.entries.size()) + " entries)";
    out += "\n";

    if (report.archiveOpen) {
        const ShaderReport& shader = report.shader;
        out += "\nfs.glsl  ";
        if (!shader.present) out += "absent";
        else if (!shader.contextAvailable) out += "not compiled (no OpenGL context)";
        else if (!shader.compiled) out += "does not compile";
        else if (!shader.linked) out += "compiles, does not link";
        else out += "compiles and links";
        if (shader.contextAvailable && !shader.renderer.empty()) out += "  (" + safe(shader.renderer) + ")";
        out += "\n";
        writeLog(out, shader.compileLog);
        writeLog(out, shader.linkLog);

        out += "\nexports (" + std::to_string(report.exports.size()) + ")\n";
        if (!report.exports.empty()) {
            Table table({"name", "kind", "target", "type", "active", "driven by"});
            for (const ExportReport& e : report.exports)
                table.row({e.name, e.kind, e.target, e.typeName, activityName(e.activity), e.drivenBy});
            table.write(out);
        }

        bool anyTracks = false;
        Table tracks({"export", "track", "entry", "exists"});
        for (const ExportReport& e : report.exports) {
            for (const TrackReference& ref : e.tracks) {
                tracks.row({e.name, ref.track, ref.entry, ref.exists ? "yes" : "no"});
                anyTracks = true;
            }
        }
        if (anyTracks) {
            out += "\ntracks of rocket exports\n";
            tracks.write(out);
        }

        out += "\ntrack files (" + std::to_string(report.trackFiles.size()) + ")\n";
        if (!report.trackFiles.empty()) {
            Table files({"entry", "track", "bytes", "keys", "first row", "last row"});
            for (const TrackFileReport& t : report.trackFiles) {
                files.row({t.entry, t.used ? t.track : "(unused)", std::to_string(t.size), std::to_string(t.keys),
                           rowsAndSeconds(t.firstRow, t.firstSeconds), rowsAndSeconds(t.lastRow, t.lastSeconds)});
            }
            files.write(out);
        }

        const ParameterReport& parameters = report.parameters;
        out += "\nfsshader.ini  ";
        if (!parameters.present) {
            out += "absent\n";
        } else if (!parameters.checked) {
            out += "not checked\n";
        } else {
            out += std::to_string(parameters.sections.size()) + " sections";
            for (const ParameterSection& s : parameters.sections)
                out += "  [" + safe(s.key) + "]" + (s.selects ? "" : " (unused)");
            out += "\n";
        }

        const SoundtrackReport& music = report.soundtrack;
        out += "soundtrack.mp3  ";
        if (!music.present) out += "absent\n";
        else if (!music.decodable) out += "does not decode\n";
        else if (!music.seconds) out += "decodes (length unknown)\n";
        else
            out += fixed(*music.seconds, 3) + " s, " + fixed(*music.rows, 1) + " rows at 170 bpm (" +
                   std::to_string(music.sampleRate) + " Hz, " + (music.channels == 1 ? "mono" : "stereo") + ")\n";

        const LogoReport& logo = report.logo;
        out += "zyr.png  ";
        if (!logo.present) out += "absent\n";
        else if (!logo.decodable && logo.width == 0) out += "does not decode\n";
        else
            out += std::to_string(logo.width) + " x " + std::to_string(logo.height) +
                   (logo.decodable ? "" : " (not decoded)") + "\n";
    }

    const std::size_t errors = report.count(Severity::Error);
    const std::size_t warnings = report.count(Severity::Warning);
    out += "\nfindings: " + std::to_string(errors) + (errors == 1 ? " error, " : " errors, ") +
           std::to_string(warnings) + (warnings == 1 ? " warning\n" : " warnings\n");
    if (!report.findings.empty()) {
        Table findings({"severity", "where", "problem"});
        for (const Finding& f : report.findings) findings.row({severityName(f.severity), f.where, f.message});
        findings.write(out);
    }
    return out;
}

std::string formatJson(const CheckReport& report) {
    // ordered_json: scripts and people diffing two reports see the keys in the
    // order they always had, not sorted.
    using Json = nlohmann::ordered_json;
    // A value that may be absent: null rather than a made-up number.
    const auto orNull = [](bool present, const auto& value) { return present ? Json(value) : Json(nullptr); };

    Json findings = Json::array();
    for (const Finding& f : report.findings)
        findings.push_back(
            {{"severity", severityName(f.severity)}, {"code", f.code}, {"where", f.where}, {"message", f.message}});

    const auto log = [](const std::vector<LogEntry>& entries) {
        Json out = Json::array();
        for (const LogEntry& e : entries) {
            Json entry = {{"severity", e.severity}};
            if (e.sourceString >= 0) entry["sourceString"] = e.sourceString;
            if (e.line > 0) entry["compilerLine"] = e.line;
            if (e.fileLine > 0) entry["line"] = e.fileLine;
            if (e.column > 0) entry["column"] = e.column;
            entry["message"] = e.message;
            if (e.fileLine > 0) entry["source"] = e.source;
            entry["text"] = e.text;
            out.push_back(std::move(entry));
        }
        return out;
    };
    const ShaderReport& shader = report.shader;

    Json exports = Json::array();
    for (const ExportReport& e : report.exports) {
        Json entry = {{"name", e.name},
                      {"kind", e.kind},
                      {"target", e.target},
                      {"type", e.typeName},
                      {"active", orNull(e.activity != Activity::Unknown, e.activity == Activity::Active)},
                      {"drivenBy", e.drivenBy}};
        if (!e.tracks.empty()) {
            Json tracks = Json::array();
            for (const TrackReference& t : e.tracks)
                tracks.push_back({{"track", t.track}, {"entry", t.entry}, {"exists", t.exists}});
            entry["tracks"] = std::move(tracks);
        }
        exports.push_back(std::move(entry));
    }

    Json trackFiles = Json::array();
    for (const TrackFileReport& t : report.trackFiles) {
        trackFiles.push_back({{"entry", t.entry},
                              {"track", orNull(t.used, t.track)},
                              {"bytes", t.size},
                              {"declaredKeys", t.declaredKeys},
                              {"keys", static_cast<std::uint64_t>(t.keys)},
                              {"firstRow", orNull(t.firstRow.has_value(), t.firstRow.value_or(0))},
                              {"firstSeconds", orNull(t.firstRow.has_value(), t.firstSeconds)},
                              {"lastRow", orNull(t.lastRow.has_value(), t.lastRow.value_or(0))},
                              {"lastSeconds", orNull(t.lastRow.has_value(), t.lastSeconds)}});
    }

    Json sections = Json::array();
    for (const ParameterSection& s : report.parameters.sections)
        sections.push_back({{"key", s.key}, {"selects", s.selects}});

    const SoundtrackReport& music = report.soundtrack;
    const LogoReport& logo = report.logo;
    const Json doc = {
        {"archive", report.archive},
        {"archiveOpen", report.archiveOpen},
        {"exitStatus", report.exitStatus()},
        {"errors", static_cast<std::uint64_t>(report.count(Severity::Error))},
        {"warnings", static_cast<std::uint64_t>(report.count(Severity::Warning))},
        {"findings", std::move(findings)},
        {"entries", report.entries},
        {"shader",
         {{"present", shader.present},
          {"context", shader.contextAvailable},
          {"renderer", shader.renderer},
          {"compiled", shader.compiled},
          {"linked", shader.linked},
          {"compileLog", log(shader.compileLog)},
          {"linkLog", log(shader.linkLog)}}},
        {"exports", std::move(exports)},
        {"trackFiles", std::move(trackFiles)},
        {"parameters",
         {{"present", report.parameters.present},
          {"checked", report.parameters.checked},
          {"sections", std::move(sections)}}},
        {"soundtrack",
         {{"present", music.present},
          {"decodable", music.decodable},
          {"seconds", orNull(music.seconds.has_value(), music.seconds.value_or(0.0))},
          {"rows", orNull(music.rows.has_value(), music.rows.value_or(0.0))},
          {"sampleRate", static_cast<std::int64_t>(music.sampleRate)},
          {"channels", music.channels}}},
        {"logo",
         {{"present", logo.present},
          {"decodable", logo.decodable},
          {"width", logo.width},
          {"height", logo.height}}}};

    // Archive bytes (shader lines, entry names) need not be UTF-8: each
    // malformed sequence becomes U+FFFD instead of the dump throwing, so the
    // report is always valid JSON. Non-finite numbers come out as null.
    return doc.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}
