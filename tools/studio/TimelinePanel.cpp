#include "TimelinePanel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace zyr::studio {

namespace {

constexpr ImU32 kBackground = IM_COL32(22, 24, 30, 235);
constexpr ImU32 kRulerBackground = IM_COL32(34, 37, 46, 255);
constexpr ImU32 kBarLine = IM_COL32(110, 115, 130, 255);
constexpr ImU32 kBeatLine = IM_COL32(62, 66, 78, 255);
constexpr ImU32 kRowLine = IM_COL32(42, 45, 54, 255);
constexpr ImU32 kText = IM_COL32(200, 204, 214, 255);
constexpr ImU32 kSection = IM_COL32(250, 200, 90, 255);
constexpr ImU32 kWave = IM_COL32(70, 130, 170, 255);
constexpr ImU32 kLoop = IM_COL32(90, 160, 255, 40);
constexpr ImU32 kPlayhead = IM_COL32(255, 70, 60, 255);
constexpr ImU32 kLaneSelected = IM_COL32(40, 44, 58, 255);
constexpr ImU32 kCurve = IM_COL32(120, 220, 140, 255);
constexpr ImU32 kCurveDim = IM_COL32(90, 160, 105, 255);
constexpr ImU32 kHandle = IM_COL32(240, 240, 240, 255);
constexpr ImU32 kHandleSelected = IM_COL32(255, 190, 60, 255);
constexpr ImU32 kReadOnly = IM_COL32(140, 140, 140, 255);

constexpr float kHandleReach = 7.0f;

void text(ImDrawList* list, float x, float y, ImU32 colour, const char* s) { list->AddText(ImVec2(x, y), colour, s); }

}  // namespace

void TimelinePanel::showRows(double first, double last, float width) {
    const float span = std::max(1.0f, width - TimelineLayout::kNameWidth);
    view_.firstRow = first;
    view_.rowsPerPixel = std::max(1.0 / 64.0, (last - first) / span);
    fitted_ = true;
}

std::optional<double> TimelinePanel::draw(TimelineModel& model, const TimelineFrame& frame, float width, float height) {
    const TimelineLayout layout = timelineLayout(width, height);
    if (!fitted_) showRows(0.0, std::max(frame.lengthRows, 32.0), width);
    // A playing song pages the view along.
    const double lastShown = layout.rowOfX(view_, layout.right);
    if (!frame.paused && drag_ == Drag::None && (frame.row > lastShown || frame.row < view_.firstRow))
        view_.firstRow = frame.row;

    ImGui::SetNextWindowPos(ImVec2(0.0f, layout.top));
    ImGui::SetNextWindowSize(ImVec2(width, layout.bottom - layout.top));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0.0f, 0.0f));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowBorderSize, 0.0f);
    ImGui::SetNextWindowBgAlpha(0.0f);
    constexpr ImGuiWindowFlags kFlags = ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove |
                                        ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoBringToFrontOnFocus |
                                        ImGuiWindowFlags_NoFocusOnAppearing | ImGuiWindowFlags_NoNav |
                                        ImGuiWindowFlags_NoScrollWithMouse;
    std::optional<double> seek;
    if (ImGui::Begin("Timeline", nullptr, kFlags)) {
        ImDrawList* window = ImGui::GetWindowDrawList();
        window->Flags &= ~(ImDrawListFlags_AntiAliasedLines | ImDrawListFlags_AntiAliasedFill);
        laneRects(layout, model.lanes(), model.selected(), laneScroll_, rects_);
        seek = handlePointer(layout, model, frame);
        laneRects(layout, model.lanes(), model.selected(), laneScroll_, rects_);
        const ImVec2 origin(0.0f, layout.top);
        const ImVec2 size(width, layout.bottom - layout.top);
        if (!cache_) {
            drawContent(*window, layout, model, frame, LaneLayer::All);
        } else {
            // Everything but the selected lane's keys from the texture; those
            // change under a drag, and are drawn every frame.
            const std::uint64_t key = contentKey(layout, model, frame);
            if (!cache_->holds(key, origin, size)) {
                drawContent(cache_->begin(origin, size), layout, model, frame, LaneLayer::Others);
                cache_->end(key);
            }
            cache_->show(window);
            drawLanes(window, layout, model, LaneLayer::Selected);
        }
        // The playhead over everything.
        const float x = layout.xOfRow(view_, frame.row);
        if (x >= layout.left && x <= layout.right)
            window->AddLine(ImVec2(x, layout.top), ImVec2(x, layout.bottom), kPlayhead, 1.5f);
        editPopup(model);
    }
    ImGui::End();
    ImGui::PopStyleVar(2);
    return seek;
}

