#include "Studio.h"

#include "ImGuiSession.h"

#include "CompileLog.h"
#include "ContentFolder.h"
#include "EffectShader.h"
#include "FolderWatch.h"
#include "MemoryArchive.h"
#include "ParameterFile.h"
#include "RenderWindow.h"
#include "ResourceArchive.h"
#include "ScreenQuad.h"
#include "Song.h"
#include "SongBuilder.h"
#include "Soundtrack.h"
#include "StopRequest.h"
#include "SyncTrackStore.h"
#include "ThreadClock.h"
#include "Timeline.h"
#include "TimelinePanel.h"
#include "Track.h"
#include "TrackText.h"
#include "Transport.h"
#include "ParameterWrite.h"
#include "AudioLayer.h"
#include "ExportScan.h"

#include <GL/glew.h>
#include <GLFW/glfw3.h>
#include <backends/imgui_impl_glfw.h>
#include <backends/imgui_impl_opengl3.h>
#include <imgui.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace zyr::studio {

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
using content::Part;

constexpr const char* kShaderEntry = "fs.glsl";
constexpr const char* kMusicEntry = "soundtrack.mp3";
constexpr const char* kParameterEntry = "fsshader.ini";
constexpr float kBeatsPerMinute = 170.0f;

std::optional<std::string> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string readEntry(ResourceArchive& archive, const char* name, bool* found = nullptr) {
    ArchiveFile* file = archive.openFile(name);
    if (found) *found = file != nullptr;
    if (!file) return {};
    std::string text = archive.readText(file);
    archive.closeFile(file);
    return text;
}

// Line n (1-based) of text, without its line break.
std::string lineOf(std::string_view text, int n) {
    if (n <= 0) return {};
    std::size_t start = 0;
    for (int i = 1; i < n; ++i) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) return {};
        start = end + 1;
    }
    std::string_view line = text.substr(start, text.find('\n', start) - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return std::string(line);
}

// What is wrong, in the author's terms.
struct Problem {
    std::string where;    // "fs.glsl:12:5", or the file alone
    std::string message;
    std::string source;   // the line it points at; empty when none
    int column = 0;       // 1-based; 0 when none

    friend bool operator==(const Problem&, const Problem&) = default;
};

std::string place(const std::string& file, int line, int column) {
    std::string at = file;
    if (line > 0) at += ":" + std::to_string(line);
    if (line > 0 && column > 0) at += ":" + std::to_string(column);
    return at;
}

// The shader's info log at the author's lines, one problem per offending line
// as zyr-check reports them: follow-up errors on a line fold into the first.
std::vector<Problem> shaderProblems(const std::string& source, const std::string& log) {
    const SourceLines lines(source);
    std::vector<Problem> problems;
    int previousLine = -1;
    for (const LogEntry& entry : parseInfoLog(log, lines)) {
        if (entry.severity != "error") continue;
        if (entry.line > 0 && entry.line == previousLine && !problems.empty()) {
            problems.back().message += "; " + entry.message;
            continue;
        }
        previousLine = entry.line;
        Problem problem;
        if (entry.fileLine > 0) problem.where = place(kShaderEntry, entry.fileLine, entry.column);
        else if (entry.line > 0) problem.where = std::string(kShaderEntry) + " (compiler line " + std::to_string(entry.line) + ")";
        else problem.where = kShaderEntry;
        problem.message = "error: " + entry.message;
        problem.source = entry.source;
        problem.column = entry.fileLine > 0 ? entry.column : 0;
        problems.push_back(std::move(problem));
    }
    if (problems.empty()) {
        // A failure whose log names no error is still shown.
        std::string first = log.substr(0, log.find('\n'));
        problems.push_back({kShaderEntry, "does not build: " + (first.empty() ? std::string("empty log") : first), {}, 0});
    }
    return problems;
}

std::vector<Problem> contentProblems(const content::ContentError& error, const fs::path& folder) {
    std::vector<Problem> problems;
    const std::string prefix = place(error.file(), error.line(), error.column()) + ": ";
    Problem first;
    // The author knows the file by its place in the folder.
    std::string file = error.file();
    const std::string root = (folder / "").string();
    if (!folder.empty() && file.starts_with(root)) file = file.substr(root.size());
    first.where = place(file, error.line(), error.column());
    const std::string what = error.what();
    first.message = what.starts_with(prefix) ? what.substr(prefix.size()) : what;
    if (error.line() > 0) {
        fs::path file(error.file());
        auto text = readFile(file.is_absolute() ? file : folder / file);
        if (!text) text = readFile(file);
        if (text) first.source = lineOf(*text, error.line());
        first.column = error.column();
    }
    problems.push_back(std::move(first));
    // Every further problem as the library words it, place included.
    for (std::size_t i = 1; i < error.messages().size(); ++i) {
        std::string message = error.messages()[i];
        if (!folder.empty() && message.starts_with(root)) message = message.substr(root.size());
        problems.push_back({{}, message, {}, 0});
    }
    return problems;
}

// The bytes of every file of one part, with their names: equal snapshots mean
// nothing of that part changed.
std::string snapshot(const fs::path& folder, Part part) {
    std::map<std::string, std::string> files;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
        if (!it->is_regular_file(error)) continue;
        const fs::path relative = it->path().lexically_relative(folder);
        if (content::partOf(relative) != part) continue;
        files[relative.generic_string()] = readFile(it->path()).value_or(std::string("\0unreadable", 11));
    }
    std::string all;
    for (const auto& [name, bytes] : files) {
        all += name;
        all += '\0';
        all += std::to_string(bytes.size());
        all += '\0';
        all += bytes;
    }
    return all;
}

// The song's sections as rows, or none for music without an arrangement.
std::vector<SongSection> songSections(const fs::path& folder) {
    std::vector<SongSection> sections;
    std::error_code error;
    if (folder.empty() || !fs::is_directory(folder / "song", error)) return sections;
    try {
        for (const synth::Section& section : synth::loadSong(folder / "song").sections)
            sections.push_back({section.name, section.startBar * kRowsPerBar});
    } catch (const std::exception&) {
        // A song that does not parse is reported by its build; keys 1-9 then
        // fall back to every 16 bars.
        sections.clear();
    }
    return sections;
}


