// The demo's own content as the player shows it: the scene builds and uses
// every export, the tracks follow the song's sections and drums, and frames
// change on the beat exactly where the tracks do. Frames are small (96 x 54)
// and drawn from the build's zyr.dat through the player's parts (SceneRig.h).
#include "DemoContent.h"
#include "SceneRig.h"

#include "TrackText.h"

#include <GL/glew.h>
#include <gtest/gtest.h>
#include <toml++/toml.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 96;
constexpr int kHeight = 54;

// The program's one rig (see SceneRig.h), made on first use and torn down
// before the program ends.
class DemoRig : public ::testing::Environment {
public:
    static SceneRig& get() {
        if (!rig_) {
            rig_ = std::make_unique<SceneRig>(ZYR_DEMO_ARCHIVE, kWidth, kHeight);
            rig_->render(0.0);
        }
        return *rig_;
    }
    void TearDown() override { rig_.reset(); }

private:
    static inline std::unique_ptr<SceneRig> rig_;
};

[[maybe_unused]] ::testing::Environment* const demoRigEnvironment = ::testing::AddGlobalTestEnvironment(new DemoRig);

// ---------------------------------------------------------------------------
// The scene as built from the archive, and the values it is given.

class DemoScene : public ::testing::Test {
protected:
    static SceneRig& rig() { return DemoRig::get(); }
    static std::string source() { return rig().entryText("fs.glsl"); }

    // The frame the player shows at row (clock and tracks at the same position).
    static Image frameAt(double row) {
        rig().render(row);
        return rig().read();
    }
};

TEST_F(DemoScene, LinksAsASeparableProgramWhoseEveryExportIsActive) {
    const GLuint program = rig().shader().program();
    ASSERT_NE(program, 0u);
    GLint linked = GL_FALSE, separable = GL_FALSE, logLength = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    glGetProgramiv(program, GL_PROGRAM_SEPARABLE, &separable);
    glGetProgramiv(program, GL_INFO_LOG_LENGTH, &logLength);
    std::string log(static_cast<std::size_t>(std::max(logLength, 1)), '\0');
    glGetProgramInfoLog(program, logLength, nullptr, log.data());
    ASSERT_EQ(linked, GL_TRUE) << log;
    EXPECT_EQ(separable, GL_TRUE);
    GLint stage = 0;
    glGetProgramPipelineiv(programPipeline, GL_FRAGMENT_SHADER, &stage);
    EXPECT_EQ(static_cast<GLuint>(stage), program) << "the scene is not the pipeline's fragment stage";

    // An export the compiler dropped would silently follow nothing.
    const std::vector<ExportedUniform> exports = scanExports(source());
    std::set<ExportKind> kinds;
    std::map<std::string, UniformType> internals;
    for (const ExportedUniform& e : exports) {
        EXPECT_TRUE(rig().shader().locations().contains(e.name)) << e.name << " is not active in the program";
        EXPECT_NE(e.type, UniformType::Other) << e.name;
        EXPECT_NE(classifyKind(e.kind), ExportKind::Other) << e.name << " has kind " << e.kind;
        kinds.insert(classifyKind(e.kind));
        if (classifyKind(e.kind) == ExportKind::Internal) internals[e.target] = e.type;
    }
    EXPECT_EQ(kinds, (std::set<ExportKind>{ExportKind::Rocket, ExportKind::Imgui, ExportKind::Internal}));
    // What the player sends these as; another declared type would never be set.
    const std::map<std::string, UniformType> sent{
        {"time", UniformType::Float}, {"rows", UniformType::Float}, {"resolution", UniformType::Vec2}};
    EXPECT_EQ(internals, sent);
}

