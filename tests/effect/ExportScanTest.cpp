#include "ExportScan.h"
#include "ExportScanReference.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <random>
#include <regex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// gtest prints records this way when a comparison fails.
void PrintTo(const ExportedUniform& e, std::ostream* os) {
    *os << "{name \"" << e.name << "\", kind \"" << e.kind << "\", target \"" << e.target
        << "\", type \"" << e.typeName << "\" " << static_cast<int>(e.type) << "}";
}

// Found by argument-dependent lookup from the comparisons of record lists.
static bool operator==(const ExportedUniform& a, const ExportedUniform& b) { return sameExport(a, b); }

namespace {

ExportedUniform rec(std::string name, std::string kind, std::string target, std::string typeName,
                    UniformType type) {
    ExportedUniform e;
    e.name = std::move(name);
    e.kind = std::move(kind);
    e.target = std::move(target);
    e.typeName = std::move(typeName);
    e.type = type;
    return e;
}

std::string visible(std::string_view text) {
    std::string out;
    static const char* hex = "0123456789abcdef";
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7f && c != '\\') {
            out += c;
        } else {
            out += "\\x";
            out += hex[u >> 4];
            out += hex[u & 15];
        }
    }
    return out;
}

// ---------------------------------------------------------------------------
// Edge cases, each checked against the expected list and against the regex.

struct Case {
    const char* label;
    std::string text;
    std::vector<ExportedUniform> expected;
};

void checkCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.label) + ": " + visible(c.text));
        EXPECT_EQ(scanExports(c.text), c.expected);
        EXPECT_EQ(regexScan(c.text), c.expected) << "the expectation disagrees with the regex";
    }
}

TEST(ExportScan, MatchingVariants) {
    const auto camHeight = rec("camHeight", "rocket", "camera:height", "float", UniformType::Float);
    checkCases({
        {"next line", "#pragma EXPORT(rocket=camera:height)\nuniform float camHeight;", {camHeight}},
        {"one space, same line", "#pragma EXPORT(rocket=camera:height) uniform float camHeight;", {camHeight}},
        {"blank lines between", "#pragma EXPORT(rocket=camera:height)\n\n\r\n\t\n  \nuniform float camHeight;",
         {camHeight}},
        {"every white-space character", "#pragma \t\n\v\f\rEXPORT(rocket=camera:height) \t\n\v\f\runiform float\t\n\v\f\r camHeight;",
         {camHeight}},
        {"CRLF line ends", "#version 460\r\n#pragma EXPORT(rocket=camera:height)\r\nuniform float camHeight;\r\n",
         {camHeight}},
        {"not anchored to a line start", "x=1;#pragma EXPORT(rocket=camera:height)\nuniform float camHeight;",
         {camHeight}},
        {"digits and capitals in groups",
         "#pragma EXPORT(Rocket2=A1:b2::c)\nuniform vec4 v4Name9;",
         {rec("v4Name9", "Rocket2", "A1:b2::c", "vec4", UniformType::Vec4)}},
        {"underscores in kind and target", "#pragma EXPORT(my_kind=t_1:x_y)\nuniform vec2 p;",
         {rec("p", "my_kind", "t_1:x_y", "vec2", UniformType::Vec2)}},
        {"inside a block comment", "/*\n#pragma EXPORT(imgui=c)\nuniform vec3 tint;\n*/",
         {rec("tint", "imgui", "c", "vec3", UniformType::Vec3)}},
        {"inside a line comment", "// #pragma EXPORT(internal=time) uniform float t;",
         {rec("t", "internal", "time", "float", UniformType::Float)}},
        {"several in source order",
         "#pragma EXPORT(internal=time)\nuniform float t;\nvoid f();\n#pragma EXPORT(internal=resolution)\nuniform vec2 res;\n",
         {rec("t", "internal", "time", "float", UniformType::Float),
          rec("res", "internal", "resolution", "vec2", UniformType::Vec2)}},
        {"other type words are listed",
         "#pragma EXPORT(rocket=a)\nuniform int i;\n#pragma EXPORT(rocket=b)\nuniform mat4 m;\n"
         "#pragma EXPORT(rocket=c)\nuniform Float f;",
         {rec("i", "rocket", "a", "int", UniformType::Other), rec("m", "rocket", "b", "mat4", UniformType::Other),
          rec("f", "rocket", "c", "Float", UniformType::Other)}},
        {"second #pragma before the annotation", "#pragma #pragma EXPORT(k=t) uniform float x;",
         {rec("x", "k", "t", "float", UniformType::Float)}},
    });
}

