// The content folder library against the tools it replaces: a source folder
// packs to the same bytes as the folder of ready entries the separate tools
// make from it; mixed forms and bad sources are refused with their place and
// nothing written; the build's own zyr.dat keeps every entry.
#include "ContentFolder.h"

#include "Logo.h"
#include "ResourceArchive.h"
#include "TempDir.h"
#include "Track.h"
#include "TrackText.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <future>
#include <set>
#include <sys/wait.h>

namespace fs = std::filesystem;
using namespace zyr::content;

namespace {

const char* kSong =
    "tempo 170\n"
    "instrument k kick\ninstrument p pad reverb=0.3\n"
    "pattern beat 1\nk x.........x.....\n"
    "pattern chords 2\np F3,Ab3,C4 -*15 Db3,F3,Ab3 -*15\n"
    "section intro 1\nplay chords\nsection drop 1\nplay beat chords\n";

const char* kTracks =
    "# camera\ntrack \"cam:pos.x\"\n0 0 linear\n64 1.5 smooth\n128 -0 step\n\n"
    "track \"cam:pos.y\"\n0 nan:0x7fc00001 ramp\n";

int run(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string q(const fs::path& p) { return "'" + p.string() + "'"; }

// A source folder: shader, parameters, logo, tracks as text in two files, the
// song as sources, and one ready track of another name beside the texts.
void writeSourceFolder(const fs::path& dir) {
    fs::create_directories(dir / "tracks");
    fs::create_directories(dir / "song");
    writeFile(dir / "fs.glsl", "#version 460\nvoid main() {}\n");
    writeFile(dir / "fsshader.ini", "[tint]\nv0 = 1.0\n");
    writeFile(dir / "zyr.png", "not really a png, packed as it is");
    writeFile(dir / "tracks" / "cam.txt", kTracks);
    writeFile(dir / "tracks" / "fade.txt", "track \"scene/fade\"\n32 1 step\n");
    writeFile(dir / "song" / "all.song", kSong);
    writeFile(dir / "sync_ready.track", zyr::encodeTrackFile({{0, 2.0f, zyr::kStep}}));
}

std::vector<std::string> namesOf(const std::vector<Entry>& entries) {
    std::vector<std::string> names;
    for (const Entry& e : entries) names.push_back(e.name);
    return names;
}

std::set<std::string> filesUnder(const fs::path& dir) {
    std::set<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(dir)) out.insert(e.path().lexically_relative(dir).string());
    return out;
}

}  // namespace

TEST(ContentFolder, SourceFolderPacksLikeTheReadyFolderTheSeparateToolsMake) {
    TempDir dir;
    const fs::path source = dir / "source";
    const fs::path ready = dir / "ready";
    writeSourceFolder(source);

    // The ready folder, made the way the build used to make it: each tool on
    // its own, the song through zyr-synth and the lame program.
    fs::create_directories(ready);
    for (const char* plain : {"fs.glsl", "fsshader.ini", "zyr.png", "sync_ready.track"})
        fs::copy_file(source / plain, ready / plain);
    ASSERT_EQ(run(q(ZYR_TRACK_EXE) + " compile " + q(source / "tracks" / "cam.txt") + " " +
                  q(source / "tracks" / "fade.txt") + " --out " + q(ready)),
              0);
    ASSERT_EQ(run(q(ZYR_SYNTH_EXE) + " " + q(source / "song") + " " + q(dir / "song.wav")), 0);
    ASSERT_EQ(run(q(ZYR_LAME) + " --quiet -b 192 " + q(dir / "song.wav") + " " + q(ready / "soundtrack.mp3")), 0);

    ASSERT_EQ(run(q(ZYR_PACK_EXE) + " " + q(source) + " " + q(dir / "source.dat")), 0);
    ASSERT_EQ(run(q(ZYR_PACK_EXE) + " " + q(ready) + " " + q(dir / "ready.dat")), 0);
    const std::string archive = readFile(dir / "ready.dat");
    EXPECT_TRUE(readFile(dir / "source.dat") == archive);

    // In process: the same entries as the ready folder, the same archive bytes.
    const std::vector<Entry> fromSource = folderEntries(source);
    const std::vector<Entry> fromReady = folderEntries(ready);
    EXPECT_EQ(namesOf(fromSource),
              (std::vector<std::string>{"fs.glsl", "fsshader.ini", "soundtrack.mp3", "sync_cam-3Apos.x.track",
                                        "sync_cam-3Apos.y.track", "sync_ready.track", "sync_scene/fade.track",
                                        "zyr.png"}));
    EXPECT_TRUE(fromSource == fromReady);
    EXPECT_TRUE(packArchive(fromSource) == archive);

    // The per-part calls agree with the whole, and the song renders the same
    // on two threads at once.
    std::vector<Entry> tracks = trackEntries(source);
    EXPECT_EQ(namesOf(tracks), (std::vector<std::string>{"sync_cam-3Apos.x.track", "sync_cam-3Apos.y.track",
                                                         "sync_ready.track", "sync_scene/fade.track"}));
    for (const Entry& t : tracks)
        EXPECT_TRUE(t.bytes == readFile(ready / t.name)) << t.name;
    auto first = std::async(std::launch::async, [&] { return soundtrackMp3(source); });
    auto second = std::async(std::launch::async, [&] { return soundtrackMp3(source); });
    const std::string mp3 = readFile(ready / "soundtrack.mp3");
    EXPECT_TRUE(first.get() == mp3);
    EXPECT_TRUE(second.get() == mp3);
    EXPECT_TRUE(soundtrackMp3(ready) == mp3);
    fs::remove(ready / "soundtrack.mp3");
    EXPECT_EQ(soundtrackMp3(ready), std::nullopt);

    // What a watcher is told about each source.
    EXPECT_EQ(partOf("fs.glsl"), Part::Shader);
    EXPECT_EQ(partOf("fsshader.ini"), Part::Parameters);
    EXPECT_EQ(partOf("tracks/cam.txt"), Part::Tracks);
    EXPECT_EQ(partOf("sync_scene/fade.track"), Part::Tracks);
    EXPECT_EQ(partOf("song/all.song"), Part::Song);
    EXPECT_EQ(partOf("soundtrack.mp3"), Part::Song);
    EXPECT_EQ(partOf("zyr.png"), Part::Logo);
    EXPECT_EQ(partOf("tracks/notes.md"), Part::Other);
    EXPECT_EQ(partOf("fs.glsl.tmp"), Part::Other);
}

