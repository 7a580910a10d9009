#include "CheckFixture.h"

#include "Mp3.h"
#include "PrivateDisplay.h"
#include "ZipWriter.h"

#include <stb/stb_image_write.h>

#include <cstring>

std::unique_ptr<RenderWindow> CheckTest::window_;

std::string trackBytes(const std::vector<Key>& keys, std::optional<std::int32_t> declared) {
    std::string bytes;
    const auto put = [&bytes](const void* data, std::size_t size) {
        bytes.append(static_cast<const char*>(data), size);
    };
    const std::int32_t count = declared ? *declared : static_cast<std::int32_t>(keys.size());
    put(&count, 4);
    for (const Key& key : keys) {
        put(&key.row, 4);
        put(&key.value, 4);
        put(&key.type, 1);
    }
    return bytes;
}

std::string pngBytes(int width, int height) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4, 0x80);
    std::string png;
    const auto append = [](void* context, void* data, int size) {
        static_cast<std::string*>(context)->append(static_cast<const char*>(data), static_cast<std::size_t>(size));
    };
    if (!stbi_write_png_to_func(append, &png, width, height, 4, pixels.data(), width * 4))
        throw std::runtime_error("PNG encoding failed");
    return png;
}

std::string pngHeaderOnly(std::uint32_t width, std::uint32_t height) {
    std::string png("\x89PNG\r\n\x1a\n", 8);
    const auto big = [&png](std::uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) png.push_back(static_cast<char>((v >> shift) & 0xFF));
    };
    big(13);
    png += "IHDR";
    big(width);
    big(height);
    png += std::string("\x08\x06\x00\x00\x00", 5);  // 8-bit RGBA, deflate, no interlace
    big(0);                                          // CRC: the header reader does not check it
    return png;
}

std::string shaderWith(const std::string& declarations, const std::string& expression) {
    return "#version 460 core\n"
           "layout(location = 0) in vec2 vUv;\n"
           "layout(location = 0) out vec4 fragColor;\n" +
           declarations +
           "\nvoid main()\n{\n"
           "\tfragColor = vec4(vUv, 0.0, 1.0) + " +
           expression + ";\n}\n";
}

Content Content::clean() {
    Content content;
    content.set("fs.glsl", shaderWith("#pragma EXPORT(rocket=cam:pos)\n"
                                      "uniform vec3 camPos;\n"
                                      "#pragma EXPORT(imgui=look)\n"
                                      "uniform vec4 tint;\n"
                                      "#pragma EXPORT(internal=time)\n"
                                      "uniform float time;\n"
                                      "#pragma EXPORT(internal=rows)\n"
                                      "uniform float rows;\n"
                                      "#pragma EXPORT(internal=resolution)\n"
                                      "uniform vec2 resolution;\n",
                                      "vec4(camPos, time + rows + resolution.x) * tint"));
    content.set("sync_cam-3Apos.x.track", trackBytes({{0, 0.0f, 1}, {68, 1.0f, 2}, {136, 0.5f, 0}}));
    content.set("sync_cam-3Apos.y.track", trackBytes({{0, 2.0f, 0}}));
    content.set("sync_cam-3Apos.z.track", trackBytes({}));
    content.set("fsshader.ini", "[tint]\nv0 = 1.0\nv1 = 0.5\nv2 = 0.25\nv3 = 1\n");
    content.set("soundtrack.mp3", toneMp3(1.0));
    content.set("zyr.png", pngBytes(280, 128));
    return content;
}

Content& Content::set(const std::string& name, std::string bytes) {
    files[name] = std::move(bytes);
    return *this;
}

Content& Content::remove(const std::string& name) {
    files.erase(name);
    return *this;
}

void CheckTest::SetUpTestSuite() { window_ = createHiddenWindow(64, 64); }

void CheckTest::TearDownTestSuite() { window_.reset(); }

std::filesystem::path CheckTest::write(const Content& content, const std::string& name) {
    std::vector<ZipEntry> entries;
    for (const auto& [entry, bytes] : content.files) entries.push_back(ZipEntry{entry, bytes});
    const std::filesystem::path path = dir / name;
    writeZip(path, entries);
    return path;
}

CheckReport CheckTest::check(const Content& content) {
    CheckOptions options;
    options.openContext = false;
    return checkArchive(write(content), options);
}

std::vector<Finding> withCode(const CheckReport& report, const std::string& code) {
    std::vector<Finding> found;
    for (const Finding& f : report.findings)
        if (f.code == code) found.push_back(f);
    return found;
}

std::string describe(const CheckReport& report) {
    std::string text;
    for (const Finding& f : report.findings)
        text += std::string(severityName(f.severity)) + " " + f.code + " [" + f.where + "] " + f.message + "\n";
    return text.empty() ? "(no findings)\n" : text;
}

::testing::AssertionResult onlyFinding(const CheckReport& report, const std::string& code, Severity severity) {
    if (report.findings.size() != 1 || report.findings[0].code != code || report.findings[0].severity != severity)
        return ::testing::AssertionFailure() << "expected only " << severityName(severity) << " " << code
                                             << ", got:\n"
                                             << describe(report);
    const int status = severity == Severity::Error ? 1 : 0;
    if (report.exitStatus() != status)
        return ::testing::AssertionFailure() << "exit status " << report.exitStatus() << ", expected " << status;
    return ::testing::AssertionSuccess();
}
