// The audio layer: streams decoded by libmpg123 from the bytes in memory,
// mixed on a thread of the layer's own into an AudioOutput (AudioOutput.h),
// and positions reported as they are heard.
//
// The mixer runs at the output's rate, 16-bit stereo. A stream at that rate
// is copied (mono duplicated); one at another rate goes through a small
// cubic resampler. Positions are kept in frames of the stream's own decoded
// format, whatever the output runs at.
//
// What is heard: each block a stream hands over is remembered as a segment
// (the output frame it starts at, the stream frames it covers). The output's
// reports, smoothed by HeardClock, say which output frame is at the
// listener's ear now; the segment holding that frame says which stream frame
// it is. A start, a seek or a pause thus shows when it is heard, not when it
// is mixed, and the position never runs ahead of the sound.
//
// On the offline clock there is no output and no thread: a stream's position
// is whatever the tool set.
//
// Locking: one AudioLock guards every stream's playback state, its segments and
// the clock. The mixer holds it while it renders a block and while it takes a
// report, never while the output waits. The stream table only changes on the
// calling thread, so that thread may look streams up without the lock.

#include "AudioLayer.h"
#include "AudioOutput.h"
#include "HeardClock.h"

#include <mpg123.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <future>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct DecoderDeleter {
    void operator()(mpg123_handle* handle) const { mpg123_delete(handle); }
};
using Decoder = std::unique_ptr<mpg123_handle, DecoderDeleter>;

constexpr int kOutputChannels = 2;
// Length of the ramps around a seek or pause (about 3 ms at 44.1 kHz): long
// enough that the jump in the waveform is no click, short enough to go unheard.
constexpr std::size_t kFadeFrames = 128;
// An output is handed at most this much ahead of real time, and at most this
// much faster than it (see Mixer::run).
constexpr double kPacingAllowanceSeconds = 1.0;
constexpr double kPacingMostSpeed = 1.01;
// Segments a stream remembers: enough for an output that queues over a
// second of 10 ms blocks before the listener hears them.
constexpr std::size_t kSegments = 128;

// The compressed bytes as a seekable file for the decoder. Seekable matters: only
// then can the decoder scan the whole file for its exact length.
struct MemoryFile {
    const unsigned char* data = nullptr;
    std::size_t size = 0;
    std::size_t position = 0;
};

mpg123_ssize_t readMemory(void* handle, void* buffer, std::size_t count) {
    auto* file = static_cast<MemoryFile*>(handle);
    const std::size_t n = std::min(count, file->size - file->position);
    std::memcpy(buffer, file->data + file->position, n);
    file->position += n;
    return static_cast<mpg123_ssize_t>(n);
}

off_t seekMemory(void* handle, off_t offset, int whence) {
    auto* file = static_cast<MemoryFile*>(handle);
    off_t base = 0;
    switch (whence) {
    case SEEK_SET: base = 0; break;
    case SEEK_CUR: base = static_cast<off_t>(file->position); break;
    case SEEK_END: base = static_cast<off_t>(file->size); break;
    default: return -1;
    }
    if (offset < -base || offset > static_cast<off_t>(file->size) - base) return -1;
    file->position = static_cast<std::size_t>(base + offset);
    return static_cast<off_t>(file->position);
}

enum class State { Stopped, Playing, Ended };

// A block of a stream handed to the output: from output frame `start`, for
// `frames` frames, the stream's frames `from` to `to` (fractional when
// resampled).
struct Segment {
    std::uint64_t start = 0;
    std::size_t frames = 0;
    double from = 0.0;
    double to = 0.0;
};

// The segments of one stream not yet heard past, oldest first, in a ring
// sized at creation so the mixer never allocates.
class Segments {
public:
    Segments() : ring_(kSegments) {}