TEST(ExportScan, NonMatchingVariants) {
    checkCases({
        {"empty", "", {}},
        {"plain uniform", "#version 460\nuniform float time;\nvoid main() {}\n", {}},
        {"comment between", "#pragma EXPORT(rocket=a)\n// note\nuniform float x;", {}},
        {"other directive between", "#pragma EXPORT(rocket=a)\n#define X 1\nuniform float x;", {}},
        {"lower-case export", "#pragma export(rocket=a)\nuniform float x;", {}},
        {"space before parenthesis", "#pragma EXPORT (rocket=a)\nuniform float x;", {}},
        {"no space after pragma", "#pragmaEXPORT(rocket=a)\nuniform float x;", {}},
        {"empty kind", "#pragma EXPORT(=a)\nuniform float x;", {}},
        {"empty target", "#pragma EXPORT(rocket=)\nuniform float x;", {}},
        {"colon in kind", "#pragma EXPORT(a:b=c)\nuniform float x;", {}},
        {"second equals sign", "#pragma EXPORT(a=b=c)\nuniform float x;", {}},
        {"dot in target", "#pragma EXPORT(rocket=cam.pos)\nuniform float x;", {}},
        {"no white space before uniform", "#pragma EXPORT(rocket=a)uniform float x;", {}},
        {"two spaces after uniform", "#pragma EXPORT(rocket=a)\nuniform  float x;", {}},
        {"tab after uniform", "#pragma EXPORT(rocket=a)\nuniform\tfloat x;", {}},
        {"precision qualifier", "#pragma EXPORT(rocket=a)\nuniform highp float x;", {}},
        {"layout qualifier", "#pragma EXPORT(rocket=a)\nlayout(location = 0) uniform float x;", {}},
        {"underscore in name", "#pragma EXPORT(rocket=a)\nuniform float cam_pos;", {}},
        {"underscore in type", "#pragma EXPORT(rocket=a)\nuniform my_type x;", {}},
        {"name starts with digit", "#pragma EXPORT(rocket=a)\nuniform float 9x;", {}},
        {"array", "#pragma EXPORT(rocket=a)\nuniform float x[4];", {}},
        {"space before semicolon", "#pragma EXPORT(rocket=a)\nuniform float x ;", {}},
        {"no name", "#pragma EXPORT(rocket=a)\nuniform float;", {}},
        {"missing semicolon", "#pragma EXPORT(rocket=a)\nuniform float x", {}},
        {"Uniform capitalised", "#pragma EXPORT(rocket=a)\nUniform float x;", {}},
        {"non-breaking space is not white space", "#pragma\xa0" "EXPORT(rocket=a)\nuniform float x;", {}},
        {"next line 0x85 is not white space", "#pragma EXPORT(rocket=a)\x85uniform float x;", {}},
        {"NUL between", std::string("#pragma EXPORT(rocket=a)\0uniform float x;", 41), {}},
        {"truncated", "#pragma EXPORT(rocket=a", {}},
    });
}

TEST(ExportScan, SpacesInsideParenthesesBelongToTheGroups) {
    checkCases({
        {"space before =", "#pragma EXPORT(rocket =t)\nuniform float x;",
         {rec("x", "rocket ", "t", "float", UniformType::Float)}},
        {"space after =", "#pragma EXPORT(rocket= t)\nuniform float x;",
         {rec("x", "rocket", " t", "float", UniformType::Float)}},
        {"spaces all round", "#pragma EXPORT( imgui = a b : c )\nuniform float x;",
         {rec("x", " imgui ", " a b : c ", "float", UniformType::Float)}},
        {"only spaces", "#pragma EXPORT( =  )\nuniform float x;", {rec("x", " ", "  ", "float", UniformType::Float)}},
    });
    EXPECT_EQ(classifyKind("rocket "), ExportKind::Other);
}

