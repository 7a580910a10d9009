#include "Studio.h"

#include "EffectShader.h"
#include "Input.h"
#include "Inspector.h"
#include "Overlays.h"
#include "Playhead.h"
#include "Problems.h"
#include "Reloader.h"
#include "Soundtrack.h"
#include "Stage.h"
#include "StopRequest.h"
#include "StudioSource.h"
#include "Tempo.h"
#include "ThreadClock.h"
#include "TimelinePanel.h"
#include "TrackEditor.h"
#include "Waveform.h"

#include <GLFW/glfw3.h>
#include <imgui.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace zyr::studio {

namespace {

std::string readEntry(ResourceArchive& archive, const char* name, bool& found) {
    ArchiveFile* file = archive.openFile(name);
    found = file != nullptr;
    if (!file) return {};
    std::string text = archive.readText(file);
    archive.closeFile(file);
    return text;
}

}  // namespace

// The rooms, made in the order each needs the others and torn down in the
// reverse: the song's thread and the watch first, the window near the end,
// the archive last.
class StudioSession {
public:
    explicit StudioSession(const StudioOptions& options);

    bool frame();
    void hideOverlays(bool hidden) { overlaysHidden_ = hidden; }
    std::size_t reloads() const { return reloader_.reloads(); }

private:
    void handleKeys();
    void run(const KeyCommand& command);
    // What a close would lose: an archive's overrides have nowhere to go.
    bool unsavedWork() const { return editor_.dirty() || (source_.isFolder() && inspector_.overrides() > 0); }
    std::string unsaved() const;
    void requestQuit();
    void guardClose();
    void close(bool confirmed);
    void drawOverlays();

    ProblemBoard problems_;
    Source source_;
    Stage stage_;
    Input input_;
    Overlays overlays_;
    DrawListCache timelineCache_;
    Playhead playhead_;
    TrackEditor editor_;
    Inspector inspector_;
    TimelinePanel panel_;
    Reloader reloader_;

    bool timelineShown_ = true;
    bool overlaysHidden_ = false;
    bool prompting_ = false;       // asking Save, Discard or Cancel
    std::string promptText_;       // what it would lose, as it was when asked
    bool closeConfirmed_ = false;  // the prompt answered: closing loses nothing untold
};

StudioSession::StudioSession(const StudioOptions& options)
    : source_(options.source, problems_),
      stage_(source_.archive(), options, "zyr-studio - " + source_.name()),
      input_(stage_.window()),
      overlays_(stage_.window()),
      playhead_(stage_.music(), Transport(sectionsOrEvery16Bars(songSections(source_.folder()), stage_.music().lengthRows()),
                                          stage_.music().lengthRows())),
      editor_(stage_.store(), source_, problems_),
      inspector_(stage_.shader(), source_, problems_),
      reloader_({source_, stage_, editor_, inspector_, problems_, playhead_, panel_}) {
    // Built here rather than on the first frame, so the first frame already
    // shows tracks and parameters at its position, and a shader that does not
    // build is reported from the start.
    bool found = false;
    const std::string shader = readEntry(source_.archive(), kShaderEntry, found);
    if (found) reloader_.buildShader(shader);
    const std::string parameters = readEntry(source_.archive(), kParameterEntry, found);
    if (found) inspector_.takeParameters(parameters);
    panel_.setCache(&timelineCache_);
    panel_.setPeaks(waveformPeaks(source_.music(), static_cast<double>(kBeatsPerMinute) / 60.0 * kRowsPerBeat));
    playhead_.start(options.at);
}

bool StudioSession::frame() {
    const double cpuStart = threadCpuSeconds();
    GLFWwindow* window = stage_.window();
    glfwPollEvents();
    if (stopRequested()) glfwSetWindowShouldClose(window, GLFW_TRUE);
    handleKeys();
    reloader_.poll();
    guardClose();
    editor_.show();
    playhead_.follow();
    stage_.draw(input_.width(), input_.height(), [this] { inspector_.apply(); });
    stage_.present(input_.width(), input_.height(), [this] { drawOverlays(); });
    overlays_.countFrame(threadCpuSeconds() - cpuStart);
    return !glfwWindowShouldClose(window);
}

void StudioSession::handleKeys() {
    // Typing into the timeline's or the inspector's fields is not a command.
    if (panel_.typing() || ImGui::GetIO().WantTextInput) {
        for (const Pressed& key : input_.keys()) {
            if (key.key == GLFW_KEY_ENTER || key.key == GLFW_KEY_KP_ENTER) panel_.editKey(TimelinePanel::kEditEnter);
            if (key.key == GLFW_KEY_ESCAPE) panel_.editKey(TimelinePanel::kEditEscape);
            if (key.key == GLFW_KEY_TAB) panel_.editKey(TimelinePanel::kEditTab);
        }
        input_.clearKeys();
        return;
    }
    for (const Pressed& key : input_.keys()) {
        const bool answering = prompting_;
        if (const std::optional<KeyCommand> command = commandFor(key, prompting_)) run(*command);
        // Keys typed after an answer to the prompt are not commands for what follows it.
        if (answering) break;
    }
    input_.clearKeys();
}