void TimelinePanel::drawContent(ImDrawList& list, const TimelineLayout& layout, const TimelineModel& model,
                                const TimelineFrame& frame, LaneLayer layer) {
    // Grid, waveform and curves are axis-aligned or a pixel apart: smoothing
    // their edges would cost most of the panel's time and show nothing.
    list.Flags &= ~(ImDrawListFlags_AntiAliasedLines | ImDrawListFlags_AntiAliasedFill);
    list.AddRectFilled(ImVec2(0.0f, layout.top), ImVec2(layout.right, layout.bottom), kBackground);
    drawRuler(&list, layout, frame);
    drawLanes(&list, layout, model, layer);
}

std::uint64_t TimelinePanel::contentKey(const TimelineLayout& layout, const TimelineModel& model,
                                        const TimelineFrame& frame) const {
    KeyHash key;
    key.add(layout.right).add(layout.top).add(layout.bottom).add(view_.firstRow).add(view_.rowsPerPixel).add(laneScroll_);
    key.add(model.shapeVersion()).add(model.selected()).add(peaksVersion_).add(frame.lengthRows);
    for (std::size_t i = 0; i < model.lanes().size(); ++i)
        if (i != model.selected()) key.add(model.lanes()[i].changed);
    const Transport& transport = *frame.transport;
    key.add(transport.looping()).add(transport.loopStart()).add(transport.loopEnd());
    for (const SongSection& section : transport.sections()) key.add(section.name.c_str()).add(section.startRow);
    return key.value();
}

void TimelinePanel::drawRuler(ImDrawList* list, const TimelineLayout& layout, const TimelineFrame& frame) const {
    list->AddRectFilled(ImVec2(0.0f, layout.top), ImVec2(layout.right, layout.rulerBottom), kRulerBackground);
    list->PushClipRect(ImVec2(layout.left, layout.top), ImVec2(layout.right, layout.bottom), true);

    const double first = std::max(0.0, view_.firstRow);
    const double last = std::min(layout.rowOfX(view_, layout.right), std::max(frame.lengthRows, first));
    const double pixelsPerRow = 1.0 / view_.rowsPerPixel;

    // Rows, beats and bars, each drawn only when its lines stand apart.
    const double step = pixelsPerRow >= 5.0 ? 1.0 : pixelsPerRow * kRowsPerBeat >= 5.0 ? kRowsPerBeat : kRowsPerBar;
    double barLabelStep = kRowsPerBar;
    while (barLabelStep / view_.rowsPerPixel < 36.0) barLabelStep *= 2.0;
    std::array<char, 32> label{};
    for (double row = std::ceil(first / step) * step; row <= last; row += step) {
        const float x = layout.xOfRow(view_, row);
        const bool bar = std::fmod(row, kRowsPerBar) == 0.0;
        const bool beat = std::fmod(row, kRowsPerBeat) == 0.0;
        const ImU32 colour = bar ? kBarLine : beat ? kBeatLine : kRowLine;
        list->AddLine(ImVec2(x, bar ? layout.top : layout.rulerBottom - 6.0f), ImVec2(x, layout.bottom), colour);
        if (bar && std::fmod(row, barLabelStep) == 0.0) {
            std::snprintf(label.data(), label.size(), "%lld", static_cast<long long>(row / kRowsPerBar) + 1);
            text(list, x + 3.0f, layout.top + 1.0f, kText, label.data());
        }
    }
    // Sections by name, in the ruler's lower half.
    for (const SongSection& section : frame.transport->sections()) {
        const float x = layout.xOfRow(view_, section.startRow);
        if (x > layout.right || x < layout.left - 200.0f) continue;
        list->AddLine(ImVec2(x, layout.top), ImVec2(x, layout.rulerBottom), kSection, 2.0f);
        text(list, x + 3.0f, layout.top + 10.0f, kSection, section.name.c_str());
    }
    // The waveform, one column per pixel.
    if (!peaks_.empty()) {
        const float middle = (layout.rulerBottom + layout.waveBottom) * 0.5f;
        const float half = (layout.waveBottom - layout.rulerBottom) * 0.5f - 1.0f;
        for (float x = layout.left; x < layout.right; x += 1.0f) {
            const double r0 = layout.rowOfX(view_, x);
            const double r1 = r0 + view_.rowsPerPixel;
            if (r1 < 0.0) continue;
            const auto from = static_cast<std::size_t>(std::max(0.0, r0));
            if (from >= peaks_.size()) break;
            const auto to = std::min(peaks_.size(), std::max(from + 1, static_cast<std::size_t>(std::max(0.0, r1))));
            float peak = 0.0f;
            for (std::size_t i = from; i < to; ++i) peak = std::max(peak, peaks_[i]);
            list->AddLine(ImVec2(x, middle - peak * half), ImVec2(x, middle + peak * half + 1.0f), kWave);
        }
    }
    if (frame.transport->looping()) {
        const float a = layout.xOfRow(view_, frame.transport->loopStart());
        const float b = layout.xOfRow(view_, frame.transport->loopEnd());
        list->AddRectFilled(ImVec2(a, layout.top), ImVec2(b, layout.bottom), kLoop);
    }
    list->PopClipRect();
}

