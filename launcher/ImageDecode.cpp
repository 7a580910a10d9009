#include "ImageDecode.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// The decoder's every block goes through here, so what it holds is known and
// can be refused while one decode runs: a header's claim alone (a few bytes of
// BMP, TGA, PNM or PSD asking for 16384 x 16384, a PNG whose image data
// inflates far past its pixels) then costs no more than the budget, for every
// format the decoder knows, before or after it finds the data missing.
// What the decoder holds counts process-wide, so pixels freed on another thread
// than the one that decoded them are settled all the same; the limit is the
// decoding thread's own (a decode elsewhere at the same time only makes it
// stricter).
std::atomic<std::size_t> gHeld{0};
thread_local std::size_t tLimit = SIZE_MAX;  // no limit outside a decode: freeing never fails
thread_local bool tRefused = false;

// Each block starts with its size, padded so the decoder's part stays aligned.
constexpr std::size_t kBlockHeader = alignof(std::max_align_t);

bool mayHoldMore(std::size_t more) {
    if (more > tLimit || gHeld.load() > tLimit - more) {
        tRefused = true;
        return false;
    }
    return true;
}

std::size_t blockSize(void* p) {
    std::size_t size = 0;
    std::memcpy(&size, static_cast<unsigned char*>(p) - kBlockHeader, sizeof size);
    return size;
}

void* settle(void* raw, std::size_t size) {
    std::memcpy(raw, &size, sizeof size);
    gHeld += size;
    return static_cast<unsigned char*>(raw) + kBlockHeader;
}

void* budgetMalloc(std::size_t size) {
    if (size > SIZE_MAX - kBlockHeader || !mayHoldMore(size)) return nullptr;
    void* raw = std::malloc(size + kBlockHeader);
    return raw ? settle(raw, size) : nullptr;
}

void budgetFree(void* p) {
    if (!p) return;
    gHeld -= blockSize(p);
    std::free(static_cast<unsigned char*>(p) - kBlockHeader);
}

void* budgetRealloc(void* p, std::size_t size) {
    if (!p) return budgetMalloc(size);
    const std::size_t old = blockSize(p);
    if (size > SIZE_MAX - kBlockHeader || (size > old && !mayHoldMore(size - old))) return nullptr;
    void* raw = std::realloc(static_cast<unsigned char*>(p) - kBlockHeader, size + kBlockHeader);
    if (!raw) return nullptr;
    gHeld -= old;
    return settle(raw, size);
}

// While it lives, the decoder on this thread may hold `allowance` bytes more
// than it held before.
class BudgetScope {
public:
    explicit BudgetScope(std::size_t allowance) {
        const std::size_t held = gHeld.load();
        tLimit = held > SIZE_MAX - allowance ? SIZE_MAX : held + allowance;
        tRefused = false;
    }
    ~BudgetScope() { tLimit = SIZE_MAX; }
    BudgetScope(const BudgetScope&) = delete;
    BudgetScope& operator=(const BudgetScope&) = delete;
};

}  // namespace

// The decoder is compiled here, private to this file, so that its allocations
// are the ones above; every format the packaged library decodes stays on.
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_STDIO
#define STBI_MALLOC(size) budgetMalloc(size)
#define STBI_REALLOC(p, size) budgetRealloc(p, size)
#define STBI_FREE(p) budgetFree(p)
// Private to this file, the decoder's entry points that go unused are warned of
// wherever its header is not taken as a system one (the cross build's prefix).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