TEST(ExportScan, RewriteHandsTheDeclarationToEarlierAnnotations) {
    checkCases({
        {"two on one line", "#pragma EXPORT(a=b) #pragma EXPORT(rocket=t) uniform float x;",
         {rec("x", "rocket", "t", "float", UniformType::Float), rec("x", "a", "b", "float", UniformType::Float)}},
        {"three across lines", "#pragma EXPORT(k1=t1)\n\n#pragma EXPORT(k2=t2)\r\n#pragma EXPORT(k3=t3)\nuniform vec3 v;",
         {rec("v", "k3", "t3", "vec3", UniformType::Vec3), rec("v", "k2", "t2", "vec3", UniformType::Vec3),
          rec("v", "k1", "t1", "vec3", UniformType::Vec3)}},
        {"chain broken by a word", "#pragma EXPORT(k1=t1) x #pragma EXPORT(k2=t2) uniform float v;",
         {rec("v", "k2", "t2", "float", UniformType::Float)}},
        {"no white space before the next annotation", "#pragma EXPORT(k1=t1)#pragma EXPORT(k2=t2) uniform float v;",
         {rec("v", "k2", "t2", "float", UniformType::Float)}},
        {"earlier declaration untouched, later chain",
         "#pragma EXPORT(a=1) uniform float p; #pragma EXPORT(b=2) #pragma EXPORT(c=3) uniform vec2 q;",
         {rec("p", "a", "1", "float", UniformType::Float), rec("q", "c", "3", "vec2", UniformType::Vec2),
          rec("q", "b", "2", "vec2", UniformType::Vec2)}},
        {"chain does not reach across a finished declaration",
         "#pragma EXPORT(a=1) uniform float p; uniform float z; #pragma EXPORT(c=3) uniform vec2 q;",
         {rec("p", "a", "1", "float", UniformType::Float), rec("q", "c", "3", "vec2", UniformType::Vec2)}},
        {"type word after a rewrite is the declared one", "#pragma EXPORT(a=b)\n#pragma EXPORT(c=d) uniform mat4 m;",
         {rec("m", "c", "d", "mat4", UniformType::Other), rec("m", "a", "b", "mat4", UniformType::Other)}},
        {"annotation spaced from pragma joins the chain", "#pragma\n\tEXPORT(a=b)\n#pragma EXPORT(c=d)\nuniform float f;",
         {rec("f", "c", "d", "float", UniformType::Float), rec("f", "a", "b", "float", UniformType::Float)}},
        {"chain head whose prefix fails", "EXPORT(a=b) #pragma EXPORT(c=d) uniform float f;",
         {rec("f", "c", "d", "float", UniformType::Float)}},
        {"rewrite shortens a white-space tail",
         "#pragma EXPORT(a=b)   \n#pragma EXPORT(c=d)\n\n\nuniform float   f;",
         {rec("f", "c", "d", "float", UniformType::Float), rec("f", "a", "b", "float", UniformType::Float)}},
    });
}

TEST(ExportScan, DuplicateAnnotationsInPreprocessorBranchesAreListedInSourceOrder) {
    checkCases({
        {"both branches",
         "#ifdef FAST\n#pragma EXPORT(rocket=fast:speed)\nuniform float speed;\n#else\n"
         "#pragma EXPORT(imgui=slow)\nuniform float speed;\n#endif\n",
         {rec("speed", "rocket", "fast:speed", "float", UniformType::Float),
          rec("speed", "imgui", "slow", "float", UniformType::Float)}},
    });
}

TEST(ExportScan, TypeClassification) {
    const struct {
        const char* word;
        UniformType type;
        std::uint32_t components;
    } table[] = {
        {"float", UniformType::Float, 1}, {"vec2", UniformType::Vec2, 2}, {"vec3", UniformType::Vec3, 3},
        {"vec4", UniformType::Vec4, 4},   {"int", UniformType::Other, 0},  {"mat4", UniformType::Other, 0},
        {"bool", UniformType::Other, 0},  {"Float", UniformType::Other, 0}, {"VEC2", UniformType::Other, 0},
        {"vec", UniformType::Other, 0},   {"vec5", UniformType::Other, 0}, {"vec22", UniformType::Other, 0},
        {"floa", UniformType::Other, 0},  {"", UniformType::Other, 0},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.word);
        EXPECT_EQ(classifyType(row.word), row.type);
        EXPECT_EQ(componentCount(classifyType(row.word)), row.components);
    }
    EXPECT_EQ(classifyType(std::string_view("vec3\0", 5)), UniformType::Other);
}

TEST(ExportScan, KindClassification) {
    const struct {
        const char* text;
        ExportKind kind;
    } table[] = {
        {"rocket", ExportKind::Rocket}, {"imgui", ExportKind::Imgui}, {"internal", ExportKind::Internal},
        {"Rocket", ExportKind::Other},  {"IMGUI", ExportKind::Other}, {" internal", ExportKind::Other},
        {"rocke", ExportKind::Other},   {"rockets", ExportKind::Other}, {"", ExportKind::Other},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(classifyKind(row.text), row.kind);
    }
}

TEST(ExportScan, LeavesTheCallersTextUnchanged) {
    const std::string text = "#pragma EXPORT(a=b) #pragma EXPORT(c=d) uniform float x;";
    const std::string copy = text;
    EXPECT_EQ(scanExports(text).size(), 2u);
    EXPECT_EQ(text, copy);
}

