// HeardClock: the output frame at the listener's ear, as a smooth line through
// the output's reports.
//
//     HeardClock clock(44100);
//     clock.report(output.heard());          // after every write, on the mixer thread
//     double frame = clock.frameAt(now);     // any time in between
//
// Between reports the clock runs on from the last one at the output's rate.
// A new report does not move the line; it tilts it, by at most 0.08 %,
// towards where the report says the listener is, so a frame's music time
// never jitters against the one before and the clock keeps to the wall clock
// within a millisecond a second. The line jumps to the report when the output
// starts or restarts (an underrun), and when kSteadyDisagreements reports in
// a row disagree with it by more than kJumpSeconds (a sound server that
// changed its latency); a single stray report moves nothing. For kSettleSeconds
// after a start it follows every report that is off by more than
// kSettleJumpSeconds: outputs report the first frames as playing before a
// sound server really plays them. Answers can go back after a jump; callers
// that must not go back keep the largest answer they gave.
//
// Plain value; not thread-safe (the audio layer guards it with its lock).
#pragma once

#include "AudioOutput.h"

#include <chrono>

class HeardClock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    static constexpr double kJumpSeconds = 0.010;
    static constexpr int kSteadyDisagreements = 3;
    static constexpr double kSettleSeconds = 0.5;
    static constexpr double kSettleJumpSeconds = 0.001;
    // The tilt that takes away a disagreement of one second in one second,
    // bounded.
    static constexpr double kCorrectionPerSecond = 1.0;
    static constexpr double kMostTilt = 0.0008;

    explicit HeardClock(double rate) : rate_(rate) {}

    void report(const HeardReport& heard);
    // Output frames heard at `at`; 0 before the first report.
    double frameAt(TimePoint at) const;

private:
    void anchor(const HeardReport& heard, double slope);

    double rate_;
    bool running_ = false;
    bool anchored_ = false;
    int disagreements_ = 0;
    TimePoint startTime_{};
    TimePoint anchorTime_{};
    double anchorFrame_ = 0.0;
    double slope_ = 0.0;  // frames a second
};
