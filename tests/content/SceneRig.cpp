#include "SceneRig.h"

#include "AudioLayer.h"
#include "ScreenQuad.h"

#include <GL/glew.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

double Image::meanDifference(const Image& other) const {
    if (width != other.width || height != other.height || rgb.empty()) return 255.0;
    double sum = 0.0;
    for (std::size_t i = 0; i < rgb.size(); ++i) sum += std::abs(int(rgb[i]) - int(other.rgb[i]));
    return sum / static_cast<double>(rgb.size());
}

double Image::meanLevel() const {
    double sum = 0.0;
    for (std::uint8_t v : rgb) sum += v;
    return rgb.empty() ? 0.0 : sum / static_cast<double>(rgb.size());
}

Image Image::columns(int x0, int w) const {
    Image out{w, height, {}};
    out.rgb.reserve(static_cast<std::size_t>(w) * height * 3);
    for (int y = 0; y < height; ++y) {
        auto row = rgb.begin() + (static_cast<std::ptrdiff_t>(y) * width + x0) * 3;
        out.rgb.insert(out.rgb.end(), row, row + static_cast<std::ptrdiff_t>(w) * 3);
    }
    return out;
}

SceneRig::SceneRig(const std::filesystem::path& archivePath, int width, int height)
    : width_(width), height_(height) {
    archive_ = std::make_unique<ResourceArchive>(archivePath);
    if (!archive_->isOpen()) throw std::runtime_error("cannot open " + archivePath.string());
    window_ = createHiddenWindow(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height));
    shader_ = std::make_unique<EffectShader>(*archive_, "fs.glsl");
    // The soundtrack's audioInit is the only reader of the switch; a process
    // that goes on afterwards gets real devices again.
    audioUseOfflineClock(true);
    soundtrack_ = std::make_unique<Soundtrack>(*archive_, "soundtrack.mp3", 170.0f);
    audioUseOfflineClock(false);
    store_ = std::make_unique<SyncTrackStore>(*archive_, *soundtrack_);
    if (!audioSetPosition(soundtrack_->stream(), 0))
        throw std::runtime_error("the soundtrack is not on the offline clock");

    makeFramebuffer();
}

void SceneRig::makeFramebuffer() {
    if (framebuffer_ != 0) {
        glDeleteFramebuffers(1, &framebuffer_);
        glDeleteRenderbuffers(1, &colour_);
    }
    glCreateRenderbuffers(1, &colour_);
    glNamedRenderbufferStorage(colour_, GL_RGBA8, width_, height_);
    glCreateFramebuffers(1, &framebuffer_);
    glNamedFramebufferRenderbuffer(framebuffer_, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour_);
    if (glCheckNamedFramebufferStatus(framebuffer_, GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
        throw std::runtime_error("no framebuffer of the asked size");
}

void SceneRig::resize(int width, int height) {
    width_ = width;
    height_ = height;
    makeFramebuffer();
}

SceneRig::~SceneRig() {
    soundtrack_.reset();
    store_.reset();
    shader_.reset();
    window_.reset();
    archive_.reset();
}

double SceneRig::musicSeconds() const {
    const AudioStream s = soundtrack_->stream();
    return audioChannelBytes2Seconds(s, audioChannelGetLength(s));
}

std::string SceneRig::entryText(const std::string& name) {
    ArchiveFile* file = archive_->openFile(name);
    if (file == nullptr) return {};
    std::string text = archive_->readText(file);
    archive_->closeFile(file);
    return text;
}

void SceneRig::render(double row) { render(row, row / kRowsPerSecond); }

void SceneRig::render(double row, double seconds) {
    const AudioStream s = soundtrack_->stream();
    // Past the music's end the clock stays at its last frame, as in the player.
    const double clock = std::clamp(seconds, 0.0, std::max(musicSeconds() - 0.001, 0.0));
    audioSetPosition(s, audioChannelSeconds2Bytes(s, clock));
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glViewport(0, 0, width_, height_);
    // The player's first frame builds the program after the store evaluated
    // and applies the parameters after the upload, so it shows the exports at
    // zero; a frame asked for here shows its position, so that one is redone.
    if (shader_->program() == 0) frame(row);
    frame(row);
}

// One frame as the player draws it, with the tracks at row.
void SceneRig::frame(double row) {
    store_->evaluateAt(row);
    glClearColor(0.1f, 0.2f, 0.3f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    resolution_[0] = static_cast<float>(width_);
    resolution_[1] = static_cast<float>(height_);
    if (shader_->update(*store_, *soundtrack_, resolution_)) {
        const std::string parameters = entryText("fsshader.ini");
        if (!parameters.empty()) shader_->applyParameters(parameters);
    }
    if (!screenQuadCreated()) createScreenQuad();
    drawScreenQuad();
}

void SceneRig::finish() { glFinish(); }

Image SceneRig::read() {
    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(width_) * height_ * 4);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, width_, height_, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    Image image{width_, height_, {}};
    image.rgb.resize(static_cast<std::size_t>(width_) * height_ * 3);
    // GL's rows run bottom to top.
    for (int y = 0; y < height_; ++y) {
        const std::uint8_t* in = rgba.data() + static_cast<std::size_t>(height_ - 1 - y) * width_ * 4;
        std::uint8_t* out = image.rgb.data() + static_cast<std::size_t>(y) * width_ * 3;
        for (int x = 0; x < width_; ++x) {
            out[x * 3 + 0] = in[x * 4 + 0];
            out[x * 3 + 1] = in[x * 4 + 1];
            out[x * 3 + 2] = in[x * 4 + 2];
        }
    }
    return image;
}