void TimelinePanel::drawLanes(ImDrawList* list, const TimelineLayout& layout, const TimelineModel& model, LaneLayer layer) {
    const std::vector<Lane>& lanes = model.lanes();
    list->PushClipRect(ImVec2(0.0f, layout.waveBottom), ImVec2(layout.right, layout.bottom), true);
    const double firstRow = view_.firstRow;
    const double lastRow = layout.rowOfX(view_, layout.right);
    std::array<char, 48> label{};
    for (std::size_t i = 0; i < lanes.size(); ++i) {
        const LaneRect& rect = rects_[i];
        if (rect.top > layout.bottom) break;
        if (rect.top + rect.height < layout.waveBottom) continue;
        const Lane& lane = lanes[i];
        const bool selected = i == model.selected();
        if (layer == LaneLayer::Selected && !selected) continue;
        if (layer != LaneLayer::Selected) {
            if (rect.groupTop >= 0.0f) text(list, 4.0f, rect.groupTop, kText, lane.group.c_str());
            if (selected) list->AddRectFilled(ImVec2(0.0f, rect.top), ImVec2(layout.right, rect.top + rect.height), kLaneSelected);
            list->AddLine(ImVec2(0.0f, rect.top + rect.height), ImVec2(layout.right, rect.top + rect.height), kRowLine);
        }
        if (layer == LaneLayer::Others && selected) continue;
        const char* suffix = lane.track.c_str() + std::min(lane.group.size(), lane.track.size());
        std::snprintf(label.data(), label.size(), "  %s%s%s%s", suffix, lane.dirty() ? " *" : "", lane.readOnly ? " (ro)" : "",
                      lane.orphan ? " (no export)" : "");
        text(list, 4.0f, rect.top + 1.0f, lane.readOnly ? kReadOnly : kText, label.data());

        float low = 0.0f;
        float high = 1.0f;
        if (selected && drag_ == Drag::Key) {
            low = dragLow_;
            high = dragHigh_;
        } else {
            valueRange(lane.keys, low, high);
        }
        if (selected) {
            // The value axis: top, middle and bottom of the lane.
            for (const float v : {high, (low + high) * 0.5f, low}) {
                const float y = yOfValue(rect, low, high, v);
                std::snprintf(label.data(), label.size(), "%.3g", static_cast<double>(v));
                text(list, layout.left - 56.0f, y - 7.0f, kText, label.data());
                list->AddLine(ImVec2(layout.left - 4.0f, y), ImVec2(layout.left, y), kText);
            }
        }
        if (lane.keys.empty()) continue;

        // The curve as the player evaluates it, one point per pixel column.
        list->PushClipRect(ImVec2(layout.left, rect.top), ImVec2(layout.right, rect.top + rect.height), true);
        const SyncTrack track = lane.view();
        points_.clear();
        for (float x = layout.left; x <= layout.right; x += 1.0f) {
            const float value = static_cast<float>(getValue(&track, layout.rowOfX(view_, x)));
            const float y = std::clamp(yOfValue(rect, low, high, std::isfinite(value) ? value : 0.0f), rect.top, rect.top + rect.height);
            points_.push_back(ImVec2(x, y));
        }
        list->AddPolyline(points_.data(), static_cast<int>(points_.size()), selected ? kCurve : kCurveDim, 0, selected ? 1.5f : 1.0f);

        // Handles of the keys in view; ones closer than a few pixels to the last drawn are one handle.
        const auto begin = std::lower_bound(lane.keys.begin(), lane.keys.end(), firstRow - 1.0,
                                            [](const SyncKey& k, double r) { return k.row < r; });
        float lastX = -1e9f;
        const float size = selected ? 4.0f : 2.5f;
        for (auto it = begin; it != lane.keys.end() && it->row <= lastRow + 1.0; ++it) {
            const float x = layout.xOfRow(view_, it->row);
            const bool chosen = selected && model.selectedKey() == static_cast<std::size_t>(it - lane.keys.begin());
            if (x - lastX < 3.0f && !chosen) continue;
            lastX = x;
            const float y = std::clamp(yOfValue(rect, low, high, std::isfinite(it->value) ? it->value : 0.0f), rect.top + 2.0f,
                                       rect.top + rect.height - 2.0f);
            list->AddQuadFilled(ImVec2(x, y - size), ImVec2(x + size, y), ImVec2(x, y + size), ImVec2(x - size, y),
                                chosen ? kHandleSelected : kHandle);
        }
        list->PopClipRect();
    }
    list->PopClipRect();
}

