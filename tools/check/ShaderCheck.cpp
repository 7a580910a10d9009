#include "CheckSteps.h"
#include "CompileLog.h"

#include <GL/glew.h>

#include <string>

namespace {

std::string shaderLog(GLuint shader) {
    GLint length = 0;
    glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
    if (length <= 0) return {};
    std::string log(static_cast<std::size_t>(length), '\0');
    GLsizei written = 0;
    glGetShaderInfoLog(shader, length, &written, log.data());
    log.resize(static_cast<std::size_t>(written < 0 ? 0 : written));
    return log;
}

std::string programLog(GLuint program) {
    GLint length = 0;
    glGetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
    if (length <= 0) return {};
    std::string log(static_cast<std::size_t>(length), '\0');
    GLsizei written = 0;
    glGetProgramInfoLog(program, length, &written, log.data());
    log.resize(static_cast<std::size_t>(written < 0 ? 0 : written));
    return log;
}

std::string where(const LogEntry& entry) {
    if (entry.fileLine > 0) {
        std::string at = "fs.glsl:" + std::to_string(entry.fileLine);
        if (entry.column > 0) at += ":" + std::to_string(entry.column);
        return at;
    }
    if (entry.line > 0) return "fs.glsl (compiler line " + std::to_string(entry.line) + ")";
    return "fs.glsl";
}

// One finding per offending line: compilers follow a mistake with errors it
// caused on the same line, which the log keeps and the findings fold into the
// first. A failed step whose log names no error still gets one, so a failure
// is never silent.
void addLogFindings(const std::vector<LogEntry>& log, bool succeeded, const char* step, CheckReport& report) {
    bool anyError = false;
    const LogEntry* previous = nullptr;
    for (const LogEntry& entry : log) {
        if (entry.severity.empty()) continue;
        const bool error = entry.severity == "error";
        anyError = anyError || error;
        if (previous && previous->severity == entry.severity && entry.line > 0 && previous->line == entry.line) {
            report.findings.back().message += "; " + entry.message;
            continue;
        }
        previous = &entry;
        if (error) report.add(Severity::Error, std::string("shader.") + step, where(entry), entry.message);
        else report.add(Severity::Warning, std::string("shader.") + step + "-warning", where(entry), entry.message);
    }
    if (!succeeded && !anyError) {
        std::string message = std::string(step) + " failed";
        for (const LogEntry& entry : log) {
            message += ": " + entry.text;
            break;
        }
        if (log.empty()) message += " with an empty log";
        report.add(Severity::Error, std::string("shader.") + step, "fs.glsl", message);
    }
}

}  // namespace

ShaderBuild buildShader(const std::string& text, const std::vector<std::string>& names, CheckReport& report) {
    ShaderBuild build;
    ShaderReport& shader = report.shader;
    if (const GLubyte* renderer = glGetString(GL_RENDERER)) shader.renderer = reinterpret_cast<const char*>(renderer);

    const SourceLines lines(text);

    // The sequence glCreateShaderProgramv stands for, spelt out so that the
    // compile log and the link log can be told apart. The text goes in as one
    // NUL-terminated string, as the player hands it over.
    const char* source = text.c_str();
    const GLuint object = glCreateShader(GL_FRAGMENT_SHADER);
    glShaderSource(object, 1, &source, nullptr);
    glCompileShader(object);
    GLint compiled = GL_FALSE;
    glGetShaderiv(object, GL_COMPILE_STATUS, &compiled);
    shader.compiled = compiled == GL_TRUE;
    shader.compileLog = parseInfoLog(shaderLog(object), lines);
    addLogFindings(shader.compileLog, shader.compiled, "compile", report);

    if (shader.compiled) {
        const GLuint program = glCreateProgram();
        glProgramParameteri(program, GL_PROGRAM_SEPARABLE, GL_TRUE);
        glAttachShader(program, object);
        glLinkProgram(program);
        glDetachShader(program, object);
        GLint linked = GL_FALSE;
        glGetProgramiv(program, GL_LINK_STATUS, &linked);
        shader.linked = linked == GL_TRUE;
        shader.linkLog = parseInfoLog(programLog(program), lines);
        addLogFindings(shader.linkLog, shader.linked, "link", report);

        // The context has no error checking: resource queries are only valid on
        // a linked program.
        if (shader.linked) {
            build.linked = true;
            for (const std::string& name : names) {
                const GLuint index = glGetProgramResourceIndex(program, GL_UNIFORM, name.c_str());
                if (index == GL_INVALID_INDEX) continue;
                UniformInfo info;
                info.active = true;
                info.location = glGetUniformLocation(program, name.c_str());
                const GLenum property = GL_TYPE;
                GLint type = 0;
                glGetProgramResourceiv(program, GL_UNIFORM, index, 1, &property, 1, nullptr, &type);
                info.glType = static_cast<std::uint32_t>(type);
                build.uniforms[name] = info;
            }
        }
        glDeleteProgram(program);
    }
    glDeleteShader(object);
    return build;
}