    // Nothing handed over yet; until something is, `position` is heard.
    void reset(double position) {
        count_ = 0;
        before_ = position;
    }
    void push(const Segment& segment) {
        if (count_ == ring_.size()) pop();  // long heard, or the output queues more than it should
        ring_[(first_ + count_) % ring_.size()] = segment;
        ++count_;
    }
    // The stream frame at the listener's ear when output frame `frame` is.
    double heardAt(double frame) {
        while (count_ >= 2 && static_cast<double>(at(1).start) <= frame) pop();
        if (count_ == 0 || frame < static_cast<double>(at(0).start)) return before_;
        const Segment& s = at(0);
        const double into = std::min(1.0, (frame - static_cast<double>(s.start)) / static_cast<double>(s.frames));
        return s.from + (s.to - s.from) * into;
    }

private:
    const Segment& at(std::size_t i) const { return ring_[(first_ + i) % ring_.size()]; }
    void pop() {
        before_ = at(0).to;
        first_ = (first_ + 1) % ring_.size();
        --count_;
    }

    std::vector<Segment> ring_;
    std::size_t first_ = 0;
    std::size_t count_ = 0;
    double before_ = 0.0;
};

struct Stream {
    MemoryFile file;
    Decoder decoder;
    bool prescan = false;
    bool offline = false;            // on the offline clock: heard is set, never decoded
    std::uint64_t lengthFrames = 0;  // from the scan; the decoder's estimate without one
    long rate = 0;
    int channels = 0;
    std::size_t frameBytes = 0;
    // Scratch, sized at creation: decoded frames waiting for the mixer, and
    // one block of this stream at the output's rate.
    std::vector<std::int16_t> decoded;
    std::size_t decodedAt = 0;    // frames of `decoded` already taken
    std::size_t decodedHave = 0;  // frames in `decoded`
    std::vector<std::int16_t> output;
    // Resampling: stream frames per output frame (1 when the rates match),
    // four frames around the position for the cubic, the first of them
    // being stream frame tapFrame - 1, and the position past tapFrame.
    double step = 1.0;
    std::array<std::array<float, kOutputChannels>, 4> taps{};
    std::uint64_t tapFrame = 0;
    double phase = 0.0;

    // Guarded by the lock.
    State state = State::Stopped;
    bool decoderDone = false;         // the decoder has given its last frame
    bool handedAll = false;           // ... and all of it went to the output
    std::uint64_t decodedFrames = 0;  // stream frame the decoder gives next
    double handedTo = 0.0;            // stream frame everything before which was handed over
    std::uint64_t heard = 0;          // latest position reported, kept monotonic
    Segments segments;
    // A seek (or pause) the mixer has yet to carry out on the decoder.
    bool seekPending = false;
    bool fadeOutPending = false;  // ... ending what was heard in a ramp
    std::uint64_t seekTarget = 0;
    std::size_t fadeInDone = kFadeFrames;  // frames of the ramp after a seek already mixed
};

// Pulls up to frames decoded frames into out; returns how many came. The
// decoder's end, or an error it cannot get past, ends the stream.
std::size_t decodeInto(Stream& stream, std::int16_t* out, std::size_t frames) {
    auto* buffer = reinterpret_cast<unsigned char*>(out);
    const std::size_t wanted = frames * stream.frameBytes;
    std::size_t have = 0;
    int idleReads = 0;
    while (have < wanted && !stream.decoderDone) {
        std::size_t done = 0;
        const int result = mpg123_read(stream.decoder.get(), buffer + have, wanted - have, &done);
        have += done;
        if (result == MPG123_OK || result == MPG123_NEW_FORMAT) {
            // A decoder that keeps answering with nothing would spin the audio thread.
            idleReads = done == 0 ? idleReads + 1 : 0;
            if (idleReads < 16) continue;
        }
        stream.decoderDone = true;
    }
    const std::size_t framesGot = have / stream.frameBytes;
    stream.decodedFrames += framesGot;
    return framesGot;
}

