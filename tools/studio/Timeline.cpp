#include "Timeline.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>

namespace zyr::studio {

namespace {

bool sameKeys(const std::vector<SyncKey>& a, const std::vector<SyncKey>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        // Bits, so that a NaN or -0 written back counts as what it is.
        if (a[i].row != b[i].row || a[i].type != b[i].type ||
            std::memcmp(&a[i].value, &b[i].value, sizeof(float)) != 0)
            return false;
    }
    return true;
}

std::optional<std::size_t> keyAt(const std::vector<SyncKey>& keys, std::int32_t row) {
    const auto it = std::lower_bound(keys.begin(), keys.end(), row, [](const SyncKey& k, std::int32_t r) { return k.row < r; });
    if (it == keys.end() || it->row != row) return std::nullopt;
    return static_cast<std::size_t>(it - keys.begin());
}

// The row clamped strictly between the neighbours of key.
std::int32_t between(const std::vector<SyncKey>& keys, std::size_t key, std::int32_t row) {
    if (key > 0) row = std::max(row, keys[key - 1].row + 1);
    if (key + 1 < keys.size()) row = std::min(row, keys[key + 1].row - 1);
    return row;
}

}  // namespace

bool Lane::dirty() const { return !sameKeys(keys, savedKeys); }

std::optional<std::size_t> keyAtOrBefore(const std::vector<SyncKey>& keys, std::int32_t row) {
    const auto it = std::upper_bound(keys.begin(), keys.end(), row, [](std::int32_t r, const SyncKey& k) { return r < k.row; });
    if (it == keys.begin()) return std::nullopt;
    return static_cast<std::size_t>(it - keys.begin()) - 1;
}

void TimelineModel::setLanes(std::vector<Lane> lanes) {
    lanes_ = std::move(lanes);
    drag_.reset();
    selectedKey_.reset();
    if (selected_ >= lanes_.size()) selected_ = lanes_.empty() ? 0 : lanes_.size() - 1;
    ++version_;
    ++shapeVersion_;
    for (Lane& lane : lanes_) lane.changed = version_;
    // Steps follow their lane by name; a lane gone or now read-only takes its steps along.
    std::map<std::string, std::size_t> index;
    for (std::size_t i = 0; i < lanes_.size(); ++i)
        if (!lanes_[i].readOnly) index.emplace(lanes_[i].track, i);
    for (std::vector<Step>* steps : {&undo_, &redo_}) {
        std::erase_if(*steps, [&](Step& step) {
            const auto found = index.find(step.track);
            if (found == index.end()) return true;
            step.lane = found->second;
            return false;
        });
    }
}

void TimelineModel::clearHistory() {
    undo_.clear();
    redo_.clear();
}

void TimelineModel::touch(std::size_t lane) {
    ++version_;
    lanes_[lane].changed = version_;
}

void TimelineModel::select(std::size_t lane) {
    if (lane >= lanes_.size() || drag_) return;
    if (lane != selected_) selectedKey_.reset();
    selected_ = lane;
}

Lane* TimelineModel::editable() {
    if (selected_ >= lanes_.size() || lanes_[selected_].readOnly || drag_) return nullptr;
    return &lanes_[selected_];
}

void TimelineModel::record(std::vector<SyncKey> before) {
    undo_.push_back({selected_, lanes_[selected_].track, std::move(before), lanes_[selected_].keys});
    redo_.clear();
    touch(selected_);
}

bool TimelineModel::insertAt(std::int32_t row) {
    Lane* lane = editable();
    if (!lane || keyAt(lane->keys, row)) return false;
    const SyncTrack track = lane->view();
    const auto before = keyAtOrBefore(lane->keys, row);
    const SyncKey key{row, static_cast<float>(getValue(&track, row)), before ? lane->keys[*before].type : Linear};
    std::vector<SyncKey> old = lane->keys;
    const std::size_t at = before ? *before + 1 : 0;
    lane->keys.insert(lane->keys.begin() + static_cast<std::ptrdiff_t>(at), key);
    selectedKey_ = at;
    record(std::move(old));
    return true;
}

bool TimelineModel::deleteAt(std::int32_t row) {
    Lane* lane = editable();
    if (!lane) return false;
    std::optional<std::size_t> key = keyAt(lane->keys, row);
    if (!key && selectedKey_ && *selectedKey_ < lane->keys.size()) key = selectedKey_;
    if (!key) return false;
    std::vector<SyncKey> old = lane->keys;
    lane->keys.erase(lane->keys.begin() + static_cast<std::ptrdiff_t>(*key));
    selectedKey_.reset();
    record(std::move(old));
    return true;
}

bool TimelineModel::cycleAt(std::int32_t row) {
    Lane* lane = editable();
    if (!lane) return false;
    const auto key = keyAtOrBefore(lane->keys, row);
    if (!key) return false;
    std::vector<SyncKey> old = lane->keys;
    std::int32_t& type = lane->keys[*key].type;
    // A type the player does not know (read from a file) starts the cycle over.
    type = (type >= KeyType::Step && type < KeyType::Ramp) ? type + 1 : KeyType::Step;
    record(std::move(old));
    return true;
}

bool TimelineModel::setKey(std::size_t key, std::int32_t row, float value) {
    Lane* lane = editable();
    if (!lane || key >= lane->keys.size()) return false;
    std::vector<SyncKey> old = lane->keys;
    lane->keys[key].row = between(lane->keys, key, row);
    lane->keys[key].value = value;
    if (sameKeys(old, lane->keys)) return false;
    selectedKey_ = key;
    record(std::move(old));
    return true;
}

