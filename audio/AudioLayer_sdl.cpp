// The audio layer on SDL2 (output) and libmpg123 (MP3 decoding from memory).
//
// One SDL device runs at the rate asked of audioInit, 16-bit stereo. Its callback
// mixes every playing stream into the device buffer, decoding each stream's MP3
// as it goes. A stream at the device rate is copied (mono duplicated); a stream at
// another rate goes through an SDL resampler. Positions are kept in frames of the
// stream's own decoded format, whatever the device runs at.
//
// On the offline clock there is no SDL device and no callback: a stream's
// position is whatever the tool set, so nothing needs the lock there.
//
// Locking: the stream table and every field a callback touches are guarded by
// the device lock (SDL_LockAudioDevice, the mutex SDL holds around the callback).
// The table only changes on the calling thread, so that thread may look streams
// up without the lock; it takes it before reading or changing playback state.

#include "AudioLayer.h"
#include "SoundLibraryDiagnostics.h"

#include <SDL.h>
#include <mpg123.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct DecoderDeleter {
    void operator()(mpg123_handle* handle) const { mpg123_delete(handle); }
};
using Decoder = std::unique_ptr<mpg123_handle, DecoderDeleter>;

struct ResamplerDeleter {
    void operator()(SDL_AudioStream* stream) const { SDL_FreeAudioStream(stream); }
};
using Resampler = std::unique_ptr<SDL_AudioStream, ResamplerDeleter>;

constexpr int kDeviceChannels = 2;
constexpr std::size_t kDeviceFrameBytes = kDeviceChannels * sizeof(std::int16_t);
// Length of the ramps around a seek or pause (about 3 ms at 44.1 kHz): long
// enough that the jump in the waveform is no click, short enough to go unheard.
constexpr std::size_t kFadeFrames = 128;

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

struct Stream {
    MemoryFile file;
    Decoder decoder;
    Resampler resampler;  // null when the stream runs at the device rate
    bool prescan = false;
    bool offline = false;          // on the offline clock: heard is set, never decoded
    std::uint64_t lengthFrames = 0;  // from the scan; the decoder's estimate without one
    long rate = 0;
    int channels = 0;
    std::size_t frameBytes = 0;
    std::vector<std::int16_t> decoded;  // scratch: one pull of decoded frames
    std::vector<std::int16_t> output;   // scratch: one device buffer of this stream

    // Guarded by the device lock.
    State state = State::Stopped;
    bool decoderDone = false;      // the decoder has given its last frame
    bool handedAll = false;        // ... and all of it went to the device
    std::uint64_t decodedFrames = 0;
    std::uint64_t handed = 0;          // frames given to the device so far
    std::uint64_t handedBefore = 0;    // ... before the latest callback that took some
    Clock::time_point handedAt;        // when that callback ran
    std::uint64_t heard = 0;           // latest position reported, kept monotonic
    // A seek (or pause) the callback has yet to carry out on the decoder.
    bool seekPending = false;
    bool fadeOutPending = false;   // ... ending what was heard in a ramp
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

// Pulls up to frames decoded frames into stream.decoded.
std::size_t decode(Stream& stream, std::size_t frames) { return decodeInto(stream, stream.decoded.data(), frames); }

// Fills stream.output with up to frames device frames; returns how many.
std::size_t renderDirect(Stream& stream, std::size_t frames) {
    const std::size_t got = decode(stream, frames);
    const std::int16_t* in = stream.decoded.data();
    std::int16_t* out = stream.output.data();
    if (stream.channels == 1) {
        for (std::size_t i = 0; i < got; ++i) out[2 * i] = out[2 * i + 1] = in[i];
    } else {
        std::copy_n(in, got * 2, out);
    }
    stream.handed += got;
    stream.handedAll = stream.decoderDone;
    return got;
}

std::size_t renderResampled(Stream& stream, std::size_t frames, int deviceRate) {
    SDL_AudioStream* resampler = stream.resampler.get();
    const int wantedBytes = static_cast<int>(frames * kDeviceFrameBytes);
    const std::size_t pull = stream.decoded.size() / static_cast<std::size_t>(stream.channels);
    while (!stream.decoderDone && SDL_AudioStreamAvailable(resampler) < wantedBytes) {
        const std::size_t got = decode(stream, pull);
        if (got > 0) SDL_AudioStreamPut(resampler, stream.decoded.data(), static_cast<int>(got * stream.frameBytes));
        if (stream.decoderDone) SDL_AudioStreamFlush(resampler);
    }
    const int bytes = std::max(0, SDL_AudioStreamGet(resampler, stream.output.data(), wantedBytes));
    const int pending = SDL_AudioStreamAvailable(resampler);

    // What still waits in the resampler has not reached the device yet.
    const double pendingFrames = static_cast<double>(pending) / kDeviceFrameBytes * static_cast<double>(stream.rate) /
                                 deviceRate;
    const double estimate = static_cast<double>(stream.decodedFrames) - pendingFrames;
    const auto handed = estimate <= 0.0 ? std::uint64_t{0} : static_cast<std::uint64_t>(estimate);
    stream.handedAll = stream.decoderDone && pending == 0;
    stream.handed = stream.handedAll ? stream.decodedFrames : std::clamp(handed, stream.handed, stream.decodedFrames);
    return static_cast<std::size_t>(bytes) / kDeviceFrameBytes;
}

// Frames of the stream being heard now: what the device got up to the callback
// before the latest one, plus the time since the latest one at the stream's rate,
// never beyond what was handed over. Device lock held.
std::uint64_t heardFrames(Stream& stream) {
    if (stream.offline) {
        if (stream.state == State::Playing && stream.heard >= stream.lengthFrames) stream.state = State::Ended;
        return stream.heard;
    }
    if (stream.state == State::Ended) return stream.handed;
    if (stream.state == State::Playing && stream.handed > stream.heard) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - stream.handedAt).count();
        const double estimate = static_cast<double>(stream.handedBefore) + elapsed * static_cast<double>(stream.rate);
        const std::uint64_t heard = estimate >= static_cast<double>(stream.handed)
                                        ? stream.handed
                                        : static_cast<std::uint64_t>(std::max(0.0, estimate));
        stream.heard = std::max(stream.heard, heard);
    }
    if (stream.state == State::Playing && stream.handedAll && stream.heard >= stream.handed)
        stream.state = State::Ended;
    return stream.heard;
}

