// Small signal-processing blocks the synth's voices and buses are made of:
// a seeded noise source, a sine that does not depend on the C library, an
// anti-aliased saw, a state-variable filter, a soft saturator, and the two
// send effects (reverb, ping-pong delay).
//
//     Rng noise(seed);            double n = noise.next();        // [-1, 1)
//     Svf lp; lp.set(800.0, 0.3); double y = lp.low(x);
//     Reverb room; room.process(in, outL, outR);
//
// Every block is a plain value type that owns its state (the effects own
// their delay lines as vectors). Nothing here fails: parameters are clamped
// to usable ranges, because the song parser has already refused bad values.
// Every operation is plain double arithmetic in a fixed order, so the same
// input gives the same output bits on the same build.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zyr::synth {

inline constexpr double kSampleRate = 44100.0;
inline constexpr double kPi = 3.14159265358979323846;

// xorshift32: tiny, fast and fully specified, so noise is the same on every
// build, unlike std:: distributions whose output is implementation-defined.
class Rng {
public:
    explicit Rng(std::uint32_t seed) : state_(seed ? seed : 0x9E3779B9u) {}
    double next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return static_cast<double>(static_cast<std::int32_t>(state_)) / 2147483648.0;
    }

private:
    std::uint32_t state_;
};

// sin(2 pi phase) for any phase; a folded odd polynomial (error below 1e-6),
// so oscillators do not hinge on the C library's sin.
inline double sinTurns(double phase) {
    double p = phase - std::floor(phase);  // [0, 1)
    if (p >= 0.5) p -= 1.0;                // [-0.5, 0.5)
    double x = 2.0 * kPi * p;              // [-pi, pi)
    if (x > kPi / 2) x = kPi - x;
    else if (x < -kPi / 2) x = -kPi - x;
    const double x2 = x * x;
    return x * (1.0 + x2 * (-1.0 / 6 + x2 * (1.0 / 120 + x2 * (-1.0 / 5040 + x2 * (1.0 / 362880 - x2 / 39916800.0)))));
}

// Rational tanh: smooth saturation that stays inside (-1, 1) and costs no
// library call per sample.
inline double softClip(double x) {
    if (x > 3.0) return 1.0;
    if (x < -3.0) return -1.0;
    const double x2 = x * x;
    return x * (27.0 + x2) / (27.0 + 9.0 * x2);
}

// Polynomial band-limited step correction; keeps saws from folding loud
// aliases back into the audible band on high notes.
inline double polyBlep(double t, double dt) {
    if (t < dt) {
        t /= dt;
        return t + t - t * t - 1.0;
    }
    if (t > 1.0 - dt) {
        t = (t - 1.0) / dt;
        return t * t + t + t + 1.0;
    }
    return 0.0;
}

struct SawOsc {
    double phase = 0.0;
    double inc = 0.0;
    void setFrequency(double hz) { inc = hz / kSampleRate; }
    double next() {
        const double out = 2.0 * phase - 1.0 - polyBlep(phase, inc);
        phase += inc;
        if (phase >= 1.0) phase -= 1.0;
        return out;
    }
    // A square is two saws half a cycle apart; reading both from one phase
    // keeps them locked.
    double nextSquare() {
        double shifted = phase + 0.5;
        if (shifted >= 1.0) shifted -= 1.0;
        const double a = 2.0 * phase - 1.0 - polyBlep(phase, inc);
        const double b = 2.0 * shifted - 1.0 - polyBlep(shifted, inc);
        phase += inc;
        if (phase >= 1.0) phase -= 1.0;
        return 0.5 * (a - b);
    }
};

