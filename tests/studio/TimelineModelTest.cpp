// The timeline's model and its writers without a window: random edit
// sequences against undo and redo, random track texts rewritten and read back,
// and a parameter table written into a file that keeps everything else.
#include "ParameterFile.h"
#include "ParameterWrite.h"
#include "Timeline.h"
#include "TrackText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace zyr::studio;

bool ascending(const std::vector<SyncKey>& keys) {
    for (std::size_t i = 1; i < keys.size(); ++i)
        if (keys[i].row <= keys[i - 1].row) return false;
    return true;
}

bool same(const std::vector<SyncKey>& a, const std::vector<SyncKey>& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](const SyncKey& x, const SyncKey& y) {
               return x.row == y.row && x.value == y.value && x.type == y.type;
           });
}

TEST(TimelineModel, RandomEditsKeepRowsAscendingAndUndoRedoWalkTheWholeHistory) {
    std::mt19937 random(7);
    for (int round = 0; round < 50; ++round) {
        std::vector<Lane> lanes(3);
        for (std::size_t l = 0; l < lanes.size(); ++l) {
            lanes[l].group = "g";
            lanes[l].track = "g." + std::string(1, static_cast<char>('x' + l));
            for (int k = 0; k < static_cast<int>(random() % 5); ++k) lanes[l].keys.push_back({k * 10, float(k), k % 4});
            lanes[l].savedKeys = lanes[l].keys;
        }
        lanes[2].readOnly = true;
        TimelineModel model;
        model.setLanes(lanes);
        std::vector<std::vector<std::vector<SyncKey>>> states{{lanes[0].keys, lanes[1].keys, lanes[2].keys}};
        for (int step = 0; step < 40; ++step) {
            const int row = static_cast<int>(random() % 80) - 10;
            bool changed = false;
            switch (random() % 7) {
            case 0: model.select(random() % 3); break;
            case 1: changed = model.insertAt(row); break;
            case 2: changed = model.deleteAt(row); break;
            case 3: changed = model.cycleAt(row); break;
            case 4: {
                const auto& keys = model.lanes()[model.selected()].keys;
                if (!keys.empty()) changed = model.setKey(random() % keys.size(), row, float(random() % 9));
                break;
            }
            case 5: {
                const auto& keys = model.lanes()[model.selected()].keys;
                if (keys.empty()) break;
                model.beginDrag(random() % keys.size());
                for (int m = 0; m < 3; ++m) model.dragTo(static_cast<int>(random() % 200) - 50, float(m));
                const bool moved = model.dragging();
                model.endDrag();
                changed = moved && !same(model.lanes()[model.selected()].keys, states.back()[model.selected()]);
                break;
            }
            case 6: changed = model.setValueAt(random() % 3, row, 0.5f); break;
            }
            for (const Lane& lane : model.lanes()) ASSERT_TRUE(ascending(lane.keys));
            ASSERT_TRUE(same(model.lanes()[2].keys, lanes[2].keys)) << "a read-only lane changed";
            if (changed) states.push_back({model.lanes()[0].keys, model.lanes()[1].keys, model.lanes()[2].keys});
        }
        // Back to the start one step at a time, then forward again.
        for (std::size_t s = states.size() - 1; s > 0; --s) {
            ASSERT_TRUE(model.undo());
            for (std::size_t l = 0; l < 3; ++l) ASSERT_TRUE(same(model.lanes()[l].keys, states[s - 1][l]));
        }
        EXPECT_FALSE(model.undo());
        EXPECT_FALSE(model.dirty());
        for (std::size_t s = 1; s < states.size(); ++s) ASSERT_TRUE(model.redo());
        EXPECT_FALSE(model.redo());
        for (std::size_t l = 0; l < 3; ++l) EXPECT_TRUE(same(model.lanes()[l].keys, states.back()[l]));
    }
}

