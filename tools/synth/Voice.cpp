#include "Voice.h"

#include <algorithm>
#include <cmath>

namespace zyr::synth {

namespace {

double noteFrequency(int midi) { return 440.0 * std::exp2((midi - 69) / 12.0); }
double cents(double c) { return std::exp2(c / 1200.0); }

// Filters follow their envelopes at this many frames per coefficient update:
// 0.36 ms steps are inaudible, and tan() per frame would be most of the cost.
constexpr std::int64_t kControlFrames = 16;

// Drums start with a ramp this short so a hit is sharp without a DC step.
constexpr double kDrumAttackFrames = 22.0;

// A clap's bursts: how far apart, and how fast each dies; then the tail.
constexpr double kClapGap = 0.0095, kClapBurst = 0.0035, kClapTailStart = 0.019;

// Relative frequencies of the six square waves under a hat: inharmonic, so
// together they ring like metal rather than like a chord.
constexpr double kHatRatios[] = {1.0, 1.4828, 1.8003, 2.5461, 2.6303, 3.8968};


}  // namespace

Voice::Voice(const Instrument& instrument, int instrumentIndex, const NoteEvent& event, std::int64_t gateFrames,
             std::uint32_t seed)
    : inst_(&instrument),
      instrumentIndex_(instrumentIndex),
      velocity_(event.velocity),
      gateFrames_(gateFrames),
      rng_(seed),
      rngRight_(seed ^ 0x5BD1E995u) {
    const double detune = p(Param::Detune);
    noteCount_ = static_cast<int>(event.notes.size());
    if (!event.notes.empty()) frequency_ = targetFrequency_ = noteFrequency(event.notes.front());
    switch (inst_->kind) {
    case Kind::Kick:
        pitchCoef_ = decayCoefficient(0.03);
        ampCoef_ = decayCoefficient(p(Param::Decay));
        clickCoef_ = decayCoefficient(0.0015);
        break;
    case Kind::Snare:
        pitchCoef_ = decayCoefficient(0.02);
        ampCoef_ = decayCoefficient(0.4 * p(Param::Decay));
        noiseCoef_ = decayCoefficient(p(Param::Decay));
        filter_[0].set(1500.0, 0.1);
        filter_[1].set(9000.0, 0.0);
        break;
    case Kind::Clap:
        filter_[0].set(p(Param::Tone), 0.45);
        burstCoef_ = decayCoefficient(kClapBurst);
        tailCoef_ = decayCoefficient(p(Param::Decay));
        break;
    case Kind::Hat:
        ampCoef_ = decayCoefficient(p(Param::Decay));
        oscCount_ = static_cast<int>(std::size(kHatRatios));
        for (int i = 0; i < oscCount_; ++i) osc_[i].setFrequency(p(Param::Tone) / 8000.0 * 205.3 * kHatRatios[i]);
        filter_[0].set(p(Param::Tone), 0.3);
        break;
    case Kind::Bass:
        oscCount_ = 2;
        osc_[0].setFrequency(frequency_ * cents(-detune));
        osc_[1].setFrequency(frequency_ * cents(detune));
        osc_[1].phase = 0.37;  // detuned saws starting in step would cancel their first cycles
        amp_.configure(p(Param::Attack), 0.1, 1.0, p(Param::Release));
        mod_.configure(0.0, p(Param::Decay), 0.0, p(Param::Decay));
        break;
    case Kind::Pad:
    case Kind::Pluck: {
        const int perNote = inst_->kind == Kind::Pad ? 3 : 2;
        oscCount_ = std::min(noteCount_ * perNote, kMaxOscillators);
        for (int i = 0; i < oscCount_; ++i) {
            const int note = event.notes[static_cast<std::size_t>(i / perNote)];
            const int which = i % perNote;
            // Spread the copies of each note around its pitch; free-running
            // phases keep a chord from starting with one big spike.
            const double spread = perNote == 3 ? (which - 1) * detune : (which == 0 ? -detune : detune);
            osc_[i].setFrequency(noteFrequency(note) * cents(spread));
            osc_[i].phase = 0.5 * (rng_.next() + 1.0);
        }
        if (inst_->kind == Kind::Pad) {
            amp_.configure(p(Param::Attack), 0.1, 1.0, p(Param::Release));
        } else {
            amp_.configure(0.001, 3.0 * p(Param::Decay), 0.0, p(Param::Release));
            mod_.configure(0.0, p(Param::Decay), 0.0, p(Param::Decay));
        }
        break;
    }
    case Kind::Lead:
        oscCount_ = 2;
        oscRatio_[0] = cents(-0.5 * detune);
        oscRatio_[1] = cents(0.5 * detune);
        glideCoef_ = p(Param::Glide) > 0.0 ? 1.0 - decayCoefficient(p(Param::Glide)) : 1.0;
        amp_.configure(p(Param::Attack), 0.4, 0.85, p(Param::Release));
        mod_.configure(0.0, p(Param::Decay), 0.25, p(Param::Decay));
        break;
    case Kind::Noise: amp_.configure(p(Param::Attack), 0.1, 1.0, p(Param::Release)); break;
    }
}

void Voice::glideTo(int note, std::int64_t gateFrames) {
    targetFrequency_ = noteFrequency(note);
    gateFrames_ = gateFrames;
}

void Voice::choke() { choking_ = true; }

bool Voice::render(double* left, double* right, int n, double cutoff) {
    const bool oneShot = inst_->kind == Kind::Kick || inst_->kind == Kind::Snare || inst_->kind == Kind::Clap ||
                      inst_->kind == Kind::Hat;
    for (int i = 0; i < n && !finished_; ++i) {
        if (!released_ && age_ >= gateFrames_) {
            released_ = true;
            amp_.release();
            mod_.release();
        }
        double l = 0.0, r = 0.0;
        switch (inst_->kind) {
        case Kind::Kick:
        case Kind::Snare:
        case Kind::Clap: l = r = hit(); break;
        case Kind::Hat: l = r = hat(); break;
        case Kind::Bass: bass(l, r, cutoff); break;
        case Kind::Pad: pad(l, r, cutoff); break;
        case Kind::Lead: lead(l, r, cutoff); break;
        case Kind::Pluck: pluck(l, r, cutoff); break;
        case Kind::Noise: noise(l, r, cutoff); break;
        }
        if (choking_) {
            chokeGain_ -= 1.0 / 132.0;  // 3 ms: fast, but no click
            if (chokeGain_ <= 0.0) {
                chokeGain_ = 0.0;
                finished_ = true;
            }
            l *= chokeGain_;
            r *= chokeGain_;
        }
        left[i] += l;
        right[i] += r;
        ++age_;
        // The snare's noise outlasts its body; the voice lives while either rings.
        const double drumLevel = inst_->kind == Kind::Snare ? std::max(ampEnv_, noiseEnv_) : ampEnv_;
        if (oneShot ? drumLevel < kSilentLevel : amp_.finished()) finished_ = true;
    }
    return !finished_;
}

double Voice::hit() {
    const double attack = std::min(1.0, static_cast<double>(age_) / kDrumAttackFrames);
    switch (inst_->kind) {
    case Kind::Kick: {
        const double pitch = p(Param::Pitch);
        phase_ += (pitch + (p(Param::Punch) - pitch) * pitchEnv_) / kSampleRate;
        // Starting at the crest (a cosine) puts the hit on its very first frames.
        const double body = sinTurns(phase_ + 0.25) * ampEnv_;
        const double click = 0.25 * rng_.next() * clickEnv_;
        pitchEnv_ *= pitchCoef_;
        ampEnv_ *= ampCoef_;
        clickEnv_ *= clickCoef_;
        const double drive = p(Param::Drive);
        const double x = (body + click) * velocity_;
        return attack * (drive > 0.0 ? softClip(drive * x) / softClip(drive) : x);
    }
    case Kind::Snare: {
        phase_ += p(Param::Tone) * (1.0 + 0.5 * pitchEnv_) / kSampleRate;
        const double body = sinTurns(phase_) * ampEnv_;
        const double hiss = filter_[1].low(filter_[0].high(rng_.next())) * noiseEnv_;
        pitchEnv_ *= pitchCoef_;
        ampEnv_ *= ampCoef_;
        noiseEnv_ *= noiseCoef_;
        const double mixNoise = p(Param::Noise);
        return attack * ((1.0 - mixNoise) * body + 1.3 * mixNoise * hiss) * velocity_;
    }
    default: {
        // A clap is a few hands not quite together: three quick bursts, then
        // the room. One running exponential serves all bursts, each scaled
        // up by how late it starts.
        static const double kLate[3] = {0.8, 0.8 * std::exp(kClapGap / kClapBurst), std::exp(2.0 * kClapGap / kClapBurst)};
        const double t = static_cast<double>(age_) / kSampleRate;
        double env = 0.0;
        for (int k = 0; k < 3; ++k)
            if (t >= kClapGap * k) env += kLate[k] * burstEnv_;
        if (age_ == static_cast<std::int64_t>(kClapTailStart * kSampleRate)) tailEnv_ = 0.7;
        env += tailEnv_;
        burstEnv_ *= burstCoef_;
        tailEnv_ *= tailCoef_;
        ampEnv_ = t < kClapTailStart + 0.01 ? 1.0 : env;  // not silent before the room has spoken
        return 2.2 * filter_[0].band(rng_.next()) * env * velocity_;
    }
    }
}

double Voice::hat() {
    // Plain squares: their aliases land in the same metallic hash the
    // high-pass keeps, so band-limiting them would only cost time.
    double metal = 0.0;
    for (int i = 0; i < oscCount_; ++i) {
        SawOsc& o = osc_[i];
        metal += o.phase < 0.5 ? 1.0 : -1.0;
        o.phase += o.inc;
        if (o.phase >= 1.0) o.phase -= 1.0;
    }
    const double x = 0.6 * metal / oscCount_ + 0.5 * rng_.next();
    const double attack = std::min(1.0, static_cast<double>(age_) / 9.0);
    const double out = filter_[0].high(x) * ampEnv_ * attack * velocity_;
    ampEnv_ *= ampCoef_;
    return out;
}

void Voice::bass(double& l, double& r, double cutoff) {
    const double mod = mod_.next();
    if (age_ % kControlFrames == 0)
        filter_[0].set(cutoff + p(Param::Env) * mod * velocity_, p(Param::Res));
    const double saws = 0.5 * (osc_[0].next() + osc_[1].next());
    const double sub = sinTurns(subPhase_);
    subPhase_ += frequency_ / kSampleRate;
    if (subPhase_ >= 1.0) subPhase_ -= 1.0;
    const double x = filter_[0].low(saws) + p(Param::Sub) * sub;
    const double drive = p(Param::Drive);
    const double shaped = drive > 0.0 ? softClip(drive * x) / softClip(drive) : x;
    l = r = 0.6 * shaped * amp_.next() * velocity_;
}

void Voice::pad(double& l, double& r, double cutoff) {
    if (age_ % kControlFrames == 0) {
        filter_[0].set(cutoff, p(Param::Res));
        filter_[1].set(cutoff, p(Param::Res));
    }
    double sumL = 0.0, sumR = 0.0;
    for (int i = 0; i + 2 < oscCount_; i += 3) {
        const double low = osc_[i].next(), mid = osc_[i + 1].next(), high = osc_[i + 2].next();
        sumL += low + 0.5 * mid;
        sumR += high + 0.5 * mid;
    }
    const double gain = 0.3 / std::sqrt(static_cast<double>(std::max(noteCount_, 1))) * amp_.next() * velocity_;
    l = filter_[0].low(sumL) * gain;
    r = filter_[1].low(sumR) * gain;
}

void Voice::lead(double& l, double& r, double cutoff) {
    frequency_ += (targetFrequency_ - frequency_) * glideCoef_;
    // Vibrato fades in after the note has spoken, as a player would add it.
    const double t = static_cast<double>(age_) / kSampleRate;
    const double depth = std::clamp((t - 0.2) / 0.3, 0.0, 1.0) * p(Param::Vibrato);
    lfoPhase_ += 5.5 / kSampleRate;
    const double f = frequency_ * (1.0 + 0.0578 * depth * sinTurns(lfoPhase_));
    osc_[0].setFrequency(f * oscRatio_[0]);
    osc_[1].setFrequency(f * oscRatio_[1]);
    const double mod = mod_.next();
    if (age_ % kControlFrames == 0)
        filter_[0].set(cutoff + p(Param::Env) * mod * velocity_, p(Param::Res));
    const double x = 0.55 * osc_[0].next() + 0.45 * osc_[1].nextSquare();
    l = r = 0.5 * filter_[0].low(x) * amp_.next() * velocity_;
}

void Voice::pluck(double& l, double& r, double cutoff) {
    const double mod = mod_.next();
    if (age_ % kControlFrames == 0)
        filter_[0].set(cutoff + p(Param::Env) * mod * velocity_, p(Param::Res));
    double sum = 0.0;
    for (int i = 0; i < oscCount_; ++i) sum += osc_[i].next();
    const double gain = 0.4 / std::sqrt(static_cast<double>(std::max(noteCount_, 1))) * amp_.next() * velocity_;
    l = r = filter_[0].low(0.5 * sum) * gain;
}

void Voice::noise(double& l, double& r, double cutoff) {
    if (age_ % kControlFrames == 0) {
        filter_[0].set(cutoff, p(Param::Res));
        filter_[1].set(cutoff, p(Param::Res));
    }
    const double gain = 0.8 * amp_.next() * velocity_;
    l = filter_[0].band(rng_.next()) * gain;
    r = filter_[1].band(rngRight_.next()) * gain;
}

}  // namespace zyr::synth
