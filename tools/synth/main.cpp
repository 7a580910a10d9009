// zyr-synth: renders a song's text sources to a WAV file, or describes the
// song's layout on the music clock.
//
//     zyr-synth SONG_DIR_OR_FILE OUT.wav
//     zyr-synth --info SONG_DIR_OR_FILE      (or SONG_DIR_OR_FILE --info)
//
// --info prints tempo, bars, rows, frames and seconds, then one line per
// section: name, start bar, bars, start row, rows, start second (32 rows a
// bar), which is what the picture's sync tracks are keyed to.
//
// Exit status 0 on success, 1 when the song is refused or the file cannot be
// written (nothing is written then), 2 for a wrong command line.
#include "Song.h"
#include "Synth.h"
#include "Wav.h"

#include <cstdio>
#include <exception>
#include <string_view>

namespace {

using namespace zyr::synth;

void printInfo(const Song& song) {
    std::printf("bpm %d\n", song.bpm);
    std::printf("bars %d\n", song.bars());
    std::printf("rows %d\n", song.bars() * kRowsPerBar);
    std::printf("frames %lld\n", static_cast<long long>(song.frameCount()));
    std::printf("seconds %.3f\n", song.seconds());
    std::printf("%-12s %9s %6s %9s %6s %9s\n", "section", "start-bar", "bars", "start-row", "rows", "start-s");
    for (const Section& s : song.sections) {
        const double start = static_cast<double>(song.frameOfStep(static_cast<long long>(s.startBar) * kStepsPerBar)) /
                             static_cast<double>(kFramesPerSecond);
        std::printf("%-12s %9d %6d %9d %6d %9.3f\n", s.name.c_str(), s.startBar, s.bars, s.startBar * kRowsPerBar,
                    s.bars * kRowsPerBar, start);
    }
}

}  // namespace

int main(int argc, char** argv) {
    // --info may come before or after the song, as people type it.
    const bool infoFirst = argc == 3 && std::string_view(argv[1]) == "--info";
    const bool infoLast = argc == 3 && std::string_view(argv[2]) == "--info";
    const bool info = infoFirst || infoLast;
    if (argc != 3 || (!infoFirst && std::string_view(argv[1]).starts_with("--"))) {
        std::fprintf(stderr, "usage: zyr-synth SONG_DIR_OR_FILE OUT.wav\n       zyr-synth --info SONG_DIR_OR_FILE\n");
        return 2;
    }
    try {
        const Song song = loadSong(argv[infoFirst ? 2 : 1]);
        if (info) {
            printInfo(song);
            return 0;
        }
        writeFileAtomically(argv[2], encodeWav(render(song)));
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zyr-synth: %s\n", e.what());
        return 1;
    }
}