namespace {

constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// Length, type and CRC around each chunk's data.
constexpr std::size_t kChunkOverhead = 12;

// A 280 x 128 logo needs about 1 MiB in the costliest format (16-bit PNG or
// HDR); this leaves room for one drawn at several times that size.
constexpr std::size_t kFixedAllowance = std::size_t{16} << 20;
constexpr std::size_t kPerFileByte = 8;

std::uint32_t bigEndian32(const std::uint8_t* at) {
    return (std::uint32_t{at[0]} << 24) | (std::uint32_t{at[1]} << 16) | (std::uint32_t{at[2]} << 8) | std::uint32_t{at[3]};
}

// The decoder's PNM reader converts a 16-bit image's channels as if it were 8-bit,
// then reads twice the bytes it converted when narrowing it: a read past the end
// of its own buffer, into a garbled image. Such files are refused.
bool sixteenBitPnm(const std::uint8_t* bytes, int length) {
    return length >= 2 && bytes[0] == 'P' && (bytes[1] == '5' || bytes[1] == '6') &&
           stbi_is_16_bit_from_memory(bytes, length);
}

bool beyondTextureSide(int width, int height) {
    return width <= 0 || height <= 0 || width > kMaxTextureSide || height > kMaxTextureSide;
}

DecodedImage refused(ImageFailure failure, const char* reason, int width = 0, int height = 0) {
    DecodedImage image;
    image.width = width;
    image.height = height;
    image.failure = failure;
    if (reason) image.reason = reason;
    return image;
}

}  // namespace

std::size_t decodeBudget(std::size_t size) {
    const std::size_t most = (SIZE_MAX - kFixedAllowance) / kPerFileByte;
    return kFixedAllowance + std::min(size, most) * kPerFileByte;
}

bool pngChunksFit(const std::uint8_t* bytes, std::size_t size) {
    if (size < sizeof kPngSignature || std::memcmp(bytes, kPngSignature, sizeof kPngSignature) != 0) return true;
    // stb_image grows its compressed-data buffer to each IDAT's declared length
    // before it reads the data, so a 1x1 image can ask for gigabytes. Every
    // chunk up to the end marker must lie within the file.
    std::size_t at = sizeof kPngSignature;
    while (at < size) {
        if (size - at < kChunkOverhead) return false;
        const std::uint64_t length = bigEndian32(bytes + at);
        if (length > size - at - kChunkOverhead) return false;
        if (std::memcmp(bytes + at + 4, "IEND", 4) == 0) return true;
        at += kChunkOverhead + static_cast<std::size_t>(length);
    }
    return true;
}

DecodedImage decodeImage(const std::uint8_t* bytes, std::size_t size) {
    // stb_image takes the length as an int.
    if (!bytes || size == 0) return refused(ImageFailure::NotAnImage, "empty file");
    if (size > static_cast<std::size_t>(INT_MAX)) return refused(ImageFailure::NotAnImage, "too large");
    if (!pngChunksFit(bytes, size)) return refused(ImageFailure::DamagedPng, nullptr);
    const int length = static_cast<int>(size);
    const BudgetScope budget(decodeBudget(size));

    // The header first: refuse what no GL 4.6 driver is bound to accept (16384 is
    // the guaranteed minimum of GL_MAX_TEXTURE_SIZE, and the context has no
    // error checking) before the decoder reserves anything for it.
    int width = 0, height = 0, channelsInFile = 0;
    if (!stbi_info_from_memory(bytes, length, &width, &height, &channelsInFile))
        return refused(tRefused ? ImageFailure::OverBudget : ImageFailure::NotAnImage, stbi_failure_reason());
    if (beyondTextureSide(width, height)) return refused(ImageFailure::TooLarge, nullptr, width, height);
    if (sixteenBitPnm(bytes, length))
        return refused(ImageFailure::DecodeFailed, "16-bit PNM, which the decoder garbles", width, height);

    int decodedWidth = 0, decodedHeight = 0;
    std::unique_ptr<std::uint8_t, void (*)(void*)> pixels{
        stbi_load_from_memory(bytes, length, &decodedWidth, &decodedHeight, &channelsInFile, 4), stbi_image_free};
    if (!pixels)
        return refused(tRefused ? ImageFailure::OverBudget : ImageFailure::DecodeFailed, stbi_failure_reason(), width,
                       height);
    // The decoder has the last word on the size; hold it to the same bound.
    if (beyondTextureSide(decodedWidth, decodedHeight))
        return refused(ImageFailure::TooLarge, nullptr, decodedWidth, decodedHeight);
    DecodedImage image;
    image.width = decodedWidth;
    image.height = decodedHeight;
    image.data = std::move(pixels);
    image.failure = ImageFailure::None;
    return image;
}
