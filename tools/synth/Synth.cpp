#include "Synth.h"

#include "Dsp.h"
#include "Voice.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace zyr::synth {

namespace {

// Voices start on their exact frame: a block ends early where an event
// begins, so this only bounds how long automation values stay constant.
constexpr int kBlock = 64;

constexpr double kMasterGain = 0.9;
constexpr double kReverbReturn = 0.55;
constexpr double kDelayReturn = 0.5;
constexpr int kDelaySteps = 3;  // a dotted eighth: echoes fall between the beats
constexpr double kDelayFeedback = 0.38;

// Ducking after each kick: a 2 ms dip (no click), then back over ~90 ms, so
// bass and pads breathe with the beat.
constexpr double kDuckDipSeconds = 0.002;
constexpr double kDuckRecoverSeconds = 0.09;
constexpr double kDuckLengthSeconds = 0.45;

// -1 dBFS leaves room for the overshoot of a lossy encoder.
constexpr double kCeiling = 0.891;
constexpr double kLimiterLookaheadSeconds = 0.002;
constexpr double kLimiterReleaseSeconds = 0.15;
constexpr double kDcCutHz = 15.0;

// Murmur's finaliser: neighbouring event numbers give unrelated seeds, so
// repeated hats do not share one noise sequence.
std::uint32_t scramble(std::uint32_t x) {
    x ^= x >> 16;
    x *= 0x85EBCA6Bu;
    x ^= x >> 13;
    x *= 0xC2B2AE35u;
    x ^= x >> 16;
    return x;
}

constexpr std::size_t kMaxVoices = 256;

class Renderer {
public:
    explicit Renderer(const Song& song)
        : song_(song),
          frames_(song.frameCount()),
          buses_(song.instruments.size()),
          level_(song.instruments.size()),
          cutoff_(song.instruments.size()),
          panL_(song.instruments.size()),
          panR_(song.instruments.size()),
          delay_(static_cast<std::size_t>(song.frameOfStep(kDelaySteps)), kDelayFeedback) {
        for (std::size_t i = 0; i < song.instruments.size(); ++i) {
            // Constant power, normalised so the centre keeps unity gain.
            const double angle = (song.instruments[i][Param::Pan] + 1.0) * kPi / 4.0;
            panL_[i] = std::cos(angle) * std::sqrt(2.0);
            panR_[i] = std::sin(angle) * std::sqrt(2.0);
        }
        const auto duckFrames = static_cast<std::size_t>(kDuckLengthSeconds * kSampleRate);
        duckShape_.resize(duckFrames);
        for (std::size_t i = 0; i < duckFrames; ++i) {
            const double t = static_cast<double>(i) / kSampleRate;
            duckShape_[i] = t < kDuckDipSeconds ? t / kDuckDipSeconds : std::exp(-(t - kDuckDipSeconds) / kDuckRecoverSeconds);
        }
        // Let the tail of the shape reach exactly zero instead of stopping short.
        const double last = duckShape_.back();
        for (double& v : duckShape_) v = std::max(0.0, (v - last) / (1.0 - last));
    }

