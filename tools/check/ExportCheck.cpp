#include "CheckSteps.h"

#include "EffectShader.h"
#include "ResourceArchive.h"
#include "SyncTrack.h"

#include <GL/glew.h>

#include <array>
#include <cstdio>

namespace {

constexpr std::array<const char*, 4> kSuffixes{".x", ".y", ".z", ".w"};
const std::vector<std::string> kKinds{"rocket", "imgui", "internal"};
const std::vector<std::string> kInternalTargets{"time", "rows", "resolution"};

// The player sends a value only to a uniform that a glProgramUniform{n}fv call
// of that size may set: floats, or booleans of the same size.
bool takesFloats(std::uint32_t glType, std::uint32_t components) {
    switch (components) {
    case 1: return glType == GL_FLOAT || glType == GL_BOOL;
    case 2: return glType == GL_FLOAT_VEC2 || glType == GL_BOOL_VEC2;
    case 3: return glType == GL_FLOAT_VEC3 || glType == GL_BOOL_VEC3;
    case 4: return glType == GL_FLOAT_VEC4 || glType == GL_BOOL_VEC4;
    default: return false;
    }
}

std::string glTypeName(std::uint32_t glType) {
    switch (glType) {
    case GL_FLOAT: return "float";
    case GL_FLOAT_VEC2: return "vec2";
    case GL_FLOAT_VEC3: return "vec3";
    case GL_FLOAT_VEC4: return "vec4";
    case GL_INT: return "int";
    case GL_INT_VEC2: return "ivec2";
    case GL_INT_VEC3: return "ivec3";
    case GL_INT_VEC4: return "ivec4";
    case GL_UNSIGNED_INT: return "uint";
    case GL_BOOL: return "bool";
    case GL_BOOL_VEC2: return "bvec2";
    case GL_BOOL_VEC3: return "bvec3";
    case GL_BOOL_VEC4: return "bvec4";
    case GL_DOUBLE: return "double";
    case GL_FLOAT_MAT2: return "mat2";
    case GL_FLOAT_MAT3: return "mat3";
    case GL_FLOAT_MAT4: return "mat4";
    case GL_SAMPLER_2D: return "sampler2D";
    default: break;
    }
    char text[32];
    std::snprintf(text, sizeof text, "GL type 0x%04X", glType);
    return text;
}

// Components the player sends for an internal target; 0 for a target it ignores.
std::uint32_t internalComponents(const std::string& target) {
    if (target == "time" || target == "rows") return 1;
    if (target == "resolution") return 2;
    return 0;
}

std::string describeInternal(const std::string& target) {
    if (target == "time") return "playback seconds";
    if (target == "rows") return "playback row";
    return "framebuffer size";
}

// Stands in a row's drivenBy until finishExports knows the parameter file.
constexpr std::string_view kParametersPending = "<fsshader.ini>";

std::string exportWhere(const ExportedUniform& e) { return "export " + e.name; }

// What the player's tables hold for one uniform name after recording.
struct Recorded {
    std::optional<ExportBinding> rocket;
    std::optional<ExportBinding> imgui;
    std::optional<ExportBinding> internal;
    std::vector<const RocketBinding*> bindings;  // bindings that write this uniform's slot
};

std::string joinTracks(const RocketBinding& binding) {
    std::string out;
    for (std::uint32_t i = 0; i < binding.count; ++i) {
        if (i > 0) out += ", ";
        out += binding.target + kSuffixes[i];
    }
    return out;
}

}  // namespace

std::vector<TrackReference> trackReferences(const std::string& target, std::uint32_t count) {
    std::vector<TrackReference> tracks;
    for (std::uint32_t i = 0; i < count && i < kSuffixes.size(); ++i) {
        TrackReference ref;
        ref.track = target + kSuffixes[i];
        // The same base name and escaping as the sync store's device; the
        // result buffer is process-wide, so it is copied at once.
        const std::string base = encodeTrackName("sync");
        ref.entry = trackFilePath(base.c_str(), ref.track.c_str());
        tracks.push_back(std::move(ref));
    }
    return tracks;
}

