// The track editor over a real folder and the player's sync track store, with
// no window: random edits, shader saves that bind other exports (renames),
// saves and changes made on disk behind the studio's back. After every step the
// store evaluates every bound lane as the lane's keys say, no unsaved edit is
// ever gone, a save writes exactly the edited keys, and a save over a change it
// has not seen writes nothing.
#include "ExportScan.h"
#include "Problems.h"
#include "ResourceArchive.h"
#include "Soundtrack.h"
#include "StudioSource.h"
#include "SyncTrackStore.h"
#include "TempDir.h"
#include "TrackEditor.h"
#include "TrackText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <random>

namespace {

using namespace zyr::studio;
namespace fs = std::filesystem;

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
void writeText(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::size_t component(const std::string& track) { return std::string("xyzw").find(track.back()); }

bool sameKeys(const std::vector<SyncKey>& a, const std::vector<SyncKey>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(SyncKey)) == 0);
}

// Every export a shader save may declare; each save binds a random few of them.
const char* const kExports[] = {"#pragma EXPORT(rocket=p)\nuniform vec2 p;\n", "#pragma EXPORT(rocket=q)\nuniform float q;\n",
                                "#pragma EXPORT(rocket=r)\nuniform vec3 r;\n", "#pragma EXPORT(rocket=s)\nuniform float s;\n"};

class Editor : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir / "tracks");
        writeText(dir / "tracks" / "a.txt", "# a\ntrack \"p.x\"\n0 1 linear\n32 2 step\ntrack \"p.y\"\n8 -1 smooth\n");
        writeText(dir / "tracks" / "b.txt", "track \"q.x\"\n0 0 ramp\n64 4 step\n\ntrack \"r.y\"\n16 3 step\n");
        writeText(dir / "sync_r.z.track", std::string(4, '\0'));  // a ready file, no keys: still read-only
        writeText(dir / "soundtrack.mp3", "music the store does not need to hear");
        source = std::make_unique<Source>(dir.path(), board);
        music = std::make_unique<Soundtrack>(source->archive(), "soundtrack.mp3", 170.0f);
        store = std::make_unique<SyncTrackStore>(source->archive(), *music);
        editor = std::make_unique<TrackEditor>(*store, *source, board);
    }
    void TearDown() override {
        editor.reset();
        music.reset();
        store.reset();
    }

    // What a program's build does to the store, then what the studio does after it.
    void shaderSave(unsigned mask) {
        std::string text = "#version 460 core\n";
        for (unsigned e = 0; e < 4; ++e)
            if (mask & (1u << e)) text += kExports[e];
        store->unbindAll();
        const std::vector<ExportedUniform> exports = scanExports(text);
        for (const ExportedUniform& uniform : exports)
            store->bindUniform(uniform.target, slots[uniform.target].data(), componentCount(uniform.type));
        editor->programChanged(exports);
    }

    // The store evaluates every lane it binds as the lane's keys say.
    void expectStoreFollowsLanes() {
        editor->show();
        for (const double row : {-5.0, 0.0, 7.5, 16.0, 31.0, 40.25, 100.0}) {
            store->evaluateAt(row);
            for (const Lane& lane : editor->model().lanes()) {
                if (lane.orphan) continue;
                const SyncTrack track = lane.view();
                const float expected = static_cast<float>(getValue(&track, row));
                const float got = slots[lane.group][component(lane.track)];
                ASSERT_EQ(std::memcmp(&got, &expected, sizeof(float)), 0) << lane.track << " at row " << row;
            }
        }
    }

    TempDir dir;
    ProblemBoard board;
    std::unique_ptr<Source> source;
    std::unique_ptr<Soundtrack> music;
    std::unique_ptr<SyncTrackStore> store;
    std::unique_ptr<TrackEditor> editor;
    std::map<std::string, std::array<float, 4>> slots;
};

