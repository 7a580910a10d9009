// Beats of the demo with the camera held still and the clock stopped: what
// changes between two frames then is what the accent and world tracks say
// changes. The archive is the build's zyr.dat repacked with every camera
// track held at one value; everything else is the demo's own.
#include "DemoContent.h"
#include "SceneRig.h"

#include "TempDir.h"
#include "Track.h"
#include "ZipWriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 96;
constexpr int kHeight = 54;
// A high shot over the plaza in the drop, where accents show everywhere.
constexpr double kHeldCameraRow = 800.0;
constexpr double kHeldClockSeconds = kHeldCameraRow / kRowsPerSecond;

// The program's one rig (see SceneRig.h) over the repacked archive, made on
// first use and torn down before the program ends.
class HeldCamera : public ::testing::Environment {
public:
    static SceneRig& rig() {
        if (!rig_) make();
        return *rig_;
    }
    // The tracks that still move.
    static const std::vector<std::string>& moving() {
        if (!rig_) make();
        return moving_;
    }
    void TearDown() override {
        rig_.reset();
        dir_.reset();
    }

private:
    static void make() {
        dir_ = std::make_unique<TempDir>();
        std::vector<ZipEntry> entries;
        {
            ResourceArchive demo{fs::path(ZYR_DEMO_ARCHIVE)};
            TrackReader reader(demo);
            const std::string source = entryText(demo, "fs.glsl");
            for (const char* name : {"fs.glsl", "fsshader.ini", "soundtrack.mp3"})
                entries.push_back({name, entryBytes(demo, name), ZipMethod::Stored});
            for (const ExportedUniform& e : exportsOf(source, ExportKind::Rocket)) {
                for (const std::string& track : componentTracks(e)) {
                    const std::string entry = zyr::trackEntryName(track);
                    if (e.target.starts_with("cam:")) {
                        const float held = reader.value(track, kHeldCameraRow);
                        entries.push_back({entry, zyr::encodeTrackFile({{0, held, zyr::kStep}}), ZipMethod::Stored});
                    } else {
                        entries.push_back({entry, entryBytes(demo, entry), ZipMethod::Stored});
                        moving_.push_back(track);
                    }
                }
            }
        }
        writeZip(*dir_ / "zyr.dat", entries);
        rig_ = std::make_unique<SceneRig>(*dir_ / "zyr.dat", kWidth, kHeight);
        rig_->render(kHeldCameraRow, kHeldClockSeconds);
    }

    static inline std::unique_ptr<TempDir> dir_;
    static inline std::unique_ptr<SceneRig> rig_;
    static inline std::vector<std::string> moving_;
};

[[maybe_unused]] ::testing::Environment* const heldCameraEnvironment =
    ::testing::AddGlobalTestEnvironment(new HeldCamera);

class DemoBeats : public ::testing::Test {
protected:
    DemoBeats() : reader(HeldCamera::rig().archive()), drop(sectionNamed(songSections(), "drop")) {}

    static Image frameAt(double row) {
        HeldCamera::rig().render(row, kHeldClockSeconds);
        return HeldCamera::rig().read();
    }
    // Whether any track that still moves has another value at b than at a.
    bool tracksDiffer(double a, double b) {
        for (const std::string& track : HeldCamera::moving())
            if (reader.value(track, a) != reader.value(track, b)) return true;
        return false;
    }

    TrackReader reader;
    SongSection drop;
};

TEST_F(DemoBeats, FramesABeatOrABarApartDifferExactlyWhereTheTracksDo) {
    int differing = 0, equal = 0;
    for (int beat = drop.start; beat < drop.start + 4 * kRowsPerBar; beat += kRowsPerBeat) {
        const Image frame = frameAt(beat);
        for (int apart : {kRowsPerBeat, kRowsPerBar, 2 * kRowsPerBar}) {
            const double difference = frame.meanDifference(frameAt(beat + apart));
            if (tracksDiffer(beat, beat + apart)) {
                ++differing;
                EXPECT_GT(difference, 0.5) << "rows " << beat << " and " << beat + apart << ": the tracks differ";
            } else {
                ++equal;
                EXPECT_EQ(difference, 0.0) << "rows " << beat << " and " << beat + apart << ": the tracks agree";
            }
        }
    }
    // Both kinds of pair occur, or the checks above proved little.
    EXPECT_GT(differing, 8);
    EXPECT_GT(equal, 8);
}

TEST_F(DemoBeats, AnAccentChangesTheFrameOnItsRowAndNotBefore) {
    // Hits in the drop's first four bars that follow a steady stretch of the
    // accent track (not the tail of the hit before).
    const SyncTrack& pulse = reader.track("fx:pulse.x");
    int hits = 0;
    for (int k = 0; k < pulse.count; ++k) {
        const int row = pulse.keys[k].row;
        if (row <= drop.start + 2 || row >= drop.start + 4 * kRowsPerBar || pulse.keys[k].value < 0.5f) continue;
        if (reader.value("fx:pulse.x", row - 2) != reader.value("fx:pulse.x", row - 1)) continue;
        ++hits;
        const Image twoBefore = frameAt(row - 2);
        const Image before = frameAt(row - 1);
        const double drift = twoBefore.meanDifference(before);
        const double jump = before.meanDifference(frameAt(row));
        EXPECT_GT(jump, 3.0 * drift + 2.0) << "the accent at row " << row << " (drift " << drift << ")";
    }
    EXPECT_GE(hits, 6);
}

}  // namespace
