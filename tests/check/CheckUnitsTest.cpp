// The checker's pure parts: compiler log reading, line mapping, the JSON
// report and the command line. No GL, no archive.
#include "CommandLine.h"
#include "CompileLog.h"
#include "ReportFormat.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

const char* const kSource =
    "#version 460 core\n"       // 1
    "out vec4 c;\n"             // 2
    "void main() {\n"           // 3
    "  c = vec4(foo);\n"        // 4
    "}\n";                      // 5

TEST(CompileLog, ReadsEachDriverFormatAndQuotesTheLine) {
    const SourceLines lines(kSource);
    const std::vector<LogEntry> log = parseInfoLog(
        "0:4(12): error: `foo' undeclared\n"
        "0(4) : error C1008: undefined variable \"foo\"\n"
        "ERROR: 0:4: 'foo' : undeclared identifier\n"
        "WARNING: 0:2: something odd\n"
        "error: fragment shader lacks `main'\n"
        "0:3(1): preprocessor error: bad directive\n"
        "some note the driver added\n",
        lines);
    ASSERT_EQ(log.size(), 7u);

    EXPECT_EQ(log[0].severity, "error");
    EXPECT_EQ(log[0].sourceString, 0);
    EXPECT_EQ(log[0].line, 4);
    EXPECT_EQ(log[0].column, 12);
    EXPECT_EQ(log[0].fileLine, 4);
    EXPECT_EQ(log[0].message, "`foo' undeclared");
    EXPECT_EQ(log[0].source, "  c = vec4(foo);");

    EXPECT_EQ(log[1].severity, "error");
    EXPECT_EQ(log[1].fileLine, 4);
    EXPECT_EQ(log[1].column, 0);
    EXPECT_EQ(log[1].message, "undefined variable \"foo\"");

    EXPECT_EQ(log[2].severity, "error");
    EXPECT_EQ(log[2].fileLine, 4);
    EXPECT_EQ(log[2].message, "'foo' : undeclared identifier");

    EXPECT_EQ(log[3].severity, "warning");
    EXPECT_EQ(log[3].fileLine, 2);
    EXPECT_EQ(log[3].source, "out vec4 c;");

    EXPECT_EQ(log[4].severity, "error");
    EXPECT_EQ(log[4].line, 0);
    EXPECT_EQ(log[4].fileLine, 0);
    EXPECT_EQ(log[4].message, "fragment shader lacks `main'");

    EXPECT_EQ(log[5].severity, "error");
    EXPECT_EQ(log[5].fileLine, 3);

    EXPECT_EQ(log[6].severity, "");
    EXPECT_EQ(log[6].message, "some note the driver added");
}

TEST(CompileLog, LinesBeyondTheFileOrHugeNumbersAreNotQuoted) {
    const SourceLines lines(kSource);
    const std::vector<LogEntry> log =
        parseInfoLog("0:99(1): error: past the end\n0:99999999999999999999(1): error: huge\n", lines);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].fileLine, 0);
    EXPECT_EQ(log[0].source, "");
    EXPECT_EQ(log[1].fileLine, 0);
    EXPECT_EQ(log[1].message, "huge");
}

TEST(SourceLines, CountsEveryKindOfLineBreakOnce) {
    const SourceLines lines("a\r\nb\rc\nd");
    EXPECT_EQ(lines.count(), 4);
    EXPECT_EQ(lines.line(1), "a");
    EXPECT_EQ(lines.line(2), "b");
    EXPECT_EQ(lines.line(3), "c");
    EXPECT_EQ(lines.line(4), "d");
    EXPECT_EQ(lines.line(5), "");
    EXPECT_EQ(lines.fileLine(0, 3), 3);
}

TEST(SourceLines, FollowsLineDirectivesBackToTheFile) {
    const SourceLines lines(
        "#version 460 core\n"  // 1: line 1
        "#line 100\n"          // 2: line 2
        "x\n"                  // 3: line 100
        "  #  line 7 2\n"      // 4: line 101
        "y\n");                // 5: line 7 of string 2
    EXPECT_EQ(lines.fileLine(0, 1), 1);
    EXPECT_EQ(lines.fileLine(0, 100), 3);
    EXPECT_EQ(lines.fileLine(0, 101), 4);
    EXPECT_EQ(lines.fileLine(2, 7), 5);
    // Logs that keep printing string 0 after a directive still find the line.
    EXPECT_EQ(lines.fileLine(0, 7), 5);
    EXPECT_EQ(lines.fileLine(0, 3), 0);
}