// The next decoded frame as stereo; false once the decoder has no more.
bool nextFrame(Stream& stream, std::int16_t (&frame)[kOutputChannels]) {
    if (stream.decodedAt == stream.decodedHave) {
        stream.decodedAt = 0;
        const std::size_t room = stream.decoded.size() / static_cast<std::size_t>(stream.channels);
        stream.decodedHave = decodeInto(stream, stream.decoded.data(), room);
        if (stream.decodedHave == 0) return false;
    }
    const std::int16_t* in = stream.decoded.data() + stream.decodedAt * static_cast<std::size_t>(stream.channels);
    frame[0] = in[0];
    frame[1] = stream.channels == 2 ? in[1] : in[0];
    ++stream.decodedAt;
    return true;
}

// Stream frames decoded but not yet handed over.
std::uint64_t waiting(const Stream& stream) { return stream.decodedHave - stream.decodedAt; }

// Fills stream.output with up to frames output frames at the stream's own
// rate; returns how many.
std::size_t renderDirect(Stream& stream, std::size_t frames) {
    std::size_t got = 0;
    std::int16_t frame[kOutputChannels];
    while (got < frames && nextFrame(stream, frame)) {
        stream.output[got * 2] = frame[0];
        stream.output[got * 2 + 1] = frame[1];
        ++got;
    }
    stream.handedTo += static_cast<double>(got);
    stream.handedAll = stream.decoderDone && waiting(stream) == 0;
    return got;
}

// Moves the resampler's window one frame on; past the decoder's end it
// slides in silence.
void shiftTaps(Stream& stream) {
    std::rotate(stream.taps.begin(), stream.taps.begin() + 1, stream.taps.end());
    std::int16_t frame[kOutputChannels] = {0, 0};
    nextFrame(stream, frame);
    stream.taps[3] = {static_cast<float>(frame[0]), static_cast<float>(frame[1])};
    ++stream.tapFrame;
}

// The resampler's window on stream frame `at` (taps[1]), just decoded from there.
void primeTaps(Stream& stream, std::uint64_t at) {
    stream.taps = {};
    stream.tapFrame = at;
    stream.phase = 0.0;
    for (std::size_t i = 1; i < stream.taps.size(); ++i) {
        std::int16_t frame[kOutputChannels] = {0, 0};
        nextFrame(stream, frame);
        stream.taps[i] = {static_cast<float>(frame[0]), static_cast<float>(frame[1])};
    }
}

std::size_t renderResampled(Stream& stream, std::size_t frames) {
    std::size_t got = 0;
    while (got < frames) {
        const double position = static_cast<double>(stream.tapFrame) + stream.phase;
        if (stream.decoderDone && position >= static_cast<double>(stream.decodedFrames)) break;
        const double t = stream.phase;
        for (int c = 0; c < kOutputChannels; ++c) {
            // Catmull-Rom through the four frames around the position.
            const float y0 = stream.taps[0][c], y1 = stream.taps[1][c], y2 = stream.taps[2][c], y3 = stream.taps[3][c];
            const double value = y1 + 0.5 * t * (y2 - y0 + t * (2.0 * y0 - 5.0 * y1 + 4.0 * y2 - y3 + t * (3.0 * (y1 - y2) + y3 - y0)));
            stream.output[got * 2 + static_cast<std::size_t>(c)] =
                static_cast<std::int16_t>(std::clamp(std::lround(value), -32768L, 32767L));
        }
        ++got;
        stream.phase += stream.step;
        while (stream.phase >= 1.0) {
            stream.phase -= 1.0;
            shiftTaps(stream);
        }
    }
    const double position = static_cast<double>(stream.tapFrame) + stream.phase;
    stream.handedAll = stream.decoderDone && position >= static_cast<double>(stream.decodedFrames);
    stream.handedTo = stream.handedAll ? static_cast<double>(stream.decodedFrames) : position;
    return got;
}

std::size_t render(Stream& stream, std::size_t frames) {
    return stream.step == 1.0 ? renderDirect(stream, frames) : renderResampled(stream, frames);
}

