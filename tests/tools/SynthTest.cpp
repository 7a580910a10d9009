// zyr-synth: the demo's soundtrack sits on the music clock (whole bars at
// 170 bpm, first beat on row 0), renders the same bytes every time, and bad
// song sources are refused with file and line.
#include "Song.h"
#include "Synth.h"
#include "TempDir.h"
#include "Wav.h"

#include <gtest/gtest.h>
#include <mpg123.h>

#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace zyr::synth;

constexpr double kFullScale = 32768.0;

// Frames of a span of bars worked out in floating point, independently of
// the tool's integer arithmetic: bars × 4 beats × 60 / bpm seconds × 44100,
// rounded to the nearest frame.
std::int64_t expectedFrames(double bars, double bpm) { return std::llround(bars * 4.0 * 60.0 / bpm * 44100.0); }

double rmsDb(const std::vector<std::int16_t>& pcm, std::int64_t firstFrame, std::int64_t endFrame) {
    double sum = 0.0;
    for (std::int64_t i = firstFrame * 2; i < endFrame * 2; ++i) sum += (pcm[i] / kFullScale) * (pcm[i] / kFullScale);
    return 10.0 * std::log10(sum / static_cast<double>(2 * (endFrame - firstFrame)) + 1e-20);
}

int peak(const std::vector<std::int16_t>& pcm, std::int64_t firstFrame, std::int64_t endFrame) {
    int p = 0;
    for (std::int64_t i = firstFrame * 2; i < endFrame * 2; ++i) p = std::max(p, std::abs(static_cast<int>(pcm[i])));
    return p;
}

std::int64_t barFrame(const Song& song, int bar) { return song.frameOfStep(static_cast<std::int64_t>(bar) * kStepsPerBar); }

const Section& section(const Song& song, const std::string& name) {
    for (const Section& s : song.sections)
        if (s.name == name) return s;
    throw std::runtime_error("no section " + name);
}

// The demo's own song, read once and rendered once for the tests that
// listen to it (ctest runs each test in a process of its own).
class DemoSong : public ::testing::Test {
protected:
    static void TearDownTestSuite() {
        pcm_.reset();
        song_.reset();
    }
    static const Song& song() {
        if (!song_) song_ = std::make_unique<Song>(loadSong(ZYR_SONG_DIR));
        return *song_;
    }
    static const std::vector<std::int16_t>& pcm() {
        if (!pcm_) pcm_ = std::make_unique<std::vector<std::int16_t>>(render(song()));
        return *pcm_;
    }

private:
    static inline std::unique_ptr<Song> song_;
    static inline std::unique_ptr<std::vector<std::int16_t>> pcm_;
};

TEST_F(DemoSong, IsWholeBarsAt170BpmInTheOrderThePictureFollows) {
    EXPECT_EQ(song().bpm, 170);
    std::vector<std::string> names;
    int nextBar = 0;
    for (const Section& s : song().sections) {
        names.push_back(s.name);
        EXPECT_EQ(s.startBar, nextBar) << s.name << " does not start where the previous section ends";
        EXPECT_GE(s.bars, 1) << s.name;
        nextBar = s.startBar + s.bars;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"intro", "build", "drop", "breakdown", "outro"}));
    EXPECT_EQ(song().bars(), nextBar);

    EXPECT_EQ(song().frameCount(), expectedFrames(song().bars(), 170.0));
    EXPECT_GE(song().seconds(), 60.0);
    EXPECT_LE(song().seconds(), 120.0);
    // Every section boundary sits on a whole bar, so on a multiple of 32 rows.
    for (const Section& s : song().sections)
        EXPECT_EQ(barFrame(song(), s.startBar), expectedFrames(s.startBar, 170.0)) << s.name;
}

TEST_F(DemoSong, OpensWithAKickOnItsFirstFrame) {
    ASSERT_FALSE(song().events.empty());
    const NoteEvent& first = song().events.front();
    EXPECT_EQ(first.step, 0);
    EXPECT_EQ(song().instruments[static_cast<std::size_t>(first.instrument)].kind, Kind::Kick);
    // The hit is already loud within its first 2 ms: nothing shifts row 0
    // away from frame 0 (no pre-roll, no latency from the master chain).
    EXPECT_GT(rmsDb(pcm(), 0, 88), -14.0);
    EXPECT_GT(peak(pcm(), 0, 44), static_cast<int>(0.3 * kFullScale));
}

