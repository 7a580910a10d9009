#include "EffectScene.h"

#include <GL/glew.h>

#include <algorithm>
#include <cstring>
#include <limits>

std::unique_ptr<RenderWindow> GlSuite::window_;

void GlSuite::SetUpTestSuite() { window_ = createWindow({64, 64, false, "test"}); }

void GlSuite::TearDownTestSuite() { window_.reset(); }

ZipEntry trackEntry(const std::string& fileTrackName, const std::vector<TrackKey>& keys) {
    std::string bytes;
    auto put = [&bytes](const void* data, std::size_t size) {
        bytes.append(static_cast<const char*>(data), size);
    };
    const auto count = static_cast<std::int32_t>(keys.size());
    put(&count, 4);
    for (const TrackKey& key : keys) {
        put(&key.row, 4);
        put(&key.value, 4);
        put(&key.type, 1);
    }
    return {"sync_" + fileTrackName + ".track", bytes};
}

std::string fragmentShader(const std::string& declarations, const std::string& expression) {
    return "#version 460 core\n"
           "layout(location = 0) in vec2 vUv;\n"
           "layout(location = 0) out vec4 colour;\n" +
           declarations + "\nvoid main()\n{\n\tcolour = vec4(vUv, 0.0, 1.0) + " + expression + ";\n}\n";
}

EffectScene::EffectScene(std::vector<ZipEntry> entries) {
    const bool hasMusic = std::any_of(entries.begin(), entries.end(),
                                      [](const ZipEntry& e) { return e.name == "soundtrack.mp3"; });
    if (!hasMusic) entries.push_back({"soundtrack.mp3", "not an mp3 at all"});
    writeZip(dir / "zyr.dat", entries);
    archive = std::make_unique<ResourceArchive>(dir / "zyr.dat");
    soundtrack = std::make_unique<Soundtrack>(*archive, "soundtrack.mp3", 170.0f);
    shader = std::make_unique<EffectShader>(*archive, "fs.glsl");
    store = std::make_unique<SyncTrackStore>(*archive, *soundtrack);
}

EffectScene::~EffectScene() {
    store.reset();
    shader.reset();
    soundtrack.reset();
    archive.reset();
}

bool EffectScene::frame(double row) {
    store->evaluateAt(row);
    return shader->update(*store, *soundtrack, resolution.data());
}

std::array<float, 4> EffectScene::uniform(const std::string& name) const {
    const GLint location = glGetUniformLocation(shader->program(), name.c_str());
    if (location < 0) ADD_FAILURE() << name << " is not an active uniform";
    // Room for any vector; what GL does not write stays NaN.
    std::array<float, 16> read;
    read.fill(std::numeric_limits<float>::quiet_NaN());
    if (location >= 0) glGetUniformfv(shader->program(), location, read.data());
    std::array<float, 4> result;
    std::copy_n(read.begin(), 4, result.begin());
    return result;
}
