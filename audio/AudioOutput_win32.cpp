// The system's output through WASAPI in shared mode: the default render
// endpoint (or the n-th active one). What is heard comes from IAudioClock:
// the stream position the endpoint is playing, with the performance-counter
// time it was read at. The stream is opened in the mixer's own 16-bit stereo
// format with Windows converting it; where the endpoint refuses that, in its
// mix format, into which this file converts.
#include "AudioOutput.h"

#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>

#include <algorithm>
#include <memory>

namespace {

template <typename T>
struct Releaser {
    void operator()(T* object) const { object->Release(); }
};
template <typename T>
using Com = std::unique_ptr<T, Releaser<T>>;

// 60 ms: see AudioOutput_posix.cpp; the clock counts it.
constexpr REFERENCE_TIME kBuffer = 600000;  // in 100 ns

// COM on the mixer's thread for the output's life; released after every
// interface (declared first, destroyed last).
struct Apartment {
    Apartment() : entered(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}
    ~Apartment() {
        if (entered) CoUninitialize();
    }
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;
    bool entered;
};

// How the endpoint's samples are laid out when it is fed in its mix format.
struct Layout {
    unsigned channels = 2;
    bool floating = false;  // 32-bit float; 16-bit integer otherwise
};

std::chrono::steady_clock::duration performanceCounterAge(UINT64 stamp100ns) {
    LARGE_INTEGER now{};
    LARGE_INTEGER frequency{};
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    const double nowSeconds = static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
    const double age = nowSeconds - static_cast<double>(stamp100ns) * 1e-7;
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(age));
}

class WasapiOutput final : public AudioOutput {
public:
    static std::unique_ptr<AudioOutput> open(int device, unsigned rate) {
        auto output = std::make_unique<WasapiOutput>();
        if (!output->apartment_.entered || !output->start(device, rate)) return nullptr;
        return output;
    }

    ~WasapiOutput() override {
        if (client_) client_->Stop();
        if (event_) CloseHandle(event_);
    }

    unsigned rate() const override { return rate_; }
    std::size_t blockFrames() const override { return rate_ / 100; }

    bool write(const std::int16_t* frames, std::size_t count) override {
        auto progress = std::chrono::steady_clock::now();
        while (count > 0) {
            UINT32 padding = 0;
            if (FAILED(client_->GetCurrentPadding(&padding))) return false;  // the endpoint is gone
            const std::size_t room = bufferFrames_ - padding;
            if (room == 0) {
                // An endpoint that takes nothing for seconds is as good as gone.
                if (WaitForSingleObject(event_, 100) != WAIT_OBJECT_0 &&
                    std::chrono::steady_clock::now() - progress > std::chrono::seconds(2))
                    return false;
                continue;
            }
            progress = std::chrono::steady_clock::now();
            const auto n = static_cast<UINT32>(std::min(room, count));
            BYTE* data = nullptr;
            if (FAILED(render_->GetBuffer(n, &data))) return false;
            convert(frames, n, data);
            render_->ReleaseBuffer(n, 0);
            frames += std::size_t{n} * 2;
            count -= n;
            if (!started_) started_ = SUCCEEDED(client_->Start());
        }
        return true;
    }

