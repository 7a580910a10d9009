#include "EffectShader.h"
#include "PrivateDisplay.h"
#include "RenderWindow.h"
#include "ScreenQuad.h"

#include <GL/glew.h>
#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr const char* kUvColour =
    "#version 460 core\n"
    "layout(location = 0) in vec2 vUv;\n"
    "layout(location = 0) out vec4 colour;\n"
    "void main() { colour = vec4(vUv, 0.0, 1.0); }\n";

// Its names belong to the context that made them. A second context later in
// the same process (tools and tests open several in turn) must get a quad of
// its own, even when names equal to the old ones already exist there.
TEST(ScreenQuad, CoversTheFramebufferWithUvFromTopLeftToBottomRightInEachContext) {
    constexpr int w = 301, h = 123;  // odd sizes catch half-pixel and aspect slips
    for (int context = 0; context < 2; ++context) {
        SCOPED_TRACE(context);
        auto window = createWindow({w, h, false, "quad"});
        if (context == 1) {
            // Names the first context's quad also had, now naming other objects.
            GLuint taken[2] = {0, 0};
            glCreateVertexArrays(2, taken);
            glCreateBuffers(2, taken);
        }
        glCreateProgramPipelines(1, &programPipeline);
        const GLuint fragment = glCreateShaderProgramv(GL_FRAGMENT_SHADER, 1, &kUvColour);
        glUseProgramStages(programPipeline, GL_FRAGMENT_SHADER_BIT, fragment);

        ASSERT_FALSE(screenQuadCreated());
        createScreenQuad();
        ASSERT_TRUE(screenQuadCreated());

        GLint linked = 0;
        glGetProgramiv(fragment, GL_LINK_STATUS, &linked);
        ASSERT_TRUE(linked);

        // Blue marks any pixel the quad missed.
        glClearColor(0.0f, 0.0f, 1.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        drawScreenQuad();

        GLint vertexArray = -1, pipeline = -1;
        glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &vertexArray);
        glGetIntegerv(GL_PROGRAM_PIPELINE_BINDING, &pipeline);
        EXPECT_EQ(vertexArray, 0) << "vertex array left bound";
        EXPECT_EQ(pipeline, 0) << "pipeline left bound";

        std::vector<unsigned char> pixels(static_cast<std::size_t>(w) * h * 4);
        glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
        // GL rows run bottom-up: row h-1 is the top of the window.
        auto at = [&](int x, int yFromTop, int channel) {
            return pixels[(static_cast<std::size_t>(h - 1 - yFromTop) * w + x) * 4 + channel];
        };
        int missed = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) missed += at(x, y, 2) != 0;
        EXPECT_EQ(missed, 0);

        EXPECT_LE(at(0, 0, 0), 2);
        EXPECT_LE(at(0, 0, 1), 3);
        EXPECT_GE(at(w - 1, h - 1, 0), 253);
        EXPECT_GE(at(w - 1, h - 1, 1), 252);
        // u grows to the right, v downwards.
        EXPECT_GE(at(w - 1, 0, 0), 253);
        EXPECT_LE(at(w - 1, 0, 1), 3);
        EXPECT_LE(at(0, h - 1, 0), 2);
        EXPECT_GE(at(0, h - 1, 1), 252);
        EXPECT_NEAR(at(w / 2, h / 2, 0), 128, 2);
        EXPECT_NEAR(at(w / 2, h / 2, 1), 128, 2);
    }
}

}  // namespace
