#include "AudioLayer.h"

#include "AudioTestSupport.h"
#include "ClickTrack.h"
#include "Mp3.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <chrono>
#include <optional>
#include <string>
#include <thread>

using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

// Every test leaves the process without a device, whatever it asserted.
class AudioLayer : public ::testing::Test {
protected:
    void TearDown() override { audioFree(); }
};

AudioStream create(const std::string& mp3, std::uint32_t flags = kAudioPrescan) {
    return audioStreamCreate(mp3.data(), 0, mp3.size(), flags);
}

double seconds(AudioStream s) { return audioChannelBytes2Seconds(s, audioChannelGetPosition(s)); }

// Plays the stream to its end while checking every position on the way: whole
// frames, never going back, never past the end. Returns false on timeout.
bool playToEnd(AudioStream s, std::uint64_t endBytes, std::uint64_t frameBytes, std::chrono::milliseconds timeout) {
    EXPECT_TRUE(audioChannelPlay(s, false));
    std::uint64_t last = 0;
    const bool ended = waitFor(
        [&] {
            const std::uint64_t now = audioChannelGetPosition(s);
            EXPECT_GE(now, last);
            EXPECT_LE(now, endBytes);
            EXPECT_EQ(now % frameBytes, 0u);
            last = now;
            return audioChannelIsActive(s) == kAudioStopped;
        },
        timeout);
    return ended;
}

// Where the stream's samples sit in a raw stereo device recording: the recording
// must be silence, then exactly the expected samples, then silence.
void expectRecordingHolds(const std::vector<std::int16_t>& recording, const std::vector<std::int16_t>& expected) {
    auto firstSound = [](const std::vector<std::int16_t>& v) {
        return static_cast<std::size_t>(std::find_if(v.begin(), v.end(), [](std::int16_t x) { return x != 0; }) - v.begin());
    };
    const std::size_t leadIn = firstSound(expected);
    ASSERT_LT(leadIn, expected.size()) << "the tone decodes to silence";
    const std::size_t heard = firstSound(recording);
    ASSERT_GE(heard, leadIn) << "nothing was played";
    const std::size_t start = heard - leadIn;
    ASSERT_EQ(start % 2, 0u) << "channels out of step";
    ASSERT_GE(recording.size(), start + expected.size()) << "the recording is cut short";

    const std::vector<std::int16_t> played(recording.begin() + static_cast<std::ptrdiff_t>(start),
                                           recording.begin() + static_cast<std::ptrdiff_t>(start + expected.size()));
    const auto differ = std::mismatch(played.begin(), played.end(), expected.begin());
    EXPECT_EQ(differ.first, played.end()) << "the device got other samples than the decode, from sample "
                                           << differ.first - played.begin() << " of " << played.size();
    EXPECT_TRUE(std::all_of(recording.begin() + static_cast<std::ptrdiff_t>(start + expected.size()), recording.end(),
                            [](std::int16_t x) { return x == 0; }))
        << "sound after the end of the stream";
}

std::vector<std::int16_t> asDeviceStereo(const Pcm& pcm) {
    if (pcm.channels == 2) return pcm.samples;
    std::vector<std::int16_t> stereo;
    for (std::int16_t x : pcm.samples) stereo.insert(stereo.end(), {x, x});
    return stereo;
}

int zeroCrossings(const std::vector<std::int16_t>& stereo, std::size_t channel) {
    int count = 0;
    for (std::size_t i = channel + 2; i < stereo.size(); i += 2)
        if ((stereo[i - 2] < 0) != (stereo[i] < 0)) ++count;
    return count;
}