// The stream frame heard now, kept monotonic; the stream ends once its last
// frame was heard. Lock held.
std::uint64_t heardFrames(Stream& stream, double outputFrame) {
    if (stream.offline) {
        if (stream.state == State::Playing && stream.heard >= stream.lengthFrames) stream.state = State::Ended;
        return stream.heard;
    }
    if (stream.state != State::Playing) return stream.heard;
    const double at = stream.segments.heardAt(outputFrame);
    stream.heard = std::max(stream.heard, static_cast<std::uint64_t>(std::max(0.0, at)));
    if (stream.handedAll && at >= stream.handedTo) {
        stream.state = State::Ended;
        stream.heard = static_cast<std::uint64_t>(stream.handedTo);
    }
    return stream.heard;
}

class Mixer {
public:
    Mixer(unsigned rate, bool offline) : rate_(rate), offline_(offline), clock_(rate) {}

    ~Mixer() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        streams_.clear();
    }

    Mixer(const Mixer&) = delete;
    Mixer& operator=(const Mixer&) = delete;

    // Opens the output on the mixer's own thread (where it stays) and waits
    // for it: the rate and block size are known when this returns.
    void open(int device, const AudioOutputOpener& opener) {
        if (offline_) return;
        std::promise<void> opened;
        std::future<void> ready = opened.get_future();
        thread_ = std::thread([this, device, opener, &opened] { run(device, opener, opened); });
        ready.wait();
    }

    bool offline() const { return offline_; }
    unsigned rate() const { return rate_; }
    std::size_t blockFrames() const { return block_; }

    AudioStream add(std::unique_ptr<Stream> stream) {
        const std::lock_guard lock(mutex_);
        const AudioStream handle = nextHandle_++;
        streams_.emplace(handle, std::move(stream));
        return handle;
    }

    // Puts stream in the place of the one under handle, which is freed here,
    // outside the lock.
    void replace(AudioStream handle, std::unique_ptr<Stream> stream) {
        std::unique_lock lock(mutex_);
        if (auto found = streams_.find(handle); found != streams_.end()) found->second.swap(stream);
        lock.unlock();
    }

    bool remove(AudioStream handle) {
        std::unique_ptr<Stream> gone;
        {
            const std::lock_guard lock(mutex_);
            if (auto found = streams_.find(handle); found != streams_.end()) {
                gone = std::move(found->second);
                streams_.erase(found);
            }
        }
        return gone != nullptr;  // freed here, outside the lock
    }

    Stream* find(AudioStream handle) {
        auto found = streams_.find(handle);
        return found == streams_.end() ? nullptr : found->second.get();
    }

    AudioLock& mutex() { return mutex_; }

    // The output frame at the listener's ear now. Lock held.
    double heardNow() const { return clock_.frameAt(Clock::now()); }

