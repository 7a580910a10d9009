// Archives for the checker's tests: a clean archive that the checker passes
// without a word, which each test breaks in exactly one way, and the helpers
// to hold the report to "this problem, once, with this severity".
//
//     Content content = Content::clean();
//     content.set("fs.glsl", "...broken...");
//     CheckReport report = check(content);
//     EXPECT_TRUE(onlyFinding(report, "shader.compile", Severity::Error));
#pragma once

#include "CheckReport.h"
#include "Checker.h"
#include "RenderWindow.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct Key {
    std::int32_t row;
    float value;
    std::int8_t type;  // 0 step, 1 linear, 2 smooth, 3 ramp
};

// A track file: the key count (the number of keys unless `declared` says
// otherwise), then the keys.
std::string trackBytes(const std::vector<Key>& keys, std::optional<std::int32_t> declared = std::nullopt);

// An 8-bit RGBA PNG of the given size.
std::string pngBytes(int width, int height);
// The signature and header chunk of a PNG claiming the given size, and nothing
// else: enough for a header read, a few bytes for any size.
std::string pngHeaderOnly(std::uint32_t width, std::uint32_t height);

// The clean content's shader with `declarations` in place of its exports and
// `expression` (a vec4) added to the colour so that the uniforms stay in use.
std::string shaderWith(const std::string& declarations, const std::string& expression);

struct Content {
    // fs.glsl with a rocket vec3 (cam:pos), an imgui vec4 (tint) and the three
    // internal exports; the three tracks of cam:pos; fsshader.ini with [tint];
    // a one-second MP3; a 280 x 128 logo.
    static Content clean();

    Content& set(const std::string& name, std::string bytes);
    Content& remove(const std::string& name);

    std::map<std::string, std::string> files;
};

// One hidden window for a whole suite: the checker uses the current context.
class CheckTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();

    // Writes the content as an archive and checks it.
    CheckReport check(const Content& content);
    std::filesystem::path write(const Content& content, const std::string& name = "zyr.dat");

    TempDir dir;

private:
    static std::unique_ptr<RenderWindow> window_;
};

std::vector<Finding> withCode(const CheckReport& report, const std::string& code);
// Every finding, one per line, for failure messages.
std::string describe(const CheckReport& report);
// Exactly one finding in the whole report, with this code and severity, and
// the exit status that goes with it.
::testing::AssertionResult onlyFinding(const CheckReport& report, const std::string& code, Severity severity);