// Trapezoidal state-variable filter: stays stable while its cutoff is swept
// every few samples, which the filter envelopes do constantly.
class Svf {
public:
    void set(double cutoffHz, double resonance) {
        const double fc = std::clamp(cutoffHz, 20.0, 0.45 * kSampleRate);
        const double g = std::tan(kPi * fc / kSampleRate);
        k_ = 2.0 - 2.0 * std::clamp(resonance, 0.0, 0.97);
        a1_ = 1.0 / (1.0 + g * (g + k_));
        a2_ = g * a1_;
        a3_ = g * a2_;
    }
    void process(double v0) {
        const double v3 = v0 - ic2_;
        const double v1 = a1_ * ic1_ + a2_ * v3;
        const double v2 = ic2_ + a2_ * ic1_ + a3_ * v3;
        ic1_ = 2.0 * v1 - ic1_;
        ic2_ = 2.0 * v2 - ic2_;
        low_ = v2;
        band_ = v1;
        high_ = v0 - k_ * v1 - v2;
    }
    double low(double x) { process(x); return low_; }
    double band(double x) { process(x); return band_; }
    double high(double x) { process(x); return high_; }

private:
    double k_ = 2.0, a1_ = 1.0, a2_ = 0.0, a3_ = 0.0;
    double ic1_ = 0.0, ic2_ = 0.0;
    double low_ = 0.0, band_ = 0.0, high_ = 0.0;
};

// Per-sample multiplier that makes a level fall to 1/e in `seconds`.
inline double decayCoefficient(double seconds) {
    return seconds <= 0.0 ? 0.0 : std::exp(-1.0 / (seconds * kSampleRate));
}

// -60 dB: a voice this far below its peak is inaudible under any mix.
inline constexpr double kSilentLevel = 1e-3;

// Attack (linear), decay to sustain and release (exponential). Exponential
// tails sound natural; a linear attack avoids the slow start of an
// exponential one. `decay` is a time constant (fall to 1/e); `release` is
// the time until silence (-60 dB), which is how a release is heard.
class Envelope {
public:
    void configure(double attack, double decay, double sustain, double release) {
        attackStep_ = attack <= 0.0 ? 1.0 : 1.0 / (attack * kSampleRate);
        decayCoef_ = decayCoefficient(decay);
        sustain_ = sustain;
        releaseCoef_ = decayCoefficient(release / 6.907755);  // ln(1000)
    }
    void release() { stage_ = Stage::Release; }
    bool finished() const { return stage_ == Stage::Release && level_ < kSilentLevel; }
    double next() {
        switch (stage_) {
        case Stage::Attack:
            level_ += attackStep_;
            if (level_ >= 1.0) {
                level_ = 1.0;
                stage_ = Stage::Decay;
            }
            break;
        case Stage::Decay: level_ = sustain_ + (level_ - sustain_) * decayCoef_; break;
        case Stage::Release: level_ *= releaseCoef_; break;
        }
        return level_;
    }

private:
    enum class Stage { Attack, Decay, Release };
    Stage stage_ = Stage::Attack;
    double level_ = 0.0;
    double attackStep_ = 1.0, decayCoef_ = 0.0, sustain_ = 1.0, releaseCoef_ = 0.0;
};

// A delay line with a fixed length, read before it is written.
class DelayLine {
public:
    explicit DelayLine(std::size_t length) : buffer_(length, 0.0) {}
    double read() const { return buffer_[pos_]; }
    void write(double x) {
        buffer_[pos_] = x;
        if (++pos_ == buffer_.size()) pos_ = 0;
    }

private:
    std::vector<double> buffer_;
    std::size_t pos_ = 0;
};

// A small room: parallel damped combs into series all-passes, with slightly
// different lengths per side so the tail is wide.
class Reverb {
public:
    Reverb();
    void process(double in, double& outL, double& outR);

private:
    struct Comb {
        DelayLine line;
        double store = 0.0;
    };
    std::vector<Comb> combs_[2];
    std::vector<DelayLine> allpasses_[2];
};

// Ping-pong echo: the left tap feeds the right and back, darkened a little
// each pass the way tape echoes lose their highs.
class PingPongDelay {
public:
    PingPongDelay(std::size_t delaySamples, double feedback);
    void process(double in, double& outL, double& outR);

private:
    DelayLine left_, right_;
    double feedback_;
    double dampL_ = 0.0, dampR_ = 0.0;
};

}  // namespace zyr::synth