class Output {
public:
    Output(int rate, bool offline) : rate_(rate), offline_(offline) {}

    ~Output() {
        if (device_ != 0) SDL_CloseAudioDevice(device_);  // waits for the callback thread
        streams_.clear();
        if (subsystem_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
        else if (driverOnly_) SDL_AudioQuit();
    }

    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    bool open(int device) {
        if (offline_) return true;
        silenceSoundLibraryDiagnostics();
        // The audio subsystem starts SDL's events, whose SIGINT/SIGTERM handlers
        // would only queue a quit event nobody reads; the program has its own.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        subsystem_ = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
        if (subsystem_ && device != 0) device_ = openDevice(device);
        if (device_ == 0) {
            // No usable output (no sound card, no sound server): a silent device
            // that consumes audio at the real rate keeps the playback clock going,
            // so a presentation still runs its full length.
            if (SDL_AudioInit("dummy") == 0) {
                driverOnly_ = !subsystem_;
                device_ = openDevice(-1);
            }
        }
        if (device_ == 0) return false;
        SDL_PauseAudioDevice(device_, 0);
        return true;
    }

    void start() {
        if (device_ != 0) SDL_PauseAudioDevice(device_, 0);
    }

    bool offline() const { return offline_; }
    int rate() const { return rate_; }
    std::size_t bufferFrames() const { return bufferFrames_; }

    AudioStream add(std::unique_ptr<Stream> stream) {
        lock();
        const AudioStream handle = nextHandle_++;
        streams_.emplace(handle, std::move(stream));
        unlock();
        return handle;
    }

    // Puts stream in the place of the one under handle, which is freed here,
    // outside the lock.
    void replace(AudioStream handle, std::unique_ptr<Stream> stream) {
        lock();
        if (auto found = streams_.find(handle); found != streams_.end()) found->second.swap(stream);
        unlock();
    }

    bool remove(AudioStream handle) {
        std::unique_ptr<Stream> gone;
        lock();
        if (auto found = streams_.find(handle); found != streams_.end()) {
            gone = std::move(found->second);
            streams_.erase(found);
        }
        unlock();
        return gone != nullptr;  // freed here, outside the lock
    }

    Stream* find(AudioStream handle) {
        auto found = streams_.find(handle);
        return found == streams_.end() ? nullptr : found->second.get();
    }

    void lock() {
        if (device_ != 0) SDL_LockAudioDevice(device_);
    }
    void unlock() {
        if (device_ != 0) SDL_UnlockAudioDevice(device_);
    }

private:
    SDL_AudioDeviceID openDevice(int device) {
        const char* name = nullptr;
        if (device > 0) {
            name = SDL_GetAudioDeviceName(device - 1, 0);
            if (name == nullptr) return 0;
        }
        SDL_AudioSpec want{};
        want.freq = rate_;
        want.format = AUDIO_S16SYS;
        want.channels = kDeviceChannels;
        // About 25 ms, a power of two: SDL's silent driver keeps the real rate
        // with such buffers, while with others it fell behind by up to a sixth
        // (measured on SDL 2.26: 1024 frames gave 44.0 kHz, 882 frames 37 kHz).
        Uint16 frames = 256;
        while (frames < 8192 && frames * 2 <= rate_ / 40) frames *= 2;
        want.samples = frames;
        want.callback = &Output::callback;
        want.userdata = this;
        SDL_AudioSpec have{};
        // No changes allowed: SDL converts to whatever the hardware takes, so the
        // callback always sees this format and buffer size.
        const SDL_AudioDeviceID id = SDL_OpenAudioDevice(name, 0, &want, &have, 0);
        if (id != 0) {
            bufferFrames_ = have.samples;
            mix_.assign(bufferFrames_ * kDeviceChannels, 0);
            out_.assign(bufferFrames_ * kDeviceChannels, 0);
        }
        return id;
    }

    static void SDLCALL callback(void* self, Uint8* bytes, int length) {
        static_cast<Output*>(self)->fill(bytes, static_cast<std::size_t>(length));
    }

    void fill(Uint8* bytes, std::size_t length) {
        const std::size_t frames = std::min(length / kDeviceFrameBytes, bufferFrames_);
        std::fill(mix_.begin(), mix_.end(), 0);
        const Clock::time_point now = Clock::now();
        for (auto& entry : streams_) {
            Stream* stream = entry.second.get();
            if (stream->seekPending) carryOutSeek(*stream, frames, now);
            if (stream->state != State::Playing || stream->handedAll) continue;
            const std::uint64_t before = stream->handed;
            const std::size_t got =
                stream->resampler ? renderResampled(*stream, frames, rate_) : renderDirect(*stream, frames);
            mixFadingIn(*stream, got);
            if (stream->handed != before) {
                stream->handedBefore = before;
                stream->handedAt = now;
            }
        }
        for (std::size_t i = 0; i < frames * kDeviceChannels; ++i)
            out_[i] = static_cast<std::int16_t>(std::clamp<std::int32_t>(mix_[i], std::numeric_limits<std::int16_t>::min(),
                                                                  std::numeric_limits<std::int16_t>::max()));
        std::memcpy(bytes, out_.data(), frames * kDeviceFrameBytes);
        std::memset(bytes + frames * kDeviceFrameBytes, 0, length - frames * kDeviceFrameBytes);
    }

    // The decoder moved to the stream's seek target. What was heard is first
    // mixed in a ramp down to silence, and the new position then ramps up, so
    // the waveform never jumps. The decoder is repositioned in place: its filter
    // state from the old position fades out with the ramp.
    void carryOutSeek(Stream& stream, std::size_t frames, Clock::time_point now) {
        if (stream.fadeOutPending && !stream.handedAll) {
            const std::size_t ramp = std::min(kFadeFrames, frames);
            const std::size_t got = stream.resampler ? renderResampled(stream, ramp, rate_) : renderDirect(stream, ramp);
            for (std::size_t i = 0; i < got; ++i) {
                const double gain = 1.0 - static_cast<double>(i + 1) / static_cast<double>(got + 1);
                for (int c = 0; c < kDeviceChannels; ++c) {
                    const std::size_t k = i * kDeviceChannels + static_cast<std::size_t>(c);
                    mix_[k] += static_cast<std::int32_t>(stream.output[k] * gain);
                }
            }
        }
        const bool moved = mpg123_seek(stream.decoder.get(), static_cast<off_t>(stream.seekTarget), SEEK_SET) >= 0;
        if (stream.resampler) SDL_AudioStreamClear(stream.resampler.get());
        // A decoder that cannot get there has nothing more to give: the stream ends.
        stream.decoderDone = !moved;
        stream.handedAll = !moved;
        stream.decodedFrames = stream.seekTarget;
        stream.handed = stream.seekTarget;
        stream.handedBefore = stream.seekTarget;
        stream.handedAt = now;
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
            for (int c = 0; c < kDeviceChannels; ++c) {
                const std::size_t k = i * kDeviceChannels + static_cast<std::size_t>(c);
                mix_[k] += ramping ? static_cast<std::int32_t>(stream.output[k] * gain) : stream.output[k];
            }
        }
    }