TEST_F(DemoSong, SoundsLikeItsSectionsAndNeverClips) {
    const Section& drop = section(song(), "drop");
    const Section& breakdown = section(song(), "breakdown");
    const Section& intro = section(song(), "intro");
    const double dropDb = rmsDb(pcm(), barFrame(song(), drop.startBar), barFrame(song(), drop.startBar + drop.bars));
    const double breakdownDb =
        rmsDb(pcm(), barFrame(song(), breakdown.startBar), barFrame(song(), breakdown.startBar + breakdown.bars));
    const double introDb = rmsDb(pcm(), 0, barFrame(song(), intro.bars / 2));
    EXPECT_GT(dropDb, -16.0) << "the drop is too quiet to carry the demo";
    EXPECT_GT(dropDb, breakdownDb + 2.0) << "the drop should hit harder than the breakdown";
    EXPECT_GT(dropDb, introDb + 4.0) << "the drop should hit harder than the opening";
    // The master limiter keeps a dB of headroom, so no sample reaches full scale.
    EXPECT_LE(peak(pcm(), 0, song().frameCount()), static_cast<int>(0.9 * kFullScale));
    // And the fade-out actually ends the piece.
    EXPECT_LT(rmsDb(pcm(), song().frameCount() - 4410, song().frameCount()), -50.0);
}

TEST_F(DemoSong, RendersTheSameBytesEveryTime) {
    const Song again = loadSong(ZYR_SONG_DIR);
    const std::vector<std::int16_t> second = render(again);
    ASSERT_EQ(pcm().size(), static_cast<std::size_t>(song().frameCount()) * 2);
    ASSERT_EQ(second.size(), pcm().size());
    EXPECT_TRUE(second == pcm()) << "a second render of the same sources differs";
    EXPECT_EQ(encodeWav(second), encodeWav(pcm()));
}

// A song with one kick hit at `step` of a one-bar section.
Song oneHit(int step, int bars = 1) {
    std::string lane(kStepsPerBar, '.');
    lane[static_cast<std::size_t>(step)] = 'x';
    return parseSong("tempo 170\ninstrument k kick\npattern p 1\nk " + lane + "\nsection s " + std::to_string(bars) +
                         "\nplay p@0\n",
                     "grid.song");
}

TEST(SynthGrid, StepsLandOnTheirRoundedFrame) {
    // Sixteenth notes at 170 bpm are 3891.18 frames: every step's frame is
    // rounded on its own, so no error accumulates along the song.
    for (int step : {0, 1, 4, 7, 15}) {
        const Song song = oneHit(step);
        const auto onset = expectedFrames(step / 16.0, 170.0);
        ASSERT_EQ(song.frameOfStep(step), onset) << "step " << step;
        const auto pcm = render(song);
        ASSERT_EQ(pcm.size(), static_cast<std::size_t>(expectedFrames(1, 170.0)) * 2);
        EXPECT_EQ(peak(pcm, 0, onset), 0) << "sound before the hit on step " << step;
        EXPECT_GT(peak(pcm, onset, onset + 44), static_cast<int>(0.2 * kFullScale)) << "no hit right at step " << step;
    }
    for (int bars : {1, 3, 7, 64, 85})
        EXPECT_EQ(oneHit(0, bars).frameCount(), expectedFrames(bars, 170.0)) << bars << " bars";
    // Another tempo: 120 bpm bars are exactly 88200 frames.
    const Song slow = parseSong("tempo 120\ninstrument k kick\npattern p 1\nk x...............\nsection s 5\nplay p\n", "t.song");
    EXPECT_EQ(slow.frameCount(), 5 * 88200);
    EXPECT_EQ(slow.frameOfStep(4 * kStepsPerBar + 8), 4 * 88200 + 44100);
}

TEST(SynthGrid, PatternsLoopOverTheirSectionAndStopAtItsEnd) {
    const Song song = parseSong(
        "tempo 170\ninstrument k kick\ninstrument b bass\n"
        "pattern beat 2\nk x............... ........x.......\n"
        "pattern long 1\nb F1 -*15\n"
        "section a 3\nplay beat long@2\nsection b 1\nplay beat\n",
        "loop.song");
    std::vector<std::pair<std::int64_t, std::int64_t>> kicks, bass;
    for (const NoteEvent& e : song.events) (e.instrument == 0 ? kicks : bass).push_back({e.step, e.length});
    // The two-bar beat restarts every two bars and is cut at the end of a.
    EXPECT_EQ(kicks, (std::vector<std::pair<std::int64_t, std::int64_t>>{{0, 1}, {24, 1}, {32, 1}, {48, 1}}));
    EXPECT_EQ(bass, (std::vector<std::pair<std::int64_t, std::int64_t>>{{32, 16}}));
    EXPECT_EQ(song.sections[1].startBar, 3);
}