TEST(ContentFolder, MixedFormsAndBadSourcesAreRefusedWithTheirPlaceAndNothingWritten) {
    TempDir dir;
    const fs::path source = dir / "source";
    writeSourceFolder(source);
    const fs::path output = dir / "zyr.dat";
    writeFile(output, "the previous archive");
    auto packRefused = [&](const std::string& expected) {
        SCOPED_TRACE(expected);
        const fs::path log = dir / "log.txt";
        EXPECT_EQ(run(q(ZYR_PACK_EXE) + " " + q(source) + " " + q(output) + " 2>" + q(log)), 1);
        const std::string said = readFile(log);
        EXPECT_NE(said.find(expected), std::string::npos) << said;
        EXPECT_NE(said.find("nothing written"), std::string::npos) << said;
        fs::remove(log);
        EXPECT_EQ(readFile(output), "the previous archive");
        EXPECT_EQ(filesUnder(dir.path()).count("zyr.dat"), 1u);
        for (const std::string& f : filesUnder(dir.path())) EXPECT_EQ(f.find(".tmp"), std::string::npos) << f;
    };

    // The song twice: as sources and as a ready file. Both are named.
    writeFile(source / "soundtrack.mp3", "ID3 made elsewhere");
    try {
        folderEntries(source);
        ADD_FAILURE() << "song/ beside soundtrack.mp3 accepted";
    } catch (const ContentError& e) {
        const std::string what = e.what();
        EXPECT_EQ(e.file(), (source / "soundtrack.mp3").string());
        EXPECT_NE(what.find((source / "song").string()), std::string::npos) << what;
        EXPECT_NE(what.find("keep one form"), std::string::npos) << what;
    }
    EXPECT_THROW(soundtrackMp3(source), ContentError);
    EXPECT_NO_THROW(trackEntries(source));  // the tracks are not in question
    packRefused("soundtrack.mp3: the soundtrack is given twice");
    fs::remove(source / "soundtrack.mp3");

    // One track twice: compiled from text and ready. Both are named.
    writeFile(source / "sync_cam-3Apos.y.track", zyr::encodeTrackFile({{0, 1.0f, zyr::kStep}}));
    try {
        trackEntries(source);
        ADD_FAILURE() << "a track given both as text and ready accepted";
    } catch (const ContentError& e) {
        const std::string what = e.what();
        EXPECT_NE(what.find((source / "sync_cam-3Apos.y.track").string()), std::string::npos) << what;
        EXPECT_NE(what.find("\"cam:pos.y\" is both compiled from tracks/*.txt"), std::string::npos) << what;
    }
    packRefused("sync_cam-3Apos.y.track: track \"cam:pos.y\" is both compiled");
    fs::remove(source / "sync_cam-3Apos.y.track");

    // A bad key in a track text: FILE:LINE, and every other problem listed.
    const fs::path cam = source / "tracks" / "cam.txt";
    writeFile(cam, "track \"cam:pos.x\"\n0 0 linear\n0 1 step\nx y z\n");
    try {
        trackEntries(source);
        ADD_FAILURE() << "rows out of order accepted";
    } catch (const ContentError& e) {
        EXPECT_EQ(e.file(), cam.string());
        EXPECT_EQ(e.line(), 3);
        EXPECT_EQ(std::string(e.what()).rfind(cam.string() + ":3: ", 0), 0u) << e.what();
        ASSERT_GE(e.messages().size(), 2u);
        EXPECT_EQ(e.messages().back().rfind(cam.string() + ":4: ", 0), 0u) << e.messages().back();
    }
    packRefused(cam.string() + ":3: ");
    writeFile(cam, kTracks);

    // A song that does not parse: its file and line, before any encoding.
    writeFile(source / "song" / "all.song", std::string(kSong) + "play nothing_here\n");
    try {
        soundtrackMp3(source);
        ADD_FAILURE() << "a broken song accepted";
    } catch (const ContentError& e) {
        EXPECT_EQ(e.file(), (source / "song" / "all.song").string());
        EXPECT_EQ(e.line(), 12);
    }
    packRefused((source / "song" / "all.song").string() + ":12: ");

    // Fixed again, the same folder packs.
    writeFile(source / "song" / "all.song", kSong);
    EXPECT_EQ(run(q(ZYR_PACK_EXE) + " " + q(source) + " " + q(output)), 0);
    EXPECT_NE(readFile(output), "the previous archive");
}

