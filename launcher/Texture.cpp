#include "Texture.h"

#include "ImageDecode.h"
#include "ResourceArchive.h"

#include <GL/glew.h>

#include <cstdint>
#include <type_traits>
#include <vector>

static_assert(std::is_same_v<GLuint, std::uint32_t>, "the texture name is handed to GL by address");

namespace {

// Gives the decoded image to the texture as its only level; anything that is not
// a decodable image of acceptable size leaves the texture without storage.
void upload(GLuint texture, const std::vector<std::uint8_t>& bytes) {
    const DecodedImage image = decodeImage(bytes.data(), bytes.size());
    if (image.empty()) return;
    glTextureStorage2D(texture, 1, GL_RGBA8, image.width, image.height);
    // Rows of 4-byte pixels always meet the default unpack alignment of 4.
    glTextureSubImage2D(texture, 0, 0, 0, image.width, image.height, GL_RGBA, GL_UNSIGNED_BYTE, image.pixels());
}

}  // namespace

Texture::Texture(ResourceArchive& archive, const std::string& entryName) {
    // Created up front so the owner always has a name to draw, image or not.
    glCreateTextures(GL_TEXTURE_2D, 1, &name_);

    ArchiveFile* file = archive.openFile(entryName);
    if (!file) return;
    try {
        const std::vector<std::uint8_t> bytes = archive.readBytes(file);
        upload(name_, bytes);
    } catch (...) {
        // The destructor does not run for a constructor that throws.
        archive.closeFile(file);
        glDeleteTextures(1, &name_);
        throw;
    }
    archive.closeFile(file);
}

Texture::~Texture() {
    glDeleteTextures(1, &name_);
}