// Decodes an MP3 file to interleaved 16-bit stereo the way the player
// does: libmpg123 with its default (gapless) settings.
std::vector<std::int16_t> decodeMp3File(const std::filesystem::path& path) {
    mpg123_init();
    std::unique_ptr<mpg123_handle, void (*)(mpg123_handle*)> handle(mpg123_new(nullptr, nullptr), mpg123_delete);
    if (!handle || mpg123_open(handle.get(), path.c_str()) != MPG123_OK) throw std::runtime_error("cannot decode");
    std::vector<std::int16_t> pcm;
    std::vector<unsigned char> buffer(1 << 16);
    for (;;) {
        std::size_t done = 0;
        const int result = mpg123_read(handle.get(), buffer.data(), buffer.size(), &done);
        const auto* samples = reinterpret_cast<const std::int16_t*>(buffer.data());
        pcm.insert(pcm.end(), samples, samples + done / 2);
        if (result != MPG123_OK && result != MPG123_NEW_FORMAT) break;
    }
    mpg123_close(handle.get());
    return pcm;
}

TEST(SynthGrid, TheEncodedSoundtrackKeepsRowZeroOnFrameZero) {
    // The build encodes the render with lame; its encoder delay must not
    // push the first beat off row 0 for the player.
    TempDir dir;
    const Song song = parseSong("tempo 170\ninstrument k kick\npattern p 1\nk x...............\nsection s 3\nplay p\n",
                                "beat.song");
    writeFileAtomically(dir / "beat.wav", encodeWav(render(song)));
    const std::string command = std::string("'") + ZYR_LAME + "' --quiet -b 192 '" + (dir / "beat.wav").string() + "' '" +
                                (dir / "beat.mp3").string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const auto decoded = decodeMp3File(dir / "beat.mp3");
    ASSERT_EQ(decoded.size(), static_cast<std::size_t>(song.frameCount()) * 2);
    for (int bar = 0; bar < 3; ++bar) {
        const std::int64_t onset = barFrame(song, bar);
        EXPECT_LT(peak(decoded, std::max<std::int64_t>(0, onset - 200), onset - 8), static_cast<int>(0.05 * kFullScale))
            << "bar " << bar;
        EXPECT_GT(peak(decoded, onset, onset + 44), static_cast<int>(0.2 * kFullScale)) << "bar " << bar;
    }
}

struct BadSong {
    const char* name;
    const char* text;
    int line;
    const char* says;
};

// Each case is valid but for one line.
const BadSong kBadSongs[] = {
    {"UnknownKind", "tempo 170\ninstrument k drum\n", 2, "unknown instrument kind 'drum'"},
    {"UnknownInstrumentInLane",
     "tempo 170\ninstrument k kick\npattern p 1\nkik x...............\nsection s 1\nplay p\n", 4,
     "unknown instrument 'kik'"},
    {"MalformedNote", "tempo 170\ninstrument b bass\npattern p 1\nb H2 -*15\nsection s 1\nplay p\n", 4,
     "'H2' is not a step"},
    {"ShortLane", "tempo 170\ninstrument k kick\npattern p 1\nk x...........\nsection s 1\nplay p\n", 4,
     "has 12 steps"},
    {"LongLane", "tempo 170\ninstrument k kick\npattern p 1\nk x.......\nk x.........\nsection s 1\nplay p\n", 5,
     "runs past"},
    {"UnknownParameter", "tempo 170\ninstrument k kick cutoff=300\n", 2, "no parameter 'cutoff'"},
    {"ValueOutOfRange", "tempo 170\ninstrument k kick level=9\n", 2, "from 0 to 4"},
    {"ValueNotANumber", "tempo 170\ninstrument k kick level=loud\n", 2, "not 'loud'"},
    {"HoldWithoutNote", "tempo 170\ninstrument b bass\npattern p 1\nb . - F1 -*13\nsection s 1\nplay p\n", 4,
     "holds ('-')"},
    {"NotesOnADrum", "tempo 170\ninstrument k kick\npattern p 1\nk C4 -*15\nsection s 1\nplay p\n", 4, "plays hits"},
    {"HitsOnABass", "tempo 170\ninstrument b bass\npattern p 1\nb x...............\nsection s 1\nplay p\n", 4,
     "plays notes"},
    {"ChordOnAMonoPart", "tempo 170\ninstrument b bass\npattern p 1\nb F1,C2 -*15\nsection s 1\nplay p\n", 4,
     "one note at a time"},
    {"UnknownPattern", "tempo 170\ninstrument k kick\nsection s 1\nplay nothing\n", 4, "unknown pattern 'nothing'"},
    {"PlayPastSectionEnd",
     "tempo 170\ninstrument k kick\npattern p 1\nk x...............\nsection s 2\nplay p@2\n", 6,
     "past the end of section 's'"},
    {"PlayOutsideSection", "tempo 170\ninstrument k kick\nplay p\n", 3, "belongs under a 'section'"},
    {"SectionWithoutBars", "tempo 170\nsection s 0\n", 2, "a section's bars must be"},
    {"DuplicatePattern",
     "tempo 170\ninstrument k kick\npattern p 1\nk x...............\npattern p 1\nk x...............\n", 5,
     "already defined at bad.song:3"},
    {"RampOfMissingParameter", "tempo 170\ninstrument k kick\nsection s 1\nramp k cutoff 1 2\n", 4, "cannot ramp 'cutoff'"},
    {"UnknownStatement", "tempo 170\ntempi 171\n", 2, "unknown statement 'tempi'"},
    {"TempoTwice", "tempo 170\n# again\ntempo 171\n", 3, "already set at bad.song:1"},
    {"NoTempo", "instrument k kick\nsection s 1\n", 0, "no 'tempo' line"},
};