constexpr std::array<std::pair<const char*, const char*>, 22> kKeys = {{
    {"Space", "play / pause"},
    {"Left / Right", "back / forward one beat (8 rows)"},
    {"Page Up / Page Down", "back / forward one bar (32 rows)"},
    {"Home", "row 0"},
    {", / .", "back / forward one row"},
    {"1 to 9", "start of section 1 to 9"},
    {"[ / ]", "set loop start / end at the playhead"},
    {"Backspace", "clear the loop"},
    {"H", "HUD on / off"},
    {"F1", "this help"},
    {"Escape", "quit"},
    {"T", "timeline on / off"},
    {"Up / Down", "previous / next lane"},
    {"I", "insert a key at the playhead"},
    {"Delete", "delete the key at the playhead (or the selected key)"},
    {"K", "cycle the interpolation: step, linear, smooth, ramp"},
    {"drag a key", "move it (whole rows; beats with Shift)"},
    {"double-click a key", "type its exact value and row"},
    {"Ctrl+Z / Ctrl+Shift+Z", "undo / redo"},
    {"Ctrl+S", "save the edited tracks into tracks/*.txt"},
    {"U", "uniform inspector"},
    {"", "saving a file in the folder reloads it"},
}};

}  // namespace

class StudioSession {
public:
    explicit StudioSession(const StudioOptions& options);
    ~StudioSession();

    bool frame();
    void hideOverlays(bool hidden) { overlaysHidden_ = hidden; }
    std::size_t reloads() const { return reloads_; }

private:
    static void onKey(GLFWwindow* window, int key, int scancode, int action, int mods);
    static void onMouseButton(GLFWwindow* window, int button, int action, int mods);

    void openFolder(const fs::path& folder);
    void openArchive(const fs::path& path);
    void openWindow(const StudioOptions& options, const std::string& title);

    void handleKeys();
    bool handleTimelineKey(int key, int mods);
    bool handlePromptKey(int key);
    void requestQuit();
    void saveTracks();
    void takeDiskTracks();
    // Loads the tracks as the folder has them and lays the lanes out again.
    void takeTracksFromDisk(const char* said);
    void readTrackTexts();
    void buildLanes();
    void showEdits();
    void decodeWaveform();
    void seekTo(double row);
    void togglePause();
    double currentRow() const { return paused_ ? pausedRow_ : music_->playbackRow(); }

    void reload(PartSet parts);
    void reloadShader();
    bool buildShader(const std::string& source);
    void reloadParameters();
    void applyParameters(const std::string& text);
    bool loadTracks();
    void reloadTracks();
    void takeSong();
    void setProblems(Part part, std::vector<Problem> problems);
    ResourceArchive& tracksArchive() { return tracks_ ? tracks_->archive() : *archive_; }

    void drawPicture();
    void present();
    void drawOverlays(int width, int height);
    void resizePicture(int width, int height);

    fs::path folder_;  // empty for an archive
    std::unique_ptr<ResourceArchive> fileArchive_;
    std::unique_ptr<MemoryArchive> memoryArchive_;
    ResourceArchive* archive_ = nullptr;
    std::unique_ptr<MemoryArchive> tracks_;  // the last good tracks once reloaded
    std::string mp3_;

    // Torn down from the bottom: song thread, watch, overlays, then soundtrack,
    // store, shader and window in the player's order.
    std::unique_ptr<RenderWindow> window_;
    std::unique_ptr<EffectShader> shader_;
    std::unique_ptr<SyncTrackStore> store_;
    std::unique_ptr<Soundtrack> music_;
    std::unique_ptr<ImGuiSession> overlays_;
    std::unique_ptr<FolderWatch> watch_;
    std::unique_ptr<SongBuilder> songs_;

    std::optional<Transport> transport_;
    bool paused_ = false;
    double pausedRow_ = 0.0;

    std::optional<std::uint32_t> fixedWidth_;
    std::optional<std::uint32_t> fixedHeight_;
    int pictureWidth_ = 0;
    int pictureHeight_ = 0;
    GLuint framebuffer_ = 0;
    GLuint colour_ = 0;
    float resolution_[2] = {0.0f, 0.0f};

    std::string lastParameters_;  // the last parameter text that read well
    std::string lastShader_;      // the source of the program in use: the lanes follow its exports

    // The timeline: lanes of the bound tracks, edited in memory until saved.
    TimelineModel timeline_;
    TimelinePanel panel_;
    bool timelineShown_ = true;
    std::uint64_t shownVersion_ = 0;          // the model's version the store holds
    std::vector<content::Entry> trackBase_;   // the track entries as compiled from disk
    struct TextTrack {
        std::string file;
        std::vector<SyncKey> keys;
    };
    std::map<std::string, TextTrack> textTracks_;  // by name, as tracks/*.txt hold them
    bool textsBroken_ = false;  // a track text does not read: where its tracks live is unknown
    bool conflict_ = false;    // tracks/ changed on disk while edits were unsaved
    bool quitPrompt_ = false;  // asking Save, Discard or Cancel
    bool quitConfirmed_ = false;

    // The uniform inspector: every export of the program in use, in its order.
    bool inspector_ = false;
    std::vector<ExportedUniform> exports_;
    std::map<std::string, ValueSlot> overrides_;   // imgui exports, by name: over fsshader.ini
    std::map<std::string, ValueSlot> keyValues_;   // rocket exports, by name: what "Key here" keys
    void drawInspector(float width);
    void applyOverride(const std::string& name, const ValueSlot& values);
    void writeParameter(const std::string& name, std::uint32_t components);
    void keyHere(const ExportedUniform& uniform, const ValueSlot& values);
    std::map<Part, std::string> snapshots_;
    std::map<Part, std::vector<Problem>> problems_;

    // Keys from the window's callback, handled once a frame; a fixed ring so
    // that a frame allocates nothing.
    std::array<int, 64> keys_{};
    std::array<int, 64> mods_{};
    double lastPress_ = -1.0;   // glfwGetTime of the last left press
    bool doubleClick_ = false;  // a second press came soon after one, since the last frame
    std::size_t keyCount_ = 0;

    bool hud_ = true;
    bool help_ = false;
    bool overlaysHidden_ = false;
    std::size_t reloads_ = 0;

    // HUD figures over half-second windows.
    Clock::time_point statsStart_ = Clock::now();
    int statsFrames_ = 0;
    double statsCpu_ = 0.0;
    double fps_ = 0.0;
    double cpuMs_ = 0.0;
};