    std::vector<float> run() {
        std::vector<float> mix(static_cast<std::size_t>(frames_) * kChannels, 0.0f);
        const auto& events = song_.events;
        std::size_t next = 0;
        std::int64_t frame = 0;
        while (frame < frames_) {
            while (next < events.size() && song_.frameOfStep(events[next].step) <= frame) start(next++, frame);
            std::int64_t end = std::min(frame + kBlock, frames_);
            if (next < events.size()) end = std::min(end, song_.frameOfStep(events[next].step));
            renderSpan(mix, frame, static_cast<int>(end - frame));
            frame = end;
        }
        return mix;
    }

private:
    void start(std::size_t index, std::int64_t frame) {
        const NoteEvent& event = song_.events[index];
        const Instrument& inst = song_.instruments[static_cast<std::size_t>(event.instrument)];
        const std::int64_t gate = song_.frameOfStep(event.step + event.length) - frame;
        if (inst.kind == Kind::Kick) kickAge_ = 0;
        if (inst.kind == Kind::Bass || inst.kind == Kind::Lead) {
            // One note at a time. A lead tied straight into its next note
            // glides there instead of starting again.
            for (Voice& v : voices_) {
                if (v.instrument() != event.instrument) continue;
                if (inst.kind == Kind::Lead && inst[Param::Glide] > 0.0 && v.held()) {
                    v.glideTo(event.notes.front(), v.age() + gate);
                    return;
                }
                v.choke();
            }
        }
        // Notes per step are bounded when the song is read, but long tails can
        // still pile up; past this many the oldest voice, the quietest by then,
        // makes room, so the render's cost stays bounded.
        if (voices_.size() >= kMaxVoices) voices_.erase(voices_.begin());
        const std::uint32_t seed = scramble(song_.seed ^ scramble(static_cast<std::uint32_t>(index) + 1u));
        voices_.emplace_back(inst, event.instrument, event, gate, seed);
    }

    void automate(std::int64_t frame) {
        while (section_ + 1 < song_.sections.size() &&
               song_.frameOfStep(static_cast<std::int64_t>(song_.sections[section_ + 1].startBar) * kStepsPerBar) <= frame)
            ++section_;
        for (std::size_t i = 0; i < song_.instruments.size(); ++i) {
            level_[i] = song_.instruments[i][Param::Level];
            cutoff_[i] = song_.instruments[i][Param::Cutoff];
        }
        master_ = 1.0;
        const Section& s = song_.sections[section_];
        const std::int64_t last = song_.frameOfStep(static_cast<std::int64_t>(s.startBar + s.bars) * kStepsPerBar);
        for (const Ramp& ramp : s.ramps) {
            const std::int64_t first = song_.frameOfStep(static_cast<std::int64_t>(s.startBar + ramp.firstBar) * kStepsPerBar);
            const double x = std::max(0.0, static_cast<double>(frame - first) / static_cast<double>(last - first));
            const double value = ramp.from + (ramp.to - ramp.from) * x;
            if (ramp.instrument < 0) master_ = value;
            else if (ramp.param == Param::Level) level_[static_cast<std::size_t>(ramp.instrument)] = value;
            else cutoff_[static_cast<std::size_t>(ramp.instrument)] = value;
        }
    }

    void renderSpan(std::vector<float>& mix, std::int64_t frame, int n) {
        automate(frame);
        // Only buses with a sounding voice take part; most instruments are
        // silent most of the time.
        active_.clear();
        for (Voice& v : voices_) {
            const auto j = static_cast<std::size_t>(v.instrument());
            Bus& bus = buses_[j];
            if (std::find(active_.begin(), active_.end(), j) == active_.end()) {
                active_.push_back(j);
                std::fill_n(bus.left.begin(), n, 0.0);
                std::fill_n(bus.right.begin(), n, 0.0);
            }
            v.render(bus.left.data(), bus.right.data(), n, cutoff_[j]);
        }
        std::erase_if(voices_, [](const Voice& v) { return v.finished(); });
        std::sort(active_.begin(), active_.end());  // a fixed summing order

        // Per-bus constants for this span, gathered so the per-frame loop
        // touches one small array.
        mixes_.clear();
        for (std::size_t j : active_) {
            const Instrument& inst = song_.instruments[j];
            mixes_.push_back(BusMix{&buses_[j], level_[j], inst[Param::Duck], panL_[j], panR_[j], inst[Param::Reverb],
                                    inst[Param::Delay]});
        }
        for (int i = 0; i < n; ++i) {
            const double shape = kickAge_ < duckShape_.size() ? duckShape_[kickAge_] : 0.0;
            double left = 0.0, right = 0.0, reverbSend = 0.0, delaySend = 0.0;
            for (const BusMix& m : mixes_) {
                const double gain = m.level * (1.0 - m.duck * shape);
                const double l = m.bus->left[static_cast<std::size_t>(i)] * gain * m.panL;
                const double r = m.bus->right[static_cast<std::size_t>(i)] * gain * m.panR;
                left += l;
                right += r;
                reverbSend += (l + r) * m.reverb;
                delaySend += (l + r) * m.delay;
            }
            double reverbL = 0.0, reverbR = 0.0, delayL = 0.0, delayR = 0.0;
            reverb_.process(0.5 * reverbSend, reverbL, reverbR);
            delay_.process(0.5 * delaySend, delayL, delayR);
            const double gain = master_ * kMasterGain;
            const auto at = static_cast<std::size_t>(frame + i) * kChannels;
            mix[at] = static_cast<float>((left + kReverbReturn * reverbL + kDelayReturn * delayL) * gain);
            mix[at + 1] = static_cast<float>((right + kReverbReturn * reverbR + kDelayReturn * delayR) * gain);
            ++kickAge_;
        }
    }