TEST_F(Editor, RandomEditsRenamesSavesAndChangesOnDiskLoseNothing) {
    std::mt19937 random(18);
    shaderSave(0xF);
    std::map<std::string, std::vector<SyncKey>> unsaved;  // what the author made and has not saved
    for (int step = 0; step < 400; ++step) {
        TimelineModel& model = editor->model();
        const auto row = static_cast<std::int32_t>(random() % 80) - 8;
        switch (random() % 10) {
        case 0: case 1: case 2: {
            if (model.lanes().empty()) break;
            model.select(random() % model.lanes().size());
            const unsigned edit = random() % 4;
            if (edit == 0) model.insertAt(row);
            if (edit == 1) model.deleteAt(row);
            if (edit == 2) model.cycleAt(row);
            if (edit == 3) model.setValueAt(model.selected(), row, static_cast<float>(random() % 9) - 4.0f);
            break;
        }
        case 3: model.undo(); break;
        case 4: shaderSave(random() % 16); break;
        case 5: {
            // Saved: each file holds exactly the lanes' keys.
            ASSERT_TRUE(editor->save());
            ASSERT_FALSE(editor->dirty());
            unsaved.clear();
            zyr::TrackSetParser parser;
            for (const char* file : {"tracks/a.txt", "tracks/b.txt", "tracks/new.txt"})
                if (fs::exists(dir / file)) parser.parse(readText(dir / file), file);
            ASSERT_TRUE(parser.errors().empty()) << parser.errors().front();
            // What it wrote still packs: no track given in both forms.
            EXPECT_NO_THROW(zyr::content::trackEntries(dir.path()));
            for (const Lane& lane : model.lanes()) {
                if (lane.readOnly) continue;
                std::vector<SyncKey> onDisk;
                for (const zyr::Track& track : parser.tracks())
                    if (track.name == lane.track)
                        for (const zyr::TrackKey& key : track.keys) onDisk.push_back({key.row, key.value, key.type});
                EXPECT_TRUE(sameKeys(onDisk, lane.keys)) << lane.track;
            }
            break;
        }
        case 6: {
            // Changed behind the studio's back, then Ctrl+S: nothing written, the
            // conflict said; the second Ctrl+S writes over it; or R takes the disk.
            const auto& lanes = model.lanes();
            const auto edited = std::find_if(lanes.begin(), lanes.end(), [](const Lane& l) { return l.dirty(); });
            if (edited == lanes.end()) break;
            const fs::path changed = dir / (edited->file.empty() ? kNewTrackFile : edited->file);
            const std::string theirs = (fs::exists(changed) ? readText(changed) : "") + "\n# theirs " + std::to_string(step) + "\n";
            writeText(changed, theirs);
            const std::string a = readText(dir / "tracks" / "a.txt");
            const std::string b = readText(dir / "tracks" / "b.txt");
            EXPECT_FALSE(editor->save());
            EXPECT_TRUE(editor->conflict());
            EXPECT_EQ(readText(changed), theirs);
            EXPECT_EQ(readText(dir / "tracks" / "a.txt"), a);
            EXPECT_EQ(readText(dir / "tracks" / "b.txt"), b);
            if (random() % 2) {
                ASSERT_TRUE(editor->save());
                EXPECT_NE(readText(changed).find("# theirs " + std::to_string(step)), std::string::npos);
            } else {
                ASSERT_TRUE(editor->takeDisk());
            }
            unsaved.clear();
            EXPECT_FALSE(editor->conflict());
            EXPECT_FALSE(editor->dirty());
            break;
        }
        default: break;
        }
        for (const Lane& lane : editor->model().lanes()) {
            if (lane.dirty()) unsaved[lane.track] = lane.keys;
            else unsaved.erase(lane.track);
        }
        // Every unsaved edit still has its lane, wherever its export went.
        for (const auto& [track, keys] : unsaved) {
            const auto& lanes = editor->model().lanes();
            const auto lane = std::find_if(lanes.begin(), lanes.end(), [&](const Lane& l) { return l.track == track; });
            ASSERT_NE(lane, lanes.end()) << track << " lost at step " << step;
            EXPECT_TRUE(sameKeys(lane->keys, keys)) << track;
        }
        ASSERT_NO_FATAL_FAILURE(expectStoreFollowsLanes()) << "step " << step;
    }
}

}  // namespace
