#include "DrawListCache.h"

#include <GL/glew.h>
#include <backends/imgui_impl_opengl3.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace zyr::studio {

namespace {

// The texture holds colour already weighted by its coverage: it goes over the
// window as it is, not weighted again.
void premultipliedBlend(const ImDrawList*, const ImDrawCmd*) {
    glBlendFuncSeparate(GL_ONE, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
}

}  // namespace

DrawListCache::DrawListCache() : list_(std::make_unique<ImDrawList>(ImGui::GetDrawListSharedData())) {}

DrawListCache::~DrawListCache() {
    if (framebuffer_ != 0) glDeleteFramebuffers(1, &framebuffer_);
    if (texture_ != 0) glDeleteTextures(1, &texture_);
}

bool DrawListCache::holds(std::uint64_t key, ImVec2 origin, ImVec2 size) const {
    return valid_ && key == key_ && origin.x == origin_.x && origin.y == origin_.y &&
           static_cast<int>(std::ceil(size.x)) == width_ && static_cast<int>(std::ceil(size.y)) == height_;
}

ImDrawList& DrawListCache::begin(ImVec2 origin, ImVec2 size) {
    const int width = std::max(1, static_cast<int>(std::ceil(size.x)));
    const int height = std::max(1, static_cast<int>(std::ceil(size.y)));
    if (width != width_ || height != height_ || texture_ == 0) {
        if (framebuffer_ != 0) glDeleteFramebuffers(1, &framebuffer_);
        if (texture_ != 0) glDeleteTextures(1, &texture_);
        glCreateTextures(GL_TEXTURE_2D, 1, &texture_);
        glTextureStorage2D(texture_, 1, GL_RGBA8, width, height);
        glTextureParameteri(texture_, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTextureParameteri(texture_, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glCreateFramebuffers(1, &framebuffer_);
        glNamedFramebufferTexture(framebuffer_, GL_COLOR_ATTACHMENT0, texture_, 0);
        width_ = width;
        height_ = height;
    }
    origin_ = origin;
    valid_ = false;
    list_->_ResetForNewFrame();
    list_->Flags = ImDrawListFlags_None;
    // Meshes past 64k vertices split as the window's own lists do.
    if (ImGui::GetIO().BackendFlags & ImGuiBackendFlags_RendererHasVtxOffset) list_->Flags |= ImDrawListFlags_AllowVtxOffset;
    list_->PushTextureID(ImGui::GetIO().Fonts->TexID);
    list_->PushClipRect(origin, ImVec2(origin.x + static_cast<float>(width), origin.y + static_cast<float>(height)));
    return *list_;
}

void DrawListCache::end(std::uint64_t key) {
    list_->PopClipRect();
    list_->PopTextureID();
    list_->_PopUnusedDrawCmd();
    ImDrawList* lists[] = {list_.get()};
    ImDrawData data;
    data.Valid = true;
    data.CmdListsCount = 1;
    data.CmdLists = lists;
    data.TotalVtxCount = list_->VtxBuffer.Size;
    data.TotalIdxCount = list_->IdxBuffer.Size;
    data.DisplayPos = origin_;
    data.DisplaySize = ImVec2(static_cast<float>(width_), static_cast<float>(height_));
    data.FramebufferScale = ImVec2(1.0f, 1.0f);

    GLint previous = 0;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &previous);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    const GLfloat transparent[] = {0.0f, 0.0f, 0.0f, 0.0f};
    glDisable(GL_SCISSOR_TEST);
    glClearNamedFramebufferfv(framebuffer_, GL_COLOR, 0, transparent);
    ImGui_ImplOpenGL3_RenderDrawData(&data);
    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(previous));
    key_ = key;
    valid_ = true;
}

void DrawListCache::show(ImDrawList* list) const {
    if (!valid_) return;
    const ImVec2 end(origin_.x + static_cast<float>(width_), origin_.y + static_cast<float>(height_));
    list->AddCallback(premultipliedBlend, nullptr);
    // The texture's first row is the bottom one.
    list->AddImage(reinterpret_cast<ImTextureID>(static_cast<std::intptr_t>(texture_)), origin_, end, ImVec2(0.0f, 1.0f),
                   ImVec2(1.0f, 0.0f));
    list->AddCallback(ImDrawCallback_ResetRenderState, nullptr);
}

}  // namespace zyr::studio
