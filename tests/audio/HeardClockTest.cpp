// The smoothing of the output's reports, against a simulated output whose
// listener is a known distance behind: reports with jitter, one stray report,
// a sound server that changes its latency, an underrun.
#include "HeardClock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

using Clock = std::chrono::steady_clock;

TEST(HeardClock, FollowsReportsSmoothlyAndJumpsOnlyWhenItMust) {
    constexpr double kRate = 48000.0;
    HeardClock clock(kRate);
    std::mt19937 random(7);
    std::uniform_real_distribution<double> jitter(-0.0003, 0.0003);
    const Clock::time_point start = Clock::now();
    auto at = [&](double seconds) { return start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)); };
    double latency = 0.030;
    double before = 0.0;
    // Reports every 10 ms; reads every 4 ms in between, checked as they go.
    for (int k = 0; k < 1000; ++k) {
        const double t = k * 0.01;
        if (k == 400) latency = 0.050;  // the server takes 20 ms more from here on
        const bool stray = k == 200;
        const bool underrun = k == 700;
        if (underrun) latency = 0.065;
        const double truth = std::max(0.0, t - latency);
        clock.report({(truth + (stray ? 0.02 : jitter(random))) * kRate, at(t), true, underrun});
        for (double r = t; r < t + 0.01; r += 0.004) {
            const double now = clock.frameAt(at(r)) / kRate;
            const double step = now - before;
            before = now;
            if (k == 0 || r == t) continue;
            // Between reports the clock runs at its rate, within the tilt.
            EXPECT_NEAR(step, 0.004, 0.004 * HeardClock::kMostTilt + 1e-9) << "at " << r;
        }
        // Settled, it is within a millisecond of the truth; a stray report
        // tilts it a little, and a changed latency is followed within a few
        // reports.
        const double error = std::abs(clock.frameAt(at(t)) / kRate - truth);
        const bool settled = (k > 60 && k < 200) || (k > 240 && k < 400) || (k > 420 && k < 700) || k > 720;
        EXPECT_LT(error, settled ? 0.001 : k >= 200 && k < 240 ? 0.0015 : 0.025) << "at " << t;
    }
}

}  // namespace