// ---------------------------------------------------------------------------
// Differential test: generated texts, scanned here and by the regex loop.

class TextGenerator {
public:
    explicit TextGenerator(std::uint32_t seed) : rng_(seed) {}

    std::string next() {
        std::string out;
        const int pieces = pick(1, 30);
        for (int i = 0; i < pieces; ++i) appendPiece(out);
        return out;
    }

private:
    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    template <std::size_t N>
    const char* oneOf(const char* const (&options)[N]) {
        return options[static_cast<std::size_t>(pick(0, static_cast<int>(N) - 1))];
    }

    void whiteSpace(std::string& out, int most) {
        static const char six[] = {' ', '\t', '\n', '\v', '\f', '\r'};
        const int n = pick(0, most);
        for (int i = 0; i < n; ++i) out += six[pick(0, 5)];
    }

    void groupText(std::string& out, const char* alphabet, int most) {
        const std::string_view a(alphabet);
        const int n = pick(0, most);
        for (int i = 0; i < n; ++i) out += a[static_cast<std::size_t>(pick(0, static_cast<int>(a.size()) - 1))];
    }

    // A well-formed piece, occasionally bent out of shape by a few edits.
    void annotation(std::string& out) {
        std::string a = "#pragma";
        if (pick(0, 9) == 0) whiteSpace(a, 2); else { a += ' '; whiteSpace(a, 2); }
        a += pick(0, 15) == 0 ? "EXPORT (" : "EXPORT(";
        groupText(a, pick(0, 3) == 0 ? "ab _1" : "rocketimguinal", 6);
        a += '=';
        groupText(a, pick(0, 3) == 0 ? "xy _:9" : "cam:pos", 6);
        a += ')';
        out += mutate(a);
    }

    void declaration(std::string& out) {
        static const char* const types[] = {"float", "vec2", "vec3", "vec4", "int", "mat4", "Float", "v1", "1v", "a_b", ""};
        static const char* const names[] = {"x", "camPos", "t9", "cam_pos", "_x", "9x", "a1b2", ""};
        std::string d = pick(0, 9) == 0 ? oneOf({"uniform  ", "uniform\t", "Uniform ", "uniform"}) : "uniform ";
        d += oneOf(types);
        if (pick(0, 7) == 0) d += oneOf({"", "x"}); else { d += ' '; whiteSpace(d, 2); }
        d += oneOf(names);
        d += pick(0, 7) == 0 ? oneOf({" ;", "[2];", "", "\n;"}) : ";";
        out += mutate(d);
    }

    std::string mutate(std::string s) {
        if (s.empty() || pick(0, 7) != 0) return s;
        const int edits = pick(1, 2);
        for (int e = 0; e < edits && !s.empty(); ++e) {
            const auto at = static_cast<std::size_t>(pick(0, static_cast<int>(s.size()) - 1));
            switch (pick(0, 2)) {
                case 0: s.erase(at, 1); break;
                case 1: s.insert(at, 1, randomChar()); break;
                default: s[at] = randomChar(); break;
            }
        }
        return s;
    }

    char randomChar() {
        static const char interesting[] = "#=():;_ \t\n\v\f\rauE0";
        if (pick(0, 1) == 0) return interesting[pick(0, static_cast<int>(sizeof interesting) - 2)];
        return static_cast<char>(pick(0, 255));
    }

    void appendPiece(std::string& out) {
        static const char* const tokens[] = {
            "#pragma", "EXPORT", "export", "(", ")", "=", "uniform ", "uniform", "float", "vec2", "vec3",
            "vec4", "int", "mat4", "camPos", "cam_pos", "rocket", "imgui", "internal", "x", ";", ":", "0",
            "42", "_", "#", "//", "/*", "*/", "#pragma EXPORT(", "#ifdef A\n", "#endif\n", "\xa0", "\x85"};
        switch (pick(0, 9)) {
            case 0:
            case 1:
            case 2: annotation(out); break;
            case 3:
            case 4: declaration(out); break;
            case 5:
            case 6: whiteSpace(out, 8); break;
            case 7: out += oneOf(tokens); break;
            case 8: out += randomChar(); break;
            default: {
                // A chain: several annotations in front of one declaration.
                const int n = pick(2, 5);
                for (int i = 0; i < n; ++i) {
                    annotation(out);
                    whiteSpace(out, 3);
                    if (pick(0, 1) == 0) out += '\n';
                }
                declaration(out);
                break;
            }
        }
    }

    std::mt19937 rng_;
};