bool TimelineModel::setValueAt(std::size_t laneIndex, std::int32_t row, float value) {
    if (laneIndex >= lanes_.size() || drag_) return false;
    select(laneIndex);
    Lane* lane = editable();
    if (!lane) return false;
    std::vector<SyncKey> old = lane->keys;
    if (const auto key = keyAt(lane->keys, row)) {
        lane->keys[*key].value = value;
        selectedKey_ = key;
    } else {
        const auto before = keyAtOrBefore(lane->keys, row);
        const std::size_t at = before ? *before + 1 : 0;
        lane->keys.insert(lane->keys.begin() + static_cast<std::ptrdiff_t>(at),
                          SyncKey{row, value, before ? lane->keys[*before].type : Linear});
        selectedKey_ = at;
    }
    if (sameKeys(old, lane->keys)) return false;
    record(std::move(old));
    return true;
}

void TimelineModel::beginDrag(std::size_t key) {
    Lane* lane = editable();
    if (!lane || key >= lane->keys.size()) return;
    drag_ = lane->keys;
    dragKey_ = key;
    selectedKey_ = key;
}

bool TimelineModel::dragTo(std::int32_t row, float value) {
    if (!drag_) return false;
    Lane& lane = lanes_[selected_];
    SyncKey& key = lane.keys[dragKey_];
    const std::int32_t clamped = between(lane.keys, dragKey_, row);
    if (key.row == clamped && std::memcmp(&key.value, &value, sizeof value) == 0) return false;
    key.row = clamped;
    key.value = value;
    touch(selected_);
    return true;
}

void TimelineModel::endDrag() {
    if (!drag_) return;
    std::vector<SyncKey> old = std::move(*drag_);
    drag_.reset();
    if (!sameKeys(old, lanes_[selected_].keys)) {
        undo_.push_back({selected_, lanes_[selected_].track, std::move(old), lanes_[selected_].keys});
        redo_.clear();
    }
}

bool TimelineModel::undo() {
    if (undo_.empty() || drag_) return false;
    Step step = std::move(undo_.back());
    undo_.pop_back();
    lanes_[step.lane].keys = step.before;
    selected_ = step.lane;
    selectedKey_.reset();
    touch(step.lane);
    redo_.push_back(std::move(step));
    return true;
}

bool TimelineModel::redo() {
    if (redo_.empty() || drag_) return false;
    Step step = std::move(redo_.back());
    redo_.pop_back();
    lanes_[step.lane].keys = step.after;
    selected_ = step.lane;
    selectedKey_.reset();
    touch(step.lane);
    undo_.push_back(std::move(step));
    return true;
}

bool TimelineModel::dirty() const {
    return std::any_of(lanes_.begin(), lanes_.end(), [](const Lane& lane) { return lane.dirty(); });
}

std::size_t TimelineModel::dirtyCount() const {
    return static_cast<std::size_t>(std::count_if(lanes_.begin(), lanes_.end(), [](const Lane& lane) { return lane.dirty(); }));
}

void TimelineModel::markSaved(const std::vector<std::string>& files) {
    for (Lane& lane : lanes_) {
        if (lane.readOnly) continue;
        const std::string file = lane.file.empty() ? kNewTrackFile : lane.file;
        if (std::find(files.begin(), files.end(), file) == files.end()) continue;
        lane.savedKeys = lane.keys;
        if (lane.file.empty()) lane.file = kNewTrackFile;
    }
    // The lanes look different (no longer marked); their keys are as they were.
    ++shapeVersion_;
}

TimelineLayout timelineLayout(float width, float height) {
    TimelineLayout layout;
    layout.bottom = height;
    layout.top = std::floor(height * 0.6f);
    layout.left = TimelineLayout::kNameWidth;
    layout.right = std::max(layout.left + 1.0f, width);
    layout.rulerBottom = layout.top + TimelineLayout::kRulerHeight;
    layout.waveBottom = layout.rulerBottom + TimelineLayout::kWaveHeight;
    return layout;
}

void laneRects(const TimelineLayout& layout, const std::vector<Lane>& lanes, std::size_t selected, float laneScroll,
               std::vector<LaneRect>& out) {
    out.resize(lanes.size());
    float y = layout.waveBottom - laneScroll;
    for (std::size_t i = 0; i < lanes.size(); ++i) {
        LaneRect& rect = out[i];
        rect.groupTop = -1.0f;
        if (i == 0 || lanes[i].group != lanes[i - 1].group) {
            rect.groupTop = y;
            y += TimelineLayout::kGroupHeight;
        }
        rect.top = y;
        rect.height = i == selected ? TimelineLayout::kSelectedHeight : TimelineLayout::kLaneHeight;
        y += rect.height;
    }
}

void valueRange(const std::vector<SyncKey>& keys, float& low, float& high) {
    low = std::numeric_limits<float>::infinity();
    high = -std::numeric_limits<float>::infinity();
    for (const SyncKey& key : keys) {
        if (!std::isfinite(key.value)) continue;
        low = std::min(low, key.value);
        high = std::max(high, key.value);
    }
    if (!(low <= high)) {
        low = -1.0f;
        high = 1.0f;
        return;
    }
    const float margin = std::max((high - low) * 0.15f, 0.5f);
    low -= margin;
    high += margin;
}

}  // namespace zyr::studio
