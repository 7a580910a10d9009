// TimelinePanel: the timeline drawn with ImGui along the bottom of the studio's
// window (ruler, waveform, lanes with their curves and keys) and the mouse
// input on it: zoom, scroll, seeking in the ruler, selecting lanes and keys,
// dragging keys, typing a key's exact value and row.
//
// Use (inside an ImGui frame, once per frame):
//     TimelinePanel panel;
//     panel.setPeaks(waveformPeaks(mp3, rowsPerSecond));   // once per song (Waveform.h)
//     TimelineFrame in{row, lengthRows, paused, &transport};
//     if (auto row = panel.draw(model, in, width, height)) seek(*row);
//
// The curves are the player's own evaluation (getValue) of the model's keys,
// sampled once per pixel column of the lanes on screen; lanes scrolled out of
// the panel and keys outside the view cost nothing. Edits go into the model;
// its version tells the caller that the picture's tracks need loading again.
//
// Ownership: the panel owns its view, the waveform's per-row peaks and scratch
// buffers reused every frame (a frame allocates nothing once they have grown).
// The model and the transport are borrowed for the call.
//
// Failure: none; input with nothing under it does nothing.
#pragma once

#include "DrawListCache.h"
#include "Timeline.h"
#include "Transport.h"

#include <imgui.h>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace zyr::studio {

struct TimelineFrame {
    double row = 0.0;
    double lengthRows = 0.0;
    bool paused = false;
    const Transport* transport = nullptr;
};

class TimelinePanel {
public:
    // The music's peaks, one per row, 0 to 1.
    void setPeaks(std::vector<float> peaks) {
        peaks_ = std::move(peaks);
        ++peaksVersion_;
    }
    // Draws what it shows through cache (borrowed) from now on, so a frame
    // that changes nothing of it draws one image.
    void setCache(DrawListCache* cache) { cache_ = cache; }

    // Draws the panel into the current ImGui frame and handles the pointer;
    // returns a row to seek to when the ruler asked for one.
    std::optional<double> draw(TimelineModel& model, const TimelineFrame& frame, float width, float height);

    // A double-click came since the last frame (timed by the caller as the
    // presses arrive, so that a slow frame does not hide it).
    void setDoubleClick(bool doubleClick) { doubleClick_ = doubleClick; }

    // Enter, Escape and Tab while typing, from the window's key events: a key
    // pressed and released within one slow frame is never seen down by ImGui.
    void editKey(int key) { editKeys_ |= key; }
    static constexpr int kEditEnter = 1;
    static constexpr int kEditEscape = 2;
    static constexpr int kEditTab = 4;

    // True while a text field of the panel takes the keyboard.
    bool typing() const { return typing_; }

    const TimelineView& view() const { return view_; }
    // Shows rows first..last across the key area of a window width wide.
    void showRows(double first, double last, float width);

private:
    // The lanes' frames (background, separators, group names) and contents
    // (labels, axis, curves, handles): all, all but the selected lane's
    // content, or only that.
    enum class LaneLayer { All, Others, Selected };
    void drawContent(ImDrawList& list, const TimelineLayout& layout, const TimelineModel& model, const TimelineFrame& frame,
                     LaneLayer layer);
    // A digest of everything drawContent's drawing depends on.
    std::uint64_t contentKey(const TimelineLayout& layout, const TimelineModel& model, const TimelineFrame& frame) const;
    void drawRuler(ImDrawList* list, const TimelineLayout& layout, const TimelineFrame& frame) const;
    void drawLanes(ImDrawList* list, const TimelineLayout& layout, const TimelineModel& model, LaneLayer layer);
    std::optional<double> handlePointer(const TimelineLayout& layout, TimelineModel& model, const TimelineFrame& frame);
    void editPopup(TimelineModel& model);

    TimelineView view_;
    bool fitted_ = false;
    float laneScroll_ = 0.0f;
    std::vector<float> peaks_;
    std::uint64_t peaksVersion_ = 0;
    DrawListCache* cache_ = nullptr;
    std::vector<LaneRect> rects_;
    std::vector<ImVec2> points_;  // scratch of the curve polyline

    enum class Drag { None, Scroll, Seek, Key };
    Drag drag_ = Drag::None;
    float dragLow_ = 0.0f;  // the value axis, held while a key is dragged
    float dragHigh_ = 1.0f;
    std::int32_t lastSeekRow_ = -1;

    bool doubleClick_ = false;
    int editKeys_ = 0;
    bool openEdit_ = false;
    bool typing_ = false;
    std::size_t editKey_ = 0;
    float editValue_ = 0.0f;
    int editRow_ = 0;
};

}  // namespace zyr::studio
