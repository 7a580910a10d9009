// The launcher logo's decode without GL: the PNG chunk walk, the size bound,
// the decode budget and stb_image. Every byte the heap hands out while
// decodeImage runs is counted: the most held at once must stay within the
// budget for the input's size, whatever the format and whatever its header
// claims.
#include "FuzzSupport.h"
#include "ImageDecode.h"

#include <sanitizer/allocator_interface.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

bool gCounting = false;
long long gHeld = 0;
long long gMostHeld = 0;

void onMalloc(const volatile void* /*block*/, std::size_t size) {
    if (!gCounting) return;
    gHeld += static_cast<long long>(size);
    gMostHeld = std::max(gMostHeld, gHeld);
}

void onFree(const volatile void* block) {
    if (gCounting && block) gHeld -= static_cast<long long>(__sanitizer_get_allocated_size(const_cast<const void*>(block)));
}

// The decoder's block headers and the result's own small parts (its reason).
constexpr long long kSlack = 64 * 1024;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    fuzzCheck(__sanitizer_install_malloc_and_free_hooks(onMalloc, onFree) != 0, "no room for the heap hooks");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    pngChunksFit(data, size);
    gHeld = gMostHeld = 0;
    gCounting = true;
    DecodedImage image = decodeImage(data, size);
    gCounting = false;
    fuzzCheck(gMostHeld <= static_cast<long long>(decodeBudget(size)) + kSlack, "the decode held more than its budget");
    fuzzCheck(image.empty() == (image.failure != ImageFailure::None), "an empty image without a failure, or the reverse");
    if (image.empty()) return 0;
    fuzzCheck(image.width > 0 && image.height > 0, "an image without pixels");
    fuzzCheck(image.width <= kMaxTextureSide && image.height <= kMaxTextureSide, "an image beyond the bound");
    // The last byte the texture upload would read: the sanitizer checks it is there.
    const std::size_t bytes = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 4;
    volatile std::uint8_t last = image.pixels()[bytes - 1];
    (void)last;
    return 0;
}
