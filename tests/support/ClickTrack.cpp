#include "ClickTrack.h"

#include "Mp3.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <sstream>

namespace {

// Irregular on purpose: no spacing repeats, so a click cannot be taken for
// its neighbour.
constexpr double kClickTimes[] = {0.50, 1.30, 2.05, 3.20, 3.90, 5.15, 6.00, 6.70,
                                  8.10, 8.85, 9.60, 10.90, 11.50, 12.75, 13.40, 14.60};
constexpr double kSeconds = 15.5;

ClickTrack makeTrack() {
    ClickTrack track;
    track.seconds = kSeconds;
    const auto frames = static_cast<std::size_t>(std::lround(kSeconds * ClickTrack::kRate));
    track.samples.assign(frames * 2, 0);
    // A 2 kHz burst that starts at its peak and dies away within a few
    // milliseconds: a sharp onset that survives the encoder.
    for (double at : kClickTimes) {
        const auto first = static_cast<std::size_t>(std::lround(at * ClickTrack::kRate));
        for (std::size_t i = 0; i < 300; ++i) {
            const double t = static_cast<double>(i) / ClickTrack::kRate;
            const double value = 0.9 * std::cos(2.0 * std::numbers::pi * 2000.0 * t) * std::exp(-t / 0.0015);
            const auto sample = static_cast<std::int16_t>(std::lround(value * 32767.0));
            track.samples[(first + i) * 2] = sample;
            track.samples[(first + i) * 2 + 1] = sample;
        }
    }
    for (double frame : findClicks(track.samples)) track.clicks.push_back(frame / ClickTrack::kRate);
    track.mp3 = mp3FromWav(wavBytes(track.samples, {ClickTrack::kRate, 2}), {ClickTrack::kRate, 2});
    return track;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(std::lround(p * static_cast<double>(values.size() - 1)))];
}

}  // namespace

const ClickTrack& clickTrack() {
    static const ClickTrack track = makeTrack();
    return track;
}

std::vector<ZipEntry> clickArchive() {
    constexpr const char* kShader = R"(#version 460 core
layout(location = 0) out vec4 colour;
#pragma EXPORT(internal=time)
uniform float time;
void main() { colour = vec4(fract(time), 0.0, 0.0, 1.0); }
)";
    return {{"fs.glsl", kShader}, {"soundtrack.mp3", clickTrack().mp3, ZipMethod::Stored}};
}

std::vector<double> findClicks(const std::vector<std::int16_t>& stereo) {
    constexpr int kThreshold = 6000;
    constexpr std::size_t kWindow = ClickTrack::kRate / 200;   // 5 ms: the click's body
    constexpr std::size_t kQuiet = ClickTrack::kRate / 10;     // 100 ms to the next one at least
    std::vector<double> onsets;
    const std::size_t frames = stereo.size() / 2;
    auto left = [&](std::size_t frame) { return std::abs(static_cast<int>(stereo[frame * 2])); };
    for (std::size_t i = 0; i < frames; ++i) {
        if (left(i) < kThreshold) continue;
        const std::size_t from = i > kWindow ? i - kWindow : 0;
        const std::size_t to = std::min(frames, i + kWindow);
        int peak = 0;
        for (std::size_t k = from; k < to; ++k) peak = std::max(peak, left(k));
        std::size_t k = from;
        while (left(k) * 2 < peak) ++k;
        // Between the last frame below half the peak and the first above it.
        double onset = static_cast<double>(k);
        if (k > 0) {
            const double below = left(k - 1), above = left(k);
            onset = static_cast<double>(k - 1) + (peak / 2.0 - below) / (above - below);
        }
        onsets.push_back(onset);
        i = k + kQuiet;
    }
    return onsets;
}

std::vector<ClockRead> parseReads(const std::string& text) {
    std::vector<ClockRead> reads;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        ClockRead read;
        if (std::sscanf(line.c_str(), "read %lf %lf", &read.time, &read.music) == 2) reads.push_back(read);
    }
    return reads;
}

double ClockFigures::median() const { return percentile(offsets, 0.5); }
double ClockFigures::smallest() const { return offsets.empty() ? 0.0 : *std::min_element(offsets.begin(), offsets.end()); }
double ClockFigures::largest() const { return offsets.empty() ? 0.0 : *std::max_element(offsets.begin(), offsets.end()); }
double ClockFigures::worstOffset() const { return std::max(std::abs(smallest()), std::abs(largest())); }

std::string ClockFigures::summary() const {
    char text[400];
    std::snprintf(text, sizeof text,
                  "picture minus heard over %zu clicks: median %+.2f ms, smallest %+.2f ms, largest %+.2f ms; "
                  "steps back: %.3f ms; drift: %.3f ms a second; (music step - wall step) over %zu frames: "
                  "%+.3f .. %+.3f ms; gaps in the sound: %zu",
                  offsets.size(), median() * 1e3, smallest() * 1e3, largest() * 1e3, backwards * 1e3, worstDrift * 1e3,
                  frames, stepLow * 1e3, stepHigh * 1e3, gaps);
    std::string all = text;
    all += "; each click:";
    for (double offset : offsets) {
        std::snprintf(text, sizeof text, " %+.2f", offset * 1e3);
        all += text;
    }
    return all;
}