TEST(ExportScan, AgreesWithTheRegexRewriteLoopOnGeneratedTexts) {
    constexpr int texts = 30000;
    TextGenerator generate(20230817u);
    int withRecords = 0;
    int withChains = 0;
    std::size_t records = 0;
    for (int i = 0; i < texts; ++i) {
        const std::string text = generate.next();
        const std::vector<ExportedUniform> expected = regexScan(text);
        const std::vector<ExportedUniform> actual = scanExports(text);
        ASSERT_EQ(actual, expected) << "text #" << i << ": \"" << visible(text) << "\"";
        records += expected.size();
        if (!expected.empty()) ++withRecords;
        for (std::size_t k = 1; k < expected.size(); ++k) {
            if (expected[k].name == expected[k - 1].name && expected[k].typeName == expected[k - 1].typeName) {
                ++withChains;
                break;
            }
        }
    }
    // The generator has to reach the interesting cases for the comparison to mean anything.
    EXPECT_GT(withRecords, texts / 10);
    EXPECT_GT(withChains, texts / 50);
    RecordProperty("records", static_cast<int>(records));
    RecordProperty("texts_with_chains", withChains);
}

// ---------------------------------------------------------------------------
// Inputs far beyond what a recursive matcher survives.

constexpr std::size_t sixteenMiB = std::size_t{16} << 20;

TEST(ExportScan, SixteenMebibytesOfRandomBytesWithPlantedAnnotations) {
    std::mt19937 rng(7u);
    std::string text(sixteenMiB, '\0');
    for (char& c : text) c = static_cast<char>(rng() & 0xff);
    const std::string planted = "#pragma EXPORT(rocket=cam:pos)\nuniform vec3 camPos;";
    constexpr std::size_t count = 100;
    for (std::size_t i = 0; i < count; ++i) {
        text.replace(i * (sixteenMiB / count) + 12345, planted.size(), planted);
    }
    const auto found = scanExports(text);
    ASSERT_EQ(found.size(), count);
    for (const ExportedUniform& e : found) {
        EXPECT_EQ(e, rec("camPos", "rocket", "cam:pos", "vec3", UniformType::Vec3));
    }
}

TEST(ExportScan, MillionLineFeedsBetweenAnnotationAndDeclaration) {
    const std::string feeds(1'000'000, '\n');
    EXPECT_EQ(scanExports("#pragma EXPORT(rocket=a)" + feeds + "uniform vec2 v;"),
              std::vector{rec("v", "rocket", "a", "vec2", UniformType::Vec2)});
    EXPECT_TRUE(scanExports("#pragma EXPORT(rocket=a)" + feeds + "// no\nuniform vec2 v;").empty());
    EXPECT_EQ(scanExports("#pragma EXPORT(a=b)" + feeds + "#pragma EXPORT(rocket=t)" + feeds + "uniform float x;"),
              (std::vector{rec("x", "rocket", "t", "float", UniformType::Float),
                           rec("x", "a", "b", "float", UniformType::Float)}));
}

TEST(ExportScan, TenThousandAnnotations) {
    constexpr int count = 10'000;
    std::string separate;
    std::string chained;
    for (int i = 0; i < count; ++i) {
        separate += "#pragma EXPORT(rocket=track" + std::to_string(i) + ")\nuniform float u" + std::to_string(i) +
                    ";\nfloat f" + std::to_string(i) + " = 1.0;\n";
        chained += "#pragma EXPORT(k" + std::to_string(i) + "=t)\n";
    }
    chained += "uniform vec4 last;";

    const auto found = scanExports(separate);
    ASSERT_EQ(found.size(), static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        EXPECT_EQ(found[static_cast<std::size_t>(i)], rec("u" + n, "rocket", "track" + n, "float", UniformType::Float));
    }

    // Every annotation takes over the declaration in turn, the nearest first.
    const auto chain = scanExports(chained);
    ASSERT_EQ(chain.size(), static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const std::string n = std::to_string(count - 1 - i);
        EXPECT_EQ(chain[static_cast<std::size_t>(i)], rec("last", "k" + n, "t", "vec4", UniformType::Vec4));
    }
}

TEST(ExportScan, SixteenMebibyteRunsOfSpaces) {
    const std::string spaces(sixteenMiB, ' ');
    EXPECT_TRUE(scanExports(spaces).empty());
    EXPECT_EQ(scanExports("#pragma" + spaces + "EXPORT(k=t)" + spaces + "uniform float" + spaces + "x;"),
              std::vector{rec("x", "k", "t", "float", UniformType::Float)});
    EXPECT_TRUE(scanExports("#pragma EXPORT(" + spaces + "=" + spaces + ")" + spaces + "uniform float x").empty());
}

}  // namespace