TEST_F(DemoScene, EveryExportIsGivenItsValuesAndNothingNamesAMissingOne) {
    // The player reads a missing track as 0 and skips a parameter table that
    // names no export: both fail silently, so they are caught here.
    TrackReader reader(rig().archive());
    std::set<std::string> followed;
    for (const ExportedUniform& e : exportsOf(source(), ExportKind::Rocket)) {
        for (const std::string& name : componentTracks(e)) {
            EXPECT_GT(reader.track(name).count, 0) << "no keys for track " << name << " (" << e.name << ")";
            followed.insert(name);
        }
    }

    const toml::table ini = toml::parse(rig().entryText("fsshader.ini"));
    std::set<std::string> imgui;
    for (const ExportedUniform& e : exportsOf(source(), ExportKind::Imgui)) {
        imgui.insert(e.name);
        const toml::table* table = ini[e.name].as_table();
        ASSERT_NE(table, nullptr) << "fsshader.ini has no table [" << e.name << "]";
        for (std::uint32_t i = 0; i < componentCount(e.type); ++i) {
            const std::string key{'v', static_cast<char>('0' + i)};
            EXPECT_TRUE(table->get(key) != nullptr && table->get(key)->is_number())
                << "[" << e.name << "] " << key << " is not a number";
        }
    }
    for (const auto& [key, node] : ini)
        EXPECT_TRUE(imgui.contains(std::string(key.str()))) << "[" << key.str() << "] sets no export";

    zyr::TrackSetParser parser;
    for (const auto& entry : fs::directory_iterator(fs::path(ZYR_CONTENT_DIR) / "tracks"))
        if (entry.path().extension() == ".txt") parser.parse(fileText(entry.path()), entry.path().string());
    ASSERT_EQ(parser.errors(), std::vector<std::string>{});
    for (const zyr::Track& track : parser.tracks())
        EXPECT_TRUE(followed.contains(track.name)) << "track " << track.name << " is followed by no export";
}

TEST_F(DemoScene, SectionsLookDifferentAndThePictureFadesInAndOut) {
    const std::vector<SongSection> sections = songSections();
    const SongSection intro = sectionNamed(sections, "intro");
    const SongSection drop = sectionNamed(sections, "drop");
    const SongSection outro = sectionNamed(sections, "outro");
    const auto middle = [](const SongSection& s) { return (s.start + s.end) / 2.0; };
    const Image introFrame = frameAt(middle(intro));
    const Image dropFrame = frameAt(middle(drop));
    const Image outroFrame = frameAt(middle(outro));
    EXPECT_GT(introFrame.meanDifference(dropFrame), 25.0);
    EXPECT_GT(dropFrame.meanDifference(outroFrame), 25.0);
    EXPECT_GT(introFrame.meanDifference(outroFrame), 25.0);
    for (const Image* frame : {&introFrame, &dropFrame, &outroFrame}) EXPECT_GT(frame->meanLevel(), 20.0);

    EXPECT_LT(frameAt(0.0).meanLevel(), 6.0) << "the first frame is not black";
    EXPECT_LT(frameAt(sections.back().end).meanLevel(), 6.0) << "the song ends on a picture";
}

TEST_F(DemoScene, TheCrashesOfTheDropAndTheOutroWhitenTheirFirstRow) {
    const std::vector<SongSection> sections = songSections();
    for (const char* name : {"drop", "outro"}) {
        const SongSection s = sectionNamed(sections, name);
        const double before = frameAt(s.start - 1).meanLevel();
        const double on = frameAt(s.start).meanLevel();
        const double after = frameAt(s.start + 2 * kRowsPerBeat).meanLevel();
        EXPECT_GT(on, 235.0) << name;
        EXPECT_GT(on, before + 30.0) << name;
        EXPECT_LT(after, on - 60.0) << name << ": the flash does not die away";
    }
}

TEST_F(DemoScene, TheClockMovesThePictureBetweenKeys) {
    // "time" and "rows" reach the image: the tracks held, one beat on the clock.
    const double row = 900.0;
    rig().render(row, row / kRowsPerSecond);
    const Image now = rig().read();
    rig().render(row, (row + kRowsPerBeat) / kRowsPerSecond);
    EXPECT_GT(now.meanDifference(rig().read()), 1.0);
}