private:
    void run(int device, const AudioOutputOpener& opener, std::promise<void>& opened) {
        prepareAudioThread();
        std::unique_ptr<AudioOutput> output;
        try {
            if (device != 0) output = opener ? opener(device, rate_) : openSystemOutput(device, rate_);
        } catch (...) {
            output.reset();  // the caller waits for an answer, and gets the silent one
        }
        // No usable output (no sound card, no sound server): a silent one that
        // consumes audio at the real rate keeps the playback clock going, so a
        // presentation still runs its full length.
        if (!output) output = openSilentOutput(rate_);
        rate_ = output->rate();
        block_ = output->blockFrames();
        clock_ = HeardClock(rate_);
        mix_.assign(block_ * kOutputChannels, 0);
        out_.assign(block_ * kOutputChannels, 0);
        opened.set_value();  // `opened` is gone from here on

        std::uint64_t written = 0;   // output frames, across outputs
        std::uint64_t base = 0;      // ... when the current output opened
        bool fresh = false;
        // A system output that takes sound faster than it can be played (a
        // null device, a broken driver) would run the music, and the clock
        // with it, ahead of time: it is never handed more than real time
        // allows, after a start-up allowance. A real device keeps well within.
        const bool paced = !opener;
        const Clock::time_point start = Clock::now();
        const double allowance = kPacingAllowanceSeconds * rate_;
        while (!stop_) {
            if (paced && static_cast<double>(written) > allowance) {
                const double due = (static_cast<double>(written) - allowance) / (rate_ * kPacingMostSpeed);
                std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(due)));
            }
            {
                const std::lock_guard lock(mutex_);
                fill(written);
            }
            if (!output->write(out_.data(), block_)) {
                // The output is gone for good: the rest plays silently, in time.
                output = openSilentOutput(rate_);
                base = written;
                fresh = true;
                output->write(out_.data(), block_);
            }
            written += block_;
            HeardReport heard = output->heard();
            heard.frame += static_cast<double>(base);
            heard.restarted = heard.restarted || fresh;
            fresh = false;
            const std::lock_guard lock(mutex_);
            clock_.report(heard);
        }
    }

    // Mixes one block of every playing stream, to start at output frame `start`.
    void fill(std::uint64_t start) {
        std::fill(mix_.begin(), mix_.end(), 0);
        for (auto& entry : streams_) {
            Stream& stream = *entry.second;
            if (stream.seekPending) carryOutSeek(stream);
            if (stream.state != State::Playing || stream.handedAll) continue;
            const double from = stream.handedTo;
            const std::size_t got = render(stream, block_);
            mixFadingIn(stream, got);
            if (got > 0) stream.segments.push({start, got, from, stream.handedTo});
        }
        for (std::size_t i = 0; i < mix_.size(); ++i)
            out_[i] = static_cast<std::int16_t>(std::clamp<std::int32_t>(mix_[i], std::numeric_limits<std::int16_t>::min(),
                                                                  std::numeric_limits<std::int16_t>::max()));
    }

    // The decoder moved to the stream's seek target. What was heard is first
    // mixed in a ramp down to silence, and the new position then ramps up, so
    // the waveform never jumps. The decoder is repositioned in place: its filter
    // state from the old position fades out with the ramp.
    void carryOutSeek(Stream& stream) {
        if (stream.fadeOutPending && !stream.handedAll) {
            const std::size_t got = render(stream, std::min(kFadeFrames, block_));
            for (std::size_t i = 0; i < got; ++i) {
                const double gain = 1.0 - static_cast<double>(i + 1) / static_cast<double>(got + 1);
                for (std::size_t k = i * kOutputChannels; k < (i + 1) * kOutputChannels; ++k)
                    mix_[k] += static_cast<std::int32_t>(stream.output[k] * gain);
            }
        }
        const bool moved = mpg123_seek(stream.decoder.get(), static_cast<off_t>(stream.seekTarget), SEEK_SET) >= 0;
        // A decoder that cannot get there has nothing more to give: the stream ends.
        stream.decoderDone = !moved;
        stream.decodedFrames = stream.seekTarget;
        stream.decodedAt = stream.decodedHave = 0;
        if (moved && stream.step != 1.0) primeTaps(stream, stream.seekTarget);
        stream.handedTo = static_cast<double>(stream.seekTarget);
        stream.handedAll = !moved;
        stream.fadeInDone = 0;
        stream.seekPending = false;
        stream.fadeOutPending = false;
    }

    void mixFadingIn(Stream& stream, std::size_t got) {
        for (std::size_t i = 0; i < got; ++i) {
            const bool ramping = stream.fadeInDone < kFadeFrames;
            const double gain =
                ramping ? static_cast<double>(stream.fadeInDone + 1) / static_cast<double>(kFadeFrames + 1) : 1.0;
            if (ramping) ++stream.fadeInDone;
            for (std::size_t k = i * kOutputChannels; k < (i + 1) * kOutputChannels; ++k)
                mix_[k] += ramping ? static_cast<std::int32_t>(stream.output[k] * gain) : stream.output[k];
        }
    }

    unsigned rate_;
    bool offline_;
    std::size_t block_ = 0;
    AudioLock mutex_;
    HeardClock clock_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::vector<std::int32_t> mix_;
    std::vector<std::int16_t> out_;
    std::map<AudioStream, std::unique_ptr<Stream>> streams_;
    // Never reused within a process, so a stale handle cannot reach a newer stream.
    static inline AudioStream nextHandle_ = 1;
};

