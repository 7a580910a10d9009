// CaptureFiles: what zyr-capture leaves in its output folder, and the rules for
// which folders it may write into.
//
// Use:
//     checkOutputFolder(out);            // before any work: refuses foreign content
//     prepareOutputFolder(out);          // creates it, removes an earlier capture's files
//     FrameWriter frames(out);
//     frames.write(0, rgb, width, height);    // out/frame_000000.png
//     writeWav(out / "soundtrack.wav", 44100, 2, samples);
//
// A capture owns exactly the names frame_<6 or more digits>.png and
// soundtrack.wav, and the part files of those names (FileWrite.h; also the
// names with ".part" appended, which earlier versions wrote): each file is
// written under a part name and renamed when complete, so a file under its
// final name is always whole (a part file is what a killed run left). A folder
// holding nothing else (an earlier capture) is reused: its capture files are
// removed first, so no frame of the earlier run survives
// beside the new ones. Anything else in the folder, a subfolder included, makes
// it refuse: the tool never deletes what it did not write.
//
// Ownership: FrameWriter keeps its file names and PNG buffers from frame to
// frame, so the frame loop does not allocate for them.
//
// Failure: throws CaptureError naming the path (a folder that is a file or holds
// foreign content, a file that cannot be written in full); filesystem errors
// pass through as std::filesystem::filesystem_error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zyr {

class FileSeries;

constexpr const char* kCaptureWavName = "soundtrack.wav";
// printf pattern of the frame names, also handed to video encoders.
constexpr const char* kCaptureFramePattern = "frame_%06d.png";
// Appended to a file's name while it is being written.
constexpr const char* kPartSuffix = ".part";
// PNG compression: 0 fastest (stored) to 9 smallest; the default is the one
// that keeps pace with the renderer on two cores.
constexpr int kMaxPngLevel = 9;
constexpr int kDefaultPngLevel = 1;

bool isCaptureFileName(std::string_view name);
void checkOutputFolder(const std::filesystem::path& folder);
void prepareOutputFolder(const std::filesystem::path& folder);

class FrameWriter {
public:
    explicit FrameWriter(const std::filesystem::path& folder, int level = kDefaultPngLevel);
    FrameWriter(FrameWriter&&) noexcept;
    ~FrameWriter();
    // Also makes room for the PNG of a frame of that size up front.
    FrameWriter(const std::filesystem::path& folder, std::uint32_t width, std::uint32_t height,
                int level = kDefaultPngLevel);

    // Encodes rgb (8-bit RGB, top row first, rows packed) as PNG (libspng at
    // the writer's level) and writes it
    // as frame number index.
    void write(std::size_t index, std::span<const std::uint8_t> rgb, std::uint32_t width, std::uint32_t height);
    // The two halves of write, for measuring them apart.
    void encode(std::span<const std::uint8_t> rgb, std::uint32_t width, std::uint32_t height);
    void save(std::size_t index);

    const std::vector<std::uint8_t>& png() const { return png_; }

private:
    void reserve(std::uint32_t width, std::uint32_t height);

    std::unique_ptr<FileSeries> files_;  // the folder's frames, named without allocating
    int level_;
    std::vector<std::uint8_t> png_;
};

// The bytes of a 16-bit PCM WAV file of interleaved samples.
std::vector<std::uint8_t> wavFile(unsigned frequency, unsigned channels, std::span<const std::int16_t> samples);
// The same written to path.
void writeWav(const std::filesystem::path& path, unsigned frequency, unsigned channels,
              std::span<const std::int16_t> samples);

}  // namespace zyr