std::optional<double> TimelinePanel::handlePointer(const TimelineLayout& layout, TimelineModel& model, const TimelineFrame& frame) {
    const ImGuiIO& io = ImGui::GetIO();
    const ImVec2 mouse = io.MousePos;
    // Another window over the panel (the inspector) takes the pointer there.
    const bool inside = mouse.x >= 0.0f && mouse.x < layout.right && mouse.y >= layout.top && mouse.y < layout.bottom &&
                        ImGui::IsWindowHovered();
    // A popup open over the panel takes the pointer.
    if (ImGui::IsPopupOpen(nullptr, ImGuiPopupFlags_AnyPopupId)) return std::nullopt;
    std::optional<double> seek;
    const auto rowUnder = [&] { return std::clamp(std::round(layout.rowOfX(view_, mouse.x)), 0.0, std::max(0.0, frame.lengthRows)); };

    if (inside && io.MouseWheel != 0.0f && mouse.x >= layout.left) {
        const double anchor = layout.rowOfX(view_, mouse.x);
        const double most = std::max(frame.lengthRows, 32.0) / std::max(1.0f, layout.right - layout.left) * 4.0;
        view_.rowsPerPixel = std::clamp(view_.rowsPerPixel * std::pow(0.8, static_cast<double>(io.MouseWheel)), 1.0 / 64.0, most);
        view_.firstRow = anchor - (mouse.x - layout.left) * view_.rowsPerPixel;
    }

    if ((io.MouseClicked[0] || doubleClick_) && inside) {
        if (mouse.y < layout.rulerBottom && mouse.x >= layout.left) {
            drag_ = Drag::Seek;
            lastSeekRow_ = static_cast<std::int32_t>(rowUnder());
            seek = lastSeekRow_;
        } else if (mouse.y >= layout.waveBottom) {
            // A handle of the selected lane, else the lane under the pointer.
            const std::size_t selected = model.selected();
            bool onHandle = false;
            if (selected < model.lanes().size() && mouse.x >= layout.left) {
                const Lane& lane = model.lanes()[selected];
                const LaneRect& rect = rects_[selected];
                float low = 0.0f;
                float high = 1.0f;
                valueRange(lane.keys, low, high);
                float best = kHandleReach;
                std::optional<std::size_t> found;
                for (std::size_t k = 0; k < lane.keys.size(); ++k) {
                    const float x = layout.xOfRow(view_, lane.keys[k].row);
                    if (std::abs(x - mouse.x) > best) continue;
                    const float y = std::clamp(yOfValue(rect, low, high, std::isfinite(lane.keys[k].value) ? lane.keys[k].value : 0.0f),
                                               rect.top + 2.0f, rect.top + rect.height - 2.0f);
                    if (std::abs(y - mouse.y) > kHandleReach) continue;
                    best = std::abs(x - mouse.x);
                    found = k;
                }
                if (found) {
                    onHandle = true;
                    model.selectKey(found);
                    if (doubleClick_) {
                        // The first press may have started a drag that never saw its release.
                        model.endDrag();
                        drag_ = Drag::None;
                        openEdit_ = true;
                        editKey_ = *found;
                        editValue_ = lane.keys[*found].value;
                        editRow_ = lane.keys[*found].row;
                    } else {
                        dragLow_ = low;
                        dragHigh_ = high;
                        model.beginDrag(*found);
                        if (model.dragging()) drag_ = Drag::Key;
                    }
                }
            }
            if (!onHandle) {
                for (std::size_t i = 0; i < rects_.size(); ++i) {
                    if (mouse.y >= rects_[i].top && mouse.y < rects_[i].top + rects_[i].height) {
                        model.select(i);
                        break;
                    }
                }
                drag_ = Drag::Scroll;
            }
        } else {
            drag_ = Drag::Scroll;
        }
    }

    if (io.MouseDown[0] && !openEdit_) {
        switch (drag_) {
        case Drag::Seek: {
            const auto row = static_cast<std::int32_t>(rowUnder());
            if (row != lastSeekRow_) {
                lastSeekRow_ = row;
                seek = row;
            }
            break;
        }
        case Drag::Scroll:
            view_.firstRow -= io.MouseDelta.x * view_.rowsPerPixel;
            laneScroll_ = std::max(0.0f, laneScroll_ - io.MouseDelta.y);
            break;
        case Drag::Key: {
            // Lanes replaced under the drag (a reload) end it.
            if (!model.dragging() || model.selected() >= rects_.size()) {
                drag_ = Drag::None;
                break;
            }
            // A click that does not move leaves the key where it is.
            if (!ImGui::IsMouseDragging(0)) break;
            double row = layout.rowOfX(view_, mouse.x);
            row = io.KeyShift ? std::round(row / kRowsPerBeat) * kRowsPerBeat : std::round(row);
            row = std::clamp(row, -2147483648.0, 2147483647.0);
            const LaneRect& rect = rects_[model.selected()];
            model.dragTo(static_cast<std::int32_t>(row), valueOfY(rect, dragLow_, dragHigh_, mouse.y));
            break;
        }
        case Drag::None: break;
        }
    } else {
        if (drag_ == Drag::Key) model.endDrag();
        drag_ = Drag::None;
    }
    return seek;
}

