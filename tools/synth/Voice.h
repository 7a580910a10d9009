// One sounding note of one instrument: the oscillators, filters and
// envelopes that turn a NoteEvent into samples on its instrument's bus.
//
//     Voice v(instrument, index, event, gateFrames, seed);
//     while (v.render(left, right, n, cutoff)) ...   // adds n frames; false once silent for good
//     v.glideTo(note, newGateFrames);                  // legato on a mono lead
//     v.choke();                                       // fade out fast: a mono part moved on
//
// A voice is a value: it owns all of its state and refers to its Instrument,
// which must outlive it (the Song it came from does). Nothing fails here.
#pragma once

#include "Dsp.h"
#include "Song.h"

#include <array>
#include <cstdint>

namespace zyr::synth {

class Voice {
public:
    // gateFrames: how long the key is held, counted from the voice's first frame.
    Voice(const Instrument& instrument, int instrumentIndex, const NoteEvent& event, std::int64_t gateFrames,
          std::uint32_t seed);

    // Adds the next n frames to left/right. cutoff is the instrument's filter
    // cutoff right now (it may be automated). Returns false when the voice has
    // finished and can be dropped.
    bool render(double* left, double* right, int n, double cutoff);

    void glideTo(int note, std::int64_t gateFrames);
    void choke();

    int instrument() const { return instrumentIndex_; }
    // Still keyed: neither released nor choked, so a tied note can glide on.
    bool held() const { return !released_ && !choking_; }
    bool finished() const { return finished_; }
    std::int64_t age() const { return age_; }

private:
    static constexpr int kMaxOscillators = 24;

    double hit();
    double hat();
    void bass(double& l, double& r, double cutoff);
    void pad(double& l, double& r, double cutoff);
    void lead(double& l, double& r, double cutoff);
    void pluck(double& l, double& r, double cutoff);
    void noise(double& l, double& r, double cutoff);

    double p(Param param) const { return (*inst_)[param]; }

    const Instrument* inst_;  // borrowed from the Song; a pointer keeps voices movable
    int instrumentIndex_;
    float velocity_;
    std::int64_t gateFrames_;
    std::int64_t age_ = 0;
    bool released_ = false;
    bool finished_ = false;
    double chokeGain_ = 1.0;
    bool choking_ = false;

    Rng rng_, rngRight_;
    std::array<SawOsc, kMaxOscillators> osc_{};
    int oscCount_ = 0;
    int noteCount_ = 0;
    double frequency_ = 0.0, targetFrequency_ = 0.0, glideCoef_ = 1.0;
    double subPhase_ = 0.0, lfoPhase_ = 0.0;
    std::array<double, 2> oscRatio_{1.0, 1.0};  // the lead's two oscillators around its pitch
    Svf filter_[2];
    Envelope amp_, mod_;

    // Drum state: running exponentials multiplied each frame.
    double phase_ = 0.0, pitchEnv_ = 1.0, pitchCoef_ = 0.0, ampEnv_ = 1.0, ampCoef_ = 0.0;
    double noiseEnv_ = 1.0, noiseCoef_ = 0.0, clickEnv_ = 1.0, clickCoef_ = 0.0;
    double burstEnv_ = 1.0, burstCoef_ = 0.0, tailEnv_ = 0.0, tailCoef_ = 0.0;
};

}  // namespace zyr::synth
