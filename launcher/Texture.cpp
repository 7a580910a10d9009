#include "Texture.h"

#include "ResourceArchive.h"

#include <GL/glew.h>
#include <stb/stb_image.h>

#include <climits>
#include <cstdint>
#include <type_traits>
#include <vector>

static_assert(std::is_same_v<GLuint, std::uint32_t>, "the texture name is handed to GL by address");

namespace {

// Decodes an image file held in memory and gives it to the texture as its only
// level. Anything that is not a decodable image of acceptable size leaves the
// texture without storage.
void upload(GLuint texture, const std::vector<std::uint8_t>& bytes) {
    // stb_image takes the length as an int.
    if (bytes.empty() || bytes.size() > static_cast<std::size_t>(INT_MAX)) return;
    const int length = static_cast<int>(bytes.size());

    // The header alone can ask for an enormous allocation; read the size first and
    // refuse what no GL 4.6 driver is bound to accept (16384 is the guaranteed
    // minimum of GL_MAX_TEXTURE_SIZE, and the context has no error checking).
    int width = 0, height = 0, channelsInFile = 0;
    if (!stbi_info_from_memory(bytes.data(), length, &width, &height, &channelsInFile)) return;
    if (width <= 0 || height <= 0 || width > kMaxTextureSide || height > kMaxTextureSide) return;

    stbi_uc* pixels = stbi_load_from_memory(bytes.data(), length, &width, &height, &channelsInFile, 4);
    if (!pixels) return;
    // The decoder has the last word on the size; hold it to the same bound.
    if (width > 0 && height > 0 && width <= kMaxTextureSide && height <= kMaxTextureSide) {
        glTextureStorage2D(texture, 1, GL_RGBA8, width, height);
        // Rows of 4-byte pixels always meet the default unpack alignment of 4.
        glTextureSubImage2D(texture, 0, 0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
    }
    stbi_image_free(pixels);
}

} // namespace

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