    struct Bus {
        std::array<double, kBlock> left{}, right{};
    };
    struct BusMix {
        const Bus* bus;
        double level, duck, panL, panR, reverb, delay;
    };

    const Song& song_;
    std::int64_t frames_;
    std::vector<Voice> voices_;
    std::vector<Bus> buses_;
    std::vector<std::size_t> active_;
    std::vector<BusMix> mixes_;
    std::vector<double> level_, cutoff_, panL_, panR_;
    std::vector<double> duckShape_;
    std::size_t kickAge_ = static_cast<std::size_t>(-1) / 2;  // no kick yet: no ducking
    std::size_t section_ = 0;
    double master_ = 1.0;
    Reverb reverb_;
    PingPongDelay delay_;
};

// Removes DC, then scales every frame so that no sample passes the ceiling.
// The gain curve is built over the whole song: it falls ahead of each peak
// (the look-ahead) and recovers slowly after it, so limiting neither clicks
// nor pumps audibly; only ever lowering the gain keeps the guarantee.
std::vector<std::int16_t> master(std::vector<float>& mix) {
    const std::size_t frames = mix.size() / kChannels;
    const double pole = 1.0 - 2.0 * kPi * kDcCutHz / kSampleRate;
    for (std::size_t c = 0; c < kChannels; ++c) {
        double previousIn = 0.0, previousOut = 0.0;
        for (std::size_t i = 0; i < frames; ++i) {
            const double x = mix[i * kChannels + c];
            previousOut = x - previousIn + pole * previousOut;
            previousIn = x;
            mix[i * kChannels + c] = static_cast<float>(previousOut);
        }
    }
    std::vector<float> gain(frames, 1.0f);
    for (std::size_t i = 0; i < frames; ++i) {
        const double peak = std::max(std::fabs(mix[i * kChannels]), std::fabs(mix[i * kChannels + 1]));
        if (peak > kCeiling) gain[i] = static_cast<float>(kCeiling / peak);
    }
    const double attackStep = 1.0 / (kLimiterLookaheadSeconds * kSampleRate);
    const double releaseStep = 1.0 / (kLimiterReleaseSeconds * kSampleRate);
    for (std::size_t i = frames; i-- > 1;) gain[i - 1] = std::min(gain[i - 1], static_cast<float>(gain[i] + attackStep));
    for (std::size_t i = 1; i < frames; ++i) gain[i] = std::min(gain[i], static_cast<float>(gain[i - 1] + releaseStep));

    std::vector<std::int16_t> pcm(mix.size());
    for (std::size_t i = 0; i < mix.size(); ++i) {
        const double q = std::floor(mix[i] * gain[i / kChannels] * 32767.0 + 0.5);
        pcm[i] = static_cast<std::int16_t>(std::clamp(q, -32768.0, 32767.0));
    }
    return pcm;
}

}  // namespace

std::vector<std::int16_t> render(const Song& song) {
    std::vector<float> mix = Renderer(song).run();
    return master(mix);
}

}  // namespace zyr::synth
