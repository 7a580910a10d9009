// DrawListCache: a part of the overlays that seldom changes (the timeline's
// ruler, waveform and lanes) drawn once into a texture and shown from it as
// one image until what it shows changes. Drawn afresh each frame it costs the
// GL driver a few thousand vertices and a draw call per clip rectangle on the
// frame thread; from the texture, one quad.
//
// Use (inside an ImGui frame, its GL context current):
//     DrawListCache cache;
//     if (!cache.holds(key, origin, size)) {
//         ImDrawList& list = cache.begin(origin, size);   // window coordinates
//         ... draw into list ...
//         cache.end(key);
//     }
//     cache.show(ImGui::GetWindowDrawList());
//
// The key is the caller's digest of everything the drawing depends on. What
// is drawn is blended into a transparent texture (colour times coverage) and
// that is blended over the window once, which gives what drawing it straight
// over the window gives, to the rounding of 8-bit colour.
//
// Ownership: owns its texture, framebuffer and draw list; destroy it while the
// context and the ImGui context still exist.
//
// Failure: none reported; a texture that cannot be made shows nothing.
#pragma once

#include <imgui.h>

#include <cstdint>
#include <memory>

namespace zyr::studio {

class DrawListCache {
public:
    DrawListCache();
    ~DrawListCache();
    DrawListCache(const DrawListCache&) = delete;
    DrawListCache& operator=(const DrawListCache&) = delete;

    bool holds(std::uint64_t key, ImVec2 origin, ImVec2 size) const;
    ImDrawList& begin(ImVec2 origin, ImVec2 size);
    void end(std::uint64_t key);
    void show(ImDrawList* list) const;

private:
    std::unique_ptr<ImDrawList> list_;
    std::uint32_t texture_ = 0;
    std::uint32_t framebuffer_ = 0;
    int width_ = 0;
    int height_ = 0;
    ImVec2 origin_;
    std::uint64_t key_ = 0;
    bool valid_ = false;
};

// FNV-1a over the bytes of values, for cache keys.
class KeyHash {
public:
    template <typename T>
    KeyHash& add(const T& value) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(&value);
        for (std::size_t i = 0; i < sizeof(T); ++i) hash_ = (hash_ ^ bytes[i]) * 0x100000001b3ull;
        return *this;
    }
    KeyHash& add(const char* text) {
        for (; *text; ++text) hash_ = (hash_ ^ static_cast<unsigned char>(*text)) * 0x100000001b3ull;
        return add('\0');
    }
    std::uint64_t value() const { return hash_; }

private:
    std::uint64_t hash_ = 0xcbf29ce484222325ull;
};

}  // namespace zyr::studio
