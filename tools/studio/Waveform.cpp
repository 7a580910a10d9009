#include "Waveform.h"

#include <mpg123.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>

namespace zyr::studio {

namespace {

// Folds interleaved samples into per-row peaks, block after block.
class PeakFold {
public:
    PeakFold(unsigned channels, unsigned frequency, double rowsPerSecond)
        : channels_(channels), framesPerRow_(frequency / rowsPerSecond) {}

    void add(std::span<const std::int16_t> samples) {
        for (std::size_t i = 0; i + channels_ <= samples.size(); i += channels_, ++frame_) {
            const auto row = static_cast<std::size_t>(static_cast<double>(frame_) / framesPerRow_);
            if (row >= peaks_.size()) peaks_.resize(row + 1, 0.0f);
            for (unsigned c = 0; c < channels_; ++c)
                peaks_[row] = std::max(peaks_[row], std::abs(static_cast<float>(samples[i + c])) / 32768.0f);
        }
    }
    std::vector<float> take() { return std::move(peaks_); }

private:
    unsigned channels_;
    double framesPerRow_;
    std::uint64_t frame_ = 0;
    std::vector<float> peaks_;
};

struct DecoderDeleter {
    void operator()(mpg123_handle* handle) const { mpg123_delete(handle); }
};

}  // namespace

std::vector<float> rowPeaks(std::span<const std::int16_t> samples, unsigned channels, unsigned frequency,
                            double rowsPerSecond) {
    if (channels == 0 || frequency == 0 || !(rowsPerSecond > 0.0)) return {};
    PeakFold fold(channels, frequency, rowsPerSecond);
    fold.add(samples);
    return fold.take();
}

std::vector<float> waveformPeaks(std::string_view mp3, double rowsPerSecond) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { mpg123_init(); });
    const std::unique_ptr<mpg123_handle, DecoderDeleter> decoder(mpg123_new(nullptr, nullptr));
    if (!decoder || !(rowsPerSecond > 0.0)) return {};
    mpg123_param(decoder.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    // 16-bit output at the file's own rate and channels, as the audio layer plays it.
    mpg123_format_none(decoder.get());
    const long* rates = nullptr;
    std::size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (std::size_t i = 0; i < rateCount; ++i)
        mpg123_format(decoder.get(), rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (mpg123_open_feed(decoder.get()) != MPG123_OK ||
        mpg123_feed(decoder.get(), reinterpret_cast<const unsigned char*>(mp3.data()), mp3.size()) != MPG123_OK)
        return {};

    std::unique_ptr<PeakFold> fold;
    std::vector<std::int16_t> block(16384);
    for (;;) {
        std::size_t done = 0;
        const int result = mpg123_read(decoder.get(), block.data(), block.size() * sizeof(std::int16_t), &done);
        if (result == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0;
            int encoding = 0;
            // The first format is the song's; a later change would not be played either.
            if (!fold && mpg123_getformat(decoder.get(), &rate, &channels, &encoding) == MPG123_OK && rate > 0 && channels > 0)
                fold = std::make_unique<PeakFold>(static_cast<unsigned>(channels), static_cast<unsigned>(rate), rowsPerSecond);
        }
        if (fold && done > 0) fold->add(std::span<const std::int16_t>(block.data(), done / sizeof(std::int16_t)));
        if (result != MPG123_OK && result != MPG123_NEW_FORMAT) break;  // MPG123_NEED_MORE: every byte fed is decoded; or an error
    }
    return fold ? fold->take() : std::vector<float>{};
}

}  // namespace zyr::studio
