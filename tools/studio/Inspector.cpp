#include "Inspector.h"

#include "EffectShader.h"
#include "FileWrite.h"
#include "ParameterWrite.h"
#include "TrackText.h"

#include <imgui.h>

#include <cmath>
#include <cstdio>
#include <optional>
#include <span>
#include <utility>

namespace zyr::studio {

Inspector::Inspector(EffectShader& shader, Source& source, ProblemBoard& problems)
    : shader_(shader), source_(source), problems_(problems) {}

bool Inspector::takeParameters(const std::string& text) {
    try {
        readParameterFile(text);
    } catch (const ParameterFileError& error) {
        problems_.set(Topic::Parameters, {parameterProblem(error, text)});
        return false;
    }
    parameters_ = text;
    apply();
    problems_.set(Topic::Parameters, {});
    return true;
}

void Inspector::programChanged(std::vector<ExportedUniform> exports) {
    exports_ = std::move(exports);
    apply();
}

void Inspector::apply() {
    std::string zeros;
    for (const auto& [name, binding] : shader_.imguiExports()) zeros += "[" + name + "]\n";
    try {
        shader_.applyParameters(zeros);
        shader_.applyParameters(parameters_);
    } catch (const ParameterFileError&) {
        // Checked when it was taken.
    }
    for (const auto& [name, values] : overrides_) applyOverride(name, values);
}

void Inspector::applyOverride(const std::string& name, const ValueSlot& values) {
    std::string text = "[" + name + "]\n";
    for (std::size_t c = 0; c < values.size(); ++c) text += "v" + std::to_string(c) + " = " + formatValue(values[c]) + "\n";
    try {
        shader_.applyParameters(text);
    } catch (const ParameterFileError&) {
        // Finite floats written by formatValue always read.
    }
}

bool Inspector::write(const std::string& name) {
    const auto override = overrides_.find(name);
    if (!source_.isFolder() || override == overrides_.end()) return false;
    std::uint32_t components = 4;
    for (const ExportedUniform& uniform : exports_)
        if (uniform.name == name) components = componentCount(uniform.type);
    std::string why;
    std::optional<std::string> text;
    try {
        // An unreadable file is not an empty one: nothing is written over it.
        const std::string old = source_.read(kParameterEntry).value_or(std::string());
        text = writeParameterTable(old, name, std::span<const float>(override->second.data(), components), why);
        if (text) replaceFile(source_.folder() / kParameterEntry, *text);
    } catch (const FileError& error) {
        text.reset();
        why = std::string(error.what()) + "; the override stays";
    }
    if (!text) {
        problems_.set(Topic::Parameters, {{kParameterEntry, why, {}, 0}});
        return false;
    }
    // What the studio wrote itself is no change to reload.
    source_.wrote(kParameterEntry, *text);
    parameters_ = *text;
    overrides_.erase(override);
    apply();
    problems_.set(Topic::Parameters, {});
    std::fprintf(stderr, "zyr-studio: fsshader.ini written\n");
    return true;
}

bool Inspector::writeAll() {
    std::vector<std::string> names;
    for (const auto& [name, values] : overrides_) names.push_back(name);
    for (const std::string& name : names) write(name);
    return overrides_.empty();
}

void Inspector::keyHere(const ExportedUniform& uniform, const ValueSlot& values, TimelineModel& model, double row) {
    static constexpr const char* kComponents[] = {".x", ".y", ".z", ".w"};
    const auto at = static_cast<std::int32_t>(std::floor(row));
    const std::vector<Lane>& lanes = model.lanes();
    for (std::uint32_t c = 0; c < componentCount(uniform.type); ++c)
        for (std::size_t i = 0; i < lanes.size(); ++i)
            if (!lanes[i].orphan && lanes[i].track == uniform.target + kComponents[c]) model.setValueAt(i, at, values[c]);
}

void Inspector::draw(const InspectorView& view, TimelineModel& model) {
    if (!shown_) return;
    ImGui::SetNextWindowPos(ImVec2(view.width - 6.0f, 6.0f), ImGuiCond_Always, ImVec2(1.0f, 0.0f));
    ImGui::SetNextWindowBgAlpha(0.85f);
    if (!ImGui::Begin("Uniforms", nullptr, ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_AlwaysAutoResize |
                                               ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoFocusOnAppearing)) {
        ImGui::End();
        return;
    }
    static constexpr const char* kTypes[] = {"float", "vec2", "vec3", "vec4"};
    static constexpr const char* kLabels[] = {"v0", "v1", "v2", "v3"};
    const auto& values = shader_.values();
    for (const ExportedUniform& uniform : exports_) {
        const std::uint32_t n = componentCount(uniform.type);
        const ExportKind kind = classifyKind(uniform.kind);
        ImGui::PushID(uniform.name.c_str());
        ImGui::Separator();
        ImGui::Text("%s  %s=%s  %s", uniform.name.c_str(), uniform.kind.c_str(), uniform.target.c_str(),
                    n >= 1 && n <= 4 ? kTypes[n - 1] : uniform.typeName.c_str());
        const auto slot = values.find(uniform.name);
        if (shader_.locations().count(uniform.name) == 0) {
            ImGui::TextDisabled("  removed by the compiler: drives nothing");
        } else if (kind == ExportKind::Internal) {
            if (uniform.target == "time") ImGui::Text("  playback seconds: %.3f", view.seconds);
            else if (uniform.target == "rows") ImGui::Text("  rows: %.3f", view.row);
            else if (uniform.target == "resolution") ImGui::Text("  framebuffer: %.0f x %.0f", view.resolution[0], view.resolution[1]);
            else ImGui::TextDisabled("  unknown internal target");
        } else if (slot != values.end() && n >= 1 && n <= 4 && kind == ExportKind::Imgui) {
            const auto override = overrides_.find(uniform.name);
            ValueSlot shown = override != overrides_.end() ? override->second : slot->second;
            ImGui::Text("  %s", override != overrides_.end() ? "overridden (fsshader.ini not written)" : "from fsshader.ini");
            bool changed = false;
            for (std::uint32_t c = 0; c < n; ++c) changed = ImGui::DragFloat(kLabels[c], &shown[c], 0.005f) || changed;
            if (changed) {
                overrides_[uniform.name] = shown;
                applyOverride(uniform.name, shown);
            }
            if (override != overrides_.end() || changed) {
                if (ImGui::Button("Write to fsshader.ini")) write(uniform.name);
                ImGui::SameLine();
                if (ImGui::Button("Revert")) {
                    overrides_.erase(uniform.name);
                    apply();
                }
            }
        } else if (slot != values.end() && n >= 1 && n <= 4 && kind == ExportKind::Rocket) {
            const ValueSlot& now = slot->second;
            ImGui::Text("  tracks %s.x.. now: %.4g %.4g %.4g %.4g", uniform.target.c_str(), now[0], n > 1 ? now[1] : 0.0f,
                        n > 2 ? now[2] : 0.0f, n > 3 ? now[3] : 0.0f);
            const auto chosen = keyValues_.find(uniform.name);
            ValueSlot shown = chosen != keyValues_.end() ? chosen->second : now;
            bool changed = false;
            for (std::uint32_t c = 0; c < n; ++c) changed = ImGui::DragFloat(kLabels[c], &shown[c], 0.005f) || changed;
            if (changed) keyValues_[uniform.name] = shown;
            if (ImGui::Button("Key here")) {
                keyHere(uniform, shown, model, view.row);
                keyValues_.erase(uniform.name);
            }
        }
        ImGui::PopID();
    }
    ImGui::End();
}

}  // namespace zyr::studio
