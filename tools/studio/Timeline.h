// Timeline: the studio's sync tracks as lanes of keys, the edits an author
// makes to them with undo and redo, and where each part of the panel lies on
// the screen. No window, GL or file here: the panel (TimelinePanel) draws and
// feeds input into it, the track editor (TrackEditor) fills it and saves it.
//
// Use:
//     TimelineModel model;
//     model.setLanes(lanes);                       // from the shader's rocket exports, in its order
//     model.insertAt(row);                         // I; deleteAt, cycleAt, drags, setKey
//     model.undo(); model.redo();
//     for (const Lane& lane : model.lanes()) if (lane.changed > shown) ... the store takes lane.keys
//
//     TimelineLayout layout = timelineLayout(windowWidth, windowHeight, model);
//     float x = layout.xOfRow(view, row);
//
// Ownership: plain values. The model owns its lanes and its history.
//
// Failure: an edit that has nothing to act on (no lane, no key at the row, a
// read-only lane) changes nothing and returns false.
#pragma once

#include "SyncTrack.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zyr::studio {

struct Lane {
    std::string group;  // the export's target, "cam:pos"
    std::string track;  // "cam:pos.x"
    std::vector<SyncKey> keys;
    std::vector<SyncKey> savedKeys;  // as the text on disk holds them
    std::string file;                // "tracks/cam.txt"; empty: goes to tracks/new.txt
    bool readOnly = false;           // read from a ready .track file, which the studio does not write
    bool orphan = false;             // its export is gone from the shader; kept for its unsaved edits
    std::uint64_t changed = 0;       // the model's version when its keys last changed

    // The keys as the player's evaluation takes them; valid until keys change.
    SyncTrack view() const {
        return {const_cast<char*>(track.c_str()), const_cast<SyncKey*>(keys.data()), static_cast<std::int32_t>(keys.size())};
    }
    bool dirty() const;
};

inline constexpr const char* kNewTrackFile = "tracks/new.txt";

class TimelineModel {
public:
    // Replaces every lane; the selection keeps its index. The history of
    // editable lanes that stay (by track name) is kept; clearHistory forgets it.
    void setLanes(std::vector<Lane> lanes);
    void clearHistory();
    const std::vector<Lane>& lanes() const { return lanes_; }

    std::size_t selected() const { return selected_; }
    void select(std::size_t lane);
    void selectPrevious() { if (selected_ > 0) select(selected_ - 1); }
    void selectNext() { select(selected_ + 1); }
    std::optional<std::size_t> selectedKey() const { return selectedKey_; }
    void selectKey(std::optional<std::size_t> key) { selectedKey_ = key; }

    // The edits of the selected lane; each is one step of the history.
    bool insertAt(std::int32_t row);
    bool deleteAt(std::int32_t row);
    bool cycleAt(std::int32_t row);
    // Sets key's row and value; the row is kept strictly between its neighbours.
    bool setKey(std::size_t key, std::int32_t row, float value);
    // Sets the value of the key at row in lane, inserting one (interpolation as
    // insertAt gives it) where there is none; selects the lane.
    bool setValueAt(std::size_t lane, std::int32_t row, float value);

    // A drag is one step however many moves it makes.
    void beginDrag(std::size_t key);
    bool dragTo(std::int32_t row, float value);
    void endDrag();
    bool dragging() const { return drag_.has_value(); }

    bool undo();
    bool redo();

    bool dirty() const;
    std::size_t dirtyCount() const;
    // The lanes of these files saved: what they hold now is what the disk holds.
    void markSaved(const std::vector<std::string>& files);
    // Grows with every change of any lane's keys.
    std::uint64_t version() const { return version_; }
    // Grows when lanes are laid out anew or saved (what they show besides their keys).
    std::uint64_t shapeVersion() const { return shapeVersion_; }

private:
    struct Step {
        std::size_t lane;
        std::string track;  // the lane's, to find it again after the lanes are laid out anew
        std::vector<SyncKey> before;
        std::vector<SyncKey> after;
    };
    Lane* editable();
    void record(std::vector<SyncKey> before);
    void touch(std::size_t lane);

    std::vector<Lane> lanes_;
    std::size_t selected_ = 0;
    std::optional<std::size_t> selectedKey_;
    std::vector<Step> undo_;
    std::vector<Step> redo_;
    std::optional<std::vector<SyncKey>> drag_;  // the lane's keys when the drag began
    std::size_t dragKey_ = 0;
    std::uint64_t version_ = 0;
    std::uint64_t shapeVersion_ = 0;
};

// The key at row in keys, or the last one before it.
std::optional<std::size_t> keyAtOrBefore(const std::vector<SyncKey>& keys, std::int32_t row);

// What the panel shows: firstRow at the left edge of the key area, rowsPerPixel wide.
struct TimelineView {
    double firstRow = 0.0;
    double rowsPerPixel = 1.0;
};

// Where the panel's parts lie in window pixels (y down), for a window of the
// given size; the panel fills the bottom of the window.
struct TimelineLayout {
    float top = 0.0f;        // panel's top edge
    float left = 0.0f;       // key area's left edge (lane names to its left)
    float right = 0.0f;
    float rulerBottom = 0.0f;
    float waveBottom = 0.0f;  // lanes start here
    float bottom = 0.0f;

    static constexpr float kNameWidth = 140.0f;
    static constexpr float kRulerHeight = 22.0f;
    static constexpr float kWaveHeight = 36.0f;
    static constexpr float kGroupHeight = 16.0f;
    static constexpr float kLaneHeight = 18.0f;
    static constexpr float kSelectedHeight = 90.0f;

    float xOfRow(const TimelineView& view, double row) const {
        return left + static_cast<float>((row - view.firstRow) / view.rowsPerPixel);
    }
    double rowOfX(const TimelineView& view, float x) const { return view.firstRow + (x - left) * view.rowsPerPixel; }
};

TimelineLayout timelineLayout(float width, float height);

// Vertical place of each lane (top and height), groups' headers included,
// scrolled by laneScroll pixels.
struct LaneRect {
    float top = 0.0f;
    float height = 0.0f;
    float groupTop = -1.0f;  // a group header above this lane, or negative
};
void laneRects(const TimelineLayout& layout, const std::vector<Lane>& lanes, std::size_t selected, float laneScroll,
               std::vector<LaneRect>& out);

// Value range shown by a lane: its keys' values with a margin (-1 to 1 without keys).
void valueRange(const std::vector<SyncKey>& keys, float& low, float& high);
inline float yOfValue(const LaneRect& lane, float low, float high, float value) {
    const float inner = lane.height - 8.0f;
    return lane.top + 4.0f + inner * (1.0f - (value - low) / (high - low));
}
inline float valueOfY(const LaneRect& lane, float low, float high, float y) {
    const float inner = lane.height - 8.0f;
    return low + (high - low) * (1.0f - (y - lane.top - 4.0f) / inner);
}

}  // namespace zyr::studio
