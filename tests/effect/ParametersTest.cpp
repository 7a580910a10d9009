#include "EffectScene.h"

#include <cfloat>
#include <cmath>
#include <limits>
#include <ostream>
#include <string>

namespace {

using ::testing::ElementsAre;

const std::string kSource = fragmentShader(
    "#pragma EXPORT(imgui=colour target)\nuniform vec4 p;\n"
    "#pragma EXPORT(imgui=q)\nuniform vec3 q;\n"
    "#pragma EXPORT(rocket=rk)\nuniform float rk;\n"
    "#pragma EXPORT(internal=time)\nuniform float time;\n",
    "p + vec4(q, rk) + vec4(time)");

constexpr float kMarker = 7.0f;
const std::string kMarkAll = "p = {v0 = 7, v1 = 7, v2 = 7, v3 = 7}\nq = {v0 = 7, v1 = 7, v2 = 7, v3 = 7}\n";

// A built shader whose imgui slots hold kMarker, so a write of 0.0 shows.
class ParametersTest : public GlSuite {
protected:
    void SetUp() override {
        scene_ = std::make_unique<EffectScene>(
            std::vector<ZipEntry>{{"fs.glsl", kSource}, trackEntry("rk.x", {{0, 3.0f, 0}})});
        ASSERT_TRUE(scene_->frame(0.0));
        ASSERT_EQ(scene_->shader->imguiExports().size(), 2u);
        scene_->shader->applyParameters(kMarkAll);
        ASSERT_THAT(slot("p"), ElementsAre(kMarker, kMarker, kMarker, kMarker));
    }
    void TearDown() override { scene_.reset(); }

    void apply(std::string_view text) { scene_->shader->applyParameters(text); }
    const ValueSlot& slot(const std::string& name) const { return scene_->slot(name); }
    EffectShader& shader() { return *scene_->shader; }

    std::unique_ptr<EffectScene> scene_;
};

struct Conversion {
    const char* name;
    const char* toml;
    float expected;
};

// Keeps the listed test names the same from run to run.
void PrintTo(const Conversion& c, std::ostream* out) { *out << c.name; }

class ParameterConversionTest : public ParametersTest, public ::testing::WithParamInterface<Conversion> {};

// How one "v0" value lands in the slot; the other three components are missing
// from the section and become 0.0.
TEST_P(ParameterConversionTest, StoresTheFloatOfTheValue) {
    const Conversion& c = GetParam();
    apply(std::string("[p]\nv0 = ") + c.toml + "\n");
    const float stored = slot("p")[0];
    if (std::isnan(c.expected)) {
        EXPECT_TRUE(std::isnan(stored)) << stored;
    } else {
        EXPECT_EQ(stored, c.expected);
        EXPECT_EQ(std::signbit(stored), std::signbit(c.expected));
    }
    EXPECT_EQ(slot("p")[1], 0.0f);
    EXPECT_EQ(slot("p")[2], 0.0f);
    EXPECT_EQ(slot("p")[3], 0.0f);
}

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNan = std::numeric_limits<float>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Values, ParameterConversionTest,
    ::testing::Values(
        Conversion{"One", "1", 1.0f},
        Conversion{"NegativeInteger", "-42", -42.0f},
        Conversion{"Hexadecimal", "0x10", 16.0f},
        Conversion{"Underscores", "1_000", 1000.0f},
        Conversion{"TwoToThe24", "16777216", 16777216.0f},
        Conversion{"MinusTwoToThe24", "-16777216", -16777216.0f},
        Conversion{"BeyondTwoToThe24", "16777217", 0.0f},
        Conversion{"BelowMinusTwoToThe24", "-16777217", 0.0f},
        Conversion{"LargestInteger", "9223372036854775807", 0.0f},
        Conversion{"Tenth", "0.1", 0.1f},
        Conversion{"NegativeZero", "-0.0", -0.0f},
        Conversion{"Underflow", "1e-50", 0.0f},
        Conversion{"FloatMax", "3.4028234663852886e38", FLT_MAX},
        Conversion{"FloatLowest", "-3.4028234663852886e38", -FLT_MAX},
        Conversion{"JustBeyondFloat", "3.5e38", 0.0f},
        Conversion{"TenToThe39", "1e39", 0.0f},
        Conversion{"MinusTenToThe39", "-1e39", 0.0f},
        Conversion{"Infinity", "inf", kInf},
        Conversion{"PlusInfinity", "+inf", kInf},
        Conversion{"MinusInfinity", "-inf", -kInf},
        Conversion{"Nan", "nan", kNan},
        Conversion{"MinusNan", "-nan", kNan},
        Conversion{"True", "true", 0.0f},
        Conversion{"False", "false", 0.0f},
        Conversion{"BasicString", "\"1.0\"", 0.0f},
        Conversion{"LiteralString", "'1.0'", 0.0f},
        Conversion{"Date", "1979-05-27", 0.0f},
        Conversion{"Time", "07:32:00", 0.0f},
        Conversion{"DateTime", "1979-05-27T07:32:00Z", 0.0f},
        Conversion{"Array", "[1.0]", 0.0f},
        Conversion{"InlineTable", "{x = 1.0}", 0.0f}),
    [](const ::testing::TestParamInfo<Conversion>& info) { return std::string(info.param.name); });