ClockFigures compareWithHeard(const std::vector<ClockRead>& reads, const Recording& heard, const ClickTrack& track,
                              double shift) {
    ClockFigures f;
    const std::vector<double> heardClicks = findClicks(heard.samples);
    f.clicksHeard = heardClicks.size();

    for (std::size_t k = 0; k < track.clicks.size() && k < heardClicks.size(); ++k) {
        const double click = track.clicks[k];
        if (click < 1.0) continue;
        for (std::size_t i = 0; i + 1 < reads.size(); ++i) {
            const double a = reads[i].music + shift, b = reads[i + 1].music + shift;
            if (a <= click && click < b) {
                const double read = reads[i].time + (click - a) / (b - a) * (reads[i + 1].time - reads[i].time);
                f.offsets.push_back(read - heard.timeOf(heardClicks[k]));
                break;
            }
        }
    }

    // The clock's own steadiness is judged where the sound ran steadily:
    // between two clicks heard exactly as far apart as they are in the music
    // (an underrun, a stalled machine, makes a gap that the clock rightly
    // shows too).
    std::vector<bool> steady(track.clicks.size(), false);  // from click k to click k + 1
    for (std::size_t k = 0; k + 1 < track.clicks.size() && k + 1 < heardClicks.size(); ++k) {
        const double heardSpan = heard.timeOf(heardClicks[k + 1]) - heard.timeOf(heardClicks[k]);
        steady[k] = std::abs(heardSpan - (track.clicks[k + 1] - track.clicks[k])) < 0.0005;
        if (!steady[k]) ++f.gaps;
    }
    auto span = [&](double music) -> std::size_t {
        const auto after = std::upper_bound(track.clicks.begin(), track.clicks.end(), music);
        return after == track.clicks.begin() ? track.clicks.size() : static_cast<std::size_t>(after - track.clicks.begin()) - 1;
    };
    auto steadyBetween = [&](const ClockRead& a, const ClockRead& b) {
        const std::size_t from = span(a.music), to = span(b.music);
        if (from >= track.clicks.size() || to >= track.clicks.size()) return false;
        for (std::size_t k = from; k <= to; ++k)
            if (!steady[k]) return false;
        return true;
    };
    bool first = true;
    for (std::size_t i = 0; i + 1 < reads.size(); ++i) {
        f.backwards = std::max(f.backwards, reads[i].music - reads[i + 1].music);
        if (!steadyBetween(reads[i], reads[i + 1])) continue;
        ++f.frames;
        const double step = (reads[i + 1].music - reads[i].music) - (reads[i + 1].time - reads[i].time);
        f.stepLow = first ? step : std::min(f.stepLow, step);
        f.stepHigh = first ? step : std::max(f.stepHigh, step);
        first = false;
        for (std::size_t j = i + 1; j < reads.size() && steadyBetween(reads[i], reads[j]); ++j) {
            const double wall = reads[j].time - reads[i].time;
            if (wall < 1.0) continue;
            const double drift = std::abs((reads[j].music - reads[i].music) - wall) / wall;
            f.worstDrift = std::max(f.worstDrift, drift);
            break;
        }
    }
    return f;
}

Listening listenSteadily(const ClickTrack& track, int attempts, const Player& play,
                         const std::function<double(double)>& toSteady) {
    Listening run;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        PrivatePulse pulse;
        MonitorRecorder recorder(pulse);
        const std::string log = play(pulse.clientEnv());
        run.heard = recorder.stop();
        run.reads = parseReads(log);
        if (toSteady)
            for (ClockRead& read : run.reads) read.time = toSteady(read.time);
        run.figures = compareWithHeard(run.reads, run.heard, track);
        std::printf("heard clock: %s (recorder stamps within %.3f ms)\n", run.figures.summary().c_str(),
                    run.heard.stampSpread * 1e3);
        if (run.figures.gaps == 0) break;
    }
    return run;
}

void expectClockMatchesHeard(const Listening& run, const ClickTrack& track, double tolerance, double drift,
                             bool gapsAllowed) {
    const ClockFigures& f = run.figures;
    ASSERT_EQ(f.clicksHeard, track.clicks.size()) << "the recording lost or gained clicks";
    ASSERT_EQ(f.offsets.size(), track.clicks.size() - 1) << "a click after the first second was never read";
    if (!gapsAllowed) {
        ASSERT_EQ(f.gaps, 0u) << "the sound itself stalled in every run: too busy a machine to measure";
    }
    EXPECT_LE(run.heard.stampSpread, 0.005) << "the recorder's stamps are too loose to measure with";
    EXPECT_LE(f.worstOffset(), tolerance) << f.summary();
    EXPECT_EQ(f.backwards, 0.0) << f.summary();
    EXPECT_LE(f.worstDrift, drift) << f.summary();
    for (double wrong : {-2 * tolerance, 2 * tolerance}) {
        const ClockFigures off = compareWithHeard(run.reads, run.heard, track, wrong);
        EXPECT_GT(off.worstOffset(), tolerance) << "a clock off by " << wrong * 1e3 << " ms passed: " << off.summary();
    }
}