    int rate_;
    bool offline_;
    SDL_AudioDeviceID device_ = 0;
    bool subsystem_ = false;   // SDL_InitSubSystem succeeded: quit it at the end
    bool driverOnly_ = false;  // only the silent driver was started: quit that
    std::size_t bufferFrames_ = 0;
    std::vector<std::int32_t> mix_;
    std::vector<std::int16_t> out_;
    std::map<AudioStream, std::unique_ptr<Stream>> streams_;
    // Never reused within a process, so a stale handle cannot reach a newer stream.
    static inline AudioStream nextHandle_ = 1;
};

std::unique_ptr<Output> output;
bool offlineClockChosen = false;

// Locks the device around a stream's shared state; the stream is null for
// handles that name nothing.
class LockedStream {
public:
    explicit LockedStream(AudioStream handle) : stream_(output ? output->find(handle) : nullptr) {
        if (stream_) output->lock();
    }
    ~LockedStream() {
        if (stream_) output->unlock();
    }
    LockedStream(const LockedStream&) = delete;
    LockedStream& operator=(const LockedStream&) = delete;

    Stream* operator->() const { return stream_; }
    Stream& operator*() const { return *stream_; }
    explicit operator bool() const { return stream_ != nullptr; }

private:
    Stream* stream_;
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

// A stream ready to be played on the device: decoder, resampler if needed, and
// the scratch buffers the callback fills, so that it never allocates.
std::unique_ptr<Stream> makeStream(const unsigned char* data, std::size_t size, bool prescan, const Output& device) {
    // Offline, the length is the only thing that ends a stream, so it must be exact.
    std::unique_ptr<Stream> stream = openStream(data, size, prescan || device.offline());
    if (!stream) return nullptr;
    stream->prescan = prescan;
    if (device.offline()) {
        // Nothing is ever decoded for output: no resampler, no scratch buffers.
        stream->offline = true;
        return stream;
    }

    const std::size_t deviceFrames = device.bufferFrames();
    std::size_t pullFrames = deviceFrames;
    if (stream->rate != device.rate()) {
        stream->resampler.reset(SDL_NewAudioStream(AUDIO_S16SYS, static_cast<Uint8>(stream->channels),
                                                   static_cast<int>(stream->rate), AUDIO_S16SYS, kDeviceChannels,
                                                   device.rate()));
        if (!stream->resampler) return nullptr;
        pullFrames = deviceFrames * static_cast<std::size_t>(stream->rate) / static_cast<std::size_t>(device.rate()) + 64;
    }
    stream->decoded.assign(pullFrames * static_cast<std::size_t>(stream->channels), 0);
    stream->output.assign(deviceFrames * kDeviceChannels, 0);
    return stream;
}

}  // namespace