void PrintTo(const BadSong& bad, std::ostream* out) { *out << bad.name; }

class SynthRefuses : public ::testing::TestWithParam<BadSong> {};

TEST_P(SynthRefuses, NamingFileAndLine) {
    const BadSong& bad = GetParam();
    try {
        parseSong(bad.text, "bad.song");
        FAIL() << "accepted";
    } catch (const SongError& e) {
        EXPECT_EQ(e.file(), "bad.song");
        EXPECT_EQ(e.line(), bad.line) << e.what();
        const std::string prefix = bad.line > 0 ? "bad.song:" + std::to_string(bad.line) + ": " : "bad.song: ";
        EXPECT_EQ(std::string(e.what()).rfind(prefix, 0), 0u) << e.what();
        EXPECT_NE(std::string(e.what()).find(bad.says), std::string::npos) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(BadSongs, SynthRefuses, ::testing::ValuesIn(kBadSongs),
                         [](const auto& info) { return std::string(info.param.name); });

// A few hundred bytes of text must not expand into millions of notes: many
// layered lanes played over and over in one long section are refused at the
// line that plays them, and so are too many notes starting on one step.
TEST(SynthRefusesExpansion, ManyLayeredLanesPlayedOverALongSection) {
    std::string many = "tempo 170\ninstrument h hat\npattern p 1\n";
    for (int lane = 0; lane < 16; ++lane) many += "h xxxxxxxxxxxxxxxx\n";
    many += "section s 1024\nplay";
    for (int i = 0; i < 200; ++i) many += " p";
    many += "\n";
    ASSERT_LT(many.size(), 1000u);

    std::string stacked = "tempo 170\ninstrument h hat\npattern p 1\n";
    for (int lane = 0; lane < 8; ++lane) stacked += "h x...............\n";
    stacked += "section s 1\nplay p p p p p p p p\nplay p\n";

    const struct {
        const std::string& text;
        int line;
        const char* says;
    } cases[] = {{many, 21, "notes from here on"}, {stacked, 14, "more than 64 notes start on step 0 of bar 0"}};
    for (const auto& c : cases) {
        try {
            parseSong(c.text, "big.song");
            ADD_FAILURE() << "accepted";
        } catch (const SongError& e) {
            EXPECT_EQ(e.line(), c.line) << e.what();
            EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
        }
    }
    // One play line fewer of the stacked song is exactly at the limit, and plays.
    const Song atLimit = parseSong(stacked.substr(0, stacked.rfind("play p\n")), "big.song");
    EXPECT_EQ(atLimit.events.size(), 64u);
}

TEST(SynthFolder, ReadsEveryFileBeforeResolvingAndBlamesTheRightFile) {
    TempDir dir;
    // The arrangement names a pattern that only a later file defines.
    writeFile(dir / "a.song", "tempo 170\nsection s 1\nplay beat\n");
    writeFile(dir / "b.song", "instrument k kick\npattern beat 1\nk x.......x.......\n");
    writeFile(dir / "notes.txt", "not a song file, ignored\n");
    const Song song = loadSong(dir.path());
    EXPECT_EQ(song.events.size(), 2u);

    writeFile(dir / "b.song", "instrument k kick\npattern beat 1\n\nk x.......x...\n");
    try {
        loadSong(dir.path());
        FAIL() << "accepted";
    } catch (const SongError& e) {
        EXPECT_EQ(e.file(), (dir / "b.song").string());
        EXPECT_EQ(e.line(), 4);
    }
    TempDir empty;
    EXPECT_THROW(loadSong(empty.path()), SongError);
    EXPECT_THROW(loadSong(empty / "missing.song"), SongError);
}

struct ToolRun {
    int status;
    std::string out, err;
};

ToolRun runSynth(const TempDir& dir, const std::string& args) {
    const std::string command = std::string("'") + ZYR_SYNTH_BINARY + "' " + args + " >'" + (dir / "stdout").string() +
                                "' 2>'" + (dir / "stderr").string() + "'";
    const int raw = std::system(command.c_str());
    return ToolRun{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFile(dir / "stdout"), readFile(dir / "stderr")};
}

std::uint32_t le(const std::string& bytes, std::size_t at, int n) {
    std::uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    return v;
}

const char* kSmallSong =
    "tempo 170\n"
    "instrument k kick\ninstrument p pad reverb=0.3\n"
    "pattern beat 1\nk x.........x.....\n"
    "pattern chords 2\np F3,Ab3,C4 -*15 Db3,F3,Ab3 -*15\n"
    "section intro 2\nplay chords\nsection drop 3\nplay beat chords\n";

TEST(SynthCommand, WritesTheRenderedSongAsStereo16BitWav) {
    TempDir dir;
    writeFile(dir / "small.song", kSmallSong);
    const ToolRun run = runSynth(dir, "'" + (dir / "small.song").string() + "' '" + (dir / "out.wav").string() + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string wav = readFile(dir / "out.wav");
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(wav.substr(0, 4), "RIFF");
    EXPECT_EQ(wav.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(le(wav, 20, 2), 1u);      // integer PCM
    EXPECT_EQ(le(wav, 22, 2), 2u);      // stereo
    EXPECT_EQ(le(wav, 24, 4), 44100u);  // frames per second
    EXPECT_EQ(le(wav, 34, 2), 16u);     // bits per sample
    EXPECT_EQ(wav.substr(36, 4), "data");
    EXPECT_EQ(le(wav, 40, 4), static_cast<std::uint32_t>(expectedFrames(5, 170.0) * 4));
    EXPECT_EQ(le(wav, 4, 4), wav.size() - 8);
    EXPECT_EQ(wav, encodeWav(render(parseSong(kSmallSong, "small.song"))));
    EXPECT_FALSE(std::filesystem::exists(dir / "out.wav.partial"));
}

TEST(SynthCommand, InfoListsSectionsInBarsAndRows) {
    TempDir dir;
    writeFile(dir / "small.song", kSmallSong);
    const ToolRun run = runSynth(dir, "--info '" + (dir / "small.song").string() + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("bpm 170\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("bars 5\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("seconds 7.059\n"), std::string::npos) << run.out;
    // name, start bar, bars, start row, rows
    std::istringstream lines(run.out);
    std::string line;
    std::vector<std::string> rows;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string name, startBar, bars, startRow, rowCount;
        words >> name >> startBar >> bars >> startRow >> rowCount;
        if (name == "intro" || name == "drop") rows.push_back(name + " " + startBar + " " + bars + " " + startRow + " " + rowCount);
    }
    EXPECT_EQ(rows, (std::vector<std::string>{"intro 0 2 0 64", "drop 2 3 64 96"})) << run.out;
}

TEST(SynthCommand, BadSourcesAreRefusedAndNothingIsWritten) {
    TempDir dir;
    writeFile(dir / "bad.song", "tempo 170\ninstrument k kick\npattern p 1\nk x...x...\nsection s 1\nplay p\n");
    writeFile(dir / "out.wav", "previous render");
    const ToolRun run = runSynth(dir, "'" + (dir / "bad.song").string() + "' '" + (dir / "out.wav").string() + "'");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("zyr-synth: " + (dir / "bad.song").string() + ":4: "), std::string::npos) << run.err;
    EXPECT_EQ(readFile(dir / "out.wav"), "previous render");
    EXPECT_FALSE(std::filesystem::exists(dir / "out.wav.partial"));

    const ToolRun fresh = runSynth(dir, "'" + (dir / "bad.song").string() + "' '" + (dir / "new.wav").string() + "'");
    EXPECT_EQ(fresh.status, 1);
    EXPECT_FALSE(std::filesystem::exists(dir / "new.wav"));

    const ToolRun usage = runSynth(dir, "only-one-argument");
    EXPECT_EQ(usage.status, 2);
    EXPECT_NE(usage.err.find("usage"), std::string::npos);
}

}  // namespace
