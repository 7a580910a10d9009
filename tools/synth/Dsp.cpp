#include "Dsp.h"

namespace zyr::synth {

namespace {

// Comb and all-pass lengths in samples at 44.1 kHz; mutually prime-ish so
// their echoes do not pile up on the same instants and ring.
constexpr std::array<std::size_t, 4> kCombLengths = {1116, 1188, 1277, 1356};
constexpr std::array<std::size_t, 2> kAllpassLengths = {556, 441};
constexpr std::size_t kStereoSpread = 23;
constexpr double kRoom = 0.82;
constexpr double kDamp = 0.35;
constexpr double kAllpassFeedback = 0.5;

}  // namespace

Reverb::Reverb() {
    for (std::size_t side = 0; side < 2; ++side) {
        for (std::size_t length : kCombLengths) combs_[side].push_back(Comb{DelayLine(length + side * kStereoSpread)});
        for (std::size_t length : kAllpassLengths) allpasses_[side].emplace_back(length + side * kStereoSpread);
    }
}

void Reverb::process(double in, double& outL, double& outR) {
    double out[2] = {0.0, 0.0};
    for (std::size_t side = 0; side < 2; ++side) {
        double sum = 0.0;
        for (Comb& comb : combs_[side]) {
            const double y = comb.line.read();
            comb.store = y * (1.0 - kDamp) + comb.store * kDamp;
            comb.line.write(in + comb.store * kRoom);
            sum += y;
        }
        for (DelayLine& ap : allpasses_[side]) {
            const double buffered = ap.read();
            ap.write(sum + buffered * kAllpassFeedback);
            sum = buffered - sum;
        }
        out[side] = sum;
    }
    outL = out[0];
    outR = out[1];
}

PingPongDelay::PingPongDelay(std::size_t delaySamples, double feedback)
    : left_(delaySamples), right_(delaySamples), feedback_(feedback) {}

void PingPongDelay::process(double in, double& outL, double& outR) {
    const double yL = left_.read();
    const double yR = right_.read();
    dampL_ += 0.45 * (yL - dampL_);
    dampR_ += 0.45 * (yR - dampR_);
    left_.write(in + feedback_ * dampR_);
    right_.write(feedback_ * dampL_);
    outL = yL;
    outR = yR;
}

}  // namespace zyr::synth
