// EffectShader: the presentation's fragment stage and the values of its exports.
//
// Use (once per frame, after the sync store evaluated its bindings):
//     EffectShader shader(archive, "fs.glsl");       // GL context current
//     if (shader.update(store, soundtrack, resolution)) {   // true: a build was tried
//         ... read "fsshader.ini" and shader.applyParameters(text);
//     }
//
// The first update that finds the source builds a separable fragment program,
// records the exports found by scanExports (binding rocket exports to the sync
// store) and attaches the program to programPipeline. Every update uploads every
// export: rocket and imgui values from their value slots, internal "time",
// "rows" and "resolution" from the soundtrack and the framebuffer size.
//
// Ownership: the shader owns its tables and the value slots; a slot keeps its
// address for the shader's whole life, because the sync store writes through it.
// Destroy the shader after the store. GL objects are not deleted: they end with
// the context. The archive is borrowed.
//
// Authoring tools build again from text they hand over (the player never does):
//     std::string log;
//     if (shader.rebuild(store, text, log)) ... apply the parameters again;
// A program that links replaces the current one (exports recorded and tracks
// bound again); one that does not is deleted and the current program stays in
// use. log is the driver's info log of the new program either way.
//
// Failure: nothing is reported for a missing source, a shader that does not
// compile, or exports the program does not keep. A program that does not link is
// kept (it is not built again) but drives no uniform and is no pipeline stage;
// an export whose value its uniform cannot take is not sent. applyParameters
// throws ParameterFileError for text that readParameterFile refuses (not valid
// TOML, nested deeper than 64 levels, non-ASCII characters where TOML allows
// none), before writing anything. The per-frame path allocates nothing.
#pragma once

#include "ExportScan.h"
#include "ParameterFile.h"

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class ResourceArchive;
class Soundtrack;
class SyncTrackStore;

// The one program pipeline of the process; 0 until the first EffectShader.
extern std::uint32_t programPipeline;

struct ExportBinding {
    std::string target;
    UniformType type = UniformType::Other;
};

class EffectShader {
public:
    EffectShader(ResourceArchive& archive, std::string fileName);
    ~EffectShader() = default;

    EffectShader(const EffectShader&) = delete;
    EffectShader& operator=(const EffectShader&) = delete;

    // resolution: framebuffer width and height in pixels.
    bool update(SyncTrackStore& syncStore, const Soundtrack& soundtrack, const float* resolution);
    void applyParameters(std::string_view text);
    // Builds source as the program; true when it linked and is now in use.
    bool rebuild(SyncTrackStore& syncStore, const std::string& source, std::string& log);

    std::uint32_t program() const { return program_; }
    const std::unordered_map<std::string, std::int32_t>& locations() const { return locations_; }
    const std::unordered_map<std::string, ExportBinding>& rocketExports() const { return rocketExports_; }
    const std::unordered_map<std::string, ExportBinding>& imguiExports() const { return imguiExports_; }
    const std::unordered_map<std::string, ExportBinding>& internalExports() const { return internalExports_; }
    const std::unordered_map<std::string, ValueSlot>& values() const { return values_; }

private:
    // One call of a frame's upload, settled when the program is built: every call
    // a frame makes is then known to be valid for the uniform it addresses (the
    // context has no error checking), and a frame looks nothing up by name.
    enum class UploadSource : std::uint8_t { Slot, Time, Rows, Resolution };
    struct Upload {
        std::int32_t location;
        std::uint32_t components;
        UploadSource source;
        const float* slot;  // the value slot, for UploadSource::Slot
    };

    void recordExports(SyncTrackStore& syncStore, const std::string& text);

    ResourceArchive& archive_;
    std::string fileName_;
    std::uint32_t program_ = 0;
    std::unordered_map<std::string, std::int32_t> locations_;
    std::unordered_map<std::string, ExportBinding> rocketExports_;
    std::unordered_map<std::string, ExportBinding> imguiExports_;
    // Node-based: a slot never moves once created.
    std::unordered_map<std::string, ValueSlot> values_;
    std::unordered_map<std::string, ExportBinding> internalExports_;
    std::vector<Upload> uploads_;
};
