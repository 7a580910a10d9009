#include "Reloader.h"

#include "EffectShader.h"
#include "ExportScan.h"
#include "FileWrite.h"
#include "Soundtrack.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

namespace zyr::studio {

using content::Part;

Reloader::Reloader(Rooms rooms) : rooms_(rooms) {
    if (!rooms_.source.isFolder()) return;
    try {
        watch_ = std::make_unique<FolderWatch>(rooms_.source.folder());
        std::vector<Problem> failures;
        for (const std::string& failure : watch_->failures()) failures.push_back({{}, failure + "; saves there are not seen", {}, 0});
        rooms_.problems.set(Topic::Watch, std::move(failures));
    } catch (const std::runtime_error& error) {
        rooms_.problems.set(Topic::Watch, {{{}, std::string(error.what()) + "; saves are not seen", {}, 0}});
    }
    songs_ = std::make_unique<SongBuilder>(rooms_.source.folder());
}

Reloader::~Reloader() {
    // The song's thread first: it reads the folder the watch watches.
    songs_.reset();
    watch_.reset();
}

bool Reloader::buildShader(const std::string& source) {
    std::string log;
    if (!rooms_.stage.shader().rebuild(rooms_.stage.store(), source, log)) {
        rooms_.problems.set(Topic::Shader, shaderProblems(source, log));
        return false;
    }
    const std::vector<ExportedUniform> exports = scanExports(source);
    rooms_.editor.programChanged(exports);
    rooms_.inspector.programChanged(exports);
    rooms_.problems.set(Topic::Shader, {});
    return true;
}

void Reloader::poll() {
    if (!watch_) return;
    const PartSet changed = watch_->poll(FolderWatch::Clock::now());
    // Each part is looked at only when its bytes changed since it was last read.
    if (changed.has(Part::Shader) && rooms_.source.changed(Part::Shader)) reloadShader();
    if (changed.has(Part::Parameters) && rooms_.source.changed(Part::Parameters)) reloadParameters();
    if (changed.has(Part::Tracks) && rooms_.source.changed(Part::Tracks) && rooms_.editor.diskChanged()) ++reloads_;
    if (changed.has(Part::Song) && rooms_.source.changed(Part::Song)) songs_->request();
    takeSong();
}

void Reloader::reloadShader() {
    std::optional<std::string> text;
    try {
        text = rooms_.source.read(kShaderEntry);
    } catch (const FileError& error) {
        rooms_.problems.set(Topic::Shader, {{{}, std::string(error.what()) + "; the last good shader stays in use", {}, 0}});
        return;
    }
    if (!text) {
        rooms_.problems.set(Topic::Shader, {{kShaderEntry, "the file is gone; the last good shader stays in use", {}, 0}});
        return;
    }
    if (!buildShader(*text)) return;
    ++reloads_;
    std::fprintf(stderr, "zyr-studio: fs.glsl reloaded\n");
}

void Reloader::reloadParameters() {
    std::string text;
    try {
        // Gone, the file sets nothing: every imgui export reads 0.0, as in a fresh start.
        text = rooms_.source.read(kParameterEntry).value_or(std::string());
    } catch (const FileError& error) {
        rooms_.problems.set(Topic::Parameters, {{{}, std::string(error.what()) + "; the last parameters stay in use", {}, 0}});
        return;
    }
    if (!rooms_.inspector.takeParameters(text)) return;
    ++reloads_;
    std::fprintf(stderr, "zyr-studio: fsshader.ini reloaded\n");
}

void Reloader::takeSong() {
    std::optional<SongBuild> build = songs_->take();
    if (!build) return;
    if (build->error) {
        rooms_.problems.set(Topic::Song, contentProblems(*build->error, rooms_.source.folder()));
        return;
    }
    Soundtrack& music = rooms_.stage.music();
    if (!music.replaceMusic(std::move(*build->mp3))) {
        rooms_.problems.set(Topic::Song, {{kMusicEntry, "does not decode as MP3 audio; the last music plays on", {}, 0}});
        return;
    }
    rooms_.playhead.replaceTransport(
        Transport(sectionsOrEvery16Bars(std::move(build->sections), music.lengthRows()), music.lengthRows()));
    rooms_.panel.setPeaks(std::move(build->peaks));
    rooms_.problems.set(Topic::Song, {});
    ++reloads_;
    std::fprintf(stderr, "zyr-studio: song reloaded\n");
}

}  // namespace zyr::studio
