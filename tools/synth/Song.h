// The song as the synth plays it, and the reader of its text sources.
//
//     Song song = loadSong("content/song");          // a folder of *.song files, or one file
//     Song test = parseSong(text, "test.song");      // from memory, for tests
//     std::int64_t frames = song.frameCount();
//     for (const Section& s : song.sections) ... s.startBar, s.bars
//
// The text form, one statement per line, '#' starts a comment:
//
//     tempo 170                         # whole beats per minute
//     seed 2023                         # noise seed (optional)
//     instrument kick kick level=0.9 punch=220
//     pattern beat 1                    # name, length in bars (16 steps each)
//     kick  x.........x.....            # drums: x hit, X accent, o ghost, . rest, - hold
//     bass  F1 -*5 . F2 . . Ab1 -*5 .   # notes (C-1..G9, # or b), chords as F3,Ab3,C4; TOKEN*N repeats
//     section intro 8                   # name, length in bars; sections follow each other
//     play beat pad_line@4              # patterns loop over the section; NAME@B plays once from bar B
//     ramp bass cutoff 200 2400         # linear over the section; also "ramp master level 1 0"
//     ramp master level 1 0 @4          # ... or from bar 4 of the section to its end
//
// Kinds: kick, snare, clap, hat (hits); noise (hits held with '-'); bass and
// lead (one note at a time); pad and pluck (chords). Every kind takes level,
// pan, duck (dip after each kick), reverb and delay (send amounts), plus its
// own sound parameters (see paramSpecs in Song.cpp). A `decay` is a time
// constant in seconds, a `release` the seconds until silence.
//
// A lane may go on over several lines: a line for the same instrument adds
// to its lane until the lane has the pattern's length; a further line for
// it starts a second lane layered over the first.
//
// Names may be used before they are defined; every file of a folder is read
// (in name order) before names are resolved.
//
// A Song is a plain value that owns everything in it. Reading fails with
// SongError, whose message starts with "FILE:LINE: " (or "FILE: " for a
// problem with the file as a whole), and nothing half-read is returned.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zyr::synth {

class SongError : public std::runtime_error {
public:
    SongError(std::string file, int line, const std::string& message);
    const std::string& file() const { return file_; }
    int line() const { return line_; }

private:
    std::string file_;
    int line_;
};

enum class Kind { Kick, Snare, Clap, Hat, Bass, Pad, Lead, Pluck, Noise };

// Every sound parameter any kind of instrument has; each kind accepts the
// subset listed in Song.cpp, with its own default and range.
enum class Param {
    Level, Pan, Duck, Reverb, Delay,
    Pitch, Punch, Decay, Drive, Tone, Noise, Cutoff, Env, Res, Detune, Sub, Attack, Release, Glide, Vibrato,
    Count
};

inline constexpr int kStepsPerBar = 16;
inline constexpr int kBeatsPerBar = 4;
inline constexpr int kRowsPerBeat = 8;
inline constexpr int kRowsPerBar = kBeatsPerBar * kRowsPerBeat;
inline constexpr std::int64_t kFramesPerSecond = 44100;

struct Instrument {
    std::string name;
    Kind kind = Kind::Kick;
    std::array<double, static_cast<std::size_t>(Param::Count)> params{};
    double operator[](Param p) const { return params[static_cast<std::size_t>(p)]; }
};

// One note (or chord, or drum hit) on the song's step grid.
struct NoteEvent {
    int instrument = 0;
    std::int64_t step = 0;    // from the song's start, 16 per bar
    std::int64_t length = 1;  // in steps, until the gate closes
    float velocity = 1.0f;
    std::vector<int> notes;   // MIDI numbers; empty for drums and noise
};

// A straight line for one parameter from a bar of a section to the
// section's end; before that bar the parameter stays at `from`. While a ramp
// runs it replaces the instrument's own value. instrument < 0 is the master
// bus (level 1 unless ramped).
struct Ramp {
    int instrument = -1;
    Param param = Param::Level;
    double from = 0.0, to = 0.0;
    int firstBar = 0;  // within the section
};

struct Section {
    std::string name;
    int startBar = 0;
    int bars = 0;
    std::vector<Ramp> ramps;
};

struct Song {
    int bpm = 0;
    std::uint32_t seed = 1;
    std::vector<Instrument> instruments;
    std::vector<Section> sections;
    std::vector<NoteEvent> events;  // ordered by step, then by source order

    int bars() const;
    // Frame at which a step starts: steps × 44100 × 60 / (bpm × 4) rounded to
    // the nearest frame (halves up), in integers so that no error builds up.
    std::int64_t frameOfStep(std::int64_t step) const;
    std::int64_t frameCount() const { return frameOfStep(static_cast<std::int64_t>(bars()) * kStepsPerBar); }
    double seconds() const { return static_cast<double>(frameCount()) / static_cast<double>(kFramesPerSecond); }
};

Song parseSong(std::string_view text, const std::string& fileName);
Song loadSong(const std::filesystem::path& fileOrFolder);

std::string_view kindName(Kind kind);
std::string_view paramName(Param param);

}  // namespace zyr::synth