StudioSession::StudioSession(const StudioOptions& options) {
    std::error_code error;
    const fs::path& source = options.source;
    if (fs::is_directory(source, error)) {
        openFolder(source);
    } else if (fs::is_regular_file(source, error)) {
        openArchive(source);
    } else {
        throw std::runtime_error(source.string() + ": no such folder or archive");
    }

    fixedWidth_ = options.width;
    fixedHeight_ = options.height;
    const std::string name = folder_.empty() ? source.filename().string() : fs::absolute(folder_).lexically_normal().filename().string();
    openWindow(options, "zyr-studio - " + (name.empty() ? source.string() : name));

    // The player's objects, made as the player makes them.
    shader_ = std::make_unique<EffectShader>(*archive_, kShaderEntry);
    music_ = std::make_unique<Soundtrack>(*archive_, kMusicEntry, kBeatsPerMinute);
    store_ = std::make_unique<SyncTrackStore>(*archive_, *music_);
    if (music_->stream() == 0) throw std::runtime_error("soundtrack.mp3 does not decode as MP3 audio");

    // Built here rather than on the first frame, so the first frame already
    // shows tracks and parameters at its position, and a shader that does not
    // build is reported from the start.
    bool found = false;
    const std::string shaderText = readEntry(*archive_, kShaderEntry, &found);
    if (found) buildShader(shaderText);
    bool parametersFound = false;
    const std::string parameters = readEntry(*archive_, kParameterEntry, &parametersFound);
    if (parametersFound) {
        try {
            readParameterFile(parameters);
            lastParameters_ = parameters;
            applyParameters(parameters);
        } catch (const ParameterFileError& e) {
            setProblems(Part::Parameters,
                        {{place(kParameterEntry, static_cast<int>(e.line()), static_cast<int>(e.column())),
                          e.description(), lineOf(parameters, static_cast<int>(e.line())), static_cast<int>(e.column())}});
        }
    }

    transport_.emplace(sectionsOrEvery16Bars(songSections(folder_), music_->lengthRows()), music_->lengthRows());
    readTrackTexts();
    buildLanes();
    shownVersion_ = timeline_.version();
    decodeWaveform();
    if (options.at) {
        paused_ = true;
        seekTo(*options.at);
    } else {
        music_->play();
    }

    if (!folder_.empty()) {
        for (Part part : {Part::Shader, Part::Parameters, Part::Tracks, Part::Song})
            snapshots_[part] = snapshot(folder_, part);
        watch_ = std::make_unique<FolderWatch>(folder_);
        songs_ = std::make_unique<SongBuilder>(folder_);
    }
}

StudioSession::~StudioSession() {
    songs_.reset();
    watch_.reset();
    overlays_.reset();
    music_.reset();
    store_.reset();
    shader_.reset();
    window_.reset();
}

void StudioSession::openFolder(const fs::path& folder) {
    folder_ = folder;
    // Part by part, so a part with a mistake can be shown rather than end the
    // studio: only the music is needed to start at all.
    std::vector<content::Entry> entries;
    for (const char* name : {kShaderEntry, kParameterEntry})
        if (auto text = readFile(folder / name)) entries.push_back({name, std::move(*text)});
    try {
        trackBase_ = content::trackEntries(folder);
        for (const content::Entry& entry : trackBase_) entries.push_back(entry);
    } catch (const content::ContentError& error) {
        setProblems(Part::Tracks, contentProblems(error, folder_));
    }
    std::optional<std::string> mp3 = content::soundtrackMp3(folder);
    if (!mp3) throw std::runtime_error(folder.string() + ": no music (song/ or soundtrack.mp3)");
    entries.push_back({kMusicEntry, std::move(*mp3)});
    memoryArchive_ = std::make_unique<MemoryArchive>(content::packArchive(entries));
    archive_ = &memoryArchive_->archive();
}

void StudioSession::openArchive(const fs::path& path) {
    fileArchive_ = std::make_unique<ResourceArchive>(path);
    if (!fileArchive_->isOpen()) throw std::runtime_error(path.string() + ": not an archive the player reads");
    archive_ = fileArchive_.get();
}

void StudioSession::openWindow(const StudioOptions& options, const std::string& title) {
    int width = static_cast<int>(options.width.value_or(1280));
    int height = static_cast<int>(options.height.value_or(720));
    // A large picture opens in a window that fits the screen; it is scaled.
    if (glfwInit() == GLFW_TRUE) {
        if (GLFWmonitor* monitor = glfwGetPrimaryMonitor()) {
            if (const GLFWvidmode* mode = glfwGetVideoMode(monitor)) {
                const double scale = std::min({1.0, mode->width * 0.9 / width, mode->height * 0.9 / height});
                width = std::max(1, static_cast<int>(width * scale));
                height = std::max(1, static_cast<int>(height * scale));
            }
        }
    }
    window_ = createWindow(LaunchSettings{static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), false, title});
    GLFWwindow* handle = window_->handle();
    glfwSetWindowAttrib(handle, GLFW_RESIZABLE, GLFW_TRUE);
    glfwSetWindowUserPointer(handle, this);
    // Installed before the overlays' back end, which then hands every key on.
    glfwSetKeyCallback(handle, &StudioSession::onKey);
    glfwSetMouseButtonCallback(handle, &StudioSession::onMouseButton);
    overlays_ = std::make_unique<ImGuiSession>(handle);
}

void StudioSession::onKey(GLFWwindow* window, int key, int, int action, int mods) {
    auto* self = static_cast<StudioSession*>(glfwGetWindowUserPointer(window));
    if (!self || action == GLFW_RELEASE) return;
    const bool movement = key == GLFW_KEY_LEFT || key == GLFW_KEY_RIGHT || key == GLFW_KEY_PAGE_UP ||
                          key == GLFW_KEY_PAGE_DOWN || key == GLFW_KEY_COMMA || key == GLFW_KEY_PERIOD ||
                          key == GLFW_KEY_UP || key == GLFW_KEY_DOWN;
    // A held key repeats only where repeating means something.
    if (action == GLFW_REPEAT && !movement) return;
    if (self->keyCount_ < self->keys_.size()) {
        self->mods_[self->keyCount_] = mods;
        self->keys_[self->keyCount_++] = key;
    }
}

void StudioSession::onMouseButton(GLFWwindow* window, int button, int action, int) {
    auto* self = static_cast<StudioSession*>(glfwGetWindowUserPointer(window));
    if (!self || button != GLFW_MOUSE_BUTTON_LEFT || action != GLFW_PRESS) return;
    // Timed as they arrive, not by frame: two presses within one slow frame
    // are still a double-click.
    const double now = glfwGetTime();
    if (now - self->lastPress_ < 0.5) self->doubleClick_ = true;
    self->lastPress_ = now;
}

