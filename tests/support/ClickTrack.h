// A soundtrack of clicks at irregular, known times, and the figures that say
// how well a music clock read by the frame loop matches what was heard.
//
//     const ClickTrack& track = clickTrack();        // encoded by lame once per process
//     ... play track.mp3, log the frame loop's reads, record what was heard ...
//     const ClockFigures f = compareWithHeard(reads, recording, track);
//     EXPECT_LT(f.worstOffset(), 0.005);
//
// A click's time is where findClicks finds its onset in the source samples, so
// the detector's own bias cancels out when it is run on what was heard.
#pragma once

#include "PrivatePulse.h"
#include "ZipWriter.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

struct ClickTrack {
    static constexpr int kRate = 44100;
    std::vector<std::int16_t> samples;  // interleaved stereo, the source
    std::vector<double> clicks;         // onset of each click in the source, seconds
    double seconds = 0.0;
    std::string mp3;
};

const ClickTrack& clickTrack();

// An archive for the player: the click track and a shader that draws by time.
std::vector<ZipEntry> clickArchive();

// Onsets of clicks in interleaved stereo samples, in (fractional) frames: where
// the left channel first reaches half of the click's peak.
std::vector<double> findClicks(const std::vector<std::int16_t>& stereo);

// One read of the music clock by the frame loop: when (steady_clock seconds)
// and what it said (music seconds).
struct ClockRead {
    double time = 0.0;
    double music = 0.0;
};

// Parses "read TIME MUSIC" lines (other lines are skipped).
std::vector<ClockRead> parseReads(const std::string& text);

struct ClockFigures {
    std::vector<double> offsets;  // per click after the first second: read moment minus heard moment, seconds
    std::size_t clicksHeard = 0;
    double backwards = 0.0;       // largest step back of the clock, seconds
    // Where the sound itself ran steadily (between clicks heard as far apart as
    // they are in the music): the largest |music advance - wall advance| over
    // a second, per second, and (music step - wall step) between frames.
    double worstDrift = 0.0;
    double stepLow = 0.0, stepHigh = 0.0;
    std::size_t frames = 0;       // frames that went into the step figures
    std::size_t gaps = 0;         // spans between clicks the sound did not run steadily through

    double median() const;
    double smallest() const;
    double largest() const;
    double worstOffset() const;  // the largest |offset|
    std::string summary() const;
};

// shift is added to every music time read: a clock wrong by that much.
ClockFigures compareWithHeard(const std::vector<ClockRead>& reads, const Recording& heard, const ClickTrack& track,
                              double shift = 0.0);

// One run of a player that logs its reads, heard through a private sound
// server.
struct Listening {
    std::vector<ClockRead> reads;
    Recording heard;
    ClockFigures figures;
};

// Starts a private sound server and its recorder, has `play` run the player
// to its end with the server's client environment (it returns what the
// player wrote to standard error), and sets the reads, put on the steady
// clock by `toSteady` when given, beside what was heard. A busy machine can
// stall the sound itself (the server runs dry), which the clock then rightly
// shows; such a run measures the machine, not the clock, so it is made again,
// `attempts` times at most. Prints each run's figures.
using Player = std::function<std::string(const std::map<std::string, std::string>& env)>;
Listening listenSteadily(const ClickTrack& track, int attempts, const Player& play,
                         const std::function<double(double)>& toSteady = {});

// The checks every heard-clock test makes, offsets within `tolerance` and a
// drift within `drift` a second, with the negative control: the same reads
// from a clock off by twice the tolerance, either way, must fail. Unless
// `gapsAllowed`, a run whose sound itself stalled fails as unmeasurable.
void expectClockMatchesHeard(const Listening& run, const ClickTrack& track, double tolerance, double drift,
                             bool gapsAllowed = false);