// Random files of blocks, comments and blank lines: the edited tracks read back
// as edited, the others as they were, and every line outside the edited blocks
// comes back byte for byte in its order.
TEST(TrackTextRewrite, EditedBlocksReadBackAndEveryOtherLineStays) {
    std::mt19937 random(11);
    const char* const kTypes[] = {"step", "linear", "smooth", "ramp"};
    for (int round = 0; round < 200; ++round) {
        std::string text;
        std::vector<std::string> kept;  // lines outside edited blocks
        std::vector<zyr::Track> edits;
        std::vector<zyr::Track> expected;
        const int blocks = static_cast<int>(random() % 5);
        for (int b = 0; b < blocks; ++b) {
            const bool edited = random() % 2 == 0;
            const std::string eol = random() % 3 == 0 ? "\r\n" : "\n";
            const std::string comment = "# note " + std::to_string(b) + eol;
            text += comment;
            kept.push_back(comment);
            std::string block = "track \"t" + std::to_string(b) + "\"" + (random() % 2 ? "  # head" : "") + eol;
            zyr::Track track{"t" + std::to_string(b), {}};
            for (int k = 0; k < static_cast<int>(random() % 4); ++k) {
                const auto type = static_cast<std::int8_t>(random() % 4);
                block += (random() % 2 ? "\t" : "") + std::to_string(k * 3) + " " + std::to_string(k) + ".25 " +
                         kTypes[type] + eol;
                track.keys.push_back({k * 3, static_cast<float>(k) + 0.25f, type});
            }
            text += block;
            if (edited) {
                zyr::Track edit{track.name, {{-5, 0.1f, zyr::kRamp}, {7, -0.0f, zyr::kStep}}};
                edits.push_back(edit);
                expected.push_back(edit);
            } else {
                kept.push_back(block);
                expected.push_back(track);
            }
            if (random() % 2) {
                text += eol;
                kept.push_back(eol);
            }
        }
        zyr::Track added{"new \"one\"", {{1, 1e-7f, zyr::kSmooth}}};
        edits.push_back(added);
        expected.push_back(added);

        std::string why;
        const std::optional<std::string> out = zyr::rewriteTracks(text, edits, "f.txt", why);
        ASSERT_TRUE(out) << why;
        zyr::TrackSetParser parser;
        parser.parse(*out, "f.txt");
        ASSERT_TRUE(parser.errors().empty()) << parser.errors().front() << "\n" << *out;
        ASSERT_EQ(parser.tracks().size(), expected.size());
        for (std::size_t t = 0; t < expected.size(); ++t) {
            EXPECT_EQ(parser.tracks()[t].name, expected[t].name);
            EXPECT_EQ(parser.tracks()[t].keys, expected[t].keys);
        }
        std::size_t at = 0;
        for (const std::string& line : kept) {
            const std::size_t found = out->find(line, at);
            ASSERT_NE(found, std::string::npos) << "lost: " << line << "\nin:\n" << *out;
            at = found + line.size();
        }
    }
    std::string why;
    EXPECT_FALSE(zyr::rewriteTracks("track \"a\"\n1 x step\n", {}, "bad.txt", why));
    EXPECT_EQ(why.rfind("bad.txt:2:", 0), 0u) << why;
}

TEST(ParameterWrite, OnlyTheTablesComponentLinesChange) {
    const std::string file = "# look of the piece\r\n"
                             "[tint]   # colour\r\n"
                             "v0 = 1.0    # red\r\n"
                             "v1=0.5\r\n"
                             "\r\n"
                             "[fog]\r\n"
                             "v0 = 0.25 # keep\r\n";
    const float tint[] = {0.75f, 2.0f, -0.125f};
    std::string why;
    EXPECT_EQ(writeParameterTable(file, "tint", tint, why),
              "# look of the piece\r\n"
              "[tint]   # colour\r\n"
              "v0 = 0.75    # red\r\n"
              "v1=2\r\n"
              "v2 = -0.125\r\n"
              "\r\n"
              "[fog]\r\n"
              "v0 = 0.25 # keep\r\n")
        << why;
    const float glow[] = {3.5f, 0.0f};
    EXPECT_EQ(writeParameterTable(file, "glow", glow, why), file + "\r\n[glow]\r\nv0 = 3.5\r\nv1 = 0\r\n") << why;

    // A byte order mark before the first table leaves it a table, and stays.
    EXPECT_EQ(writeParameterTable("\xEF\xBB\xBF[tint]\nv0 = 1\n", "tint", glow, why), "\xEF\xBB\xBF[tint]\nv0 = 3.5\nv1 = 0\n") << why;

    // Where a written line would not read back as the value, nothing is written.
    const float one[] = {1.0f};
    EXPECT_FALSE(writeParameterTable("tint.v0 = 1\n", "tint", one, why));
    EXPECT_FALSE(writeParameterTable("[tint]\nv0 = [1, 2]\n", "tint", one, why));
    EXPECT_FALSE(writeParameterTable("[tint\n", "tint", one, why));
    EXPECT_EQ(why.rfind("fsshader.ini:1:", 0), 0u) << why;
}

}  // namespace
