#include "CaptureFiles.h"

#include "CaptureError.h"
#include "FileWrite.h"
#include "PathText.h"

#include <spng.h>
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

namespace zyr {

namespace fs = std::filesystem;

namespace {

int appendPng(spng_ctx*, void* context, void* data, std::size_t size) {
    auto* png = static_cast<std::vector<std::uint8_t>*>(context);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    png->insert(png->end(), bytes, bytes + size);
    return 0;
}

struct EncoderFree {
    void operator()(spng_ctx* context) const { spng_ctx_free(context); }
};

void putLittleEndian(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace

bool isCaptureFileName(std::string_view name) {
    // A part file is what an interrupted write of a capture file left behind
    // (name.part is what earlier versions of the tool left).
    if (const auto target = partFileTarget(name)) name = *target;
    else if (name.ends_with(kPartSuffix)) name.remove_suffix(std::string_view(kPartSuffix).size());
    if (name == kCaptureWavName) return true;
    constexpr std::string_view kPrefix = "frame_";
    constexpr std::string_view kSuffix = ".png";
    if (name.size() < kPrefix.size() + 6 + kSuffix.size() || !name.starts_with(kPrefix) || !name.ends_with(kSuffix))
        return false;
    const std::string_view digits = name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size());
    for (char c : digits)
        if (c < '0' || c > '9') return false;
    return true;
}

void checkOutputFolder(const fs::path& folder) {
    const fs::file_status status = fs::status(folder);
    if (!fs::exists(status)) return;
    if (!fs::is_directory(status)) throw CaptureError(toUtf8(folder) + " exists and is not a folder");
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        const std::string name = toUtf8(entry.path().filename());
        if (!entry.is_regular_file() || !isCaptureFileName(name))
            throw CaptureError(toUtf8(folder) + " holds " + name +
                               ", which no capture wrote; give an empty or new folder");
    }
}

void prepareOutputFolder(const fs::path& folder) {
    checkOutputFolder(folder);
    fs::create_directories(folder);
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        if (isCaptureFileName(toUtf8(entry.path().filename()))) fs::remove(entry.path());
}

FrameWriter::FrameWriter(const fs::path& folder, int level) : level_(level) {
    if (level < 0 || level > kMaxPngLevel) throw CaptureError("no PNG level " + std::to_string(level));
    try {
        files_ = std::make_unique<FileSeries>(folder);
    } catch (const FileError& error) {
        throw CaptureError(error.what());
    }
}

FrameWriter::FrameWriter(FrameWriter&&) noexcept = default;
FrameWriter::~FrameWriter() = default;

FrameWriter::FrameWriter(const fs::path& folder, std::uint32_t width, std::uint32_t height, int level)
    : FrameWriter(folder, level) {
    reserve(width, height);
}

void FrameWriter::reserve(std::uint32_t width, std::uint32_t height) {
    // The largest PNG a frame can make, so no later frame grows the buffer: the
    // encoder's fixed Huffman codes spend at most 9 bits on a byte of filtered
    // rows (pixels plus a filter byte a row), and chunks add a few bytes.
    const std::size_t worst = (static_cast<std::size_t>(width) * 3 + 1) * height * 9 / 8 + 4096;
    if (png_.capacity() < worst) png_.reserve(worst);
}

void FrameWriter::encode(std::span<const std::uint8_t> rgb, std::uint32_t width, std::uint32_t height) {
    reserve(width, height);
    png_.clear();
    const std::unique_ptr<spng_ctx, EncoderFree> encoder(spng_ctx_new(SPNG_CTX_ENCODER));
    spng_ihdr header{};
    header.width = width;
    header.height = height;
    header.bit_depth = 8;
    header.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
    // Level 0 stores the rows as they are. 1 to 5 take the "up" filter alone,
    // which on the demo's frames is both the cheapest and the smallest of the
    // single filters, and level 1 deflates it by runs only (about a fifth
    // faster than level 2, a sixth larger); 6 to 9 let every row pick its best
    // filter. Nothing here depends on timing or threads: same level, same bytes.
    const int filters = level_ == 0 ? SPNG_FILTER_CHOICE_NONE
                        : level_ <= 5 ? SPNG_FILTER_CHOICE_UP
                                      : SPNG_FILTER_CHOICE_ALL;
    const int strategy = level_ == 1 ? Z_RLE : Z_FILTERED;
    int error = encoder ? 0 : SPNG_EMEM;
    if (error == 0) error = spng_set_png_stream(encoder.get(), appendPng, &png_);
    if (error == 0) error = spng_set_ihdr(encoder.get(), &header);
    if (error == 0) error = spng_set_option(encoder.get(), SPNG_IMG_COMPRESSION_LEVEL, level_);
    if (error == 0) error = spng_set_option(encoder.get(), SPNG_FILTER_CHOICE, filters);
    if (error == 0) error = spng_set_option(encoder.get(), SPNG_IMG_COMPRESSION_STRATEGY, strategy);
    const std::size_t size = static_cast<std::size_t>(width) * height * 3;
    if (error == 0 && rgb.size() < size) error = SPNG_EBUFSIZ;
    if (error == 0)
        error = spng_encode_image(encoder.get(), rgb.data(), size, SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
    if (error != 0)
        throw CaptureError("PNG encoding failed for a " + std::to_string(width) + "x" + std::to_string(height) +
                           " frame: " + spng_strerror(error));
}

void FrameWriter::save(std::size_t index) {
    char name[32];
    std::snprintf(name, sizeof name, kCaptureFramePattern, static_cast<int>(index));
    try {
        files_->replace(name, std::string_view(reinterpret_cast<const char*>(png_.data()), png_.size()));
    } catch (const FileError& error) {
        throw CaptureError(error.what());
    }
}

void FrameWriter::write(std::size_t index, std::span<const std::uint8_t> rgb, std::uint32_t width,
                        std::uint32_t height) {
    encode(rgb, width, height);
    save(index);
}

std::vector<std::uint8_t> wavFile(unsigned frequency, unsigned channels, std::span<const std::int16_t> samples) {
    const std::uint64_t dataBytes = samples.size() * sizeof(std::int16_t);
    // RIFF sizes are 32-bit; the whole file must stay below 4 GiB.
    if (dataBytes > std::numeric_limits<std::uint32_t>::max() - 36)
        throw CaptureError("the music is too long for a WAV file");
    const auto blockAlign = channels * 2;
    std::vector<std::uint8_t> file;
    file.reserve(44 + dataBytes);
    auto tag = [&](const char* fourCc) { file.insert(file.end(), fourCc, fourCc + 4); };
    tag("RIFF");
    putLittleEndian(file, static_cast<std::uint32_t>(36 + dataBytes), 4);
    tag("WAVE");
    tag("fmt ");
    putLittleEndian(file, 16, 4);
    putLittleEndian(file, 1, 2);  // integer PCM
    putLittleEndian(file, channels, 2);
    putLittleEndian(file, frequency, 4);
    putLittleEndian(file, frequency * blockAlign, 4);
    putLittleEndian(file, blockAlign, 2);
    putLittleEndian(file, 16, 2);
    tag("data");
    putLittleEndian(file, static_cast<std::uint32_t>(dataBytes), 4);
    for (std::int16_t sample : samples) putLittleEndian(file, static_cast<std::uint16_t>(sample), 2);
    return file;
}

void writeWav(const fs::path& path, unsigned frequency, unsigned channels, std::span<const std::int16_t> samples) {
    std::vector<std::uint8_t> file;
    try {
        file = wavFile(frequency, channels, samples);
    } catch (const CaptureError& error) {
        throw CaptureError(toUtf8(path) + ": " + error.what());
    }
    try {
        replaceFile(path, std::string_view(reinterpret_cast<const char*>(file.data()), file.size()));
    } catch (const FileError& error) {
        throw CaptureError(error.what());
    }
}

}  // namespace zyr