TEST_F(AudioLayer, NonAudioInputGivesInertStreamZero) {
    // Before any device, even good bytes give no stream.
    EXPECT_EQ(create(toneMp3(1.0)), 0u);

    ASSERT_TRUE(audioInit(-1, 44100));
    const std::string text = "this is not an mp3 file, only some words\n";
    const std::string zeros(8192, '\0');
    const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + std::string(4000, 'x');
    for (std::uint32_t flags : {kAudioPrescan, 0u}) {
        EXPECT_EQ(audioStreamCreate(nullptr, 0, 100, flags), 0u);
        EXPECT_EQ(audioStreamCreate(text.data(), 0, 0, flags), 0u);
        EXPECT_EQ(create(text, flags), 0u);
        EXPECT_EQ(create(zeros, flags), 0u);
        EXPECT_EQ(create(png, flags), 0u);
    }

    // A freed stream's handle becomes as inert as 0 and as one never handed out.
    const AudioStream freed = create(toneMp3(1.0));
    ASSERT_NE(freed, 0u);
    EXPECT_TRUE(audioStreamFree(freed));
    for (AudioStream s : {AudioStream{0}, freed, AudioStream{987654}}) {
        EXPECT_FALSE(audioChannelPlay(s, false));
        EXPECT_FALSE(audioChannelPlay(s, true));
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(audioChannelGetPosition(s), 0u);
        EXPECT_EQ(audioChannelBytes2Seconds(s, 44100 * 2), 0.0);
        EXPECT_EQ(audioChannelIsActive(s), kAudioStopped);
        EXPECT_FALSE(audioStreamFree(s));
    }
}

TEST_F(AudioLayer, InitAndFreePairUpAndFreeTakesTheStreams) {
    ASSERT_TRUE(audioInit(-1, 44100));
    EXPECT_FALSE(audioInit(-1, 44100)) << "one device per process";
    EXPECT_TRUE(audioStart());
    const AudioStream s = create(toneMp3(1.0));
    ASSERT_NE(s, 0u);
    EXPECT_TRUE(audioFree());
    EXPECT_FALSE(audioFree());
    EXPECT_FALSE(audioStart());

    ASSERT_TRUE(audioInit(-1, 44100));
    EXPECT_FALSE(audioChannelPlay(s, false)) << "streams end with their device";
    const AudioStream again = create(toneMp3(1.0));
    EXPECT_NE(again, 0u);
    EXPECT_NE(again, s) << "handles are not reused";
}

TEST_F(AudioLayer, PositionFollowsRealTimeOnTheSilentDevice) {
    ASSERT_TRUE(audioInit(-1, 44100));
    ASSERT_TRUE(audioStart());
    const std::string& mp3 = toneMp3(3.0);
    const AudioStream s = create(mp3);
    ASSERT_NE(s, 0u);
    EXPECT_DOUBLE_EQ(audioChannelBytes2Seconds(s, 44100 * 2), 1.0) << "mono 16-bit: 2 bytes a frame";

    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(audioChannelGetPosition(s), 0u) << "nothing is heard before play";
    EXPECT_EQ(audioChannelIsActive(s), kAudioStopped);

    ASSERT_TRUE(audioChannelPlay(s, false));
    const auto start = Clock::now();
    std::uint64_t last = 0;
    while (Clock::now() - start < 1200ms) {
        const std::uint64_t now = audioChannelGetPosition(s);
        ASSERT_GE(now, last);
        ASSERT_EQ(now % 2, 0u);
        last = now;
        ASSERT_EQ(audioChannelIsActive(s), kAudioPlaying);
        std::this_thread::sleep_for(1ms);
    }
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_NEAR(seconds(s), wall, 0.15);
    EXPECT_TRUE(audioChannelPlay(s, false)) << "playing again without restart carries on";
    EXPECT_GE(seconds(s), 1.0);
}

TEST_F(AudioLayer, StreamStopsByItselfAtItsFullLength) {
    TestOutputs outputs;
    ASSERT_TRUE(audioInit(-1, 44100));
    const std::string& mp3 = toneMp3(1.0);
    const Pcm pcm = decodeMp3(mp3);
    ASSERT_EQ(pcm.frames(), 44100u);
    const AudioStream s = create(mp3);
    ASSERT_NE(s, 0u);

    ASSERT_TRUE(playToEnd(s, pcm.bytes(), 2, 5s));
    EXPECT_EQ(audioChannelGetPosition(s), pcm.bytes());
    EXPECT_DOUBLE_EQ(seconds(s), 1.0);

    EXPECT_FALSE(audioChannelPlay(s, false)) << "an ended stream does not start again by itself";
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(audioChannelIsActive(s), kAudioStopped);
    EXPECT_EQ(audioChannelGetPosition(s), pcm.bytes());

    // A restart plays it from the beginning, to the same end.
    ASSERT_TRUE(audioChannelPlay(s, true));
    EXPECT_LT(audioChannelGetPosition(s), pcm.bytes() / 2);
    EXPECT_EQ(audioChannelIsActive(s), kAudioPlaying);
    EXPECT_TRUE(waitFor([&] { return audioChannelIsActive(s) == kAudioStopped; }, 5s));
    EXPECT_EQ(audioChannelGetPosition(s), pcm.bytes());
}