void StudioSession::run(const KeyCommand& command) {
    TimelineModel& model = editor_.model();
    const auto row = static_cast<std::int32_t>(std::floor(playhead_.row()));
    switch (command.command) {
    case Command::Quit: requestQuit(); break;
    case Command::PlayPause: playhead_.togglePause(); break;
    case Command::BackBeat: playhead_.move(Move::BackBeat); break;
    case Command::NextBeat: playhead_.move(Move::NextBeat); break;
    case Command::BackBar: playhead_.move(Move::BackBar); break;
    case Command::NextBar: playhead_.move(Move::NextBar); break;
    case Command::Start: playhead_.move(Move::Start); break;
    case Command::BackRow: playhead_.move(Move::BackRow); break;
    case Command::NextRow: playhead_.move(Move::NextRow); break;
    case Command::Section: playhead_.move(Move::Section, command.argument); break;
    case Command::LoopStart: playhead_.transport().setLoopStart(playhead_.row()); break;
    case Command::LoopEnd: playhead_.transport().setLoopEnd(playhead_.row()); break;
    case Command::ClearLoop: playhead_.transport().clearLoop(); break;
    case Command::Hud: overlays_.toggleHud(); break;
    case Command::Help: overlays_.toggleHelp(); break;
    case Command::Timeline: timelineShown_ = !timelineShown_; break;
    case Command::Inspector: inspector_.toggle(); break;
    // Keys that pick or change keys act on what the panel shows; with it hidden
    // they would edit out of sight.
    case Command::LanePrevious: if (timelineShown_) model.selectPrevious(); break;
    case Command::LaneNext: if (timelineShown_) model.selectNext(); break;
    case Command::InsertKey: if (timelineShown_) model.insertAt(row); break;
    case Command::DeleteKey: if (timelineShown_) model.deleteAt(row); break;
    case Command::CycleKey: if (timelineShown_) model.cycleAt(row); break;
    case Command::Undo: model.undo(); break;
    case Command::Redo: model.redo(); break;
    case Command::Save: editor_.save(); break;
    case Command::TakeDisk: if (editor_.takeDisk()) reloader_.countReload(); break;
    case Command::SaveAndQuit: {
        prompting_ = false;
        const bool tracks = !editor_.dirty() || editor_.save();
        const bool parameters = inspector_.writeAll();
        if (tracks && parameters) close(true);
        break;
    }
    case Command::DiscardAndQuit: prompting_ = false; close(true); break;
    case Command::StayOpen: prompting_ = false; break;
    }
}

std::string StudioSession::unsaved() const {
    std::vector<std::string> parts;
    if (editor_.dirty()) parts.push_back(editor_.unsaved());
    if (const std::size_t n = source_.isFolder() ? inspector_.overrides() : 0) parts.push_back(std::to_string(n) + (n == 1 ? " override" : " overrides") + " of fsshader.ini");
    std::string out;
    for (const std::string& part : parts) out += (out.empty() ? "" : "; ") + part;
    return out;
}

void StudioSession::requestQuit() {
    if (!unsavedWork()) {
        close(false);
        return;
    }
    prompting_ = true;
    promptText_ = unsaved();
    std::fprintf(stderr, "zyr-studio: unsaved edits: S save and quit, D discard and quit, C cancel (%s)\n", promptText_.c_str());
}

void StudioSession::guardClose() {
    // Every close asks while work is unsaved (the window's control too, and a
    // second one while it asks); only a signal ends the studio without asking.
    GLFWwindow* window = stage_.window();
    if (!glfwWindowShouldClose(window) || stopRequested() || closeConfirmed_ || !unsavedWork()) return;
    glfwSetWindowShouldClose(window, GLFW_FALSE);
    requestQuit();
}

void StudioSession::close(bool confirmed) {
    closeConfirmed_ = confirmed;
    glfwSetWindowShouldClose(stage_.window(), GLFW_TRUE);
}

void StudioSession::drawOverlays() {
    if (overlaysHidden_) return;
    overlays_.begin(input_);
    const auto width = static_cast<float>(input_.width());
    const auto height = static_cast<float>(input_.height());
    const bool doubleClick = input_.takeDoubleClick();
    float bottom = height;
    if (timelineShown_) {
        const TimelineFrame frame{playhead_.row(), stage_.music().lengthRows(), playhead_.paused(), &playhead_.transport()};
        panel_.setDoubleClick(doubleClick);
        if (const std::optional<double> row = panel_.draw(editor_.model(), frame, width, height)) playhead_.seekTo(*row);
        bottom = timelineLayout(width, height).top;
    }
    const double seconds = stage_.music().playbackSeconds();
    overlays_.hud(playhead_, seconds);
    overlays_.problems(problems_, bottom);
    inspector_.draw({width, seconds, playhead_.row(), stage_.resolution()}, editor_.model());
    if (prompting_) overlays_.quitPrompt(promptText_, bottom);
    overlays_.help();
    overlays_.end();
}

Studio::Studio(const StudioOptions& options) : session_(std::make_unique<StudioSession>(options)) {}
Studio::~Studio() = default;
bool Studio::frame() { return session_->frame(); }
void Studio::hideOverlays(bool hidden) { session_->hideOverlays(hidden); }
std::size_t Studio::reloads() const { return session_->reloads(); }

int studioMain(const std::vector<std::string>& arguments) {
    installStopHandlers();
    StudioOptions options;
    try {
        options = parseStudioOptions(arguments);
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
