// A complete effect set-up for tests: an archive laid out by the test, the
// soundtrack, the sync store and the shader, torn down store first so every
// bound value slot outlives its binding. GL tests derive their suite from
// GlSuite, which opens one 64 x 64 window per suite.
#pragma once

#include "EffectShader.h"
#include "RenderWindow.h"
#include "ResourceArchive.h"
#include "Soundtrack.h"
#include "SyncTrackStore.h"
#include "TempDir.h"
#include "ZipWriter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class GlSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();

private:
    static std::unique_ptr<RenderWindow> window_;
};

struct TrackKey {
    std::int32_t row;
    float value;
    std::int8_t type;  // 0 step, 1 linear, 2 smooth, 3 ramp
};

// The archive entry of one track; fileTrackName is the escaped name as it
// appears in the entry ("cam-3Apos.x" for the track "cam:pos.x").
ZipEntry trackEntry(const std::string& fileTrackName, const std::vector<TrackKey>& keys);

// A fragment shader: the version line, vUv in, colour out, then `declarations`
// and a main that writes `expression` (a vec4 that keeps the uniforms in use).
std::string fragmentShader(const std::string& declarations, const std::string& expression);

class EffectScene {
public:
    // Adds junk bytes as "soundtrack.mp3" unless the entries hold one.
    explicit EffectScene(std::vector<ZipEntry> entries);
    ~EffectScene();

    // One frame as the presentation runs it, with the tracks evaluated at `row`.
    bool frame(double row);

    // Values GL holds for a uniform of the shader's program (NaN where GL wrote nothing).
    std::array<float, 4> uniform(const std::string& name) const;
    const ValueSlot& slot(const std::string& name) const { return shader->values().at(name); }

    TempDir dir;
    std::unique_ptr<ResourceArchive> archive;
    std::unique_ptr<Soundtrack> soundtrack;
    std::unique_ptr<EffectShader> shader;
    std::unique_ptr<SyncTrackStore> store;
    std::array<float, 2> resolution{64.0f, 64.0f};
};