TEST_F(AudioLayer, DeviceReceivesExactlyTheDecodedSamples) {
    // Without a prescan the stream decodes the same; mono reaches both channels.
    struct Case {
        ToneFormat format;
        std::uint32_t flags;
    };
    for (const Case& c : {Case{{44100, 2}, kAudioPrescan}, Case{{44100, 1}, 0u}}) {
        SCOPED_TRACE(c.format.channels);
        const std::string& mp3 = toneMp3(1.0, 440.0, c.format);
        const Pcm pcm = decodeMp3(mp3);
        TestOutputs outputs;
        ASSERT_TRUE(audioInit(-1, 44100));
        const AudioStream s = create(mp3, c.flags);
        ASSERT_NE(s, 0u);
        ASSERT_TRUE(playToEnd(s, pcm.bytes(), pcm.channels * 2u, 5s));
        EXPECT_EQ(audioChannelGetPosition(s), pcm.bytes());
        ASSERT_TRUE(audioFree());
        expectRecordingHolds(outputs.samples(), asDeviceStereo(pcm));
    }
}

TEST_F(AudioLayer, StreamAtAnotherRateCountsInItsOwnFormat) {
    const std::string& mp3 = toneMp3(2.0, 440.0, {22050, 2});
    const Pcm pcm = decodeMp3(mp3);
    ASSERT_EQ(pcm.rate, 22050);
    ASSERT_EQ(pcm.frames(), 44100u);
    TestOutputs outputs;
    ASSERT_TRUE(audioInit(-1, 44100));
    const AudioStream s = create(mp3);
    ASSERT_NE(s, 0u);
    EXPECT_DOUBLE_EQ(audioChannelBytes2Seconds(s, 22050 * 4), 1.0) << "stereo 16-bit at 22.05 kHz";
    ASSERT_TRUE(playToEnd(s, pcm.bytes(), 4, 5s));
    EXPECT_EQ(audioChannelGetPosition(s), pcm.bytes());
    EXPECT_DOUBLE_EQ(seconds(s), 2.0);
    ASSERT_TRUE(audioFree());

    // The output ran at 44.1 kHz: two seconds of sound there, at the tone's pitch,
    // left and right kept apart.
    const std::vector<std::int16_t> recording = outputs.samples();
    auto loud = [](std::int16_t x) { return x > 300 || x < -300; };
    const auto first = std::find_if(recording.begin(), recording.end(), loud);
    const auto last = std::find_if(recording.rbegin(), recording.rend(), loud).base();
    ASSERT_LT(first, last);
    const std::vector<std::int16_t> sound(first - (first - recording.begin()) % 2, last);
    EXPECT_NEAR(static_cast<double>(sound.size()) / 2 / 44100, 2.0, 0.02);
    EXPECT_NEAR(zeroCrossings(sound, 0), 2 * 440 * 2, 20);
    EXPECT_NEAR(zeroCrossings(sound, 1), 2 * 660 * 2, 20);
}

TEST_F(AudioLayer, ClockRunsWhenNoOutputCanBeOpenedOrOneFails) {
    // An output that cannot be opened; the system's default, which fails on
    // machines without sound hardware (and plays a short tone on those with
    // it); device 0, which asks for no output; an output that is gone for good
    // a tenth of a second in. Each time the clock must still run in real time.
    struct Case {
        const char* name;
        TestOutputOptions options;
        bool system;
        int device;
    };
    for (const Case& c : {Case{"refused", {.refuse = true}, false, -1}, Case{"system", {}, true, -1},
                          Case{"none", {}, false, 0}, Case{"failing", {.realTime = true, .failAfterBlocks = 10}, false, -1}}) {
        SCOPED_TRACE(c.name);
        std::optional<TestOutputs> outputs;
        if (!c.system) outputs.emplace(c.options);
        ASSERT_TRUE(audioInit(c.device, 44100));
        const AudioStream s = create(toneMp3(3.0));
        ASSERT_NE(s, 0u);
        ASSERT_TRUE(audioChannelPlay(s, false));
        std::this_thread::sleep_for(400ms);
        EXPECT_NEAR(seconds(s), 0.4, 0.15);
        EXPECT_EQ(audioChannelIsActive(s), kAudioPlaying);
        ASSERT_TRUE(audioFree());
        if (outputs) {
            EXPECT_EQ(outputs->opened(), c.device == 0 ? 0 : 1);
        }
    }
}

