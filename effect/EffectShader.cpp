#include "EffectShader.h"

#include "ResourceArchive.h"
#include "Soundtrack.h"
#include "SyncTrackStore.h"

#include <GL/glew.h>

#include <type_traits>
#include <utility>

static_assert(std::is_same_v<std::uint32_t, GLuint>, "programPipeline is handed to GL by address");

std::uint32_t programPipeline = 0;

namespace {

// Whether glProgramUniform{n}fv may set a uniform of this GL type. Float calls
// also set booleans of the same size; anything else would be an invalid call.
bool takesFloats(GLenum glType, std::uint32_t components) {
    switch (components) {
    case 1: return glType == GL_FLOAT || glType == GL_BOOL;
    case 2: return glType == GL_FLOAT_VEC2 || glType == GL_BOOL_VEC2;
    case 3: return glType == GL_FLOAT_VEC3 || glType == GL_BOOL_VEC3;
    case 4: return glType == GL_FLOAT_VEC4 || glType == GL_BOOL_VEC4;
    default: return false;
    }
}

bool linked(GLuint program) {
    GLint status = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &status);
    return status == GL_TRUE;
}

}  // namespace

EffectShader::EffectShader(ResourceArchive& archive, std::string fileName)
    : archive_(archive), fileName_(std::move(fileName)) {
    // A name left over from a context that has since been destroyed names nothing
    // in this one; handing it to GL later would be an invalid call.
    if (programPipeline == 0 || glIsProgramPipeline(programPipeline) == GL_FALSE) {
        glCreateProgramPipelines(1, &programPipeline);
    }
}

bool EffectShader::update(SyncTrackStore& syncStore, const Soundtrack& soundtrack, const float* resolution) {
    const bool building = program_ == 0;
    if (building) {
        if (ArchiveFile* file = archive_.openFile(fileName_)) {
            const std::string text = archive_.readText(file);
            archive_.closeFile(file);

            const char* source = text.c_str();
            program_ = glCreateShaderProgramv(GL_FRAGMENT_SHADER, 1, &source);
            recordExports(syncStore, text);
            // A program that failed to link cannot be a pipeline stage; it stays the
            // shader's program all the same, so the source is compiled only once.
            if (program_ != 0 && linked(program_)) {
                glUseProgramStages(programPipeline, GL_FRAGMENT_SHADER_BIT, program_);
            }
        }
    }

    for (const Upload& upload : uploads_) {
        switch (upload.source) {
        case UploadSource::Slot:
            switch (upload.components) {
            case 1: glProgramUniform1fv(program_, upload.location, 1, upload.slot); break;
            case 2: glProgramUniform2fv(program_, upload.location, 1, upload.slot); break;
            case 3: glProgramUniform3fv(program_, upload.location, 1, upload.slot); break;
            case 4: glProgramUniform4fv(program_, upload.location, 1, upload.slot); break;
            default: break;
            }
            break;
        case UploadSource::Time:
            glProgramUniform1f(program_, upload.location, static_cast<float>(soundtrack.playbackSeconds()));
            break;
        case UploadSource::Rows:
            glProgramUniform1f(program_, upload.location, static_cast<float>(soundtrack.playbackRow()));
            break;
        case UploadSource::Resolution:
            if (resolution) glProgramUniform2fv(program_, upload.location, 1, resolution);
            break;
        }
    }
    return building;
}

void EffectShader::recordExports(SyncTrackStore& syncStore, const std::string& text) {
    locations_.clear();
    rocketExports_.clear();
    imguiExports_.clear();
    internalExports_.clear();
    uploads_.clear();

    // Without a linked program every query below would be an invalid call, and
    // there is no uniform to record anyway.
    if (program_ == 0 || !linked(program_)) return;

    // GL type of every recorded uniform, to keep the upload calls valid.
    std::unordered_map<std::string, GLenum> glTypes;

    for (const ExportedUniform& e : scanExports(text)) {
        const GLuint index = glGetProgramResourceIndex(program_, GL_UNIFORM, e.name.c_str());
        if (index == GL_INVALID_INDEX) continue;

        locations_[e.name] = glGetUniformLocation(program_, e.name.c_str());
        const GLenum property = GL_TYPE;
        GLint glType = 0;
        glGetProgramResourceiv(program_, GL_UNIFORM, index, 1, &property, 1, nullptr, &glType);
        glTypes[e.name] = static_cast<GLenum>(glType);

        switch (classifyKind(e.kind)) {
        case ExportKind::Rocket: {
            rocketExports_[e.name] = ExportBinding{e.target, e.type};
            ValueSlot& slot = values_[e.name];
            slot.fill(0.0f);
            syncStore.bindUniform(e.target, slot.data(), componentCount(e.type));
            break;
        }
        case ExportKind::Imgui:
            imguiExports_[e.name] = ExportBinding{e.target, e.type};
            values_[e.name].fill(0.0f);
            break;
        case ExportKind::Internal:
            internalExports_[e.name] = ExportBinding{e.target, e.type};
            break;
        case ExportKind::Other:
            break;
        }
    }

    // Slot uploads come first, then the system values, as a frame always sends them.
    for (const auto& [name, slot] : values_) {
        auto binding = rocketExports_.find(name);
        if (binding == rocketExports_.end()) {
            binding = imguiExports_.find(name);
            if (binding == imguiExports_.end()) continue;
        }
        const std::uint32_t components = componentCount(binding->second.type);
        const std::int32_t location = locations_.at(name);
        // Location -1 (a member of an unnamed block) takes no value; a type the
        // call does not fit would make the call invalid.
        if (location == -1 || !takesFloats(glTypes.at(name), components)) continue;
        uploads_.push_back(Upload{location, components, UploadSource::Slot, slot.data()});
    }
    for (const auto& [name, binding] : internalExports_) {
        const std::int32_t location = locations_.at(name);
        if (location == -1) continue;
        const GLenum glType = glTypes.at(name);
        if (binding.target == "time" && takesFloats(glType, 1)) {
            uploads_.push_back(Upload{location, 1, UploadSource::Time, nullptr});
        } else if (binding.target == "rows" && takesFloats(glType, 1)) {
            uploads_.push_back(Upload{location, 1, UploadSource::Rows, nullptr});
        } else if (binding.target == "resolution" && takesFloats(glType, 2)) {
            uploads_.push_back(Upload{location, 2, UploadSource::Resolution, nullptr});
        }
    }
}

bool EffectShader::rebuild(SyncTrackStore& syncStore, const std::string& source, std::string& log) {
    const char* text = source.c_str();
    const GLuint fresh = glCreateShaderProgramv(GL_FRAGMENT_SHADER, 1, &text);
    log.clear();
    if (fresh != 0) {
        GLint length = 0;
        glGetProgramiv(fresh, GL_INFO_LOG_LENGTH, &length);
        if (length > 0) {
            log.resize(static_cast<std::size_t>(length));
            GLsizei written = 0;
            glGetProgramInfoLog(fresh, length, &written, log.data());
            log.resize(static_cast<std::size_t>(written < 0 ? 0 : written));
        }
    }
    if (fresh == 0 || !linked(fresh)) {
        if (fresh != 0) glDeleteProgram(fresh);
        return false;
    }

    const GLuint previous = program_;
    program_ = fresh;
    // The tracks the old program followed may not be the new one's.
    syncStore.unbindAll();
    recordExports(syncStore, source);
    glUseProgramStages(programPipeline, GL_FRAGMENT_SHADER_BIT, program_);
    if (previous != 0) glDeleteProgram(previous);
    return true;
}
