// Inspector: the uniform inspector (every export of the program in use, what
// drives it and its value this frame), and the parameters it sits over: the
// last fsshader.ini that read well, with the author's live overrides of imgui
// exports on top until they are written into the file or reverted.
//
// Use:
//     Inspector inspector(stage.shader(), source, problems);
//     inspector.takeParameters(text);            // fsshader.ini read (start, reload)
//     inspector.programChanged(exports);         // a new program: its parameters applied
//     inside the draw of a frame: inspector.apply();   (the shader's first build)
//     inside the overlays' frame: inspector.draw(view, model);
//     if (inspector.overrides()) ... ask before quitting; inspector.writeAll();
//
// A table taken out of the file leaves its export at 0.0, as in a fresh start.
// "Write to fsshader.ini" changes only that table's component lines (see
// ParameterWrite.h), written whole or not at all; "Key here" keys a rocket
// export's values into its lanes at the playhead (one undo step per lane).
//
// Ownership: owns the overrides and the parameter text; borrows the shader,
// the source and the board, which must outlive it.
//
// Failure: a file that does not read as TOML, or cannot be read or written,
// goes on the board and changes nothing; the override stays.
#pragma once

#include "ExportScan.h"
#include "ParameterFile.h"
#include "Problems.h"
#include "StudioSource.h"
#include "Timeline.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class EffectShader;

namespace zyr::studio {

// What the inspector shows beside the shader's values.
struct InspectorView {
    float width = 0.0f;           // the window's, to stand at its right edge
    double seconds = 0.0;         // the music's
    double row = 0.0;
    const float* resolution = nullptr;
};

class Inspector {
public:
    Inspector(EffectShader& shader, Source& source, ProblemBoard& problems);

    bool shown() const { return shown_; }
    void toggle() { shown_ = !shown_; }

    // True when text reads as a parameter file; it is then applied.
    bool takeParameters(const std::string& text);
    void programChanged(std::vector<ExportedUniform> exports);
    // The file's values, then the overrides, into the shader.
    void apply();

    std::size_t overrides() const { return overrides_.size(); }
    // Every override into fsshader.ini; true when none is left.
    bool writeAll();

    void draw(const InspectorView& view, TimelineModel& model);

private:
    void applyOverride(const std::string& name, const ValueSlot& values);
    bool write(const std::string& name);
    void keyHere(const ExportedUniform& uniform, const ValueSlot& values, TimelineModel& model, double row);

    EffectShader& shader_;
    Source& source_;
    ProblemBoard& problems_;
    bool shown_ = false;
    std::vector<ExportedUniform> exports_;
    std::string parameters_;                      // the last parameter text that read well
    std::map<std::string, ValueSlot> overrides_;   // imgui exports, by name: over fsshader.ini
    std::map<std::string, ValueSlot> keyValues_;   // rocket exports, by name: what "Key here" keys
};

}  // namespace zyr::studio