// On an output whose listener hears each frame 100 ms after it was taken, the
// position is what is heard: it holds at the start, at a seek's target and
// after a pause until the sound from there reaches the listener, then runs in
// real time.
TEST_F(AudioLayer, PositionIsWhatTheListenerHearsThroughTheOutputsLatency) {
    constexpr double kLatency = 0.1;
    TestOutputs outputs({.realTime = true, .latencyFrames = 4410});
    ASSERT_TRUE(audioInit(-1, 44100));
    const AudioStream s = create(toneMp3(10.0));
    ASSERT_NE(s, 0u);
    auto secondsAfter = [&](Clock::time_point from, double after) {
        std::this_thread::sleep_until(from + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(after)));
        return seconds(s);
    };
    for (const char* step : {"start", "seek", "pause and play"}) {
        SCOPED_TRACE(step);
        double from = 0.0;
        if (step == std::string("seek")) {
            ASSERT_TRUE(audioChannelSeek(s, 44100 * 2 * 5));
            from = 5.0;
            EXPECT_DOUBLE_EQ(seconds(s), from) << "a seek reads its target at once";
        } else if (step == std::string("pause and play")) {
            ASSERT_TRUE(audioChannelPause(s));
            from = seconds(s);
            EXPECT_DOUBLE_EQ(secondsAfter(Clock::now(), 0.3), from) << "a pause holds";
        }
        const Clock::time_point go = Clock::now();
        if (step != std::string("seek")) {
            ASSERT_TRUE(audioChannelPlay(s, false));
        }
        EXPECT_DOUBLE_EQ(secondsAfter(go, kLatency - 0.04), from) << "moved before it was heard";
        // Heard for 0.3 s at most; a few blocks less while the mixer got to it.
        const double later = secondsAfter(go, kLatency + 0.3);
        EXPECT_LE(later, from + 0.3);
        EXPECT_GT(later, from + 0.25);
    }
}

// A system output that takes sound faster than it plays, here ALSA's null
// device as the default, is held to real time (after a second's start): a
// three-second song neither ends in a moment nor runs ahead of the wall clock.
TEST_F(AudioLayer, AnOutputThatTakesSoundAtOnceIsHeldToRealTime) {
    TempDir home;
    writeFile(home / ".asoundrc", "pcm.!default {\n  type null\n}\n");
    const std::string previous = std::getenv("HOME") ? std::getenv("HOME") : "";
    setenv("HOME", home.path().c_str(), 1);
    ASSERT_TRUE(audioInit(-1, 44100));
    setenv("HOME", previous.c_str(), 1);
    const AudioStream s = create(toneMp3(3.0));
    ASSERT_NE(s, 0u);
    const auto start = Clock::now();
    ASSERT_TRUE(audioChannelPlay(s, false));
    std::this_thread::sleep_for(1500ms);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_EQ(audioChannelIsActive(s), kAudioPlaying);
    EXPECT_LT(seconds(s), wall * 1.01 + 1.0);
}

// The MP3's own delay (the encoder's padding, which lame's tag describes) is
// trimmed on every path: the whole decode that capture writes to WAV and
// video, and what playback hands the output, both put each click at exactly
// its place in the source, and the song keeps its exact length.
TEST_F(AudioLayer, EncoderDelayIsTrimmedSoTheFirstSampleIsTimeZero) {
    const ClickTrack& track = clickTrack();
    TestOutputs outputs;
    ASSERT_TRUE(audioInit(-1, 44100));
    const AudioStream s = create(track.mp3);
    ASSERT_NE(s, 0u);
    std::vector<std::int16_t> whole;
    ASSERT_TRUE(audioStreamDecodeAll(s, whole));
    EXPECT_EQ(whole.size(), track.samples.size());
    const std::vector<double> clicks = findClicks(whole);
    ASSERT_EQ(clicks.size(), track.clicks.size());
    for (std::size_t k = 0; k < clicks.size(); ++k)
        EXPECT_NEAR(clicks[k] / ClickTrack::kRate, track.clicks[k], 2.0 / ClickTrack::kRate) << "click " << k;

    ASSERT_TRUE(playToEnd(s, whole.size() * 2, 4, 10s));
    ASSERT_TRUE(audioFree());
    expectRecordingHolds(outputs.samples(), whole);
}

}  // namespace