void audioUseOfflineClock(bool offline) { offlineClockChosen = offline; }

bool audioInit(int device, unsigned frequency) {
    if (output || frequency < 8000 || frequency > 192000) return false;
    auto fresh = std::make_unique<Output>(static_cast<int>(frequency), offlineClockChosen);
    if (!fresh->open(device)) return false;
    output = std::move(fresh);
    return true;
}

bool audioStart() {
    if (!output) return false;
    output->start();
    return true;
}

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
    return heardFrames(*stream) * stream->frameBytes;
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
    heardFrames(*stream);
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

// Device lock held. The position reads target from now on; the callback moves
// the decoder there before it next hands anything over.
void requestSeek(Stream& stream, std::uint64_t target, bool fadeOut) {
    stream.seekPending = true;
    stream.fadeOutPending = stream.fadeOutPending || fadeOut;
    stream.seekTarget = target;
    stream.heard = target;
    stream.handed = target;
    stream.handedBefore = target;
    stream.handedAt = Clock::now();
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
    const std::uint64_t at = heardFrames(*stream);
    if (stream->state == State::Ended) return false;
    if (stream->state == State::Stopped) return true;
    stream->state = State::Stopped;
    // Output resumes at the frame heard when paused, not at the end of what the
    // device had already been handed.
    if (!stream->offline) requestSeek(*stream, at, true);
    return true;
}
