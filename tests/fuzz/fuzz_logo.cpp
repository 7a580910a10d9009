// The launcher logo's decode without GL: the PNG chunk walk, the size bound
// and stb_image.
#include "FuzzSupport.h"
#include "ImageDecode.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    pngChunksFit(data, size);
    const DecodedImage image = decodeImage(data, size);
    if (image.empty()) return 0;
    fuzzCheck(image.width > 0 && image.height > 0, "an image without pixels");
    fuzzCheck(image.width <= kMaxTextureSide && image.height <= kMaxTextureSide, "an image beyond the bound");
    // The last byte the texture upload would read: the sanitizer checks it is there.
    const std::size_t bytes = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 4;
    volatile std::uint8_t last = image.pixels()[bytes - 1];
    (void)last;
    return 0;
}
