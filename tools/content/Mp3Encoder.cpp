#include "Mp3Encoder.h"

#include "ContentFolder.h"

#include <lame/lame.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace zyr::content {

namespace {

constexpr int kSampleRate = 44100;
constexpr int kBitRate = 192;
// What lame's own reader hands the encoder at a time: one MPEG-1 frame.
constexpr std::size_t kChunkFrames = 1152;

struct EncoderClose {
    void operator()(lame_global_flags* encoder) const { lame_close(encoder); }
};

[[noreturn]] void failed(const std::string& why) { throw ContentError("libmp3lame", 0, 0, why); }

}  // namespace

std::string encodeMp3(std::span<const std::int16_t> pcm) {
    const std::unique_ptr<lame_global_flags, EncoderClose> encoder(lame_init());
    if (!encoder) failed("cannot start the MP3 encoder");
    lame_global_flags* gf = encoder.get();
    const std::size_t frames = pcm.size() / 2;
    // Every setting the lame program makes for `--quiet -b 192 in.wav`, in
    // its order: the same settings give the same bytes.
    id3tag_init(gf);
    lame_set_brate(gf, kBitRate);
    lame_set_VBR_min_bitrate_kbps(gf, lame_get_brate(gf));
    lame_set_findReplayGain(gf, 1);
    lame_set_num_channels(gf, 2);
    lame_set_in_samplerate(gf, kSampleRate);
    lame_set_num_samples(gf, static_cast<unsigned long>(frames));
    lame_set_write_id3tag_automatic(gf, 0);
    if (lame_init_params(gf) < 0) failed("the encoder refused its settings");

    std::string mp3;
    std::vector<unsigned char> out(LAME_MAXMP3BUFFER);
    const std::size_t tagSize = lame_get_id3v2_tag(gf, out.data(), out.size());
    if (tagSize > out.size()) failed("an ID3 tag larger than its buffer");
    mp3.append(reinterpret_cast<const char*>(out.data()), tagSize);

    const auto put = [&](int bytes) {
        if (bytes < 0) failed("encoding failed (libmp3lame error " + std::to_string(bytes) + ")");
        mp3.append(reinterpret_cast<const char*>(out.data()), static_cast<std::size_t>(bytes));
    };
    // lame's reader widens 16-bit samples to the top of an int.
    std::vector<int> left(kChunkFrames), right(kChunkFrames);
    const std::size_t limit =
        static_cast<std::size_t>(std::max(1, lame_get_maximum_number_of_samples(gf, out.size())));
    for (std::size_t at = 0; at < frames; at += kChunkFrames) {
        const std::size_t count = std::min(kChunkFrames, frames - at);
        for (std::size_t i = 0; i < count; ++i) {
            left[i] = static_cast<int>(static_cast<unsigned>(pcm[2 * (at + i)]) << 16);
            right[i] = static_cast<int>(static_cast<unsigned>(pcm[2 * (at + i) + 1]) << 16);
        }
        for (std::size_t done = 0; done < count;) {
            const std::size_t part = std::min(limit, count - done);
            put(lame_encode_buffer_int(gf, left.data() + done, right.data() + done, static_cast<int>(part),
                                       out.data(), static_cast<int>(out.size())));
            done += part;
        }
    }
    put(lame_encode_flush(gf, out.data(), static_cast<int>(out.size())));
    const std::size_t v1 = lame_get_id3v1_tag(gf, out.data(), out.size());
    if (v1 > out.size()) failed("an ID3 tag larger than its buffer");
    mp3.append(reinterpret_cast<const char*>(out.data()), v1);

    // The first frame, written as a placeholder, becomes the Info frame with
    // the LAME tag now that the whole stream is known.
    const std::size_t info = lame_get_lametag_frame(gf, out.data(), out.size());
    if (info > out.size() || tagSize + info > mp3.size()) failed("an Info frame that does not fit the stream");
    std::copy_n(out.data(), info, mp3.begin() + static_cast<std::ptrdiff_t>(tagSize));
    return mp3;
}

}  // namespace zyr::content
