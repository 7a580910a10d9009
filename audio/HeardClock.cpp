#include "HeardClock.h"

#include <algorithm>
#include <cmath>

void HeardClock::anchor(const HeardReport& heard, double slope) {
    anchored_ = true;
    disagreements_ = 0;
    anchorTime_ = heard.at;
    anchorFrame_ = heard.frame;
    slope_ = slope;
}

void HeardClock::report(const HeardReport& heard) {
    if (!heard.running) {
        running_ = false;
        anchor(heard, 0.0);
        return;
    }
    if (!running_ || !anchored_ || heard.restarted) {
        running_ = true;
        startTime_ = heard.at;
        anchor(heard, rate_);
        return;
    }
    const double predicted = frameAt(heard.at);
    const double error = heard.frame - predicted;
    const bool settling = std::chrono::duration<double>(heard.at - startTime_).count() < kSettleSeconds;
    disagreements_ = std::abs(error) > kJumpSeconds * rate_ ? disagreements_ + 1 : 0;
    if ((settling && std::abs(error) > kSettleJumpSeconds * rate_) || disagreements_ >= kSteadyDisagreements) {
        anchor(heard, rate_);
        return;
    }
    // Continue from where the line is, leaning towards the report.
    anchorTime_ = heard.at;
    anchorFrame_ = predicted;
    const double tilt = std::clamp(error / rate_ * kCorrectionPerSecond, -kMostTilt, kMostTilt);
    slope_ = rate_ * (1.0 + tilt);
}

double HeardClock::frameAt(TimePoint at) const {
    if (!anchored_) return 0.0;
    return anchorFrame_ + std::chrono::duration<double>(at - anchorTime_).count() * slope_;
}
