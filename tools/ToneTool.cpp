// zyr-tone: writes a short placeholder piece as 16-bit mono WAV, for content
// that has no soundtrack of its own yet.
//
//     zyr-tone OUT.wav SECONDS [BPM]
//
// A soft two-note chord that swells on every beat, so the clock can be heard.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

void put(std::ofstream& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.put(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: zyr-tone OUT.wav SECONDS [BPM]\n");
        return 2;
    }
    const double seconds = std::atof(argv[2]);
    const double bpm = argc == 4 ? std::atof(argv[3]) : 170.0;
    if (!(seconds > 0.0 && seconds <= 600.0) || !(bpm > 0.0 && bpm <= 1000.0)) {
        std::fprintf(stderr, "zyr-tone: SECONDS must be in (0, 600] and BPM in (0, 1000]\n");
        return 2;
    }
    constexpr std::uint32_t rate = 44100;
    constexpr double pi = 3.14159265358979323846;
    const auto frames = static_cast<std::uint32_t>(seconds * rate);
    std::vector<std::int16_t> samples(frames);
    const double beat = 60.0 / bpm;
    for (std::uint32_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double phase = std::fmod(t, beat) / beat;
        const double envelope = 0.25 + 0.75 * std::exp(-6.0 * phase);
        const double fade = std::min({1.0, t / 0.05, (seconds - t) / 0.05});
        const double chord = std::sin(2 * pi * 220.0 * t) + 0.6 * std::sin(2 * pi * 330.0 * t);
        samples[i] = static_cast<std::int16_t>(std::lround(9000.0 * envelope * fade * chord));
    }

    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    const std::uint32_t dataBytes = frames * 2;
    out.write("RIFF", 4);
    put(out, 36 + dataBytes, 4);
    out.write("WAVEfmt ", 8);
    put(out, 16, 4);
    put(out, 1, 2);  // PCM
    put(out, 1, 2);  // mono
    put(out, rate, 4);
    put(out, rate * 2, 4);
    put(out, 2, 2);
    put(out, 16, 2);
    out.write("data", 4);
    put(out, dataBytes, 4);
    out.write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(dataBytes));
    if (!out) {
        std::fprintf(stderr, "zyr-tone: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
