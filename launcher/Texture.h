// Texture: an archive image as an immutable single-level GL_RGBA8 texture.
//
// Use (GL context current):
//     auto logo = std::make_unique<Texture>(archive, "zyr.png");
//     ImGui::Image(reinterpret_cast<ImTextureID>(static_cast<std::uintptr_t>(logo->name())), ...);
//
// Ownership: owns one GL texture name, deleted by the destructor, which must run
// while the creating context is current. Not copyable.
//
// Failure: a missing entry, or bytes that decodeImage refuses (not an image,
// larger than kMaxTextureSide a side, a PNG whose chunks run past its end, a
// header claiming more than the entry's decode budget), leave a valid texture
// name without storage; nothing is reported. The archive handle is always
// closed.
#pragma once

#include "ImageDecode.h"

#include <cstdint>
#include <string>

class ResourceArchive;

class Texture {
public:
    Texture(ResourceArchive& archive, const std::string& entryName);
    ~Texture();

    Texture(const Texture&) = delete;
    Texture& operator=(const Texture&) = delete;

    std::uint32_t name() const { return name_; }

private:
    std::uint32_t name_ = 0;
};