TEST_F(DemoScene, AWiderWindowSeesMoreToTheSidesAndNothingStretched) {
    // Height fixes the view: the middle of a 2:1 frame is the 1:1 frame.
    const double row = 1000.0;
    rig().resize(kHeight, kHeight);
    const Image square = frameAt(row);
    rig().resize(2 * kHeight, kHeight);
    const Image wide = frameAt(row);
    rig().resize(kWidth, kHeight);
    EXPECT_LT(wide.columns(kHeight / 2, kHeight).meanDifference(square), 1.0);
    EXPECT_GT(wide.columns(0, kHeight).meanDifference(square), 10.0);
}

// ---------------------------------------------------------------------------
// The tracks against the song.

class DemoTracks : public ::testing::Test {
protected:
    DemoTracks() : archive(fs::path(ZYR_DEMO_ARCHIVE)), reader(archive), sections(songSections()) {}
    ResourceArchive archive;
    TrackReader reader;
    std::vector<SongSection> sections;
};

TEST_F(DemoTracks, TheLookChangesExactlyOnEverySectionOfTheSong) {
    ASSERT_GE(sections.size(), 5u);
    for (std::size_t i = 0; i < sections.size(); ++i) {
        for (int row = sections[i].start; row < sections[i].end; ++row) {
            ASSERT_EQ(reader.value("scene:index.x", row), static_cast<float>(i))
                << "row " << row << " of " << sections[i].name;
        }
    }
}

TEST_F(DemoTracks, TracksRunForTheWholeSong) {
    const int end = sections.back().end;
    EXPECT_EQ(reader.value("scene:fade.x", 0), 0.0f);
    EXPECT_GT(reader.value("scene:fade.x", end - kRowsPerBar), 0.0f) << "black before the music ends";
    EXPECT_EQ(reader.value("scene:fade.x", end), 0.0f);
    for (const SongSection& s : sections) {
        float brightest = 0.0f;
        for (int row = s.start; row < s.end; ++row) brightest = std::max(brightest, reader.value("scene:fade.x", row));
        EXPECT_EQ(brightest, 1.0f) << s.name << " is never shown in full";
    }
    // A camera that stops before the end would freeze the last bars.
    for (const char* name : {"cam:pos.x", "cam:pos.y", "cam:pos.z", "cam:target.x", "cam:target.y", "cam:target.z"}) {
        const SyncTrack& track = reader.track(name);
        ASSERT_GT(track.count, 0) << name;
        EXPECT_GE(track.keys[track.count - 1].row, end - kRowsPerBar) << name;
    }
}

TEST_F(DemoTracks, AccentsSitOnTheDrumsOfEachSection) {
    const SyncTrack& pulse = reader.track("fx:pulse.x");
    ASSERT_GT(pulse.count, 0);
    for (int k = 0; k < pulse.count; ++k) {
        if (pulse.keys[k].value > 0.0f) {
            EXPECT_EQ(pulse.keys[k].row % 2, 0) << "a hit off the 16th-note grid, row " << pulse.keys[k].row;
        }
    }

    // The drop's groove has a drum on every beat; the breakdown has none.
    const SongSection drop = sectionNamed(sections, "drop");
    for (int beat = drop.start; beat < drop.end; beat += kRowsPerBeat) {
        float strongest = 0.0f;
        for (int row = beat; row < beat + kRowsPerBeat; ++row)
            strongest = std::max(strongest, reader.value("fx:pulse.x", row));
        EXPECT_GE(strongest, 0.5f) << "no accent in the beat at row " << beat;
    }
    const SongSection breakdown = sectionNamed(sections, "breakdown");
    for (int row = breakdown.start; row < breakdown.end; ++row)
        ASSERT_EQ(reader.value("fx:pulse.x", row), 0.0f) << "an accent in the breakdown at row " << row;

    // Crashes open the drop and the outro on their first row.
    for (const char* name : {"drop", "outro"}) {
        const SongSection s = sectionNamed(sections, name);
        EXPECT_EQ(reader.value("fx:flash.x", s.start), 1.0f) << name;
        EXPECT_LT(reader.value("fx:flash.x", s.start - 1), 0.5f) << name;
    }
}

}  // namespace