void StudioSession::handleKeys() {
    // Typing into the timeline's or the inspector's fields is not a command.
    if (panel_.typing() || ImGui::GetIO().WantTextInput) {
        for (std::size_t i = 0; i < keyCount_; ++i) {
            if (keys_[i] == GLFW_KEY_ENTER || keys_[i] == GLFW_KEY_KP_ENTER) panel_.editKey(TimelinePanel::kEditEnter);
            if (keys_[i] == GLFW_KEY_ESCAPE) panel_.editKey(TimelinePanel::kEditEscape);
            if (keys_[i] == GLFW_KEY_TAB) panel_.editKey(TimelinePanel::kEditTab);
        }
        keyCount_ = 0;
    }
    for (std::size_t i = 0; i < keyCount_; ++i) {
        const int key = keys_[i];
        if (quitPrompt_) {
            if (handlePromptKey(key)) break;
            continue;
        }
        if (handleTimelineKey(key, mods_[i])) continue;
        const double row = currentRow();
        std::optional<double> to;
        switch (key) {
        case GLFW_KEY_ESCAPE: requestQuit(); break;
        case GLFW_KEY_SPACE: togglePause(); break;
        case GLFW_KEY_LEFT: to = transport_->target(Move::BackBeat, row); break;
        case GLFW_KEY_RIGHT: to = transport_->target(Move::NextBeat, row); break;
        case GLFW_KEY_PAGE_UP: to = transport_->target(Move::BackBar, row); break;
        case GLFW_KEY_PAGE_DOWN: to = transport_->target(Move::NextBar, row); break;
        case GLFW_KEY_HOME: to = transport_->target(Move::Start, row); break;
        case GLFW_KEY_COMMA: to = transport_->target(Move::BackRow, row); break;
        case GLFW_KEY_PERIOD: to = transport_->target(Move::NextRow, row); break;
        case GLFW_KEY_LEFT_BRACKET: transport_->setLoopStart(row); break;
        case GLFW_KEY_RIGHT_BRACKET: transport_->setLoopEnd(row); break;
        case GLFW_KEY_BACKSPACE: transport_->clearLoop(); break;
        case GLFW_KEY_H: hud_ = !hud_; break;
        case GLFW_KEY_F1: help_ = !help_; break;
        default:
            if (key >= GLFW_KEY_1 && key <= GLFW_KEY_9) to = transport_->target(Move::Section, row, key - GLFW_KEY_0);
            break;
        }
        if (to) seekTo(*to);
    }
    keyCount_ = 0;
}

void StudioSession::seekTo(double row) {
    // The HUD's row while paused must be one the music can stand on.
    row = std::clamp(row, 0.0, std::max(0.0, music_->lengthRows()));
    music_->seekToRow(row);
    if (paused_) pausedRow_ = row;
    // A stream that had reached its end is stopped by the seek; it plays on.
    else music_->play();
}

void StudioSession::togglePause() {
    if (paused_) {
        // From the very end there is nothing to play: start over.
        if (pausedRow_ >= transport_->length()) seekTo(0.0);
        paused_ = false;
        music_->play();
        return;
    }
    music_->pause();
    paused_ = true;
    pausedRow_ = music_->playbackRow();
}

void StudioSession::setProblems(Part part, std::vector<Problem> problems) {
    // Tabs as single spaces, so the caret stays under its column (and the
    // overlay draws the lines as they are, without copying them each frame).
    for (Problem& problem : problems) std::replace(problem.source.begin(), problem.source.end(), '\t', ' ');
    std::vector<Problem>& current = problems_[part];
    if (problems == current) return;
    for (const Problem& problem : problems)
        std::fprintf(stderr, "zyr-studio: %s%s%s\n", problem.where.c_str(), problem.where.empty() ? "" : ": ",
                     problem.message.c_str());
    current = std::move(problems);
}

void StudioSession::reload(PartSet parts) {
    // Each part is looked at only if its bytes changed since it was last read.
    for (Part part : {Part::Shader, Part::Parameters, Part::Tracks, Part::Song}) {
        if (!parts.has(part)) continue;
        std::string now = snapshot(folder_, part);
        if (now == snapshots_[part]) continue;
        snapshots_[part] = std::move(now);
        switch (part) {
        case Part::Shader: reloadShader(); break;
        case Part::Parameters: reloadParameters(); break;
        case Part::Tracks: reloadTracks(); break;
        case Part::Song: songs_->request(); break;
        default: break;
        }
    }
}

void StudioSession::reloadShader() {
    const std::optional<std::string> text = readFile(folder_ / kShaderEntry);
    if (!text) {
        setProblems(Part::Shader, {{kShaderEntry, "the file is gone; the last good shader stays in use", {}, 0}});
        return;
    }
    if (!buildShader(*text)) return;
    ++reloads_;
    std::fprintf(stderr, "zyr-studio: fs.glsl reloaded\n");
}

bool StudioSession::buildShader(const std::string& source) {
    std::string log;
    if (!shader_->rebuild(*store_, source, log)) {
        setProblems(Part::Shader, shaderProblems(source, log));
        return false;
    }
    // The new program's exports follow the latest tracks and parameters.
    store_->reloadTracks(tracksArchive());
    applyParameters(lastParameters_);
    setProblems(Part::Shader, {});
    lastShader_ = source;
    if (transport_) buildLanes();
    return true;
}

void StudioSession::applyParameters(const std::string& text) {
    // A table taken out of the file leaves its export at 0.0, as in a fresh
    // start; the file alone would leave the old value standing.
    std::string zeros;
    for (const auto& [name, binding] : shader_->imguiExports()) zeros += "[" + name + "]\n";
    try {
        shader_->applyParameters(zeros);
        shader_->applyParameters(text);
    } catch (const ParameterFileError&) {
        // Checked before it got here.
    }
    // The inspector's overrides stay over the file until written or reverted.
    for (const auto& [name, values] : overrides_) applyOverride(name, values);
}

void StudioSession::reloadParameters() {
    const std::string text = readFile(folder_ / kParameterEntry).value_or(std::string());
    try {
        readParameterFile(text);
    } catch (const ParameterFileError& e) {
        const int line = static_cast<int>(e.line());
        const int column = static_cast<int>(e.column());
        setProblems(Part::Parameters, {{place(kParameterEntry, line, column), e.description(), lineOf(text, line), column}});
        return;
    }
    lastParameters_ = text;
    applyParameters(text);
    setProblems(Part::Parameters, {});
    ++reloads_;
    std::fprintf(stderr, "zyr-studio: fsshader.ini reloaded\n");
}