TEST_F(ParametersTest, EverySelectedSlotGetsAllFourComponents) {
    apply("[q]\nv0 = 1\nv1 = 0.5\n");
    EXPECT_THAT(slot("q"), ElementsAre(1.0f, 0.5f, 0.0f, 0.0f));
    EXPECT_THAT(slot("p"), ElementsAre(kMarker, kMarker, kMarker, kMarker)) << "p has no entry";

    apply("[p]\n");
    EXPECT_THAT(slot("p"), ElementsAre(0.0f, 0.0f, 0.0f, 0.0f));

    apply("p.v0 = 3\np.v3 = -3\nq = { v2 = 2.5, v1 = 1.5, colour = 9 }\n");
    EXPECT_THAT(slot("p"), ElementsAre(3.0f, 0.0f, 0.0f, -3.0f));
    EXPECT_THAT(slot("q"), ElementsAre(0.0f, 1.5f, 2.5f, 0.0f));

    // Only the second level is read: a table under v0 is not a number.
    apply("[p.v0]\nv0 = 5\n[p]\nv1 = 1\n");
    EXPECT_THAT(slot("p"), ElementsAre(0.0f, 1.0f, 0.0f, 0.0f));
}

TEST_F(ParametersTest, EntriesThatAreNotTablesClearTheSlot) {
    apply("p = [1.0, 2.0, 3.0, 4.0]\nq = 5.0\n");
    EXPECT_THAT(slot("p"), ElementsAre(0.0f, 0.0f, 0.0f, 0.0f));
    EXPECT_THAT(slot("q"), ElementsAre(0.0f, 0.0f, 0.0f, 0.0f));
}

TEST_F(ParametersTest, KeysThatSelectNoImguiExportChangeNothing) {
    scene_->frame(0.0);  // the store writes the rocket slot
    ASSERT_EQ(slot("rk")[0], 3.0f);
    const std::size_t slots = shader().values().size();

    apply("");
    apply("# nothing but a comment\n");
    apply("[\"colour target\"]\nv0 = 1\n"   // the export's target, not its name
          "[P]\nv0 = 1\n"                    // names are case-sensitive
          "[rk]\nv0 = 1\n"                   // a rocket export
          "[time]\nv0 = 1\n"                 // an internal export
          "[nobody]\nv0 = 1\n");
    EXPECT_THAT(slot("p"), ElementsAre(kMarker, kMarker, kMarker, kMarker));
    EXPECT_THAT(slot("q"), ElementsAre(kMarker, kMarker, kMarker, kMarker));
    EXPECT_EQ(slot("rk")[0], 3.0f);
    EXPECT_EQ(shader().values().size(), slots) << "no slot is made for a key";
}

TEST_F(ParametersTest, ValuesReachGlOnTheNextFrame) {
    apply("[p]\nv0 = 0.5\nv1 = 1.5\nv2 = 2.5\nv3 = 3.5\n");
    scene_->frame(0.0);
    EXPECT_THAT(scene_->uniform("p"), ElementsAre(0.5f, 1.5f, 2.5f, 3.5f));
}