std::unique_ptr<Mixer> output;
bool offlineClockChosen = false;
AudioOutputOpener outputOpener;

// Locks the mixer around a stream's shared state; the stream is null for
// handles that name nothing.
class LockedStream {
public:
    explicit LockedStream(AudioStream handle) : stream_(output ? output->find(handle) : nullptr) {
        if (stream_) lock_ = std::unique_lock(output->mutex());
    }

    Stream* operator->() const { return stream_; }
    Stream& operator*() const { return *stream_; }
    explicit operator bool() const { return stream_ != nullptr; }
    // The stream frame heard now.
    std::uint64_t heard() const { return heardFrames(*stream_, output->offline() ? 0.0 : output->heardNow()); }

private:
    Stream* stream_;
    std::unique_lock<AudioLock> lock_;
};

// Opens the decoder on the bytes and fixes its output format. Null when the bytes
// hold no MP3 audio.
std::unique_ptr<Stream> openStream(const unsigned char* data, std::size_t size, bool prescan) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { mpg123_init(); });

    auto stream = std::make_unique<Stream>();
    stream->file = MemoryFile{data, size, 0};
    stream->decoder.reset(mpg123_new(nullptr, nullptr));
    mpg123_handle* decoder = stream->decoder.get();
    if (decoder == nullptr) return nullptr;
    mpg123_param(decoder, MPG123_ADD_FLAGS, MPG123_QUIET, 0);

    // 16-bit output only: positions are counted in 16-bit frames.
    mpg123_format_none(decoder);
    const long* rates = nullptr;
    std::size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (std::size_t i = 0; i < rateCount; ++i)
        mpg123_format(decoder, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);

    if (mpg123_replace_reader_handle(decoder, readMemory, seekMemory, nullptr) != MPG123_OK) return nullptr;
    if (mpg123_open_handle(decoder, &stream->file) != MPG123_OK) return nullptr;
    if (prescan && (mpg123_scan(decoder) != MPG123_OK || mpg123_length(decoder) <= 0)) return nullptr;
    const off_t length = mpg123_length(decoder);
    stream->lengthFrames = length > 0 ? static_cast<std::uint64_t>(length) : 0;

    long rate = 0;
    int channels = 0;
    int encoding = 0;
    if (mpg123_getformat(decoder, &rate, &channels, &encoding) != MPG123_OK) return nullptr;
    if (encoding != MPG123_ENC_SIGNED_16 || (channels != 1 && channels != 2) || rate <= 0) return nullptr;
    // A later frame in another format must not change what a byte of position means.
    mpg123_format_none(decoder);
    mpg123_format(decoder, rate, channels, MPG123_ENC_SIGNED_16);

    stream->rate = rate;
    stream->channels = channels;
    stream->frameBytes = static_cast<std::size_t>(channels) * sizeof(std::int16_t);
    return stream;
}

// Whether the first frames of the bytes decode. A decoder of its own does the
// trial: seeking a used one back to the start leaves filter state behind, and
// the first frames would then come out slightly different.
bool decodesAudio(const unsigned char* data, std::size_t size) {
    const std::unique_ptr<Stream> trial = openStream(data, size, false);
    if (!trial) return false;
    std::vector<unsigned char> probe(mpg123_safe_buffer());
    std::size_t done = 0;
    const int result = mpg123_read(trial->decoder.get(), probe.data(), probe.size(), &done);
    return (result == MPG123_OK || result == MPG123_DONE || result == MPG123_NEW_FORMAT) && done > 0;
}