bool StudioSession::loadTracks() {
    try {
        std::vector<content::Entry> base = content::trackEntries(folder_);
        auto fresh = std::make_unique<MemoryArchive>(content::packArchive(base));
        if (!store_->reloadTracks(fresh->archive())) throw std::runtime_error("out of memory");
        tracks_ = std::move(fresh);
        trackBase_ = std::move(base);
    } catch (const content::ContentError& error) {
        setProblems(Part::Tracks, contentProblems(error, folder_));
        return false;
    } catch (const std::exception& error) {
        setProblems(Part::Tracks, {{"tracks", error.what(), {}, 0}});
        return false;
    }
    setProblems(Part::Tracks, {});
    return true;
}

void StudioSession::reloadTracks() {
    // Unsaved edits are never merged with the file nor dropped untold: the
    // author chooses.
    if (timeline_.dirty()) {
        conflict_ = true;
        setProblems(Part::Tracks, {{"tracks", "changed on disk while the timeline has unsaved edits: Ctrl+S writes "
                                              "yours over the file, R takes the file and drops yours", {}, 0}});
        return;
    }
    takeTracksFromDisk("tracks reloaded");
}

void StudioSession::takeDiskTracks() {
    conflict_ = false;
    setProblems(Part::Tracks, {});
    takeTracksFromDisk("tracks taken from disk, edits dropped");
}

void StudioSession::takeTracksFromDisk(const char* said) {
    if (!loadTracks()) return;
    readTrackTexts();
    timeline_.setLanes({});
    buildLanes();
    shownVersion_ = timeline_.version();
    ++reloads_;
    std::fprintf(stderr, "zyr-studio: %s\n", said);
}

void StudioSession::readTrackTexts() {
    textTracks_.clear();
    textsBroken_ = false;
    if (folder_.empty()) return;
    std::error_code error;
    for (auto it = fs::directory_iterator(folder_ / "tracks", error); !error && it != fs::directory_iterator(); it.increment(error)) {
        if (it->path().extension() != ".txt" || !it->is_regular_file(error)) continue;
        const std::string file = "tracks/" + it->path().filename().string();
        TrackSetParser parser;
        parser.parse(readFile(it->path()).value_or(std::string()), file);
        if (!parser.errors().empty()) {
            textsBroken_ = true;
            continue;
        }
        for (const Track& track : parser.tracks()) {
            TextTrack& text = textTracks_[track.name];
            text.file = file;
            for (const TrackKey& key : track.keys) text.keys.push_back({key.row, key.value, key.type});
        }
    }
}

void StudioSession::buildLanes() {
    // Edits in the model survive a new program: a lane keeps its keys by name.
    std::map<std::string, const Lane*> old;
    for (const Lane& lane : timeline_.lanes()) old[lane.track] = &lane;
    const SyncDevice& device = store_->device();
    exports_ = scanExports(lastShader_);
    std::vector<Lane> lanes;
    static constexpr const char* kComponents[] = {".x", ".y", ".z", ".w"};
    for (const ExportedUniform& uniform : scanExports(lastShader_)) {
        if (classifyKind(uniform.kind) != ExportKind::Rocket) continue;
        const std::uint32_t count = componentCount(uniform.type);
        for (std::uint32_t c = 0; c < count; ++c) {
            Lane lane;
            lane.group = uniform.target;
            lane.track = uniform.target + kComponents[c];
            if (std::any_of(lanes.begin(), lanes.end(), [&](const Lane& l) { return l.track == lane.track; })) continue;
            if (const auto text = textTracks_.find(lane.track); text != textTracks_.end()) {
                lane.file = text->second.file;
                lane.savedKeys = text->second.keys;
            } else {
                for (std::size_t t = 0; t < device.numTracks; ++t) {
                    const SyncTrack* track = device.tracks[t];
                    if (lane.track != track->name) continue;
                    lane.savedKeys.assign(track->keys, track->keys + track->count);
                }
                // Keys that come from no text are a ready .track file (or an archive).
                // While a text does not read, a track found in none may be in it: a
                // new one in tracks/new.txt could clash with it, so it waits.
                lane.readOnly = folder_.empty() || !lane.savedKeys.empty() || textsBroken_;
            }
            if (folder_.empty()) lane.readOnly = true;
            const auto before = old.find(lane.track);
            lane.keys = before != old.end() && !lane.readOnly ? before->second->keys : lane.savedKeys;
            lanes.push_back(std::move(lane));
        }
    }
    const bool edited = std::any_of(lanes.begin(), lanes.end(), [](const Lane& l) { return l.dirty(); });
    timeline_.setLanes(std::move(lanes));
    if (edited) showEdits();
}

void StudioSession::showEdits() {
    // The store reads the edited keys as it reads any track: from an archive
    // whose entries are the disk's with the edited lanes in place of theirs.
    std::vector<content::Entry> entries = trackBase_;
    for (const Lane& lane : timeline_.lanes()) {
        if (lane.readOnly) continue;
        std::vector<TrackKey> keys;
        keys.reserve(lane.keys.size());
        for (const SyncKey& key : lane.keys) keys.push_back({key.row, key.value, static_cast<std::int8_t>(key.type)});
        content::Entry entry{trackEntryName(lane.track), encodeTrackFile(keys)};
        const auto same = std::find_if(entries.begin(), entries.end(), [&](const content::Entry& e) { return e.name == entry.name; });
        if (same != entries.end()) *same = std::move(entry);
        else entries.push_back(std::move(entry));
    }
    try {
        auto fresh = std::make_unique<MemoryArchive>(content::packArchive(entries));
        if (store_->reloadTracks(fresh->archive())) tracks_ = std::move(fresh);
    } catch (const std::exception& error) {
        setProblems(Part::Tracks, {{"tracks", std::string("the edits cannot be shown: ") + error.what(), {}, 0}});
    }
    shownVersion_ = timeline_.version();
}

void StudioSession::saveTracks() {
    if (folder_.empty()) return;
    const bool wasConflict = conflict_;
    const std::vector<std::string> errors = saveLanes(folder_, timeline_);
    if (!errors.empty()) {
        std::vector<Problem> problems;
        for (const std::string& error : errors) problems.push_back({"save", error, {}, 0});
        setProblems(Part::Tracks, std::move(problems));
        return;
    }
    // What the studio wrote itself is no change to reload.
    snapshots_[Part::Tracks] = snapshot(folder_, Part::Tracks);
    std::fprintf(stderr, "zyr-studio: tracks saved\n");
    if (wasConflict) {
        // The file's other blocks are the disk's now: load them with ours.
        takeDiskTracks();
        return;
    }
    readTrackTexts();
    setProblems(Part::Tracks, {});
    try {
        trackBase_ = content::trackEntries(folder_);
    } catch (const content::ContentError& error) {
        setProblems(Part::Tracks, contentProblems(error, folder_));
    }
}