TEST_F(ParametersTest, SyntaxErrorReportsWhereAndWritesNothing) {
    try {
        apply("[p]\nv0 = 1\n[q]\nv0 = = 2\n");
        FAIL() << "no error";
    } catch (const ParameterFileError& error) {
        EXPECT_EQ(error.line(), 4u);
        EXPECT_EQ(error.column(), 6u);
        EXPECT_FALSE(error.description().empty());
        EXPECT_EQ(std::string(error.what()), "4:6: " + error.description());
    }
    EXPECT_THAT(slot("p"), ElementsAre(kMarker, kMarker, kMarker, kMarker));
    EXPECT_THAT(slot("q"), ElementsAre(kMarker, kMarker, kMarker, kMarker));

    EXPECT_THROW(apply("p = {v0 = 1"), ParameterFileError);
    EXPECT_THROW(apply("[p]\nv0 = 1\nv0 = 2\n"), ParameterFileError);
    EXPECT_THROW(apply(std::string("[p]\nv0 = 1\0", 11)), ParameterFileError);
    EXPECT_THAT(slot("p"), ElementsAre(kMarker, kMarker, kMarker, kMarker));
}

std::string repeat(std::string_view part, std::size_t times) {
    std::string out;
    out.reserve(part.size() * times);
    for (std::size_t i = 0; i < times; ++i) out += part;
    return out;
}

// Nesting that would exhaust the parser's stack is refused before parsing.
TEST_F(ParametersTest, DeepNestingIsRefusedWithItsPosition) {
    struct Deep {
        const char* what;
        std::string text;
        std::uint32_t line;
    };
    const Deep deep[] = {
        {"arrays", "x = " + repeat("[", 10000) + repeat("]", 10000) + "\n", 1},
        {"inline tables", "[p]\nv0 = 1\nx = " + repeat("{a = ", 10000) + "1" + repeat("}", 10000) + "\n", 3},
        {"arrays of inline tables", "x = " + repeat("[{a = ", 10000) + "1" + repeat("}]", 10000) + "\n", 1},
        {"dotted key", "\n\nx" + repeat(".a", 100000) + " = 1\n", 3},
        {"table header", "[x" + repeat(".a", 100000) + "]\nv = 1\n", 1},
        {"array of tables header", "[[x" + repeat(".a", 100000) + "]]\nv = 1\n", 1},
        {"dotted key in inline table", "x = {a" + repeat(".a", 100000) + " = 1}\n", 1},
        {"header and key together", "[" + repeat("a.", 40) + "a]\n" + repeat("b.", 40) + "b = 1\n", 2},
    };
    for (const Deep& d : deep) {
        SCOPED_TRACE(d.what);
        try {
            apply(d.text);
            ADD_FAILURE() << "accepted";
        } catch (const ParameterFileError& error) {
            EXPECT_EQ(error.line(), d.line);
            EXPECT_NE(error.description().find("nested"), std::string::npos) << error.what();
        }
        EXPECT_THAT(slot("p"), ElementsAre(kMarker, kMarker, kMarker, kMarker));
    }
}

TEST_F(ParametersTest, NestingLimitIsSixtyFourLevels) {
    // x is level 1, so 63 arrays put their innermost values at level 64.
    apply("x = " + repeat("[", 63) + repeat("]", 63) + "\np = {v0 = 1}\n");
    EXPECT_EQ(slot("p")[0], 1.0f);
    try {
        apply("x = " + repeat("[", 64) + repeat("]", 64) + "\n");
        FAIL() << "accepted";
    } catch (const ParameterFileError& error) {
        EXPECT_EQ(error.line(), 1u);
        EXPECT_EQ(error.column(), 68u) << "the 64th bracket";
        EXPECT_EQ(std::string(error.what()), "1:68: values nested deeper than 64 levels");
    }

    apply("x" + repeat(".a", 63) + " = 1\np.v1 = 2\n");
    EXPECT_THAT(slot("p"), ElementsAre(0.0f, 2.0f, 0.0f, 0.0f));
    EXPECT_THROW(apply("x" + repeat(".a", 64) + " = 1\n"), ParameterFileError);

    // A table header may reach the last level, but then holds no keys.
    const std::string deepestTable = "[" + repeat("a.", 63) + "a]\n";
    apply(deepestTable);
    try {
        apply(deepestTable + "b = 1\n");
        FAIL() << "accepted";
    } catch (const ParameterFileError& error) {
        EXPECT_EQ(error.line(), 2u);
        EXPECT_EQ(error.column(), 3u) << "at the equals sign";
    }

    // Columns count characters: the two bytes of an e acute are one column.
    try {
        apply("\"\xC3\xA9\" = " + repeat("[", 64) + repeat("]", 64) + "\n");
        FAIL() << "accepted";
    } catch (const ParameterFileError& error) {
        EXPECT_EQ(error.column(), 70u);
    }
}

