// zyr-check in-process, against real GL: a clean archive passes without a
// word; every way of breaking it is reported once, with its severity.
#include "CheckFixture.h"
#include "Desktop.h"

#include "Mp3.h"
#include "ReportFormat.h"
#include "ZipWriter.h"

#include <gmock/gmock.h>

#include <cmath>
#include <fstream>

using ::testing::HasSubstr;

namespace {

const ExportReport& exportRow(const CheckReport& report, const std::string& name) {
    for (const ExportReport& e : report.exports)
        if (e.name == name) return e;
    throw std::runtime_error("no export " + name);
}

const TrackFileReport& trackFile(const CheckReport& report, const std::string& entry) {
    for (const TrackFileReport& t : report.trackFiles)
        if (t.entry == entry) return t;
    throw std::runtime_error("no track file " + entry);
}

// ---- the clean archive ----------------------------------------------------------

using CleanArchive = CheckTest;

TEST_F(CleanArchive, ReportsNothingWrongAndDescribesEverything) {
    const CheckReport report = check(Content::clean());
    EXPECT_TRUE(report.findings.empty()) << describe(report);
    EXPECT_EQ(report.exitStatus(), 0);

    EXPECT_TRUE(report.archiveOpen);
    EXPECT_EQ(report.entries.size(), 7u);
    EXPECT_TRUE(report.shader.compiled);
    EXPECT_TRUE(report.shader.linked);

    ASSERT_EQ(report.exports.size(), 5u);
    const ExportReport& cam = exportRow(report, "camPos");
    EXPECT_EQ(cam.kind, "rocket");
    EXPECT_EQ(cam.target, "cam:pos");
    EXPECT_EQ(cam.typeName, "vec3");
    EXPECT_EQ(cam.activity, Activity::Active);
    EXPECT_EQ(cam.drivenBy, "tracks cam:pos.x, cam:pos.y, cam:pos.z");
    ASSERT_EQ(cam.tracks.size(), 3u);
    EXPECT_EQ(cam.tracks[0].track, "cam:pos.x");
    EXPECT_EQ(cam.tracks[0].entry, "sync_cam-3Apos.x.track");
    EXPECT_TRUE(cam.tracks[0].exists);
    EXPECT_EQ(cam.tracks[2].entry, "sync_cam-3Apos.z.track");
    EXPECT_EQ(exportRow(report, "tint").drivenBy, "fsshader.ini [tint]");
    EXPECT_EQ(exportRow(report, "time").drivenBy, "playback seconds");
    EXPECT_EQ(exportRow(report, "rows").drivenBy, "playback row");
    EXPECT_EQ(exportRow(report, "resolution").drivenBy, "framebuffer size");

    // Rows 0 and 136 fall at 0 s and 136 / (170 / 60 * 8) = 6 s.
    const TrackFileReport& x = trackFile(report, "sync_cam-3Apos.x.track");
    EXPECT_TRUE(x.used);
    EXPECT_EQ(x.track, "cam:pos.x");
    EXPECT_EQ(x.size, 4u + 9u * 3u);
    EXPECT_EQ(x.keys, 3u);
    EXPECT_EQ(x.firstRow, 0);
    EXPECT_EQ(x.lastRow, 136);
    EXPECT_DOUBLE_EQ(x.lastSeconds, 6.0);
    const TrackFileReport& z = trackFile(report, "sync_cam-3Apos.z.track");
    EXPECT_EQ(z.keys, 0u);
    EXPECT_FALSE(z.firstRow.has_value());

    ASSERT_EQ(report.parameters.sections.size(), 1u);
    EXPECT_TRUE(report.parameters.sections[0].selects);

    EXPECT_TRUE(report.soundtrack.decodable);
    ASSERT_TRUE(report.soundtrack.seconds.has_value());
    EXPECT_NEAR(*report.soundtrack.seconds, 1.0, 1e-9);
    EXPECT_NEAR(*report.soundtrack.rows, 170.0 / 60.0 * 8.0, 1e-6);

    EXPECT_TRUE(report.logo.decodable);
    EXPECT_EQ(report.logo.width, 280);
    EXPECT_EQ(report.logo.height, 128);
}

TEST_F(CleanArchive, TableShowsTheSectionsAndNoFindings) {
    const std::string table = formatTable(check(Content::clean()));
    EXPECT_THAT(table, HasSubstr("fs.glsl  compiles and links"));
    EXPECT_THAT(table, HasSubstr("sync_cam-3Apos.x.track"));
    EXPECT_THAT(table, HasSubstr("136 (6.000 s)"));
    EXPECT_THAT(table, HasSubstr("1.000 s, 22.7 rows at 170 bpm"));
    EXPECT_THAT(table, HasSubstr("zyr.png  280 x 128"));
    EXPECT_THAT(table, HasSubstr("findings: 0 errors, 0 warnings"));
}

// ---- the archive itself ------------------------------------------------------------

using ArchiveProblems = CheckTest;

TEST_F(ArchiveProblems, MissingOrDamagedArchivesAreErrorsNotCrashes) {
    CheckOptions options;
    options.openContext = false;
    const CheckReport missing = checkArchive(dir / "nowhere.dat", options);
    EXPECT_TRUE(onlyFinding(missing, "archive.unreadable", Severity::Error));
    EXPECT_THAT(missing.findings[0].message, HasSubstr("no such file"));

    writeFile(dir / "junk.dat", std::string(5000, '\x50'));
    EXPECT_TRUE(onlyFinding(checkArchive(dir / "junk.dat", options), "archive.unreadable", Severity::Error));

    // A real archive cut short: its directory points past the end.
    const std::string whole = readFile(write(Content::clean(), "whole.dat"));
    writeFile(dir / "cut.dat", whole.substr(0, whole.size() / 2) + whole.substr(whole.size() - 22));
    EXPECT_TRUE(onlyFinding(checkArchive(dir / "cut.dat", options), "archive.unreadable", Severity::Error));

    EXPECT_TRUE(onlyFinding(checkArchive(dir.path(), options), "archive.unreadable", Severity::Error));
}

// ---- the shader ----------------------------------------------------------------------

using ShaderProblems = CheckTest;

TEST_F(ShaderProblems, MissingShaderIsAnErrorAndPointsAtAMisnamedEntry) {
    Content content = Content::clean();
    content.files["FS.glsl"] = content.files["fs.glsl"];
    content.remove("fs.glsl");
    const CheckReport report = check(content);
    // The tracks and the parameter section lose their reader with it; that is
    // the same problem, not three more.
    ASSERT_TRUE(onlyFinding(report, "shader.missing", Severity::Error));
    EXPECT_THAT(report.findings[0].message, HasSubstr("\"FS.glsl\""));
    EXPECT_EQ(report.trackFiles.size(), 3u);
}

TEST_F(ShaderProblems, CompileErrorsNameTheAuthorsLineAndQuoteIt) {
    // The version line need not be the first; comments before it count as lines.
    Content content = Content::clean();
    const std::string source = "// tessaran\n"
                               "// effect\n"
                               "#version 460 core\n"
                               "layout(location = 0) out vec4 fragColor;\n"
                               "void main()\n"
                               "{\n"
                               "\tfragColor = vec4(undeclaredThing, 1.0);\n"
                               "}\n";
    content.set("fs.glsl", source);
    content.remove("sync_cam-3Apos.x.track").remove("sync_cam-3Apos.y.track").remove("sync_cam-3Apos.z.track");
    content.remove("fsshader.ini");
    const CheckReport report = check(content);
    EXPECT_TRUE(onlyFinding(report, "shader.compile", Severity::Error));
    EXPECT_EQ(report.findings[0].where, "fs.glsl:7:19");
    EXPECT_THAT(report.findings[0].message, HasSubstr("undeclaredThing"));
    EXPECT_FALSE(report.shader.compiled);
    ASSERT_FALSE(report.shader.compileLog.empty());
    EXPECT_EQ(report.shader.compileLog[0].fileLine, 7);
    EXPECT_EQ(report.shader.compileLog[0].source, "\tfragColor = vec4(undeclaredThing, 1.0);");

    const std::string table = formatTable(report);
    EXPECT_THAT(table, HasSubstr("     7 | \tfragColor = vec4(undeclaredThing, 1.0);\n"));
    EXPECT_THAT(table, HasSubstr("         | \t                 ^\n"));
}

TEST_F(ShaderProblems, ABrokenShaderStillHasItsTracksAndParametersChecked) {
    Content content = Content::clean();
    std::string source = content.files["fs.glsl"];
    source.insert(source.rfind('}'), "\tbroken(;\n");
    content.set("fs.glsl", source);
    content.set("sync_cam-3Apos.y.track", trackBytes({{8, 1.0f, 0}, {0, 2.0f, 0}}));
    content.set("fsshader.ini", "[tint]\nv0 = true\n");
    const CheckReport report = check(content);
    EXPECT_EQ(withCode(report, "shader.compile").size(), 1u) << describe(report);
    EXPECT_EQ(withCode(report, "track.order").size(), 1u) << describe(report);
    EXPECT_EQ(withCode(report, "parameters.value").size(), 1u) << describe(report);
    EXPECT_EQ(report.findings.size(), 3u) << describe(report);
    EXPECT_EQ(exportRow(report, "camPos").activity, Activity::Unknown);
    EXPECT_EQ(exportRow(report, "camPos").drivenBy, "nothing: the program did not build");
}

TEST_F(ShaderProblems, LineNumbersSurviveCarriageReturnsAndLineDirectives) {
    Content content = Content::clean();
    content.remove("sync_cam-3Apos.x.track").remove("sync_cam-3Apos.y.track").remove("sync_cam-3Apos.z.track");
    content.remove("fsshader.ini");

    content.set("fs.glsl",
                "#version 460 core\r\nlayout(location = 0) out vec4 c;\rvoid main()\r\n{\n  c = nope;\r\n}\r\n");
    CheckReport report = check(content);
    ASSERT_TRUE(onlyFinding(report, "shader.compile", Severity::Error));
    EXPECT_EQ(report.findings[0].where.substr(0, 10), "fs.glsl:5:");

    content.set("fs.glsl",
                "#version 460 core\n#line 500\nlayout(location = 0) out vec4 c;\nvoid main()\n{\n  c = nope;\n}\n");
    report = check(content);
    ASSERT_TRUE(onlyFinding(report, "shader.compile", Severity::Error));
    EXPECT_EQ(report.findings[0].where.substr(0, 10), "fs.glsl:6:");
    EXPECT_EQ(report.shader.compileLog[0].line, 503);
}

TEST_F(ShaderProblems, LinkErrorsAreReported) {
    Content content = Content::clean();
    content.set("fs.glsl", "#version 460 core\nlayout(location = 0) out vec4 c;\nvoid notMain() { c = vec4(1.0); }\n");
    content.remove("sync_cam-3Apos.x.track").remove("sync_cam-3Apos.y.track").remove("sync_cam-3Apos.z.track");
    content.remove("fsshader.ini");
    const CheckReport report = check(content);
    EXPECT_TRUE(onlyFinding(report, "shader.link", Severity::Error));
    EXPECT_TRUE(report.shader.compiled);
    EXPECT_FALSE(report.shader.linked);
}

TEST_F(ShaderProblems, ANulByteCutsWhatTheCompilerSees) {
    Content content = Content::clean();
    content.set("fs.glsl", content.files["fs.glsl"] + std::string("\n// trailing\0junk\n", 18));
    const CheckReport report = check(content);
    EXPECT_TRUE(onlyFinding(report, "shader.nul", Severity::Error));
    EXPECT_THAT(report.findings[0].where, HasSubstr("fs.glsl:"));
}

// ---- exports -------------------------------------------------------------------------

using ExportProblems = CheckTest;

Content cleanWithShader(const std::string& declarations, const std::string& expression) {
    Content content = Content::clean();
    // The clean exports stay, so that their tracks and section keep a reader.
    content.set("fs.glsl", shaderWith("#pragma EXPORT(rocket=cam:pos)\nuniform vec3 camPos;\n"
                                      "#pragma EXPORT(imgui=look)\nuniform vec4 tint;\n" +
                                          declarations,
                                      "vec4(camPos, 1.0) * tint + " + expression));
    return content;
}

TEST_F(ExportProblems, UnknownKindIsAnErrorWithTheNearestKind) {
    const CheckReport report =
        check(cleanWithShader("#pragma EXPORT(rockit=speed)\nuniform float speed;\n", "vec4(speed)"));
    ASSERT_TRUE(onlyFinding(report, "export.unknown-kind", Severity::Error));
    EXPECT_EQ(report.findings[0].where, "export speed");
    EXPECT_THAT(report.findings[0].message, HasSubstr("did you mean \"rocket\""));
    EXPECT_EQ(exportRow(report, "speed").drivenBy, "nothing: unknown kind");
}

TEST_F(ExportProblems, InternalExportsNeedAKnownTargetAndTheTypeTheirValueHas) {
    CheckReport report = check(cleanWithShader("#pragma EXPORT(internal=Time)\nuniform float t;\n", "vec4(t)"));
    ASSERT_TRUE(onlyFinding(report, "export.internal-target", Severity::Error));
    EXPECT_THAT(report.findings[0].message, HasSubstr("did you mean \"time\""));

    report = check(cleanWithShader("#pragma EXPORT(internal=time)\nuniform vec2 t;\n", "vec4(t, 0.0, 0.0)"));
    ASSERT_TRUE(onlyFinding(report, "export.internal-type", Severity::Error));
    EXPECT_EQ(exportRow(report, "t").drivenBy, "nothing: a vec2 cannot take the playback seconds");

    report = check(cleanWithShader("#pragma EXPORT(internal=rows)\nuniform int r;\n", "vec4(float(r))"));
    EXPECT_TRUE(onlyFinding(report, "export.internal-type", Severity::Error));

    report = check(cleanWithShader("#pragma EXPORT(internal=resolution)\nuniform float r;\n", "vec4(r)"));
    EXPECT_TRUE(onlyFinding(report, "export.internal-type", Severity::Error));
}

TEST_F(ExportProblems, TypesThatAreNeverUploadedAreErrors) {
    const CheckReport report = check(cleanWithShader("#pragma EXPORT(rocket=m)\nuniform mat4 m;\n", "m[0]"));
    ASSERT_TRUE(onlyFinding(report, "export.type", Severity::Error));
    EXPECT_EQ(exportRow(report, "m").drivenBy, "nothing: type mat4 is never uploaded");
}

TEST_F(ExportProblems, TwoRocketExportsSharingATargetLeaveTheSecondAtZero) {
    const CheckReport report =
        check(cleanWithShader("#pragma EXPORT(rocket=cam:pos)\nuniform vec3 camTwin;\n", "vec4(camTwin, 0.0)"));
    ASSERT_TRUE(onlyFinding(report, "export.shared-target", Severity::Error));
    EXPECT_EQ(report.findings[0].where, "export camTwin");
    EXPECT_THAT(report.findings[0].message, HasSubstr("already bound to camPos"));
    EXPECT_EQ(exportRow(report, "camPos").drivenBy, "tracks cam:pos.x, cam:pos.y, cam:pos.z");
    EXPECT_THAT(exportRow(report, "camTwin").drivenBy, HasSubstr("bound to camPos"));
}

TEST_F(ExportProblems, AUniformAnnotatedTwice) {
    // The same export in both branches of a conditional: harmless, but noted.
    Content content = cleanWithShader("#ifdef EDITING\n#pragma EXPORT(imgui=fade)\nuniform float fade;\n"
                                      "#else\n#pragma EXPORT(imgui=fade)\nuniform float fade;\n#endif\n",
                                      "vec4(fade)");
    content.files["fsshader.ini"] += "[fade]\nv0 = 0.5\n";
    CheckReport report = check(content);
    ASSERT_TRUE(onlyFinding(report, "export.duplicate", Severity::Warning));
    EXPECT_THAT(report.findings[0].message, HasSubstr("2 times"));

    // Different exports for one uniform: the player records both.
    report = check(cleanWithShader("#ifdef EDITING\n#pragma EXPORT(imgui=fade)\nuniform float fade;\n"
                                   "#else\n#pragma EXPORT(rocket=fade)\nuniform float fade;\n#endif\n",
                                   "vec4(fade)"));
    // Its rocket half is bound to the track fade.x, which has no file.
    EXPECT_EQ(withCode(report, "export.duplicate").size(), 1u) << describe(report);
    EXPECT_EQ(withCode(report, "export.duplicate")[0].severity, Severity::Error);
    EXPECT_EQ(report.exitStatus(), 1);
}

TEST_F(ExportProblems, ExportsTheCompilerRemovedAreWarnings) {
    const CheckReport report =
        check(cleanWithShader("#pragma EXPORT(rocket=unused)\nuniform float unused;\n", "vec4(0.0)"));
    ASSERT_TRUE(onlyFinding(report, "export.inactive", Severity::Warning));
    const ExportReport& row = exportRow(report, "unused");
    EXPECT_EQ(row.activity, Activity::Inactive);
    EXPECT_EQ(row.drivenBy, "nothing: not active in the program");
    // Its track is listed, but the player never asks for it, so its absence is no finding.
    ASSERT_EQ(row.tracks.size(), 1u);
    EXPECT_EQ(row.tracks[0].entry, "sync_unused.x.track");
    EXPECT_FALSE(row.tracks[0].exists);
}

TEST_F(ExportProblems, AnAnnotationBeforeADeclarationTheCompilerSkipsDescribesTheWrongType) {
    Content content = cleanWithShader("#if 0\n#pragma EXPORT(imgui=glow)\nuniform vec3 glow;\n#else\n"
                                      "uniform float glow;\n#endif\n",
                                      "vec4(glow)");
    content.files["fsshader.ini"] += "[glow]\nv0 = 0.5\n";
    const CheckReport report = check(content);
    ASSERT_TRUE(onlyFinding(report, "export.gl-type", Severity::Error));
    EXPECT_THAT(report.findings[0].message, HasSubstr("is a float"));
}

// ---- tracks --------------------------------------------------------------------------

using TrackProblems = CheckTest;

TEST_F(TrackProblems, AMissingTrackFileIsAWarning) {
    Content content = Content::clean();
    content.remove("sync_cam-3Apos.y.track");
    const CheckReport report = check(content);
    ASSERT_TRUE(onlyFinding(report, "track.missing", Severity::Warning));
    EXPECT_EQ(report.findings[0].where, "cam:pos.y");
    EXPECT_THAT(report.findings[0].message, HasSubstr("sync_cam-3Apos.y.track"));
    EXPECT_FALSE(exportRow(report, "camPos").tracks[1].exists);
}

TEST_F(TrackProblems, NamesAreEscapedAsThePlayerEscapesThem) {
    Content content = Content::clean();
    content.set("fs.glsl", shaderWith("#pragma EXPORT(rocket=fade in)\nuniform vec2 fade;\n", "vec4(fade, 0.0, 0.0)"));
    content.remove("sync_cam-3Apos.x.track").remove("sync_cam-3Apos.y.track").remove("sync_cam-3Apos.z.track");
    content.remove("fsshader.ini");
    content.set("sync_fade-20in.x.track", trackBytes({{8, 1.0f, 0}}));
    content.set("sync_fade-20in.y.track", trackBytes({{8, 1.0f, 0}}));
    const CheckReport report = check(content);
    EXPECT_TRUE(report.findings.empty()) << describe(report);
    EXPECT_EQ(exportRow(report, "fade").tracks[1].entry, "sync_fade-20in.y.track");
}

TEST_F(TrackProblems, EachLayoutProblemOnceWithItsSeverity) {
    struct Case {
        const char* name;
        std::string bytes;
        const char* code;
        Severity severity;
    };
    const std::vector<Case> cases{
        {"empty file", "", "track.empty", Severity::Warning},
        {"no room for the count", "\x01\x00", "track.short", Severity::Error},
        {"negative count", trackBytes({{0, 1.0f, 0}}, -1), "track.negative-count", Severity::Error},
        {"fewer keys than declared", trackBytes({{0, 1.0f, 0}, {8, 2.0f, 0}}, 3), "track.truncated", Severity::Error},
        {"cut inside a key", trackBytes({{0, 1.0f, 0}, {8, 2.0f, 0}}).substr(0, 4 + 9 + 5), "track.truncated",
         Severity::Error},
        {"bytes after the keys", trackBytes({{0, 1.0f, 0}}) + "xyz", "track.trailing", Severity::Warning},
        {"rows out of order", trackBytes({{0, 1.0f, 1}, {16, 2.0f, 1}, {8, 3.0f, 0}}), "track.order", Severity::Error},
        {"repeated row", trackBytes({{0, 1.0f, 1}, {0, 2.0f, 0}}), "track.order", Severity::Error},
        {"unknown type inside", trackBytes({{0, 1.0f, 7}, {8, 2.0f, 0}}), "track.key-type", Severity::Error},
        {"negative type inside", trackBytes({{0, 1.0f, -1}, {8, 2.0f, 0}}), "track.key-type", Severity::Error},
        {"unknown type on the last key", trackBytes({{0, 1.0f, 1}, {8, 2.0f, 9}}), "track.key-type",
         Severity::Warning},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Content content = Content::clean();
        content.set("sync_cam-3Apos.x.track", c.bytes);
        const CheckReport report = check(content);
        ASSERT_TRUE(onlyFinding(report, c.code, c.severity));
        EXPECT_EQ(report.findings[0].where, "sync_cam-3Apos.x.track");
    }
}

TEST_F(TrackProblems, TruncatedTracksReportTheKeysThePlayerLoads) {
    Content content = Content::clean();
    content.set("sync_cam-3Apos.x.track", trackBytes({{4, 1.0f, 0}, {12, 2.0f, 0}}, 1000));
    const CheckReport report = check(content);
    const TrackFileReport& t = trackFile(report, "sync_cam-3Apos.x.track");
    EXPECT_EQ(t.declaredKeys, 1000);
    EXPECT_EQ(t.keys, 2u);
    EXPECT_EQ(t.firstRow, 4);
    EXPECT_EQ(t.lastRow, 12);
    EXPECT_THAT(withCode(report, "track.truncated").at(0).message, HasSubstr("only the 2 whole keys"));
}

TEST_F(TrackProblems, TrackFilesNoExportReadsAreWarnings) {
    Content content = Content::clean();
    content.set("sync_campos.x.track", trackBytes({{0, 1.0f, 0}}));
    const CheckReport report = check(content);
    ASSERT_TRUE(onlyFinding(report, "track.unused", Severity::Warning));
    EXPECT_EQ(report.findings[0].where, "sync_campos.x.track");
    EXPECT_FALSE(trackFile(report, "sync_campos.x.track").used);
}

TEST_F(TrackProblems, AHugeTrackFileIsWalkedNotLoaded) {
    // 64 MiB of zeros after a count of zero keys: deflates to little, and the
    // walk never holds more than a chunk of it.
    Content content = Content::clean();
    content.set("sync_cam-3Apos.x.track", std::string(64u << 20, '\0'));
    const CheckReport report = check(content);
    ASSERT_TRUE(onlyFinding(report, "track.trailing", Severity::Warning));
    EXPECT_EQ(trackFile(report, "sync_cam-3Apos.x.track").size, 64u << 20);
}

// ---- the parameter file --------------------------------------------------------------------

using ParameterProblems = CheckTest;

TEST_F(ParameterProblems, SyntaxErrorsGiveLineAndColumn) {
    Content content = Content::clean();
    content.set("fsshader.ini", "[tint]\nv0 = 1.0\nv1 = = 2\n");
    const CheckReport report = check(content);
    ASSERT_TRUE(onlyFinding(report, "parameters.syntax", Severity::Error));
    EXPECT_EQ(report.findings[0].where.substr(0, 15), "fsshader.ini:3:");
}

TEST_F(ParameterProblems, NestingThatWouldExhaustTheParserIsRefusedNotFatal) {
    Content content = Content::clean();
    content.set("fsshader.ini", "x = " + std::string(100000, '[') + std::string(100000, ']') + "\n");
    CheckReport report = check(content);
    EXPECT_TRUE(onlyFinding(report, "parameters.syntax", Severity::Error));

    content.set("fsshader.ini", "a" + [] {
        std::string keys;
        for (int i = 0; i < 20000; ++i) keys += ".a";
        return keys;
    }() + " = 1\n");
    report = check(content);
    EXPECT_TRUE(onlyFinding(report, "parameters.syntax", Severity::Error));
}

TEST_F(ParameterProblems, KeysThatSelectNoImguiExport) {
    Content content = Content::clean();
    // A misspelt section: one error naming the export; the export's own lack
    // of a section is the same mistake and is not reported again.
    content.set("fsshader.ini", "[tnit]\nv0 = 1.0\n");
    CheckReport report = check(content);
    ASSERT_TRUE(onlyFinding(report, "parameters.unknown-key", Severity::Error));
    EXPECT_EQ(report.findings[0].where, "fsshader.ini:1:1");
    EXPECT_THAT(report.findings[0].message, HasSubstr("did you mean \"tint\""));
    EXPECT_EQ(exportRow(report, "tint").drivenBy, "nothing: 0.0, no [tint] in fsshader.ini");

    // Nothing near: no suggestion, and the export's missing section is its own warning.
    content.set("fsshader.ini", "[tint]\nv0 = 1\n[somethingElse]\nv0 = 1.0\n");
    report = check(content);
    ASSERT_TRUE(onlyFinding(report, "parameters.unknown-key", Severity::Error));
    EXPECT_THAT(report.findings[0].message, ::testing::Not(HasSubstr("did you mean")));

    // The export's target names nothing in the file; its GLSL name does.
    content.set("fsshader.ini", "[tint]\nv0 = 1\n[look]\nv0 = 1.0\n");
    report = check(content);
    EXPECT_TRUE(onlyFinding(report, "parameters.unknown-key", Severity::Error));

    // A section for an export of another kind.
    content.set("fsshader.ini", "[tint]\nv0 = 1\n[camPos]\nv0 = 1.0\n");
    report = check(content);
    ASSERT_TRUE(onlyFinding(report, "parameters.not-imgui", Severity::Error));
    EXPECT_THAT(report.findings[0].message, HasSubstr("\"rocket\""));
}

TEST_F(ParameterProblems, SectionsForRemovedExportsAreWarnings) {
    Content content = cleanWithShader("#pragma EXPORT(imgui=gone)\nuniform float gone;\n", "vec4(0.0)");
    content.set("fsshader.ini", "[tint]\nv0 = 1\n[gone]\nv0 = 1.0\n");
    const CheckReport report = check(content);
    EXPECT_EQ(withCode(report, "parameters.inactive-export").size(), 1u) << describe(report);
    EXPECT_EQ(withCode(report, "export.inactive").size(), 1u);
    EXPECT_EQ(report.findings.size(), 2u) << describe(report);
    EXPECT_EQ(report.exitStatus(), 0);
}

TEST_F(ParameterProblems, ComponentsOtherThanV0ToV3) {
    Content content = Content::clean();
    content.set("fsshader.ini", "[tint]\nv0 = 1\nv4 = 2.0\n");
    const CheckReport report = check(content);
    ASSERT_TRUE(onlyFinding(report, "parameters.component", Severity::Error));
    EXPECT_EQ(report.findings[0].where, "fsshader.ini:3:1");
}

TEST_F(ParameterProblems, ValuesThatBecomeZeroBecauseOfTheirTypeOrRange) {
    const std::vector<std::string> zeroes{"16777217", "-16777217", "9223372036854775807", "1e39", "-1e39",
                                          "\"1.0\"",  "true",      "[1.0]",               "{ x = 1 }",
                                          "1979-05-27"};
    for (const std::string& value : zeroes) {
        SCOPED_TRACE(value);
        Content content = Content::clean();
        content.set("fsshader.ini", "[tint]\nv0 = 1\nv1 = " + value + "\n");
        const CheckReport report = check(content);
        ASSERT_TRUE(onlyFinding(report, "parameters.value", Severity::Error));
        EXPECT_EQ(report.findings[0].where, "fsshader.ini:3:6");
        EXPECT_THAT(report.findings[0].message, HasSubstr("tint.v1"));
    }
    // What does convert, at the edges: no finding.
    for (const char* value : {"16777216", "-16777216", "3.4028234663852886e38", "inf", "-inf", "nan", "0"}) {
        SCOPED_TRACE(value);
        Content content = Content::clean();
        content.set("fsshader.ini", "[tint]\nv0 = " + std::string(value) + "\n");
        const CheckReport report = check(content);
        EXPECT_TRUE(report.findings.empty()) << describe(report);
    }
}

TEST_F(ParameterProblems, AnythingButATableUnderTheName) {
    for (const char* text : {"tint = 1.0\n", "tint = [1.0, 0.5]\n", "tint = \"red\"\n"}) {
        SCOPED_TRACE(text);
        Content content = Content::clean();
        content.set("fsshader.ini", text);
        const CheckReport report = check(content);
        ASSERT_TRUE(onlyFinding(report, "parameters.not-table", Severity::Error));
        EXPECT_EQ(report.findings[0].where.substr(0, 15), "fsshader.ini:1:");
    }
    // Dotted keys make a table as well as a section does.
    Content content = Content::clean();
    content.set("fsshader.ini", "tint.v0 = 1.0\ntint.v1 = 2\n");
    EXPECT_TRUE(check(content).findings.empty());
}

TEST_F(ParameterProblems, ImguiExportsWithoutValuesAreWarnings) {
    Content content = Content::clean();
    content.set("fsshader.ini", "# nothing yet\n");
    CheckReport report = check(content);
    ASSERT_TRUE(onlyFinding(report, "parameters.no-section", Severity::Warning));
    EXPECT_EQ(report.findings[0].where, "export tint");

    content.remove("fsshader.ini");
    report = check(content);
    ASSERT_TRUE(onlyFinding(report, "parameters.missing", Severity::Warning));
    EXPECT_THAT(report.findings[0].message, HasSubstr("tint"));
}

// ---- soundtrack and logo ---------------------------------------------------------------------

using MediaProblems = CheckTest;

TEST_F(MediaProblems, TheSoundtrackMustBeThereAndDecode) {
    Content content = Content::clean();
    content.remove("soundtrack.mp3");
    EXPECT_TRUE(onlyFinding(check(content), "soundtrack.missing", Severity::Error));

    content.set("soundtrack.mp3", std::string(4096, '\x55'));
    CheckReport report = check(content);
    EXPECT_TRUE(onlyFinding(report, "soundtrack.undecodable", Severity::Error));
    EXPECT_FALSE(report.soundtrack.seconds.has_value());

    content.set("soundtrack.mp3", "");
    EXPECT_TRUE(onlyFinding(check(content), "soundtrack.undecodable", Severity::Error));
}

TEST_F(MediaProblems, TheLengthIsInSecondsAndRows) {
    Content content = Content::clean();
    content.set("soundtrack.mp3", toneMp3(3.0, 440.0, {22050, 2}));
    const CheckReport report = check(content);
    EXPECT_TRUE(report.findings.empty()) << describe(report);
    ASSERT_TRUE(report.soundtrack.seconds.has_value());
    EXPECT_NEAR(*report.soundtrack.seconds, 3.0, 1e-9);
    EXPECT_NEAR(*report.soundtrack.rows, 68.0, 1e-6);  // 3 s at 170 bpm, 8 rows a beat
    EXPECT_EQ(report.soundtrack.sampleRate, 22050);
    EXPECT_EQ(report.soundtrack.channels, 2);
}

TEST_F(MediaProblems, TheLogo) {
    Content content = Content::clean();
    content.remove("zyr.png");
    EXPECT_TRUE(onlyFinding(check(content), "logo.missing", Severity::Warning));

    content.set("zyr.png", "not an image at all");
    EXPECT_TRUE(onlyFinding(check(content), "logo.undecodable", Severity::Error));

    // A good header over damaged pixel data.
    content.set("zyr.png", pngBytes(280, 128).substr(0, 60));
    EXPECT_TRUE(onlyFinding(check(content), "logo.undecodable", Severity::Error));

    content.set("zyr.png", pngBytes(560, 256));
    CheckReport report = check(content);
    ASSERT_TRUE(onlyFinding(report, "logo.size", Severity::Warning));
    EXPECT_THAT(report.findings[0].message, HasSubstr("560 x 256"));

    // Beyond what the launcher takes, though small enough for the decoder to try.
    content.set("zyr.png", pngHeaderOnly(20000, 10));
    report = check(content);
    EXPECT_TRUE(onlyFinding(report, "logo.too-large", Severity::Error));
    EXPECT_EQ(report.logo.width, 20000);

    // So large the decoder refuses the header itself.
    content.set("zyr.png", pngHeaderOnly(100000, 100000));
    EXPECT_TRUE(onlyFinding(check(content), "logo.undecodable", Severity::Error));

    // 58 bytes of BMP header claiming a gibibyte of pixels: refused at the
    // launcher's decode budget, and said so.
    content.set("zyr.png", readFile(sourceDir() / "tests/fuzz/corpus/logo/header_claims_16384_square.bmp"));
    report = check(content);
    ASSERT_TRUE(onlyFinding(report, "logo.too-large", Severity::Error)) << describe(report);
    EXPECT_THAT(report.findings[0].message, HasSubstr("16384 x 16384 pixels from 58 bytes"));
    EXPECT_FALSE(report.logo.decodable);
}

}  // namespace