// A stream ready to be played: decoder, resampler if needed, and the scratch
// buffers the mixer fills, so that it never allocates.
std::unique_ptr<Stream> makeStream(const unsigned char* data, std::size_t size, bool prescan, const Mixer& mixer) {
    // Offline, the length is the only thing that ends a stream, so it must be exact.
    std::unique_ptr<Stream> stream = openStream(data, size, prescan || mixer.offline());
    if (!stream) return nullptr;
    stream->prescan = prescan;
    if (mixer.offline()) {
        // Nothing is ever decoded for output: no scratch buffers.
        stream->offline = true;
        return stream;
    }
    const std::size_t block = mixer.blockFrames();
    stream->step = static_cast<double>(stream->rate) / static_cast<double>(mixer.rate());
    stream->decoded.assign((block + 64) * static_cast<std::size_t>(stream->channels), 0);
    stream->output.assign(block * kOutputChannels, 0);
    if (stream->step != 1.0) primeTaps(*stream, 0);
    return stream;
}

}  // namespace

void audioUseOfflineClock(bool offline) { offlineClockChosen = offline; }

void audioUseOutputs(AudioOutputOpener opener) { outputOpener = std::move(opener); }

bool audioInit(int device, unsigned frequency) {
    if (output || frequency < 8000 || frequency > 192000) return false;
    output = std::make_unique<Mixer>(frequency, offlineClockChosen);
    output->open(device, outputOpener);
    return true;
}

// The output plays (silence, when no stream does) from audioInit on.
bool audioStart() { return output != nullptr; }

// Decodes length bytes from memory + offset.
AudioStream audioStreamCreate(const void* memory, std::uint64_t offset, std::uint64_t length, std::uint32_t flags) {
    if (!output || memory == nullptr || length == 0) return 0;
    if (length > std::numeric_limits<std::size_t>::max() || offset > std::numeric_limits<std::size_t>::max())
        return 0;
    const auto* data = static_cast<const unsigned char*>(memory) + static_cast<std::size_t>(offset);
    const auto size = static_cast<std::size_t>(length);
    if (!decodesAudio(data, size)) return 0;
    std::unique_ptr<Stream> stream = makeStream(data, size, (flags & kAudioPrescan) != 0, *output);
    return stream ? output->add(std::move(stream)) : 0;
}

bool audioChannelPlay(AudioStream handle, bool restart) {
    Stream* current = output ? output->find(handle) : nullptr;
    if (current == nullptr) return false;
    if (restart && current->offline) {
        LockedStream stream(handle);
        stream->heard = 0;
        stream->state = State::Playing;
        return true;
    }
    if (restart) {
        // A restart is a fresh stream on the same bytes under the same handle:
        // a rewound decoder would keep filter state from where it was.
        std::unique_ptr<Stream> fresh = makeStream(current->file.data, current->file.size, current->prescan, *output);
        if (!fresh) return false;
        fresh->state = State::Playing;
        output->replace(handle, std::move(fresh));
        return true;
    }
    LockedStream stream(handle);
    if (stream->state == State::Ended) return false;  // finished streams stay finished
    stream->state = State::Playing;
    return true;
}

std::uint64_t audioChannelGetPosition(AudioStream handle) {
    LockedStream stream(handle);
    if (!stream) return 0;
    return stream.heard() * stream->frameBytes;
}

double audioChannelBytes2Seconds(AudioStream handle, std::uint64_t bytes) {
    // Rate and frame size never change after creation, so no lock is needed.
    Stream* stream = output ? output->find(handle) : nullptr;
    if (!stream) return 0.0;
    return static_cast<double>(bytes) / (static_cast<double>(stream->rate) * static_cast<double>(stream->frameBytes));
}

int audioChannelIsActive(AudioStream handle) {
    LockedStream stream(handle);
    if (!stream) return kAudioStopped;
    stream.heard();
    return stream->state == State::Playing ? kAudioPlaying : kAudioStopped;
}