void StudioSession::applyOverride(const std::string& name, const ValueSlot& values) {
    std::string text = "[" + name + "]\n";
    for (std::size_t c = 0; c < values.size(); ++c) text += "v" + std::to_string(c) + " = " + formatValue(values[c]) + "\n";
    try {
        shader_->applyParameters(text);
    } catch (const ParameterFileError&) {
        // Finite floats written by formatValue always read.
    }
}

void StudioSession::writeParameter(const std::string& name, std::uint32_t components) {
    const auto override = overrides_.find(name);
    if (folder_.empty() || override == overrides_.end()) return;
    const fs::path path = folder_ / kParameterEntry;
    const std::string old = readFile(path).value_or(std::string());
    std::string why;
    const std::optional<std::string> text =
        writeParameterTable(old, name, std::span<const float>(override->second.data(), components), why);
    if (!text) {
        setProblems(Part::Parameters, {{kParameterEntry, why, {}, 0}});
        return;
    }
    // Whole or not at all, as the track texts are saved.
    fs::path part = path;
    part += ".part";
    std::error_code error;
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        out.write(text->data(), static_cast<std::streamsize>(text->size()));
        out.flush();
        if (!out) error = std::make_error_code(std::errc::io_error);
    }
    if (!error) fs::rename(part, path, error);
    if (error) {
        fs::remove(part, error);
        setProblems(Part::Parameters, {{kParameterEntry, "cannot be written; the override stays", {}, 0}});
        return;
    }
    // What the studio wrote itself is no change to reload.
    snapshots_[Part::Parameters] = snapshot(folder_, Part::Parameters);
    lastParameters_ = *text;
    overrides_.erase(override);
    applyParameters(lastParameters_);
    setProblems(Part::Parameters, {});
    std::fprintf(stderr, "zyr-studio: fsshader.ini written\n");
}

void StudioSession::keyHere(const ExportedUniform& uniform, const ValueSlot& values) {
    static constexpr const char* kComponents[] = {".x", ".y", ".z", ".w"};
    const auto row = static_cast<std::int32_t>(std::floor(currentRow()));
    const std::vector<Lane>& lanes = timeline_.lanes();
    for (std::uint32_t c = 0; c < componentCount(uniform.type); ++c) {
        for (std::size_t i = 0; i < lanes.size(); ++i) {
            if (lanes[i].group == uniform.target && lanes[i].track.size() == uniform.target.size() + 2 &&
                lanes[i].track.ends_with(kComponents[c]))
                timeline_.setValueAt(i, row, values[c]);
        }
    }
}

void StudioSession::drawInspector(float width) {
    ImGui::SetNextWindowPos(ImVec2(width - 6.0f, 6.0f), ImGuiCond_Always, ImVec2(1.0f, 0.0f));
    ImGui::SetNextWindowBgAlpha(0.85f);
    if (!ImGui::Begin("Uniforms", nullptr, ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_AlwaysAutoResize |
                                               ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoFocusOnAppearing)) {
        ImGui::End();
        return;
    }
    static constexpr const char* kTypes[] = {"float", "vec2", "vec3", "vec4"};
    static constexpr const char* kLabels[] = {"v0", "v1", "v2", "v3"};
    const auto& values = shader_->values();
    for (const ExportedUniform& uniform : exports_) {
        const std::uint32_t n = componentCount(uniform.type);
        const ExportKind kind = classifyKind(uniform.kind);
        ImGui::PushID(uniform.name.c_str());
        ImGui::Separator();
        ImGui::Text("%s  %s=%s  %s", uniform.name.c_str(), uniform.kind.c_str(), uniform.target.c_str(),
                    n >= 1 && n <= 4 ? kTypes[n - 1] : uniform.typeName.c_str());
        const bool kept = shader_->locations().count(uniform.name) != 0;
        if (!kept) {
            ImGui::TextDisabled("  removed by the compiler: drives nothing");
        } else if (kind == ExportKind::Internal) {
            if (uniform.target == "time") ImGui::Text("  playback seconds: %.3f", music_->playbackSeconds());
            else if (uniform.target == "rows") ImGui::Text("  rows: %.3f", currentRow());
            else if (uniform.target == "resolution") ImGui::Text("  framebuffer: %.0f x %.0f", resolution_[0], resolution_[1]);
            else ImGui::TextDisabled("  unknown internal target");
        } else if (const auto slot = values.find(uniform.name); slot != values.end() && n >= 1 && n <= 4) {
            if (kind == ExportKind::Imgui) {
                const auto override = overrides_.find(uniform.name);
                ValueSlot shown = override != overrides_.end() ? override->second : slot->second;
                ImGui::Text("  %s", override != overrides_.end() ? "overridden (fsshader.ini not written)" : "from fsshader.ini");
                bool changed = false;
                for (std::uint32_t c = 0; c < n; ++c) changed = ImGui::DragFloat(kLabels[c], &shown[c], 0.005f) || changed;
                if (changed) {
                    overrides_[uniform.name] = shown;
                    applyOverride(uniform.name, shown);
                }
                if (override != overrides_.end() || changed) {
                    if (ImGui::Button("Write to fsshader.ini")) writeParameter(uniform.name, n);
                    ImGui::SameLine();
                    if (ImGui::Button("Revert")) {
                        overrides_.erase(uniform.name);
                        applyParameters(lastParameters_);
                    }
                }
            } else if (kind == ExportKind::Rocket) {
                ImGui::Text("  tracks %s.x.. now: %.4g %.4g %.4g %.4g", uniform.target.c_str(), slot->second[0],
                            n > 1 ? slot->second[1] : 0.0f, n > 2 ? slot->second[2] : 0.0f, n > 3 ? slot->second[3] : 0.0f);
                const auto chosen = keyValues_.find(uniform.name);
                ValueSlot shown = chosen != keyValues_.end() ? chosen->second : slot->second;
                bool changed = false;
                for (std::uint32_t c = 0; c < n; ++c) changed = ImGui::DragFloat(kLabels[c], &shown[c], 0.005f) || changed;
                if (changed) keyValues_[uniform.name] = shown;
                if (ImGui::Button("Key here")) {
                    keyHere(uniform, shown);
                    keyValues_.erase(uniform.name);
                }
            }
        }
        ImGui::PopID();
    }
    ImGui::End();
}

void StudioSession::decodeWaveform() {
    std::vector<std::int16_t> samples;
    AudioInfo info;
    if (!audioStreamDecodeAll(music_->stream(), samples) || !audioChannelGetInfo(music_->stream(), &info)) return;
    panel_.setWaveform(samples, info.channels, info.frequency, kBeatsPerMinute / 60.0 * kRowsPerBeat);
}

