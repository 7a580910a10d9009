#include "AllocationCounter.h"
#include "EffectShader.h"
#include "Mp3.h"
#include "Presentation.h"
#include "PrivateDisplay.h"
#include "ResourceArchive.h"
#include "Soundtrack.h"
#include "TempDir.h"
#include "ZipWriter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>


namespace {

std::string track(std::initializer_list<std::tuple<std::int32_t, float, std::int8_t>> keys) {
    std::string bytes;
    auto put = [&](const void* p, std::size_t n) { bytes.append(static_cast<const char*>(p), n); };
    const auto count = static_cast<std::int32_t>(keys.size());
    put(&count, 4);
    for (const auto& [row, value, type] : keys) {
        put(&row, 4);
        put(&value, 4);
        put(&type, 1);
    }
    return bytes;
}

// Every export kind, so every per-frame path is exercised.
constexpr const char* kShader = R"(#version 460 core
layout(location = 0) in vec2 vUv;
layout(location = 0) out vec4 colour;
#pragma EXPORT(rocket=cam:pos)
uniform vec3 camPos;
#pragma EXPORT(rocket=fade)
uniform float fade;
#pragma EXPORT(imgui=look)
uniform vec4 tint;
#pragma EXPORT(internal=time)
uniform float time;
#pragma EXPORT(internal=rows)
uniform float rows;
#pragma EXPORT(internal=resolution)
uniform vec2 resolution;
void main() {
    colour = vec4(vUv * resolution / resolution, fract(time + rows), 1.0) * tint * fade + vec4(camPos, 0.0);
}
)";

std::vector<ZipEntry> demoEntries(double musicSeconds) {
    return {{"fs.glsl", kShader},
            {"fsshader.ini", "[tint]\nv0 = 1.0\nv1 = 0.5\nv2 = 0.25\nv3 = 1.0\n"},
            {"soundtrack.mp3", toneMp3(musicSeconds), ZipMethod::Stored},
            {"sync_cam-3Apos.x.track", track({{0, 0.0f, 1}, {64, 1.0f, 2}, {128, 0.0f, 0}})},
            {"sync_cam-3Apos.y.track", track({{0, 1.0f, 3}, {32, 0.0f, 0}})},
            {"sync_fade.x.track", track({{0, 1.0f, 0}})}};
}

const LaunchSettings kSmallWindow{320, 180, false, "Tessaran 2023"};

TEST(FrameLoop, AllocatesNothingPerFrameOnceRunning) {
    TempDir dir;
    writeZip(dir / "zyr.dat", demoEntries(30.0));
    ResourceArchive archive(dir / "zyr.dat");
    Presentation presentation(archive, kSmallWindow);
    presentation.start();
    // The first frame builds the program and reads the parameter file: that may allocate.
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(presentation.frame());
    ASSERT_NE(presentation.shader().program(), 0u);

    AllocationCounter counter;
    int frames = 0;
    for (; frames < 300; ++frames)
        if (!presentation.frame()) break;
    EXPECT_EQ(frames, 300) << "the music stopped early";
    EXPECT_EQ(counter.calls(), 0u) << "allocations over " << frames << " frames";
    EXPECT_EQ(archive.openCount(), 0u);
}

TEST(FrameLoop, EndsOnTheFrameAfterTheMusicStops) {
    TempDir dir;
    writeZip(dir / "zyr.dat", demoEntries(1.0));
    ResourceArchive archive(dir / "zyr.dat");
    Presentation presentation(archive, kSmallWindow);
    presentation.start();
    const auto start = std::chrono::steady_clock::now();
    int frames = 0;
    while (presentation.frame() && frames < 100000) ++frames;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_FALSE(presentation.soundtrack().isPlaying());
    EXPECT_GT(frames, 1);
    EXPECT_GT(seconds, 0.5);
    EXPECT_LT(seconds, 10.0);
}

TEST(FrameLoop, MusicThatDoesNotDecodeEndsAfterTheFirstFrame) {
    TempDir dir;
    auto entries = demoEntries(1.0);
    entries[2].bytes = "this is not an mp3 file";
    writeZip(dir / "zyr.dat", entries);
    ResourceArchive archive(dir / "zyr.dat");
    Presentation presentation(archive, kSmallWindow);
    presentation.start();
    EXPECT_FALSE(presentation.frame());
}

TEST(FrameLoop, MissingMusicIsFatalAtStartUp) {
    TempDir dir;
    auto entries = demoEntries(1.0);
    entries.erase(entries.begin() + 2);
    writeZip(dir / "zyr.dat", entries);
    ResourceArchive archive(dir / "zyr.dat");
    try {
        Presentation presentation(archive, kSmallWindow);
        ADD_FAILURE() << "expected an exception";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Unable to open soundtrack file");
    }
    EXPECT_EQ(archive.openCount(), 0u);
}

TEST(FrameLoop, BrokenParameterFileEndsTheFirstFrameWithItsPosition) {
    TempDir dir;
    auto entries = demoEntries(5.0);
    entries[1].bytes = "[tint]\nv0 = 1.0\nv1 = = 2\n";
    writeZip(dir / "zyr.dat", entries);
    ResourceArchive archive(dir / "zyr.dat");
    Presentation presentation(archive, kSmallWindow);
    presentation.start();
    try {
        presentation.frame();
        ADD_FAILURE() << "expected an exception";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("fsshader.ini:3:", 0), 0u) << e.what();
    }
    EXPECT_EQ(archive.openCount(), 0u) << "the parameter file was left open";
}

TEST(FrameLoop, WithoutAShaderFramesStillRunAndRetryTheBuild) {
    TempDir dir;
    auto entries = demoEntries(5.0);
    entries.erase(entries.begin());
    writeZip(dir / "zyr.dat", entries);
    ResourceArchive archive(dir / "zyr.dat");
    Presentation presentation(archive, kSmallWindow);
    presentation.start();
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(presentation.frame());
        EXPECT_EQ(presentation.shader().program(), 0u);
        EXPECT_EQ(archive.openCount(), 0u);
    }
}

}  // namespace
