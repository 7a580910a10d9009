#include "AudioTestSupport.h"

#include "Wait.h"

#include "AudioOutput.h"

#include <mpg123.h>

#include <algorithm>
#include <mutex>
#include <cstring>
#include <stdexcept>
#include <thread>

struct TestOutputs::Shared {
    TestOutputOptions options;
    mutable std::mutex mutex;
    std::vector<std::int16_t> samples;
    int opened = 0;
};

namespace {

class TestOutput final : public AudioOutput {
public:
    TestOutput(unsigned rate, std::shared_ptr<TestOutputs::Shared> shared)
        : rate_(rate), shared_(std::move(shared)),
          paced_(shared_->options.realTime ? openSilentOutput(rate) : nullptr) {}

    unsigned rate() const override { return rate_; }
    std::size_t blockFrames() const override { return rate_ / 100; }

    bool write(const std::int16_t* frames, std::size_t count) override {
        if (blocks_++ >= shared_->options.failAfterBlocks) return false;
        {
            const std::lock_guard lock(shared_->mutex);
            shared_->samples.insert(shared_->samples.end(), frames, frames + count * 2);
        }
        written_ += count;
        if (paced_) return paced_->write(frames, count);
        std::this_thread::sleep_for(shared_->options.pace);
        return true;
    }

    HeardReport heard() override {
        HeardReport report = paced_ ? paced_->heard()
                                    : HeardReport{static_cast<double>(written_), std::chrono::steady_clock::now(), true};
        report.frame = std::max(0.0, report.frame - static_cast<double>(shared_->options.latencyFrames));
        return report;
    }

private:
    unsigned rate_;
    std::shared_ptr<TestOutputs::Shared> shared_;
    std::unique_ptr<AudioOutput> paced_;
    std::size_t blocks_ = 0;
    std::uint64_t written_ = 0;
};

}  // namespace

TestOutputs::TestOutputs(TestOutputOptions options) : shared_(std::make_shared<Shared>()) {
    shared_->options = options;
    audioUseOutputs([shared = shared_](int, unsigned rate) -> std::unique_ptr<AudioOutput> {
        {
            const std::lock_guard lock(shared->mutex);
            ++shared->opened;
        }
        if (shared->options.refuse) return nullptr;
        return std::make_unique<TestOutput>(rate, shared);
    });
}

TestOutputs::~TestOutputs() { audioUseOutputs({}); }

std::vector<std::int16_t> TestOutputs::samples() const {
    const std::lock_guard lock(shared_->mutex);
    return shared_->samples;
}

int TestOutputs::opened() const {
    const std::lock_guard lock(shared_->mutex);
    return shared_->opened;
}

Pcm decodeMp3(const std::string& mp3) {
    mpg123_init();
    mpg123_handle* handle = mpg123_new(nullptr, nullptr);
    if (!handle) throw std::runtime_error("mpg123_new failed");
    mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    mpg123_format_none(handle);
    const long* rates = nullptr;
    std::size_t count = 0;
    mpg123_rates(&rates, &count);
    for (std::size_t i = 0; i < count; ++i)
        mpg123_format(handle, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    mpg123_open_feed(handle);
    mpg123_feed(handle, reinterpret_cast<const unsigned char*>(mp3.data()), mp3.size());

    Pcm pcm;
    std::vector<unsigned char> buffer(1 << 16);
    for (;;) {
        std::size_t done = 0;
        const int result = mpg123_read(handle, buffer.data(), buffer.size(), &done);
        if (done >= 2) {
            const std::size_t old = pcm.samples.size();
            pcm.samples.resize(old + done / 2);
            std::memcpy(pcm.samples.data() + old, buffer.data(), done / 2 * 2);
        }
        if (result == MPG123_NEW_FORMAT) {
            int encoding = 0;
            mpg123_getformat(handle, &pcm.rate, &pcm.channels, &encoding);
        } else if (result != MPG123_OK) {
            break;  // NEED_MORE: everything fed has been decoded
        }
    }
    mpg123_delete(handle);
    if (pcm.channels == 0) throw std::runtime_error("not an MP3");
    return pcm;
}

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    // Positions move in milliseconds: poll finely.
    return waitUntil(done, timeout, std::chrono::milliseconds(2));
}