TEST(JsonReport, StringsRoundTripWhateverBytesTheyHold) {
    const std::string hostile = std::string("quote\" back\\ tab\t nl\n nul") + '\0' + "\x1f del\x7f é 😀";
    // Malformed UTF-8 (a lone continuation byte, a truncated sequence, an
    // overlong form, a surrogate) becomes U+FFFD and the text stays valid.
    const std::string broken = "a\x80" "b\xC3" "c\xC0\xAF" "d\xED\xA0\x80" "e\xF5";
    CheckReport report;
    report.archive = hostile;
    report.add(Severity::Warning, "x.y", broken, hostile);
    report.entries = {broken, hostile};

    // The library's strict parser refuses malformed UTF-8 itself.
    const auto doc = nlohmann::json::parse(formatJson(report));
    EXPECT_EQ(doc.at("archive").get<std::string>(), hostile);
    EXPECT_EQ(doc.at("findings").at(0).at("message").get<std::string>(), hostile);
    const std::string repaired = "a\xEF\xBF\xBD" "b\xEF\xBF\xBD" "c\xEF\xBF\xBD\xEF\xBF\xBD"
                                 "d\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD" "e\xEF\xBF\xBD";
    EXPECT_EQ(doc.at("findings").at(0).at("where").get<std::string>(), repaired);
    EXPECT_EQ(doc.at("entries").at(0).get<std::string>(), repaired);
    EXPECT_EQ(doc.at("entries").at(1).get<std::string>(), hostile);
}

TEST(JsonReport, DocumentsAreWellFormedAndNumbersExact) {
    CheckReport report;
    TrackFileReport track;
    track.size = 18446744073709551615u;
    track.declaredKeys = -2147483647 - 1;
    track.firstRow = -5;
    track.firstSeconds = 0.1;
    track.lastRow = 2147483647;
    track.lastSeconds = -2.5e-300;
    report.trackFiles = {track, TrackFileReport{}};
    report.exports.push_back(ExportReport{});
    report.soundtrack.seconds = std::numeric_limits<double>::infinity();
    report.soundtrack.rows = std::nan("");
    report.add(Severity::Error, "a", "b", "c");

    const std::string text = formatJson(report);
    ASSERT_EQ(text.back(), '\n');
    const auto doc = nlohmann::ordered_json::parse(text);
    EXPECT_EQ(doc.at("exitStatus").get<int>(), 1);
    const auto& first = doc.at("trackFiles").at(0);
    EXPECT_EQ(first.at("bytes").get<std::uint64_t>(), 18446744073709551615u);
    EXPECT_EQ(first.at("declaredKeys").get<std::int64_t>(), -2147483648);
    EXPECT_EQ(first.at("firstRow").get<std::int64_t>(), -5);
    EXPECT_EQ(first.at("firstSeconds").get<double>(), 0.1);
    EXPECT_EQ(first.at("lastRow").get<std::int64_t>(), 2147483647);
    EXPECT_EQ(first.at("lastSeconds").get<double>(), -2.5e-300);
    // Absent values are null, never a stand-in number; so are non-finite ones.
    const auto& second = doc.at("trackFiles").at(1);
    for (const char* key : {"track", "firstRow", "firstSeconds", "lastRow", "lastSeconds"})
        EXPECT_TRUE(second.at(key).is_null()) << key;
    EXPECT_TRUE(doc.at("exports").at(0).at("active").is_null());
    EXPECT_FALSE(doc.at("exports").at(0).contains("tracks"));
    EXPECT_TRUE(doc.at("soundtrack").at("seconds").is_null());
    EXPECT_TRUE(doc.at("soundtrack").at("rows").is_null());

    // Scripts and diffs of two reports see the keys in one fixed order.
    std::vector<std::string> keys;
    for (const auto& item : doc.items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"archive", "archiveOpen", "exitStatus", "errors", "warnings",
                                              "findings", "entries", "shader", "exports", "trackFiles",
                                              "parameters", "soundtrack", "logo"}));
    keys.clear();
    for (const auto& item : first.items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"entry", "track", "bytes", "declaredKeys", "keys", "firstRow",
                                              "firstSeconds", "lastRow", "lastSeconds"}));
}

TEST(CommandLine, ArchiveDefaultsToTheCurrentFolder) {
    const CommandLine none = parseCommandLine({});
    EXPECT_EQ(none.archive, "zyr.dat");
    EXPECT_FALSE(none.json);
    EXPECT_TRUE(none.error.empty());

    const CommandLine both = parseCommandLine({"--json", "demo/zyr.dat"});
    EXPECT_TRUE(both.json);
    EXPECT_EQ(both.archive, "demo/zyr.dat");
    EXPECT_TRUE(both.error.empty());

    const CommandLine dashed = parseCommandLine({"--", "-odd.dat"});
    EXPECT_EQ(dashed.archive, "-odd.dat");
    EXPECT_TRUE(dashed.error.empty());

    EXPECT_TRUE(parseCommandLine({"-h"}).help);
}

TEST(CommandLine, RejectsWhatItDoesNotKnow) {
    EXPECT_FALSE(parseCommandLine({"--jsn"}).error.empty());
    EXPECT_FALSE(parseCommandLine({"a.dat", "b.dat"}).error.empty());
    EXPECT_FALSE(parseCommandLine({""}).error.empty());
}

}  // namespace