std::uint64_t audioChannelSeconds2Bytes(AudioStream handle, double seconds) {
    Stream* stream = output ? output->find(handle) : nullptr;
    if (!stream || !(seconds > 0.0)) return 0;
    // Nearest rather than truncated: k / fps seconds that are a whole number of
    // frames in exact arithmetic must not lose one to rounding error. The cap,
    // far beyond any song, keeps the product from overflowing.
    const double frames = std::min(std::nearbyint(seconds * static_cast<double>(stream->rate)), 0x1p60);
    return static_cast<std::uint64_t>(frames) * stream->frameBytes;
}

std::uint64_t audioChannelGetLength(AudioStream handle) {
    // Set at creation and never changed, so no lock is needed.
    Stream* stream = output ? output->find(handle) : nullptr;
    return stream ? stream->lengthFrames * stream->frameBytes : 0;
}

bool audioChannelGetInfo(AudioStream handle, AudioInfo* info) {
    Stream* stream = output ? output->find(handle) : nullptr;
    if (!stream || info == nullptr) return false;
    info->frequency = static_cast<unsigned>(stream->rate);
    info->channels = static_cast<unsigned>(stream->channels);
    return true;
}

bool audioSetPosition(AudioStream handle, std::uint64_t bytes) {
    LockedStream stream(handle);
    if (!stream || !stream->offline || stream->state == State::Ended) return false;
    stream->heard = std::min(bytes / stream->frameBytes, stream->lengthFrames);
    return true;
}

bool audioStreamDecodeAll(AudioStream handle, std::vector<std::int16_t>& samples) {
    samples.clear();
    Stream* current = output ? output->find(handle) : nullptr;
    if (current == nullptr) return false;
    // A fresh decoder that has not scanned: the stream's own may be in use on
    // the audio thread, and one that scanned (or ran) and was rewound gives a
    // few samples of MPEG-2 files a step off (measured: 16 samples by 1 in
    // 1.5 s of a 22.05 kHz file).
    const std::unique_ptr<Stream> whole = openStream(current->file.data, current->file.size, false);
    if (!whole) return false;
    const auto channels = static_cast<std::size_t>(whole->channels);
    // The stream's length is exact when it was scanned, and a first guess if not.
    std::size_t frames = 0;
    std::size_t room = std::max<std::size_t>(static_cast<std::size_t>(current->lengthFrames), 4096);
    while (!whole->decoderDone) {
        samples.resize((frames + room) * channels);
        frames += decodeInto(*whole, samples.data() + frames * channels, room);
        room = 4096;
    }
    samples.resize(frames * channels);
    return true;
}

bool audioStreamFree(AudioStream handle) { return output && output->remove(handle); }

bool audioFree() {
    if (!output) return false;
    output.reset();
    return true;
}

namespace {

// Lock held. The position reads target from now on; the mixer moves the
// decoder there before it next hands anything over.
void requestSeek(Stream& stream, std::uint64_t target, bool fadeOut) {
    stream.seekPending = true;
    stream.fadeOutPending = stream.fadeOutPending || fadeOut;
    stream.seekTarget = target;
    stream.heard = target;
    stream.segments.reset(static_cast<double>(target));
    stream.handedTo = static_cast<double>(target);
    stream.handedAll = false;
}

}  // namespace

bool audioChannelSeek(AudioStream handle, std::uint64_t bytes) {
    LockedStream stream(handle);
    if (!stream) return false;
    const std::uint64_t target = std::min(bytes / stream->frameBytes, stream->lengthFrames);
    if (stream->state == State::Ended) stream->state = State::Stopped;
    if (stream->offline) {
        stream->heard = target;
        return true;
    }
    requestSeek(*stream, target, stream->state == State::Playing);
    return true;
}

bool audioChannelPause(AudioStream handle) {
    LockedStream stream(handle);
    if (!stream) return false;
    const std::uint64_t at = stream.heard();
    if (stream->state == State::Ended) return false;
    if (stream->state == State::Stopped) return true;
    stream->state = State::Stopped;
    // Output resumes at the frame heard when paused, not at the end of what the
    // device had already been handed.
    if (!stream->offline) requestSeek(*stream, at, true);
    return true;
}
