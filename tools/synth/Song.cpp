#include "Song.h"

#include "FileWrite.h"
#include "PathText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <optional>
#include <sstream>

namespace zyr::synth {

namespace {

constexpr int kMaxBars = 1024;
constexpr double kMaxSeconds = 1800.0;
// What a short text may expand to is bounded, so that a pattern of many lanes
// played over and over in a long section is refused at its line instead of
// exhausting memory: notes in the whole song, and notes starting on one step
// (each becomes a voice that the renderer runs for its whole tail).
constexpr std::size_t kMaxEvents = std::size_t{1} << 18;
constexpr int kMaxNotesPerStep = 64;
constexpr int kMaxPatternBars = 64;
constexpr int kMaxRepeat = 4096;
constexpr std::size_t kMaxChordNotes = 8;

constexpr std::string_view kParamNames[] = {
    "level", "pan", "duck", "reverb", "delay", "pitch", "punch", "decay", "drive", "tone",
    "noise", "cutoff", "env", "res", "detune", "sub", "attack", "release", "glide", "vibrato"};
static_assert(std::size(kParamNames) == static_cast<std::size_t>(Param::Count));

constexpr std::string_view kKindNames[] = {"kick", "snare", "clap", "hat", "bass", "pad", "lead", "pluck", "noise"};

// Names that start statements cannot name instruments, or a lane line would
// be indistinguishable from a statement.
constexpr std::string_view kKeywords[] = {"tempo", "seed", "instrument", "pattern", "section", "play", "ramp", "master"};

struct ParamSpec {
    Param param;
    double fallback, min, max;
};

// The sound parameters each kind takes. Ranges are wide enough for sound
// design and narrow enough that no value can blow up a filter or a buffer.
std::vector<ParamSpec> paramSpecs(Kind kind) {
    std::vector<ParamSpec> specs = {
        {Param::Level, 1.0, 0.0, 4.0},  {Param::Pan, 0.0, -1.0, 1.0},  {Param::Duck, 0.0, 0.0, 1.0},
        {Param::Reverb, 0.0, 0.0, 1.0}, {Param::Delay, 0.0, 0.0, 1.0},
    };
    auto add = [&](std::initializer_list<ParamSpec> more) { specs.insert(specs.end(), more); };
    switch (kind) {
    case Kind::Kick:
        add({{Param::Pitch, 48, 20, 200}, {Param::Punch, 220, 40, 1000}, {Param::Decay, 0.3, 0.02, 3}, {Param::Drive, 1.2, 0, 8}});
        break;
    case Kind::Snare:
        add({{Param::Tone, 190, 60, 1000}, {Param::Decay, 0.14, 0.01, 2}, {Param::Noise, 0.7, 0, 1}});
        break;
    case Kind::Clap: add({{Param::Tone, 1300, 200, 8000}, {Param::Decay, 0.12, 0.01, 2}}); break;
    case Kind::Hat: add({{Param::Tone, 8000, 1000, 18000}, {Param::Decay, 0.04, 0.005, 4}}); break;
    case Kind::Bass:
        add({{Param::Cutoff, 280, 20, 16000}, {Param::Env, 1400, 0, 16000}, {Param::Res, 0.25, 0, 0.95},
             {Param::Decay, 0.18, 0.005, 4}, {Param::Detune, 14, 0, 100}, {Param::Sub, 0.7, 0, 2},
             {Param::Drive, 1.5, 0, 8}, {Param::Attack, 0.003, 0, 4}, {Param::Release, 0.05, 0.005, 8}});
        break;
    case Kind::Pad:
        add({{Param::Cutoff, 1800, 20, 16000}, {Param::Res, 0.1, 0, 0.95}, {Param::Attack, 0.4, 0, 8},
             {Param::Release, 1.0, 0.005, 8}, {Param::Detune, 12, 0, 100}});
        break;
    case Kind::Lead:
        add({{Param::Cutoff, 2200, 20, 16000}, {Param::Env, 2500, 0, 16000}, {Param::Res, 0.2, 0, 0.95},
             {Param::Decay, 0.3, 0.005, 4}, {Param::Attack, 0.01, 0, 4}, {Param::Release, 0.15, 0.005, 8},
             {Param::Glide, 0.05, 0, 1}, {Param::Vibrato, 0.2, 0, 2}, {Param::Detune, 6, 0, 100}});
        break;
    case Kind::Pluck:
        add({{Param::Cutoff, 500, 20, 16000}, {Param::Env, 4000, 0, 16000}, {Param::Res, 0.2, 0, 0.95},
             {Param::Decay, 0.25, 0.005, 4}, {Param::Release, 0.2, 0.005, 8}, {Param::Detune, 8, 0, 100}});
        break;
    case Kind::Noise:
        add({{Param::Cutoff, 1000, 20, 16000}, {Param::Res, 0.5, 0, 0.95}, {Param::Attack, 0.01, 0, 8},
             {Param::Release, 0.3, 0.005, 8}});
        break;
    }
    return specs;
}

std::optional<ParamSpec> findSpec(Kind kind, Param param) {
    for (const ParamSpec& range : paramSpecs(kind))
        if (range.param == param) return range;
    return std::nullopt;
}

bool isDrum(Kind kind) { return kind == Kind::Kick || kind == Kind::Snare || kind == Kind::Clap || kind == Kind::Hat; }
bool takesHits(Kind kind) { return isDrum(kind) || kind == Kind::Noise; }
bool takesChords(Kind kind) { return kind == Kind::Pad || kind == Kind::Pluck; }

struct Where {
    std::string file;
    int line = 0;
};

[[noreturn]] void fail(const Where& at, const std::string& message) { throw SongError(at.file, at.line, message); }

std::string inQuotes(std::string_view s) { return "'" + std::string(s) + "'"; }

bool isName(std::string_view s) {
    if (s.empty() || !(std::isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_')) return false;
    return std::all_of(s.begin(), s.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-';
    });
}

std::optional<long long> toInteger(std::string_view s) {
    long long value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return value;
}

std::optional<double> toNumber(std::string_view s) {
    double value = 0.0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

long long integerIn(const Where& at, std::string_view what, std::string_view token, long long lo, long long hi) {
    const auto value = toInteger(token);
    if (!value || *value < lo || *value > hi)
        fail(at, std::string(what) + " must be a whole number from " + std::to_string(lo) + " to " + std::to_string(hi) +
                     ", not " + inQuotes(token));
    return *value;
}

std::string formatNumber(double v) {
    std::ostringstream out;
    out << v;
    return out.str();
}

double numberIn(const Where& at, std::string_view what, std::string_view token, double lo, double hi) {
    const auto value = toNumber(token);
    if (!value || *value < lo || *value > hi)
        fail(at, std::string(what) + " must be a number from " + formatNumber(lo) + " to " + formatNumber(hi) + ", not " +
                     inQuotes(token));
    return *value;
}

std::optional<Param> paramByName(std::string_view name) {
    for (std::size_t i = 0; i < std::size(kParamNames); ++i)
        if (kParamNames[i] == name) return static_cast<Param>(i);
    return std::nullopt;
}

std::optional<Kind> kindByName(std::string_view name) {
    for (std::size_t i = 0; i < std::size(kKindNames); ++i)
        if (kKindNames[i] == name) return static_cast<Kind>(i);
    return std::nullopt;
}

// "C4" is MIDI 60; sharps with '#', flats with 'b'; octaves -1 to 9.
std::optional<int> noteByName(std::string_view s) {
    static constexpr int kPitchClass[] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G
    if (s.size() < 2 || s[0] < 'A' || s[0] > 'G') return std::nullopt;
    int pitch = kPitchClass[s[0] - 'A'];
    std::size_t i = 1;
    if (s[i] == '#') ++pitch, ++i;
    else if (s[i] == 'b') --pitch, ++i;
    const auto octave = toInteger(s.substr(i));
    if (!octave || *octave < -1 || *octave > 9) return std::nullopt;
    const long long midi = (*octave + 1) * 12 + pitch;
    if (midi < 0 || midi > 127) return std::nullopt;
    return static_cast<int>(midi);
}

std::vector<std::string_view> splitWords(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
        const std::size_t start = i;
        while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
        if (i > start) words.push_back(line.substr(start, i - start));
    }
    return words;
}

// One grid cell of a lane as written.
struct Cell {
    enum class Type { Rest, Hold, Hit, Notes } type = Type::Rest;
    int line = 0;
    float velocity = 1.0f;
    std::vector<int> notes;
};

// A note of a lane, relative to the pattern's first step.
struct LaneNote {
    int step = 0;
    int length = 1;
    float velocity = 1.0f;
    std::vector<int> notes;
};

struct Lane {
    std::string instrument;
    Where at;
    std::vector<LaneNote> notes;
    bool hasHits = false, hasNotes = false, hasChords = false;
};

// A lane as written so far; it may go on over several lines.
struct PendingLane {
    std::string instrument;
    Where at;  // the line that last added to it
    std::vector<Cell> cells;
};

struct PatternDef {
    std::string name;
    int bars = 0;
    Where at;
    std::vector<PendingLane> pending;
    std::vector<Lane> lanes;
};

struct Play {
    std::string pattern;
    int offset = -1;  // bar within the section; -1 loops over the whole section
    Where at;
};

struct RampDef {
    std::string target, param;
    std::string from, to;
    int firstBar = 0;
    Where at;
};

struct SectionDef {
    std::string name;
    int bars = 0;
    Where at;
    std::vector<Play> plays;
    std::vector<RampDef> ramps;
};

struct InstrumentDef {
    std::string name;
    Where at;
    Instrument instrument;
};

std::vector<Cell> parseCells(const Where& at, std::string_view token) {
    int repeat = 1;
    std::string_view body = token;
    if (const auto star = token.rfind('*'); star != std::string_view::npos) {
        body = token.substr(0, star);
        repeat = static_cast<int>(integerIn(at, "the repeat count after '*'", token.substr(star + 1), 1, kMaxRepeat));
    }
    std::vector<Cell> once;
    const bool drumString =
        !body.empty() && body.find_first_not_of("xXo.-") == std::string_view::npos;
    if (drumString) {
        for (char c : body) {
            Cell cell;
            cell.line = at.line;
            switch (c) {
            case '.': cell.type = Cell::Type::Rest; break;
            case '-': cell.type = Cell::Type::Hold; break;
            case 'X': cell.type = Cell::Type::Hit; cell.velocity = 1.0f; break;
            case 'x': cell.type = Cell::Type::Hit; cell.velocity = 0.8f; break;
            default: cell.type = Cell::Type::Hit; cell.velocity = 0.45f; break;
            }
            once.push_back(cell);
        }
    } else {
        Cell cell;
        cell.line = at.line;
        cell.type = Cell::Type::Notes;
        std::size_t start = 0;
        while (start <= body.size()) {
            const std::size_t comma = std::min(body.find(',', start), body.size());
            const std::string_view name = body.substr(start, comma - start);
            const auto note = noteByName(name);
            if (!note)
                fail(at, inQuotes(token) + " is not a step: use x, X, o, '.', '-', a note such as C#4 or Eb2, "
                                         "or a chord such as F3,Ab3,C4");
            cell.notes.push_back(*note);
            start = comma + 1;
        }
        if (cell.notes.size() > kMaxChordNotes)
            fail(at, "chord " + inQuotes(token) + " has more than " + std::to_string(kMaxChordNotes) + " notes");
        once.push_back(cell);
    }
    std::vector<Cell> cells;
    for (int i = 0; i < repeat; ++i) cells.insert(cells.end(), once.begin(), once.end());
    return cells;
}


Lane buildLane(PendingLane& pending, int bars) {
    const std::size_t wanted = static_cast<std::size_t>(bars) * kStepsPerBar;
    if (pending.cells.size() != wanted)
        fail(pending.at, "lane for " + inQuotes(pending.instrument) + " has " + std::to_string(pending.cells.size()) +
                             " steps; the pattern's " + std::to_string(bars) + " bar(s) need " + std::to_string(wanted));
    Lane lane;
    lane.instrument = pending.instrument;
    lane.at = pending.at;
    bool open = false;  // whether the last note may still be held
    for (std::size_t s = 0; s < pending.cells.size(); ++s) {
        Cell& cell = pending.cells[s];
        switch (cell.type) {
        case Cell::Type::Rest: open = false; break;
        case Cell::Type::Hold:
            if (!open)
                fail(Where{pending.at.file, cell.line},
                     "step " + std::to_string(s + 1) + " holds ('-') but no note sounds before it");
            ++lane.notes.back().length;
            break;
        case Cell::Type::Hit:
        case Cell::Type::Notes:
            lane.hasHits = lane.hasHits || cell.type == Cell::Type::Hit;
            lane.hasNotes = lane.hasNotes || cell.type == Cell::Type::Notes;
            lane.hasChords = lane.hasChords || cell.notes.size() > 1;
            lane.notes.push_back(LaneNote{static_cast<int>(s), 1, cell.velocity, std::move(cell.notes)});
            open = true;
            break;
        }
    }
    return lane;
}

// Collects the statements of every file, then resolves names into a Song.
class Reader {
public:
    void read(std::string_view text, const std::string& file) {
        firstFile_ = firstFile_.empty() ? file : firstFile_;
        int lineNumber = 0;
        std::size_t pos = 0;
        while (pos <= text.size()) {
            const std::size_t end = std::min(text.find('\n', pos), text.size());
            std::string_view line = text.substr(pos, end - pos);
            pos = end + 1;
            ++lineNumber;
            if (const auto hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
            const auto words = splitWords(line);
            if (!words.empty()) statement(Where{file, lineNumber}, words);
            if (end == text.size()) break;
        }
        closeBlock();  // a pattern ends with its file
    }

    Song finish() const;

private:
    enum class Block { None, Pattern, Section };

    void statement(const Where& at, const std::vector<std::string_view>& w) {
        const std::string_view head = w[0];
        const bool topLevel = head == "tempo" || head == "seed" || head == "instrument" || head == "pattern" || head == "section";
        if (topLevel) closeBlock();
        if (head == "tempo") {
            expectWords(at, w, 2, "tempo BPM");
            if (tempo_) fail(at, "tempo is already set at " + tempoAt_.file + ":" + std::to_string(tempoAt_.line));
            tempo_ = static_cast<int>(integerIn(at, "the tempo", w[1], 40, 300));
            tempoAt_ = at;
        } else if (head == "seed") {
            expectWords(at, w, 2, "seed NUMBER");
            seed_ = static_cast<std::uint32_t>(integerIn(at, "the seed", w[1], 0, 4294967295LL));
        } else if (head == "instrument") {
            instrument(at, w);
        } else if (head == "pattern") {
            expectWords(at, w, 3, "pattern NAME BARS");
            checkNewName(at, w[1], patterns_, "pattern");
            patterns_.push_back(PatternDef{std::string(w[1]),
                                           static_cast<int>(integerIn(at, "a pattern's bars", w[2], 1, kMaxPatternBars)),
                                           at, {}, {}});
            block_ = Block::Pattern;
        } else if (head == "section") {
            expectWords(at, w, 3, "section NAME BARS");
            checkNewName(at, w[1], sections_, "section");
            sections_.push_back(SectionDef{std::string(w[1]),
                                           static_cast<int>(integerIn(at, "a section's bars", w[2], 1, kMaxBars)), at, {}, {}});
            block_ = Block::Section;
        } else if (head == "play") {
            if (block_ != Block::Section) fail(at, "'play' belongs under a 'section' line");
            if (w.size() < 2) fail(at, "expected: play PATTERN[@BAR] ...");
            for (std::size_t i = 1; i < w.size(); ++i) sections_.back().plays.push_back(play(at, w[i]));
        } else if (head == "ramp") {
            if (block_ != Block::Section) fail(at, "'ramp' belongs under a 'section' line");
            if (w.size() != 5 && w.size() != 6) fail(at, "expected: ramp INSTRUMENT|master PARAM FROM TO [@BAR]");
            int firstBar = 0;
            if (w.size() == 6) {
                if (!w[5].starts_with('@')) fail(at, "expected '@BAR' after the ramp's end value, not " + inQuotes(w[5]));
                firstBar = static_cast<int>(integerIn(at, "the bar after '@'", w[5].substr(1), 0, kMaxBars - 1));
            }
            sections_.back().ramps.push_back(
                RampDef{std::string(w[1]), std::string(w[2]), std::string(w[3]), std::string(w[4]), firstBar, at});
        } else if (block_ == Block::Pattern) {
            lane(at, w);
        } else {
            fail(at, "unknown statement " + inQuotes(head) +
                         " (expected tempo, seed, instrument, pattern, section, or a lane or play line under them)");
        }
    }

    // A lane line adds to the latest lane of the same instrument while that
    // lane is short of the pattern's length, so long lanes can be written
    // over several lines; otherwise it starts a new, layered lane.
    void lane(const Where& at, const std::vector<std::string_view>& w) {
        PatternDef& pattern = patterns_.back();
        const std::size_t wanted = static_cast<std::size_t>(pattern.bars) * kStepsPerBar;
        if (w.size() < 2) fail(at, "lane " + inQuotes(w[0]) + " has no steps");
        PendingLane* target = nullptr;
        const auto latest = std::find_if(pattern.pending.rbegin(), pattern.pending.rend(),
                                         [&](const PendingLane& p) { return p.instrument == w[0]; });
        if (latest != pattern.pending.rend() && latest->cells.size() < wanted) target = &*latest;
        if (!target) target = &pattern.pending.emplace_back(PendingLane{std::string(w[0]), at, {}});
        target->at = at;
        for (std::size_t i = 1; i < w.size(); ++i) {
            std::vector<Cell> more = parseCells(at, w[i]);
            target->cells.insert(target->cells.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
            if (target->cells.size() > wanted)
                fail(at, "lane for " + inQuotes(target->instrument) + " runs past the pattern's " +
                             std::to_string(pattern.bars) + " bar(s) of " + std::to_string(wanted) + " steps");
        }
    }

    void closeBlock() {
        if (block_ == Block::Pattern) {
            PatternDef& pattern = patterns_.back();
            for (PendingLane& pending : pattern.pending) pattern.lanes.push_back(buildLane(pending, pattern.bars));
            pattern.pending.clear();
        }
        block_ = Block::None;
    }

    static void expectWords(const Where& at, const std::vector<std::string_view>& w, std::size_t n, std::string_view form) {
        if (w.size() != n) fail(at, "expected: " + std::string(form));
    }

    template <typename Defs>
    static void checkNewName(const Where& at, std::string_view name, const Defs& defs, std::string_view what) {
        if (!isName(name)) fail(at, inQuotes(name) + " is not a name (letters, digits, '_' and '-', starting with a letter)");
        if (std::find(std::begin(kKeywords), std::end(kKeywords), name) != std::end(kKeywords))
            fail(at, inQuotes(name) + " is a keyword and cannot name a " + std::string(what));
        for (const auto& def : defs)
            if (def.name == name)
                fail(at, std::string(what) + " " + inQuotes(name) + " is already defined at " + def.at.file + ":" +
                             std::to_string(def.at.line));
    }

    void instrument(const Where& at, const std::vector<std::string_view>& w) {
        if (w.size() < 3) fail(at, "expected: instrument NAME KIND [PARAM=VALUE ...]");
        checkNewName(at, w[1], instruments_, "instrument");
        const auto kind = kindByName(w[2]);
        if (!kind) {
            std::string known;
            for (std::string_view k : kKindNames) known += (known.empty() ? "" : ", ") + std::string(k);
            fail(at, "unknown instrument kind " + inQuotes(w[2]) + " (known: " + known + ")");
        }
        InstrumentDef def{std::string(w[1]), at, Instrument{std::string(w[1]), *kind, {}}};
        const auto specs = paramSpecs(*kind);
        for (const ParamSpec& range : specs) def.instrument.params[static_cast<std::size_t>(range.param)] = range.fallback;
        std::vector<Param> seen;
        for (std::size_t i = 3; i < w.size(); ++i) {
            const auto eq = w[i].find('=');
            if (eq == std::string_view::npos) fail(at, inQuotes(w[i]) + " is not PARAM=VALUE");
            const std::string_view name = w[i].substr(0, eq);
            const auto param = paramByName(name);
            const auto range = param ? findSpec(*kind, *param) : std::nullopt;
            if (!range) {
                std::string accepted;
                for (const ParamSpec& s : specs) accepted += (accepted.empty() ? "" : ", ") + std::string(paramName(s.param));
                fail(at, "a " + std::string(w[2]) + " has no parameter " + inQuotes(name) + " (it takes " + accepted + ")");
            }
            if (std::find(seen.begin(), seen.end(), *param) != seen.end())
                fail(at, "parameter " + inQuotes(name) + " is given twice");
            seen.push_back(*param);
            def.instrument.params[static_cast<std::size_t>(*param)] =
                numberIn(at, "'" + std::string(name) + "'", w[i].substr(eq + 1), range->min, range->max);
        }
        instruments_.push_back(std::move(def));
    }

    static Play play(const Where& at, std::string_view word) {
        Play p;
        p.at = at;
        const auto atSign = word.find('@');
        p.pattern = std::string(word.substr(0, atSign));
        if (atSign != std::string_view::npos)
            p.offset = static_cast<int>(integerIn(at, "the bar after '@'", word.substr(atSign + 1), 0, kMaxBars - 1));
        return p;
    }

    std::string firstFile_;
    Block block_ = Block::None;
    std::optional<int> tempo_;
    Where tempoAt_;
    std::uint32_t seed_ = 1;
    std::vector<InstrumentDef> instruments_;
    std::vector<PatternDef> patterns_;
    std::vector<SectionDef> sections_;
};

Song Reader::finish() const {
    if (!tempo_) fail(Where{firstFile_, 0}, "the song has no 'tempo' line");
    if (sections_.empty()) fail(Where{firstFile_, 0}, "the song has no sections");

    Song song;
    song.bpm = *tempo_;
    song.seed = seed_;
    std::map<std::string, int, std::less<>> instrumentIndex;
    for (const InstrumentDef& def : instruments_) {
        instrumentIndex.emplace(def.instrument.name, static_cast<int>(song.instruments.size()));
        song.instruments.push_back(def.instrument);
    }
    std::map<std::string, const PatternDef*, std::less<>> patternIndex;
    for (const PatternDef& def : patterns_) {
        if (def.lanes.empty()) fail(def.at, "pattern " + inQuotes(def.name) + " has no lanes");
        for (const Lane& lane : def.lanes) {
            const auto found = instrumentIndex.find(lane.instrument);
            if (found == instrumentIndex.end()) fail(lane.at, "unknown instrument " + inQuotes(lane.instrument));
            const Instrument& inst = song.instruments[static_cast<std::size_t>(found->second)];
            const std::string desc = inQuotes(inst.name) + " (" + std::string(kindName(inst.kind)) + ")";
            if (takesHits(inst.kind) && lane.hasNotes)
                fail(lane.at, desc + " plays hits (x, X, o), not notes");
            if (!takesHits(inst.kind) && lane.hasHits)
                fail(lane.at, desc + " plays notes (such as C4), not hits");
            if (!takesChords(inst.kind) && lane.hasChords) fail(lane.at, desc + " plays one note at a time, not chords");
        }
        patternIndex.emplace(def.name, &def);
    }

    // Sections are checked against kMaxBars after each is laid out, so steps
    // can reach two maximal sections' worth.
    std::vector<std::uint8_t> notesOnStep(static_cast<std::size_t>(2 * kMaxBars * kStepsPerBar), 0);
    int bar = 0;
    for (const SectionDef& def : sections_) {
        Section section{def.name, bar, def.bars, {}};
        const std::int64_t endStep = static_cast<std::int64_t>(bar + def.bars) * kStepsPerBar;
        for (const Play& play : def.plays) {
            const auto found = patternIndex.find(play.pattern);
            if (found == patternIndex.end()) fail(play.at, "unknown pattern " + inQuotes(play.pattern));
            const PatternDef& pattern = *found->second;
            if (play.offset >= def.bars)
                fail(play.at, "bar " + std::to_string(play.offset) + " is past the end of section " + inQuotes(def.name) +
                                  " (" + std::to_string(def.bars) + " bars, counted from 0)");
            std::vector<int> starts;
            if (play.offset >= 0) starts.push_back(play.offset);
            else
                for (int b = 0; b < def.bars; b += pattern.bars) starts.push_back(b);
            for (int start : starts) {
                const std::int64_t base = static_cast<std::int64_t>(bar + start) * kStepsPerBar;
                for (const Lane& lane : pattern.lanes) {
                    const int instrument = instrumentIndex.find(lane.instrument)->second;
                    for (const LaneNote& note : lane.notes) {
                        const std::int64_t step = base + note.step;
                        if (step >= endStep) continue;  // a pattern longer than what is left of its section is cut
                        if (song.events.size() >= kMaxEvents)
                            fail(play.at, "the song expands to more than " + std::to_string(kMaxEvents) +
                                              " notes from here on; play fewer patterns or shorter sections");
                        std::uint8_t& started = notesOnStep[static_cast<std::size_t>(step)];
                        started = static_cast<std::uint8_t>(started + std::max<std::size_t>(note.notes.size(), 1));
                        if (started > kMaxNotesPerStep)
                            fail(play.at, "more than " + std::to_string(kMaxNotesPerStep) + " notes start on step " +
                                              std::to_string(step % kStepsPerBar) + " of bar " +
                                              std::to_string(step / kStepsPerBar) + "; layer fewer lanes there");
                        song.events.push_back(NoteEvent{instrument, step, std::min<std::int64_t>(note.length, endStep - step),
                                                        note.velocity, note.notes});
                    }
                }
            }
        }
        for (const RampDef& r : def.ramps) {
            Ramp ramp;
            const auto param = paramByName(r.param);
            double lo = 0.0, hi = 4.0;
            if (r.target == "master") {
                if (param != Param::Level) fail(r.at, "the master bus only ramps 'level'");
            } else {
                const auto found = instrumentIndex.find(r.target);
                if (found == instrumentIndex.end()) fail(r.at, "unknown instrument " + inQuotes(r.target));
                ramp.instrument = found->second;
                const Instrument& inst = song.instruments[static_cast<std::size_t>(ramp.instrument)];
                const auto range = param ? findSpec(inst.kind, *param) : std::nullopt;
                if (!range || (*param != Param::Level && *param != Param::Cutoff))
                    fail(r.at, "cannot ramp " + inQuotes(r.param) + " of " + inQuotes(inst.name) +
                                   " (ramps take 'level', and 'cutoff' where the instrument has one)");
                lo = range->min;
                hi = range->max;
            }
            if (r.firstBar >= def.bars)
                fail(r.at, "bar " + std::to_string(r.firstBar) + " is past the end of section " + inQuotes(def.name) +
                               " (" + std::to_string(def.bars) + " bars, counted from 0)");
            ramp.firstBar = r.firstBar;
            ramp.param = *param;
            ramp.from = numberIn(r.at, "a ramp's start", r.from, lo, hi);
            ramp.to = numberIn(r.at, "a ramp's end", r.to, lo, hi);
            section.ramps.push_back(ramp);
        }
        song.sections.push_back(std::move(section));
        bar += def.bars;
        if (bar > kMaxBars) fail(def.at, "the song is longer than " + std::to_string(kMaxBars) + " bars");
    }
    if (song.seconds() > kMaxSeconds)
        fail(sections_.back().at, "the song is longer than " + std::to_string(static_cast<int>(kMaxSeconds)) + " seconds");
    std::stable_sort(song.events.begin(), song.events.end(),
                     [](const NoteEvent& a, const NoteEvent& b) { return a.step < b.step; });
    return song;
}

// Through the tools' one reader, which on Windows waits out a file another
// program holds for a moment.
std::string readWholeFile(const std::filesystem::path& path) {
    std::optional<std::string> text;
    try {
        text = readFileIfPresent(path);
    } catch (const FileError&) {
    }
    if (!text) throw SongError(toUtf8(path), 0, "cannot read the file");
    return std::move(*text);
}

}  // namespace

SongError::SongError(std::string file, int line, const std::string& message)
    : std::runtime_error(file + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " + message),
      file_(std::move(file)),
      line_(line) {}

int Song::bars() const { return sections.empty() ? 0 : sections.back().startBar + sections.back().bars; }

std::int64_t Song::frameOfStep(std::int64_t step) const {
    const std::int64_t denominator = static_cast<std::int64_t>(bpm) * kBeatsPerBar;  // steps per minute
    return (2 * step * kFramesPerSecond * 60 + denominator) / (2 * denominator);
}

Song parseSong(std::string_view text, const std::string& fileName) {
    Reader reader;
    reader.read(text, fileName);
    return reader.finish();
}

Song loadSong(const std::filesystem::path& fileOrFolder) {
    std::error_code ec;
    if (!std::filesystem::is_directory(fileOrFolder, ec)) {
        if (!std::filesystem::is_regular_file(fileOrFolder, ec))
            throw SongError(toUtf8(fileOrFolder), 0, "no such song file or folder");
        return parseSong(readWholeFile(fileOrFolder), toUtf8(fileOrFolder));
    }
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(fileOrFolder, ec))
        if (entry.is_regular_file() && entry.path().extension() == ".song") files.push_back(entry.path());
    if (ec) throw SongError(toUtf8(fileOrFolder), 0, "cannot list the folder: " + ec.message());
    if (files.empty()) throw SongError(toUtf8(fileOrFolder), 0, "the folder holds no *.song files");
    std::sort(files.begin(), files.end());  // directory order is up to the file system
    Reader reader;
    for (const auto& file : files) reader.read(readWholeFile(file), toUtf8(file));
    return reader.finish();
}

std::string_view kindName(Kind kind) { return kKindNames[static_cast<std::size_t>(kind)]; }
std::string_view paramName(Param param) { return kParamNames[static_cast<std::size_t>(param)]; }

}  // namespace zyr::synth
