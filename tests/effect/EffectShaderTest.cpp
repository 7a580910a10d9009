#include "AllocationCounter.h"
#include "EffectScene.h"
#include "Mp3.h"

#include <GL/glew.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <new>
#include <thread>


namespace {

using ::testing::ElementsAre;
using ::testing::FloatEq;

constexpr std::int8_t kStep = 0;
constexpr std::int8_t kLinear = 1;

GLuint fragmentStage() {
    GLint program = -1;
    glGetProgramPipelineiv(programPipeline, GL_FRAGMENT_SHADER, &program);
    return static_cast<GLuint>(program);
}

class EffectShaderTest : public GlSuite {};

TEST_F(EffectShaderTest, SlotValuesReachGlFromTheFrameAfterTheBuild) {
    const std::string source = fragmentShader(
        "#pragma EXPORT(rocket=cam:pos)\n"
        "uniform vec4 camPos;\n"
        "#pragma EXPORT(rocket=speed)\nuniform float speed;\n"
        "#pragma EXPORT(imgui=tint colour)\n\n\n"
        "uniform vec3 tint;\n"
        "#pragma EXPORT(imgui=offset)\n"
        "uniform vec2 offset;\n"
        "uniform float plain;\n",
        "camPos + vec4(tint, speed) + vec4(offset, plain, 0.0)");
    EffectScene scene({{"fs.glsl", source},
                       trackEntry("cam-3Apos.x", {{0, 0.0f, kLinear}, {8, 8.0f, kStep}}),
                       trackEntry("cam-3Apos.y", {{0, 10.0f, kStep}}),
                       trackEntry("cam-3Apos.z", {{0, -1.0f, kLinear}, {4, 3.0f, kStep}}),
                       trackEntry("cam-3Apos.w", {{0, 0.5f, kStep}}),
                       trackEntry("speed.x", {{0, 4.0f, kLinear}, {16, 0.0f, kStep}})});

    ASSERT_TRUE(scene.frame(2.0));
    ASSERT_NE(scene.shader->program(), 0u);
    EXPECT_EQ(fragmentStage(), scene.shader->program());
    EXPECT_EQ(scene.archive->openCount(), 0u) << "the source is given back after the read";

    // The build frame: slots fresh, so GL holds zeros; the bindings exist now.
    EXPECT_THAT(scene.uniform("camPos"), ElementsAre(0.0f, 0.0f, 0.0f, 0.0f));
    EXPECT_EQ(scene.uniform("speed")[0], 0.0f);
    EXPECT_THAT(scene.uniform("tint"), ElementsAre(0.0f, 0.0f, 0.0f, ::testing::IsNan()));
    EXPECT_EQ(scene.uniform("offset")[0], 0.0f);
    EXPECT_EQ(scene.store->bindingCount(), 2u);
    EXPECT_EQ(scene.store->device().numTracks, 5u);
    EXPECT_EQ(scene.shader->values().size(), 4u);
    EXPECT_FALSE(scene.shader->locations().contains("plain")) << "only annotated uniforms are recorded";
    EXPECT_EQ(scene.shader->rocketExports().at("camPos").target, "cam:pos");
    EXPECT_EQ(scene.shader->imguiExports().at("tint").type, UniformType::Vec3);

    scene.shader->applyParameters("[tint]\nv0 = 0.25\nv1 = 0.5\nv2 = 0.75\nv3 = 9.0\n[offset]\nv0 = -1\nv1 = 2\n");

    EXPECT_FALSE(scene.frame(2.0));
    EXPECT_THAT(scene.uniform("camPos"), ElementsAre(2.0f, 10.0f, 1.0f, 0.5f));
    EXPECT_EQ(scene.uniform("speed")[0], 3.5f);
    // A vec3 takes components 0 to 2 of its slot; the fourth stays in the slot.
    EXPECT_THAT(scene.uniform("tint"), ElementsAre(0.25f, 0.5f, 0.75f, ::testing::IsNan()));
    EXPECT_EQ(scene.slot("tint")[3], 9.0f);
    EXPECT_THAT(scene.uniform("offset"), ElementsAre(-1.0f, 2.0f, ::testing::IsNan(), ::testing::IsNan()));

    // Later frames follow the tracks; the source is not read again.
    EXPECT_FALSE(scene.frame(6.0));
    EXPECT_THAT(scene.uniform("camPos"), ElementsAre(6.0f, 10.0f, 3.0f, 0.5f));
    EXPECT_EQ(scene.uniform("speed")[0], 2.5f);
    EXPECT_EQ(scene.archive->openCount(), 0u);
}

TEST_F(EffectShaderTest, ExportsTheProgramDoesNotKeepAreSkipped) {
    const std::string source = fragmentShader(
        "#pragma EXPORT(rocket=ghost)\nuniform float ghost;\n"
        "#pragma EXPORT(imgui=ghost colour)\nuniform vec3 ghostColour;\n"
        "#pragma EXPORT(rocket=live)\nuniform float live;\n",
        "vec4(live)");
    EffectScene scene({{"fs.glsl", source},
                       trackEntry("ghost.x", {{0, 5.0f, kStep}}),
                       trackEntry("live.x", {{0, 1.5f, kStep}})});

    ASSERT_TRUE(scene.frame(0.0));
    EXPECT_FALSE(scene.shader->locations().contains("ghost"));
    EXPECT_FALSE(scene.shader->rocketExports().contains("ghost"));
    EXPECT_FALSE(scene.shader->imguiExports().contains("ghostColour"));
    EXPECT_FALSE(scene.shader->values().contains("ghost"));
    EXPECT_EQ(scene.store->device().numTracks, 1u) << "only live.x is requested";
    EXPECT_EQ(scene.store->bindingCount(), 1u);

    scene.frame(0.0);
    EXPECT_EQ(scene.uniform("live")[0], 1.5f);
}

TEST_F(EffectShaderTest, MissingSourceIsTriedEveryFrameAndNeverAttached) {
    programPipeline = 0;  // a pipeline of this test's own, with no stage yet
    EffectScene scene({{"other.glsl", fragmentShader("", "vec4(0.0)")}});
    ASSERT_NE(programPipeline, 0u);
    ASSERT_TRUE(glIsProgramPipeline(programPipeline));

    for (int i = 0; i < 3; ++i) EXPECT_TRUE(scene.frame(0.0));
    EXPECT_EQ(scene.shader->program(), 0u);
    EXPECT_EQ(fragmentStage(), 0u);
    EXPECT_TRUE(scene.shader->locations().empty());
    EXPECT_TRUE(scene.shader->values().empty());
    EXPECT_EQ(scene.store->bindingCount(), 0u);
}

// A source that fails to compile, and one that compiles but cannot link: the
// program is kept (built once) but has no uniforms to drive and is no stage.
TEST_F(EffectShaderTest, BrokenProgramIsBuiltOnceAndDrivesNothing) {
    const std::string annotations =
        "#pragma EXPORT(rocket=r)\nuniform float r;\n"
        "#pragma EXPORT(imgui=i)\nuniform vec4 i;\n"
        "#pragma EXPORT(internal=resolution)\nuniform vec2 resolution;\n";
    const std::string notCompiling = fragmentShader(annotations, "vec4(r) + i + undeclared");
    const std::string notLinking =
        "#version 460 core\nlayout(location = 0) out vec4 colour;\n" + annotations + "void helper() { colour = i; }\n";

    for (const std::string& source : {notCompiling, notLinking}) {
        SCOPED_TRACE(source);
        programPipeline = 0;
        EffectScene scene({{"fs.glsl", source}, trackEntry("r.x", {{0, 1.0f, kStep}})});
        EXPECT_TRUE(scene.frame(0.0));
        EXPECT_NE(scene.shader->program(), 0u);
        EXPECT_FALSE(scene.frame(0.0));
        EXPECT_FALSE(scene.frame(0.0));
        EXPECT_EQ(fragmentStage(), 0u);
        EXPECT_TRUE(scene.shader->locations().empty());
        EXPECT_TRUE(scene.shader->imguiExports().empty());
        EXPECT_EQ(scene.store->device().numTracks, 0u);
        scene.shader->applyParameters("[i]\nv0 = 1\n");
        EXPECT_TRUE(scene.shader->values().empty());
    }
}

TEST_F(EffectShaderTest, SharedTargetDrivesOnlyTheFirstExport) {
    const std::string source = fragmentShader(
        "#pragma EXPORT(rocket=shared)\nuniform float first;\n"
        "#pragma EXPORT(rocket=shared)\nuniform float second;\n",
        "vec4(first, second, 0.0, 0.0)");
    EffectScene scene({{"fs.glsl", source}, trackEntry("shared.x", {{0, 6.0f, kStep}})});

    scene.frame(0.0);
    scene.frame(0.0);
    EXPECT_EQ(scene.store->bindingCount(), 1u);
    EXPECT_EQ(scene.shader->rocketExports().size(), 2u);
    EXPECT_EQ(scene.uniform("first")[0], 6.0f);
    EXPECT_EQ(scene.uniform("second")[0], 0.0f);
}

TEST_F(EffectShaderTest, RocketBindingWinsOverImguiForTheSameUniform) {
    // The skipped branch declares the imgui export as vec2; only the rocket
    // binding (float) fits the uniform the program has.
    const std::string source = fragmentShader(
        "#ifdef NEVER_DEFINED\n#pragma EXPORT(imgui=dual)\nuniform vec2 dual;\n"
        "#else\n#pragma EXPORT(rocket=dual)\nuniform float dual;\n#endif\n",
        "vec4(dual)");
    EffectScene scene({{"fs.glsl", source}, trackEntry("dual.x", {{0, 2.5f, kStep}})});

    ASSERT_TRUE(scene.frame(0.0));
    EXPECT_TRUE(scene.shader->rocketExports().contains("dual"));
    EXPECT_TRUE(scene.shader->imguiExports().contains("dual"));
    scene.shader->applyParameters("[dual]\nv0 = 7\nv1 = 8\n");
    EXPECT_THAT(scene.slot("dual"), ElementsAre(7.0f, 8.0f, 0.0f, 0.0f));

    scene.frame(0.0);
    EXPECT_THAT(scene.slot("dual"), ElementsAre(2.5f, 8.0f, 0.0f, 0.0f));
    EXPECT_EQ(scene.uniform("dual")[0], 2.5f);
}

// Exports whose value cannot be sent are left alone instead of sending an
// invalid call: type words the upload does not know, other kinds, other
// internal targets, and annotations whose declared type is not the program's.
TEST_F(EffectShaderTest, UnsendableExportsKeepTheirValue) {
    const std::string source = fragmentShader(
        "#pragma EXPORT(rocket=counter)\nuniform int counter;\n"
        "#pragma EXPORT(imgui=matrix)\nuniform mat4 matrix;\n"
        "#pragma EXPORT(slider=gain)\nuniform float gain;\n"
        "#pragma EXPORT(internal=Resolution)\nuniform vec2 otherResolution;\n"
        "#pragma EXPORT(internal=size)\nuniform vec2 size;\n"
        "#pragma EXPORT(internal=resolution)\nuniform vec3 wideResolution;\n"
        "// #pragma EXPORT(rocket=misfit) uniform vec3 misfit;\n"
        "uniform float misfit;\n",
        "vec4(float(counter)) + matrix[0] + vec4(gain, otherResolution, misfit) + vec4(size, wideResolution.xy)");
    EffectScene scene({{"fs.glsl", source},
                       trackEntry("counter.x", {{0, 3.0f, kStep}}),
                       trackEntry("misfit.x", {{0, 4.0f, kStep}}),
                       trackEntry("misfit.y", {{0, 4.0f, kStep}}),
                       trackEntry("misfit.z", {{0, 4.0f, kStep}})});
    scene.resolution = {320.0f, 200.0f};

    ASSERT_TRUE(scene.frame(0.0));
    scene.shader->applyParameters("[matrix]\nv0 = 1\nv1 = 1\nv2 = 1\nv3 = 1\n");
    scene.frame(0.0);
    scene.frame(0.0);

    EXPECT_EQ(scene.shader->locations().size(), 7u) << "every active export is located";
    EXPECT_EQ(scene.shader->rocketExports().at("counter").type, UniformType::Other);
    EXPECT_EQ(scene.slot("counter")[0], 0.0f) << "a count of 0 follows no track";
    EXPECT_THAT(scene.slot("misfit"), ElementsAre(4.0f, 4.0f, 4.0f, 0.0f));

    for (const char* name : {"counter", "matrix", "gain", "otherResolution", "size", "wideResolution", "misfit"}) {
        EXPECT_EQ(scene.uniform(name)[0], 0.0f) << name;
    }
}

TEST_F(EffectShaderTest, InternalValuesArriveFromTheFirstFrame) {
    const std::string source = fragmentShader(
        "#pragma EXPORT(internal=time)\nuniform float time;\n"
        "#pragma EXPORT(internal=rows)\nuniform float rows;\n"
        "#pragma EXPORT(internal=resolution)\nuniform vec2 resolution;\n"
        "#pragma EXPORT(internal=Time)\nuniform float otherTime;\n"
        "#pragma EXPORT(internal=time)\nuniform vec2 pairTime;\n",
        "vec4(time, rows, resolution) + vec4(otherTime, pairTime, 0.0)");
    EffectScene scene({{"fs.glsl", source}, {"soundtrack.mp3", toneMp3(3.0)}});
    scene.soundtrack->play();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (scene.soundtrack->playbackSeconds() < 0.1 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_GE(scene.soundtrack->playbackSeconds(), 0.1) << "the music does not play";

    for (const std::array<float, 2> size : {std::array<float, 2>{640.0f, 360.0f}, {1920.0f, 1080.0f}}) {
        scene.resolution = size;
        const double secondsBefore = scene.soundtrack->playbackSeconds();
        const double rowsBefore = scene.soundtrack->playbackRow();
        scene.shader->update(*scene.store, *scene.soundtrack, scene.resolution.data());
        const double secondsAfter = scene.soundtrack->playbackSeconds();
        const double rowsAfter = scene.soundtrack->playbackRow();

        const float time = scene.uniform("time")[0];
        EXPECT_GE(time, static_cast<float>(secondsBefore));
        EXPECT_LE(time, static_cast<float>(secondsAfter));
        const float rows = scene.uniform("rows")[0];
        EXPECT_GE(rows, static_cast<float>(rowsBefore));
        EXPECT_LE(rows, static_cast<float>(rowsAfter));
        EXPECT_THAT(scene.uniform("resolution"), ElementsAre(size[0], size[1], ::testing::IsNan(), ::testing::IsNan()));
        EXPECT_EQ(scene.uniform("otherTime")[0], 0.0f);
        EXPECT_THAT(scene.uniform("pairTime"), ElementsAre(0.0f, 0.0f, ::testing::IsNan(), ::testing::IsNan()));
    }
}

TEST_F(EffectShaderTest, ThePipelineIsSharedByEveryShader) {
    programPipeline = 0;
    EffectScene scene({{"fs.glsl", fragmentShader("", "vec4(0.0)")}});
    const std::uint32_t pipeline = programPipeline;
    ASSERT_NE(pipeline, 0u);
    EXPECT_TRUE(glIsProgramPipeline(pipeline));

    EffectShader second(*scene.archive, "fs.glsl");
    EXPECT_EQ(programPipeline, pipeline);
    ASSERT_TRUE(second.update(*scene.store, *scene.soundtrack, scene.resolution.data()));
    EXPECT_EQ(fragmentStage(), second.program());
}

// The pipeline name outlives the context that made it; a shader made in a later
// context must not hand that stale name to GL.
TEST(EffectShaderContextTest, ALaterContextGetsAPipelineOfItsOwn) {
    for (int context = 0; context < 2; ++context) {
        SCOPED_TRACE(context);
        const auto window = createWindow({64, 64, false, "test"});
        EffectScene scene({{"fs.glsl", fragmentShader("", "vec4(0.0)")}});
        ASSERT_NE(programPipeline, 0u);
        ASSERT_TRUE(glIsProgramPipeline(programPipeline));
        ASSERT_TRUE(scene.frame(0.0));
        EXPECT_EQ(fragmentStage(), scene.shader->program());
    }
}

TEST_F(EffectShaderTest, FramesAfterTheBuildAllocateNothing) {
    std::string declarations;
    std::string expression = "vec4(0.0)";
    std::vector<ZipEntry> entries;
    for (int i = 0; i < 16; ++i) {
        const std::string n = std::to_string(i);
        declarations += "#pragma EXPORT(rocket=track " + n + ")\nuniform vec4 r" + n + ";\n";
        declarations += "#pragma EXPORT(imgui=p" + n + ")\nuniform vec2 p" + n + ";\n";
        expression += " + r" + n + " + vec4(p" + n + ", 0.0, 0.0)";
        entries.push_back(trackEntry("track-20" + n + ".x", {{0, 0.0f, kLinear}, {100, 1.0f, kStep}}));
    }
    declarations += "#pragma EXPORT(internal=time)\nuniform float time;\n"
                    "#pragma EXPORT(internal=rows)\nuniform float rows;\n"
                    "#pragma EXPORT(internal=resolution)\nuniform vec2 resolution;\n";
    expression += " + vec4(time, rows, resolution)";
    entries.push_back({"fs.glsl", fragmentShader(declarations, expression)});
    EffectScene scene(entries);
    ASSERT_TRUE(scene.frame(0.0));
    ASSERT_EQ(scene.shader->locations().size(), 35u);

    {
        AllocationCounter counter;
        for (int frame = 0; frame < 100; ++frame) {
            scene.shader->update(*scene.store, *scene.soundtrack, scene.resolution.data());
        }
        EXPECT_EQ(counter.calls(), 0u);
    }
    scene.frame(50.0);
    EXPECT_EQ(scene.uniform("r7")[0], 0.5f) << "the frames did upload";
}

}  // namespace