TEST(ContentFolder, TheBuildsArchiveHoldsEveryEntryOfTheDemo) {
    // What the demo's sources call for, worked out here, not by the library.
    std::set<std::string> expected = {"fs.glsl", "fsshader.ini", "soundtrack.mp3", "zyr.png"};
    zyr::TrackSetParser parser;
    std::vector<fs::path> texts;
    for (const auto& e : fs::directory_iterator(fs::path(ZYR_CONTENT_DIR) / "tracks"))
        if (e.path().extension() == ".txt") texts.push_back(e.path());
    ASSERT_FALSE(texts.empty());
    for (const fs::path& t : texts) parser.parse(readFile(t), t.string());
    ASSERT_TRUE(parser.errors().empty());
    ASSERT_GT(parser.tracks().size(), 10u);
    for (const zyr::Track& track : parser.tracks()) expected.insert(zyr::trackEntryName(track.name));

    const std::string zip = readFile(ZYR_BUILD_ARCHIVE);
    ASSERT_GT(zip.size(), 22u);
    const auto count = static_cast<unsigned char>(zip[zip.size() - 22 + 10]) |
                       static_cast<unsigned char>(zip[zip.size() - 22 + 11]) << 8;
    EXPECT_EQ(static_cast<std::size_t>(count), expected.size());  // nothing more (no CMakeLists.txt, no song/)

    ResourceArchive archive{fs::path(ZYR_BUILD_ARCHIVE)};
    ASSERT_TRUE(archive.isOpen());
    auto entry = [&](const std::string& name) {
        ArchiveFile* file = archive.openFile(name);
        if (!file) return std::string("<missing>");
        const std::vector<std::uint8_t> bytes = archive.readBytes(file);
        archive.closeFile(file);
        return std::string(bytes.begin(), bytes.end());
    };
    for (const std::string& name : expected) EXPECT_NE(entry(name), "<missing>") << name;
    EXPECT_TRUE(entry("fs.glsl") == readFile(fs::path(ZYR_CONTENT_DIR) / "fs.glsl"));
    EXPECT_TRUE(entry("fsshader.ini") == readFile(fs::path(ZYR_CONTENT_DIR) / "fsshader.ini"));
    EXPECT_TRUE(entry("zyr.png") == zyr::encodePng(zyr::renderLogo(), zyr::kLogoWidth, zyr::kLogoHeight));
    for (const zyr::Track& track : parser.tracks())
        EXPECT_TRUE(entry(zyr::trackEntryName(track.name)) == zyr::encodeTrackFile(track.keys)) << track.name;
    // lame's gapless header (the Xing/Info frame with its LAME tag) is what
    // keeps row 0 on the first beat.
    const std::string mp3 = entry("soundtrack.mp3");
    EXPECT_GT(mp3.size(), 1000000u);
    EXPECT_TRUE(mp3.substr(0, 600).find("Info") != std::string::npos ||
                mp3.substr(0, 600).find("Xing") != std::string::npos);
    EXPECT_NE(mp3.substr(0, 600).find("LAME"), std::string::npos);
}
