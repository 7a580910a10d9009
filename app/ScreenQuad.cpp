#include "ScreenQuad.h"

#include "EffectShader.h"

#include <GL/glew.h>

const char* const kScreenQuadVertexSource =
    "#version 460 core\n"
    "\n"
    "layout(location = 0) in vec2 position;\n"
    "\n"
    "out gl_PerVertex { vec4 gl_Position; };\n"
    "layout(location = 0) out vec2 vUv;\n"
    "\n"
    "void main()\n"
    "{\n"
    "\tgl_Position = vec4(position, 0.0, 1.0);\n"
    "\tvec2 t = position * 0.5 + vec2(0.5);\n"
    "\tvUv = vec2(t.x, 1.0 - t.y);\n"
    "}";

namespace {

bool quadCreated = false;
GLuint quadVertexBuffer = 0;
GLuint quadIndexBuffer = 0;
GLuint quadVertexArray = 0;
GLuint vertexProgram = 0;

// Corners in normalised device coordinates: top left, bottom left, bottom right, top right.
constexpr GLfloat kQuadVertices[8] = {-1.0f, 1.0f, -1.0f, -1.0f, 1.0f, -1.0f, 1.0f, 1.0f};
// Two counter-clockwise triangles sharing the top-left/bottom-right diagonal.
constexpr GLuint kQuadIndices[6] = {0, 1, 2, 0, 2, 3};

}  // namespace

bool screenQuadCreated() {
    if (!quadCreated) return false;
    // The names belong to the context that made them. In a later context they
    // name nothing, or another owner's objects: the sign is a pipeline (made
    // afresh there) whose vertex stage is not this quad's program.
    if (glIsProgramPipeline(programPipeline) == GL_FALSE || glIsVertexArray(quadVertexArray) == GL_FALSE) return false;
    GLint stage = 0;
    glGetProgramPipelineiv(programPipeline, GL_VERTEX_SHADER, &stage);
    return static_cast<GLuint>(stage) == vertexProgram;
}

void createScreenQuad() {
    quadCreated = true;

    GLuint buffers[2] = {0, 0};
    glCreateBuffers(2, buffers);
    quadVertexBuffer = buffers[0];
    quadIndexBuffer = buffers[1];
    glNamedBufferStorage(quadVertexBuffer, sizeof kQuadVertices, kQuadVertices, 0);
    glNamedBufferStorage(quadIndexBuffer, sizeof kQuadIndices, kQuadIndices, 0);

    glCreateVertexArrays(1, &quadVertexArray);
    glVertexArrayElementBuffer(quadVertexArray, quadIndexBuffer);
    glEnableVertexArrayAttrib(quadVertexArray, 0);
    glVertexArrayVertexBuffer(quadVertexArray, 0, quadVertexBuffer, 0, 2 * sizeof(GLfloat));
    glVertexArrayAttribBinding(quadVertexArray, 0, 0);
    glVertexArrayAttribFormat(quadVertexArray, 0, 2, GL_FLOAT, GL_FALSE, 0);

    vertexProgram = glCreateShaderProgramv(GL_VERTEX_SHADER, 1, &kScreenQuadVertexSource);
    glUseProgramStages(programPipeline, GL_VERTEX_SHADER_BIT, vertexProgram);
}

void drawScreenQuad() {
    glUseProgram(0);
    glBindProgramPipeline(programPipeline);
    glBindVertexArray(quadVertexArray);
    glDrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_INT, nullptr);
    glBindVertexArray(0);
    glBindProgramPipeline(0);
}