void TimelinePanel::editPopup(TimelineModel& model) {
    if (openEdit_) {
        ImGui::OpenPopup("key");
        openEdit_ = false;
    }
    typing_ = false;
    if (!ImGui::BeginPopup("key")) {
        editKeys_ = 0;
        return;
    }
    typing_ = true;
    if (ImGui::IsWindowAppearing()) ImGui::SetKeyboardFocusHere();
    // Typed text counts as it is typed; Enter applies, Escape leaves, Tab goes to the row.
    ImGui::InputFloat("value", &editValue_, 0.0f, 0.0f, "%g", ImGuiInputTextFlags_AutoSelectAll);
    if (editKeys_ & kEditTab) ImGui::SetKeyboardFocusHere();
    ImGui::InputInt("row", &editRow_, 0, 0, ImGuiInputTextFlags_AutoSelectAll);
    const bool apply = ImGui::Button("OK") || (editKeys_ & kEditEnter) != 0;
    ImGui::SameLine();
    const bool cancel = ImGui::Button("Cancel") || (editKeys_ & kEditEscape) != 0;
    editKeys_ = 0;
    if (apply) model.setKey(editKey_, editRow_, editValue_);
    if (apply || cancel) ImGui::CloseCurrentPopup();
    ImGui::EndPopup();
}

}  // namespace zyr::studio