void StudioSession::requestQuit() {
    if (timeline_.dirty()) {
        quitPrompt_ = true;
        std::fprintf(stderr, "zyr-studio: the timeline has unsaved edits: S save and quit, D discard and quit, C cancel\n");
    } else glfwSetWindowShouldClose(window_->handle(), GLFW_TRUE);
}

bool StudioSession::handlePromptKey(int key) {
    switch (key) {
    case GLFW_KEY_S:
        saveTracks();
        quitPrompt_ = false;
        quitConfirmed_ = !timeline_.dirty();
        if (quitConfirmed_) glfwSetWindowShouldClose(window_->handle(), GLFW_TRUE);
        return true;
    case GLFW_KEY_D:
        quitPrompt_ = false;
        quitConfirmed_ = true;
        glfwSetWindowShouldClose(window_->handle(), GLFW_TRUE);
        return true;
    case GLFW_KEY_C:
    case GLFW_KEY_ESCAPE: quitPrompt_ = false; return true;
    default: return false;
    }
}

bool StudioSession::handleTimelineKey(int key, int mods) {
    const bool control = (mods & GLFW_MOD_CONTROL) != 0;
    const auto row = static_cast<std::int32_t>(std::floor(currentRow()));
    switch (key) {
    case GLFW_KEY_T: timelineShown_ = !timelineShown_; return true;
    case GLFW_KEY_U: inspector_ = !inspector_; return true;
    // Keys that pick or change keys act on what the panel shows; with it hidden
    // they would edit out of sight.
    case GLFW_KEY_UP: if (!timelineShown_) return false; timeline_.selectPrevious(); return true;
    case GLFW_KEY_DOWN: if (!timelineShown_) return false; timeline_.selectNext(); return true;
    case GLFW_KEY_I: if (!timelineShown_) return false; timeline_.insertAt(row); return true;
    case GLFW_KEY_DELETE: if (!timelineShown_) return false; timeline_.deleteAt(row); return true;
    case GLFW_KEY_K: if (!timelineShown_) return false; timeline_.cycleAt(row); return true;
    case GLFW_KEY_R:
        if (conflict_) takeDiskTracks();
        return true;
    case GLFW_KEY_Z:
        if (!control) return false;
        if (mods & GLFW_MOD_SHIFT) timeline_.redo();
        else timeline_.undo();
        return true;
    case GLFW_KEY_S:
        if (!control) return false;
        saveTracks();
        return true;
    default: return false;
    }
}

void StudioSession::takeSong() {
    if (!songs_) return;
    std::optional<SongBuild> build = songs_->take();
    if (!build) return;
    if (build->error) {
        setProblems(Part::Song, contentProblems(*build->error, folder_));
        return;
    }
    std::vector<std::uint8_t> bytes(build->mp3->begin(), build->mp3->end());
    if (!music_->replaceMusic(std::move(bytes))) {
        setProblems(Part::Song, {{kMusicEntry, "does not decode as MP3 audio; the last music plays on", {}, 0}});
        return;
    }
    transport_.emplace(sectionsOrEvery16Bars(songSections(folder_), music_->lengthRows()), music_->lengthRows());
    if (paused_) pausedRow_ = std::min(pausedRow_, transport_->length());
    decodeWaveform();
    setProblems(Part::Song, {});
    ++reloads_;
    std::fprintf(stderr, "zyr-studio: song reloaded\n");
}

void StudioSession::resizePicture(int width, int height) {
    if (width == pictureWidth_ && height == pictureHeight_ && framebuffer_ != 0) return;
    if (framebuffer_ != 0) glDeleteFramebuffers(1, &framebuffer_);
    if (colour_ != 0) glDeleteRenderbuffers(1, &colour_);
    glCreateRenderbuffers(1, &colour_);
    glNamedRenderbufferStorage(colour_, GL_RGBA8, width, height);
    glCreateFramebuffers(1, &framebuffer_);
    glNamedFramebufferRenderbuffer(framebuffer_, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour_);
    pictureWidth_ = width;
    pictureHeight_ = height;
}