    HeardReport heard() override {
        HeardReport report;
        report.at = std::chrono::steady_clock::now();
        UINT64 position = 0;
        UINT64 stamp = 0;
        if (!started_ || FAILED(clock_->GetPosition(&position, &stamp))) return report;
        report.running = true;
        report.frame = static_cast<double>(position) / static_cast<double>(clockFrequency_) * rate_;
        const auto age = performanceCounterAge(stamp);
        if (age >= std::chrono::steady_clock::duration::zero() && age < std::chrono::milliseconds(200)) report.at -= age;
        return report;
    }

private:
    bool start(int device, unsigned rate) {
        IMMDeviceEnumerator* rawEnumerator = nullptr;
        if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                                    reinterpret_cast<void**>(&rawEnumerator))))
            return false;
        const Com<IMMDeviceEnumerator> enumerator(rawEnumerator);
        IMMDevice* rawDevice = nullptr;
        if (device < 0) {
            if (FAILED(enumerator->GetDefaultAudioEndpoint(eRender, eConsole, &rawDevice))) return false;
        } else {
            IMMDeviceCollection* rawList = nullptr;
            if (FAILED(enumerator->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, &rawList))) return false;
            const Com<IMMDeviceCollection> list(rawList);
            if (FAILED(list->Item(static_cast<UINT>(device - 1), &rawDevice))) return false;
        }
        const Com<IMMDevice> endpoint(rawDevice);

        // The mixer's format, converted by Windows; else the endpoint's own.
        WAVEFORMATEX own{WAVE_FORMAT_PCM, 2, rate, rate * 4, 4, 16, 0};
        if (!initialise(*endpoint, own, AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM | AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY)) {
            WAVEFORMATEX* mix = nullptr;
            if (!activate(*endpoint) || FAILED(client_->GetMixFormat(&mix))) return false;
            const std::unique_ptr<WAVEFORMATEX, decltype(&CoTaskMemFree)> owned(mix, &CoTaskMemFree);
            WORD tag = mix->wFormatTag;
            if (tag == WAVE_FORMAT_EXTENSIBLE && mix->cbSize >= 22)
                tag = static_cast<WORD>(reinterpret_cast<WAVEFORMATEXTENSIBLE*>(mix)->SubFormat.Data1);
            layout_.channels = mix->nChannels;
            layout_.floating = tag == WAVE_FORMAT_IEEE_FLOAT && mix->wBitsPerSample == 32;
            const bool pcm16 = tag == WAVE_FORMAT_PCM && mix->wBitsPerSample == 16;
            if ((!layout_.floating && !pcm16) || layout_.channels == 0 || !initialise(*endpoint, *mix, 0, false))
                return false;
            rate = mix->nSamplesPerSec;
            converting_ = true;
        }
        rate_ = rate;

        IAudioRenderClient* rawRender = nullptr;
        IAudioClock* rawClock = nullptr;
        event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        UINT32 frames = 0;
        if (!event_ || FAILED(client_->SetEventHandle(event_)) || FAILED(client_->GetBufferSize(&frames)) ||
            FAILED(client_->GetService(__uuidof(IAudioRenderClient), reinterpret_cast<void**>(&rawRender))))
            return false;
        render_.reset(rawRender);
        if (FAILED(client_->GetService(__uuidof(IAudioClock), reinterpret_cast<void**>(&rawClock)))) return false;
        clock_.reset(rawClock);
        bufferFrames_ = frames;
        return SUCCEEDED(clock_->GetFrequency(&clockFrequency_)) && clockFrequency_ > 0 && bufferFrames_ > 0;
    }

    bool activate(IMMDevice& endpoint) {
        IAudioClient* raw = nullptr;
        client_.reset();
        if (FAILED(endpoint.Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, reinterpret_cast<void**>(&raw))))
            return false;
        client_.reset(raw);
        return true;
    }

    // A fresh client each try: one whose Initialize failed may not take another.
    bool initialise(IMMDevice& endpoint, const WAVEFORMATEX& format, DWORD flags, bool fresh = true) {
        if (fresh && !activate(endpoint)) return false;
        return SUCCEEDED(client_->Initialize(AUDCLNT_SHAREMODE_SHARED, AUDCLNT_STREAMFLAGS_EVENTCALLBACK | flags, kBuffer,
                                             0, &format, nullptr));
    }

    void convert(const std::int16_t* frames, UINT32 count, BYTE* data) const {
        if (!converting_) {
            std::copy_n(frames, std::size_t{count} * 2, reinterpret_cast<std::int16_t*>(data));
            return;
        }
        // Left and right to the first two channels (a mono endpoint gets their
        // mean), silence on the rest.
        for (UINT32 i = 0; i < count; ++i) {
            const int left = frames[i * 2], right = frames[i * 2 + 1];
            for (unsigned c = 0; c < layout_.channels; ++c) {
                const int value = layout_.channels == 1 ? (left + right) / 2 : c == 0 ? left : c == 1 ? right : 0;
                const std::size_t k = std::size_t{i} * layout_.channels + c;
                if (layout_.floating) reinterpret_cast<float*>(data)[k] = static_cast<float>(value) / 32768.0f;
                else reinterpret_cast<std::int16_t*>(data)[k] = static_cast<std::int16_t>(value);
            }
        }
    }

    Apartment apartment_;
    Com<IAudioClient> client_;
    Com<IAudioRenderClient> render_;
    Com<IAudioClock> clock_;
    HANDLE event_ = nullptr;
    UINT64 clockFrequency_ = 0;
    std::size_t bufferFrames_ = 0;
    unsigned rate_ = 0;
    Layout layout_;
    bool converting_ = false;
    bool started_ = false;
};

}  // namespace

std::unique_ptr<AudioOutput> openSystemOutput(int device, unsigned rate) { return WasapiOutput::open(device, rate); }

struct AudioLock::Native {
    SRWLOCK lock = SRWLOCK_INIT;
};

AudioLock::AudioLock() : native_(std::make_unique<Native>()) {}
AudioLock::~AudioLock() = default;
void AudioLock::lock() { AcquireSRWLockExclusive(&native_->lock); }
void AudioLock::unlock() { ReleaseSRWLockExclusive(&native_->lock); }

// Windows has no priority inheritance; the time-critical level (what sound
// threads of games ask for) keeps the mixer ahead of a renderer's threads.
void prepareAudioThread() { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL); }