ExportFacts checkExports(const std::vector<ExportedUniform>& exports, const ShaderBuild* build,
                         ResourceArchive& archive, CheckReport& report) {
    ExportFacts facts;
    facts.programKnown = build != nullptr && build->linked;

    const auto activity = [&](const std::string& name) {
        if (!facts.programKnown) return Activity::Unknown;
        return build->uniforms.contains(name) ? Activity::Active : Activity::Inactive;
    };

    // Replay the player's recording: scan order, active exports only, rocket
    // targets bound first come first served.
    std::map<std::string, Recorded> recorded;
    std::map<std::string, std::string> targetOwner;
    std::map<std::string, int> seen;

    // How often each uniform is annotated, and whether always alike.
    struct Annotations {
        int total = 0;
        bool alike = true;
        const ExportedUniform* first = nullptr;
    };
    std::map<std::string, Annotations> annotations;
    for (const ExportedUniform& e : exports) {
        Annotations& a = annotations[e.name];
        if (a.first) {
            a.alike = a.alike && a.first->kind == e.kind && a.first->target == e.target &&
                      a.first->typeName == e.typeName;
        } else {
            a.first = &e;
        }
        ++a.total;
    }

    for (const ExportedUniform& e : exports) {
        const ExportKind kind = classifyKind(e.kind);
        facts.kindOf.emplace(e.name, e.kind);
        const Activity active = activity(e.name);
        const int occurrence = ++seen[e.name];

        // Problems of the annotation itself, whatever the program keeps.
        if (kind == ExportKind::Other) {
            report.add(Severity::Error, "export.unknown-kind", exportWhere(e),
                       "kind \"" + e.kind + "\" is not rocket, imgui or internal: nothing sets this uniform" +
                           suggestion(e.kind, kKinds));
        } else if (kind == ExportKind::Internal) {
            const std::uint32_t wanted = internalComponents(e.target);
            if (wanted == 0) {
                report.add(Severity::Error, "export.internal-target", exportWhere(e),
                           "internal target \"" + e.target +
                               "\" is not time, rows or resolution: nothing sets this uniform" +
                               suggestion(e.target, kInternalTargets));
            } else if (componentCount(e.type) != wanted) {
                report.add(Severity::Error, "export.internal-type", exportWhere(e),
                           "internal " + e.target + " is declared " + e.typeName + "; it is sent as " +
                               (wanted == 1 ? "one float" : "a vec2") + ", so it must be declared " +
                               (wanted == 1 ? "float" : "vec2"));
            }
        } else if (e.type == UniformType::Other) {
            report.add(Severity::Error, "export.type", exportWhere(e),
                       "type " + e.typeName + " is never uploaded (only float, vec2, vec3 and vec4 are)");
        }

        if (occurrence == 1 && active == Activity::Inactive) {
            report.add(Severity::Warning, "export.inactive", exportWhere(e),
                       "not active in the program (unused, or in a branch the compiler skips): nothing sets it");
        }
        if (occurrence == 2 && active != Activity::Inactive) {
            const int total = annotations.at(e.name).total;
            if (annotations.at(e.name).alike) {
                report.add(Severity::Warning, "export.duplicate", exportWhere(e),
                           "annotated " + std::to_string(total) + " times with the same export");
            } else {
                report.add(Severity::Error, "export.duplicate", exportWhere(e),
                           "annotated " + std::to_string(total) +
                               " times with different exports: the player records each of them, so which "
                               "one sets the uniform depends on its tables");
            }
        }

        // Without a program the author's intent stands in for what the player
        // would record, so tracks and parameters are still checked against it.
        if (active == Activity::Inactive) continue;
        Recorded& r = recorded[e.name];
        switch (kind) {
        case ExportKind::Rocket: {
            r.rocket = ExportBinding{e.target, e.type};
            auto [owner, fresh] = targetOwner.emplace(e.target, e.name);
            if (fresh) {
                facts.bindings.push_back(RocketBinding{e.target, componentCount(e.type), e.name});
            } else if (owner->second != e.name) {
                report.add(Severity::Error, "export.shared-target", exportWhere(e),
                           "target \"" + e.target + "\" is already bound to " + owner->second +
                               ": this uniform gets no track values and stays 0.0");
            }
            break;
        }
        case ExportKind::Imgui: r.imgui = ExportBinding{e.target, e.type}; break;
        case ExportKind::Internal: r.internal = ExportBinding{e.target, e.type}; break;
        case ExportKind::Other: break;
        }

        if (active != Activity::Active) continue;
        // The declared type and the program's type of the uniform disagree when
        // the annotation stands before a declaration the compiler did not keep.
        const UniformInfo& info = build->uniforms.at(e.name);
        std::uint32_t components = 0;
        if (kind == ExportKind::Rocket || kind == ExportKind::Imgui) components = componentCount(e.type);
        if (kind == ExportKind::Internal && internalComponents(e.target) == componentCount(e.type))
            components = componentCount(e.type);
        if (components > 0 && !takesFloats(info.glType, components)) {
            report.add(Severity::Error, "export.gl-type", exportWhere(e),
                       "declared " + e.typeName + " here, but the program's " + e.name + " is a " +
                           glTypeName(info.glType) + ": it is never uploaded");
        }
    }
    // Taken only now that facts.bindings no longer grows.
    for (const RocketBinding& binding : facts.bindings) recorded[binding.uniform].bindings.push_back(&binding);

    // The rows of the report, one per annotation.
    for (const ExportedUniform& e : exports) {
        ExportReport row;
        row.name = e.name;
        row.kind = e.kind;
        row.target = e.target;
        row.typeName = e.typeName;
        row.type = static_cast<int>(e.type);
        row.activity = activity(e.name);
        if (classifyKind(e.kind) == ExportKind::Rocket) {
            row.tracks = trackReferences(e.target, componentCount(e.type));
            for (TrackReference& ref : row.tracks) {
                ArchiveFile* file = archive.openFile(ref.entry);
                ref.exists = file != nullptr;
                archive.closeFile(file);
            }
        }

        if (row.activity == Activity::Unknown) {
            if (recorded.at(e.name).imgui) facts.imguiActive.insert(e.name);
            row.drivenBy = report.shader.contextAvailable ? "nothing: the program did not build"
                                                          : "unknown: no OpenGL context";
        } else if (row.activity == Activity::Inactive) {
            row.drivenBy = "nothing: not active in the program";
            if (classifyKind(e.kind) == ExportKind::Imgui) facts.imguiInactive.insert(e.name);
        } else {
            const Recorded& r = recorded.at(e.name);
            const UniformInfo& info = build->uniforms.at(e.name);
            std::vector<std::string> drivers;
            if (r.rocket || r.imgui) {
                const ExportBinding& binding = r.rocket ? *r.rocket : *r.imgui;
                const std::uint32_t components = componentCount(binding.type);
                if (binding.type == UniformType::Other) {
                    drivers.push_back("nothing: type " + e.typeName + " is never uploaded");
                } else if (info.location == -1 || !takesFloats(info.glType, components)) {
                    drivers.push_back("nothing: the program's uniform is a " + glTypeName(info.glType));
                } else if (r.rocket && !r.bindings.empty()) {
                    for (const RocketBinding* b : r.bindings)
                        drivers.push_back(b->count > 0 ? "tracks " + joinTracks(*b) : "no tracks");
                } else if (r.imgui) {
                    drivers.emplace_back(kParametersPending);
                } else {
                    drivers.push_back("nothing: 0.0, its target is bound to " + targetOwner.at(r.rocket->target));
                }
            }
            if (r.internal) {
                const std::uint32_t wanted = internalComponents(r.internal->target);
                if (wanted == 0) drivers.push_back("nothing: unknown internal target");
                else if (info.location == -1 || !takesFloats(info.glType, wanted))
                    drivers.push_back("nothing: a " + glTypeName(info.glType) + " cannot take the " +
                                      describeInternal(r.internal->target));
                else drivers.push_back(describeInternal(r.internal->target));
            }
            if (drivers.empty()) drivers.push_back("nothing: unknown kind");
            for (std::size_t i = 0; i < drivers.size(); ++i) row.drivenBy += (i > 0 ? "; " : "") + drivers[i];
            if (r.imgui) facts.imguiActive.insert(e.name);
        }
        report.exports.push_back(std::move(row));
    }
    return facts;
}

void finishExports(const ExportFacts& facts, CheckReport& report) {
    for (ExportReport& row : report.exports) {
        if (!facts.imguiActive.contains(row.name)) continue;
        const std::size_t at = row.drivenBy.find(kParametersPending);
        if (at == std::string::npos) continue;
        bool hasSection = false;
        for (const ParameterSection& section : report.parameters.sections)
            hasSection = hasSection || (section.key == row.name && section.selects);
        const std::string text = hasSection ? "fsshader.ini [" + row.name + "]"
                                            : "nothing: 0.0, no [" + row.name + "] in fsshader.ini";
        row.drivenBy.replace(at, kParametersPending.size(), text);
    }
}