void StudioSession::drawPicture() {
    int width = 0;
    int height = 0;
    glfwGetFramebufferSize(window_->handle(), &width, &height);
    if (fixedWidth_) {
        width = static_cast<int>(*fixedWidth_);
        height = static_cast<int>(*fixedHeight_);
    }
    resizePicture(std::max(width, 1), std::max(height, 1));

    // The player's frame, into the picture's framebuffer at the picture's size.
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glViewport(0, 0, pictureWidth_, pictureHeight_);
    store_->updateBindings();
    glClearColor(0.1f, 0.2f, 0.3f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    resolution_[0] = static_cast<float>(pictureWidth_);
    resolution_[1] = static_cast<float>(pictureHeight_);
    // Builds only when the first build found no source: then as the player does.
    if (shader_->update(*store_, *music_, resolution_)) applyParameters(lastParameters_);
    if (!screenQuadCreated()) createScreenQuad();
    drawScreenQuad();
}

void StudioSession::present() {
    GLFWwindow* window = window_->handle();
    int width = 0;
    int height = 0;
    glfwGetFramebufferSize(window, &width, &height);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glViewport(0, 0, width, height);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    if (width > 0 && height > 0) {
        const double scale = std::min(static_cast<double>(width) / pictureWidth_, static_cast<double>(height) / pictureHeight_);
        const int shownWidth = std::max(1, static_cast<int>(std::lround(pictureWidth_ * scale)));
        const int shownHeight = std::max(1, static_cast<int>(std::lround(pictureHeight_ * scale)));
        const int x = (width - shownWidth) / 2;
        const int y = (height - shownHeight) / 2;
        // At its own size the picture is copied pixel for pixel.
        const bool same = shownWidth == pictureWidth_ && shownHeight == pictureHeight_;
        glBlitNamedFramebuffer(framebuffer_, 0, 0, 0, pictureWidth_, pictureHeight_, x, y, x + shownWidth,
                               y + shownHeight, GL_COLOR_BUFFER_BIT, same ? GL_NEAREST : GL_LINEAR);
        if (!overlaysHidden_) drawOverlays(width, height);
    }
    glfwSwapBuffers(window);
}

void StudioSession::drawOverlays(int width, int height) {
    ImGui_ImplOpenGL3_NewFrame();
    ImGui_ImplGlfw_NewFrame();
    ImGui::NewFrame();
    const bool doubleClick = doubleClick_;
    doubleClick_ = false;
    float bottom = static_cast<float>(height);
    if (timelineShown_) {
        const TimelineFrame frame{currentRow(), music_->lengthRows(), paused_, &*transport_};
        panel_.setDoubleClick(doubleClick);
        if (const auto row = panel_.draw(timeline_, frame, static_cast<float>(width), static_cast<float>(height))) seekTo(*row);
        bottom = timelineLayout(static_cast<float>(width), static_cast<float>(height)).top;
    }
    constexpr ImGuiWindowFlags kPanel = ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_AlwaysAutoResize |
                                        ImGuiWindowFlags_NoInputs | ImGuiWindowFlags_NoSavedSettings |
                                        ImGuiWindowFlags_NoFocusOnAppearing | ImGuiWindowFlags_NoNav;

    if (hud_) {
        const double row = currentRow();
        const double seconds = music_->playbackSeconds();
        std::array<char, 32> time{};
        std::array<char, 32> beat{};
        ImGui::SetNextWindowPos(ImVec2(6.0f, 6.0f));
        ImGui::SetNextWindowBgAlpha(0.6f);
        if (ImGui::Begin("HUD", nullptr, kPanel)) {
            ImGui::Text("%s  row %lld  %s", formatTime(seconds, time), static_cast<long long>(std::floor(row)),
                        formatBarBeat(row, beat));
            ImGui::Text("%s", transport_->sectionAt(row).c_str());
            ImGui::Text("%.0f fps  %.2f ms cpu", fps_, cpuMs_);
            if (paused_) ImGui::Text("paused");
            if (transport_->looping())
                ImGui::Text("loop %lld-%lld", static_cast<long long>(std::floor(transport_->loopStart())),
                            static_cast<long long>(std::floor(transport_->loopEnd())));
        }
        ImGui::End();
    }

    bool anyProblem = false;
    for (const auto& [part, list] : problems_) anyProblem = anyProblem || !list.empty();
    if (anyProblem) {
        ImGui::SetNextWindowPos(ImVec2(6.0f, bottom - 6.0f), ImGuiCond_Always, ImVec2(0.0f, 1.0f));
        ImGui::SetNextWindowSizeConstraints(ImVec2(0.0f, 0.0f), ImVec2(static_cast<float>(width) - 12.0f, static_cast<float>(height) * 0.6f));
        ImGui::SetNextWindowBgAlpha(0.85f);
        if (ImGui::Begin("Problems", nullptr, kPanel)) {
            for (const auto& [part, list] : problems_) {
                for (const Problem& problem : list) {
                    ImGui::TextColored(ImVec4(1.0f, 0.45f, 0.4f, 1.0f), "%s%s%s", problem.where.c_str(),
                                       problem.where.empty() ? "" : ": ", problem.message.c_str());
                    if (!problem.source.empty()) {
                        ImGui::Text("    %s", problem.source.c_str());
                        if (problem.column > 0)
                            ImGui::Text("    %*s^", problem.column - 1, "");
                    }
                }
            }
        }
        ImGui::End();
    }

    if (inspector_) drawInspector(static_cast<float>(width));

    if (quitPrompt_) {
        ImGui::SetNextWindowPos(ImVec2(static_cast<float>(width) * 0.5f, bottom * 0.5f), ImGuiCond_Always, ImVec2(0.5f, 0.5f));
        ImGui::SetNextWindowBgAlpha(0.9f);
        if (ImGui::Begin("Quit", nullptr, kPanel)) {
            ImGui::Text("The timeline has unsaved edits.");
            ImGui::Text("S  save and quit    D  discard and quit    C  cancel");
        }
        ImGui::End();
    }

    if (help_) {
        ImGui::SetNextWindowPos(ImVec2(static_cast<float>(width) * 0.5f, static_cast<float>(height) * 0.5f),
                                ImGuiCond_Always, ImVec2(0.5f, 0.5f));
        ImGui::SetNextWindowBgAlpha(0.85f);
        if (ImGui::Begin("Keys", nullptr, kPanel)) {
            for (const auto& [key, does] : kKeys) ImGui::Text("%-20s %s", key, does);
        }
        ImGui::End();
    }

    ImGui::Render();
    ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
}

bool StudioSession::frame() {
    const double cpuStart = threadCpuSeconds();
    glfwPollEvents();
    if (stopRequested()) glfwSetWindowShouldClose(window_->handle(), GLFW_TRUE);
    handleKeys();
    if (watch_) {
        if (const PartSet changed = watch_->poll(Clock::now())) reload(changed);
    }
    takeSong();
    // The window's close control asks too; a stop request (signal) does not.
    if (glfwWindowShouldClose(window_->handle()) && !stopRequested() && timeline_.dirty() && !quitPrompt_ &&
        !quitConfirmed_) {
        glfwSetWindowShouldClose(window_->handle(), GLFW_FALSE);
        requestQuit();
    }
    if (timeline_.version() != shownVersion_) showEdits();

    if (!paused_) {
        if (const auto back = transport_->wrap(music_->playbackRow())) {
            seekTo(*back);
        } else if (!music_->isPlaying()) {
            // The music ended: the studio stays open, paused at the end.
            paused_ = true;
            pausedRow_ = music_->playbackRow();
        }
    }

    drawPicture();
    present();

    statsCpu_ += threadCpuSeconds() - cpuStart;
    ++statsFrames_;
    const Clock::time_point now = Clock::now();
    const double elapsed = std::chrono::duration<double>(now - statsStart_).count();
    if (elapsed >= 0.5) {
        fps_ = statsFrames_ / elapsed;
        cpuMs_ = statsCpu_ * 1000.0 / statsFrames_;
        statsStart_ = now;
        statsFrames_ = 0;
        statsCpu_ = 0.0;
    }
    return !glfwWindowShouldClose(window_->handle());
}

Studio::Studio(const StudioOptions& options) : session_(std::make_unique<StudioSession>(options)) {}
Studio::~Studio() = default;
bool Studio::frame() { return session_->frame(); }
void Studio::hideOverlays(bool hidden) { session_->hideOverlays(hidden); }
std::size_t Studio::reloads() const { return session_->reloads(); }

int studioMain(int argc, char** argv) {
    installStopHandlers();
    StudioOptions options;
    try {
        options = parseStudioOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const StudioUsageError& error) {
        std::fprintf(stderr, "zyr-studio: %s (see --help)\n", error.what());
        return 2;
    }
    if (options.help) {
        std::fputs(kStudioUsage, stdout);
        return 0;
    }
    int status = 0;
    try {
        Studio studio(options);
        while (studio.frame()) {
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zyr-studio: %s\n", error.what());
        status = 1;
    }
    raiseRequestedStop();
    return status;
}

}  // namespace zyr::studio
