// The checker's pure parts: compiler log reading, line mapping, the JSON
// emitter and the command line. No GL, no archive.
#include "CommandLine.h"
#include "CompileLog.h"
#include "JsonReader.h"
#include "JsonWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

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

TEST(JsonWriter, StringsRoundTripWhateverBytesTheyHold) {
    const std::string hostile = std::string("quote\" back\\ tab\t nl\n nul") + '\0' + "\x1f del\x7f é 😀";
    const JsonValue value = parseJson(jsonString(hostile));
    EXPECT_EQ(value.string, hostile);

    // Malformed UTF-8 (a lone continuation byte, a truncated sequence, an
    // overlong form, a surrogate) becomes U+FFFD and the text stays valid.
    const std::string broken = "a\x80" "b\xC3" "c\xC0\xAF" "d\xED\xA0\x80" "e\xF5";
    const JsonValue repaired = parseJson(jsonString(broken));
    EXPECT_EQ(repaired.string,
              "a\xEF\xBF\xBD" "b\xEF\xBF\xBD" "c\xEF\xBF\xBD\xEF\xBF\xBD" "d\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
              "e\xEF\xBF\xBD");
}

TEST(JsonWriter, DocumentsAreWellFormedAndNumbersExact) {
    JsonWriter json;
    json.beginObject();
    json.key("a").value(1);
    json.key("b").beginArray().value(0.1).value(-2.5e-300).value(true).null().endArray();
    json.key("c").beginObject().endObject();
    json.key("d").beginArray().endArray();
    json.key("inf").value(std::numeric_limits<double>::infinity());
    json.key("nan").value(std::nan(""));
    json.key("big").value(std::uint64_t{18446744073709551615u});
    json.endObject();

    const JsonValue doc = parseJson(json.str());
    EXPECT_EQ(doc.at("a").number, 1.0);
    ASSERT_EQ(doc.at("b").array.size(), 4u);
    EXPECT_EQ(doc.at("b").array[0].number, 0.1);
    EXPECT_EQ(doc.at("b").array[1].number, -2.5e-300);
    EXPECT_TRUE(doc.at("b").array[2].boolean);
    EXPECT_EQ(doc.at("b").array[3].kind, JsonValue::Kind::Null);
    EXPECT_EQ(doc.at("c").kind, JsonValue::Kind::Object);
    EXPECT_EQ(doc.at("d").kind, JsonValue::Kind::Array);
    EXPECT_EQ(doc.at("inf").kind, JsonValue::Kind::Null);
    EXPECT_EQ(doc.at("nan").kind, JsonValue::Kind::Null);
    EXPECT_EQ(doc.at("big").number, 18446744073709551615.0);
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