// Brackets, braces and dots that are text, not structure, do not count.
TEST_F(ParametersTest, StringsCommentsAndNumbersDoNotCountAsNesting) {
    const std::string open = repeat("[{", 5000);
    const std::string text =
        "basic = \"" + open + " \\\" " + open + "\"\n"
        "literal = '" + open + "'\n"
        "multi = \"\"\"\n" + open + "\n\\\"\"\" " + open + " \"\"\"\"\"\n"
        "multiLiteral = '''" + open + "\n'' " + open + "''''\n"
        "empty = ''\n"
        "\"" + repeat("a.", 5000) + "\" = 1\n"
        "'" + repeat("b.", 5000) + "'.c = 2\n"
        "floats = [" + repeat("1.5, ", 5000) + "2.5]\n"
        "# " + open + "\n"
        "[p] # " + open + "\n"
        "v0 = 1.5 # " + open + "\n"
        "v1 = 2.5\n"
        "[q]\n"
        "v2 = 3.5\n";
    apply(text);
    EXPECT_THAT(slot("p"), ElementsAre(1.5f, 2.5f, 0.0f, 0.0f));
    EXPECT_THAT(slot("q"), ElementsAre(0.0f, 0.0f, 3.5f, 0.0f));

    // Nesting in a document laid over several lines and tables.
    apply("[a.b.c]\nd.e = [[1, 2], [3, {f.g = [4]}]]\n[[h.i]]\nj = {k = {l = [5]}}\n"
          "[p]\nv0 = 4\n");
    EXPECT_EQ(slot("p")[0], 4.0f);
}

// toml++ misjudges some non-ASCII characters where it looks for white space
// (undefined behaviour); TOML allows them only in strings and comments.
TEST_F(ParametersTest, NonAsciiWhereTomlAllowsNoneIsRefusedWithItsPosition) {
    struct Bad {
        const char* what;
        std::string text;
        std::uint32_t line;
        std::uint32_t column;
    };
    const Bad bad[] = {
        {"after a value", "[p]\nv0 = 1\xD1\xBF\n", 2, 7},
        {"in a value read ahead through quotes", "[p]\nv0 = 1''\"\xD1\xBF\"\n", 2, 10},
        {"after a table header", "[p]\xD1\xBF\nv0 = 1\n", 1, 4},
        {"in a bare key", "[p]\nv\xC3\xA9 = 1\n", 2, 2},
        {"in a table header", "[p\xC3\xA9]\n", 1, 3},
        {"no-break space in an array", "x = [1,\xC2\xA0 2]\n", 1, 8},
        {"in an inline table", "p = {v0 = 1\xD1\xBF}\n", 1, 12},
        {"after a line-ending backslash", "s = \"\"\"a\\\n  \xD1\xBF\"\"\"\n", 2, 3},
        {"escaped", "s = \"\"\"\\\xD1\xBF\"\"\"\n", 1, 9},
    };
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.what);
        try {
            apply(b.text);
            ADD_FAILURE() << "accepted";
        } catch (const ParameterFileError& error) {
            EXPECT_EQ(error.line(), b.line);
            EXPECT_EQ(error.column(), b.column);
            EXPECT_NE(error.description().find("non-ASCII"), std::string::npos) << error.what();
        }
        EXPECT_THAT(slot("p"), ElementsAre(kMarker, kMarker, kMarker, kMarker));
    }

    // A byte order mark, comments, strings and quoted keys keep their characters.
    apply("\xEF\xBB\xBF# caf\xC3\xA9 \xD1\xBF\n[p] # \xD1\xBF\nv0 = 1.5\n\"k\xC3\xA9\" = \"\xD1\xBF \xC3\xA9\"\n"
          "s = '\xD1\xBF'\nm = \"\"\"\n\xD1\xBF \\\n  x\xC3\xA9\"\"\"\nl = '''\xD1\xBF'''\n[q]\nv1 = 2\n");
    EXPECT_THAT(slot("p"), ElementsAre(1.5f, 0.0f, 0.0f, 0.0f));
    EXPECT_THAT(slot("q"), ElementsAre(0.0f, 2.0f, 0.0f, 0.0f));
}


}  // namespace
