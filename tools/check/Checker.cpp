#include "Checker.h"

#include "CheckSteps.h"
#include "ExportScan.h"
#include "PathText.h"
#include "RenderWindow.h"
#include "ResourceArchive.h"

#include <algorithm>
#include <exception>
#include <fstream>
#include <memory>
#include <new>
#include <system_error>

namespace {

constexpr const char* kShader = "fs.glsl";

std::string archiveProblem(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::exists(path, error)) return "no such file";
    if (std::filesystem::is_directory(path, error)) return "a folder, not an archive";
    if (!std::ifstream(path, std::ios::binary)) return "not readable";
    return "not a zip archive the player can read (damaged, several parts, or zip64)";
}

// Runs one step; a step that runs out of memory on a huge entry becomes a
// finding instead of ending the check.
template <typename Step>
void guarded(CheckReport& report, const char* where, Step&& step) {
    try {
        step();
    } catch (const std::bad_alloc&) {
        report.add(Severity::Error, "check.memory", where, "too large to check: out of memory");
    } catch (const std::exception& error) {
        report.add(Severity::Error, "check.failed", where, std::string("could not be checked: ") + error.what());
    }
}

}  // namespace

CheckReport checkArchive(const std::filesystem::path& path, const CheckOptions& options) {
    CheckReport report;
    report.archive = zyr::toUtf8(path);

    ResourceArchive archive(path);
    report.archiveOpen = archive.isOpen();
    if (!archive.isOpen()) {
        report.add(Severity::Error, "archive.unreadable", report.archive,
                   archiveProblem(path) + ": the player finds no content at all");
        return report;
    }
    report.entries = archive.entryNames();

    // The window (and GLFW) must outlive everything made in its context below.
    std::unique_ptr<RenderWindow> window;
    if (options.openContext) {
        try {
            window = createHiddenWindow(64, 64);
            report.shader.contextAvailable = true;
        } catch (const std::exception& error) {
            report.add(Severity::Error, "shader.no-context", kShader,
                       std::string(error.what()) +
                           " (an OpenGL 4.6 core context is needed; is DISPLAY set?): fs.glsl and fsshader.ini "
                           "are not checked");
        }
    } else {
        report.shader.contextAvailable = true;
    }

    std::vector<ExportedUniform> exports;
    std::optional<ShaderBuild> build;
    guarded(report, kShader, [&] {
        const std::optional<std::string> text = readEntryText(archive, kShader);
        report.shader.present = text.has_value();
        if (!text) {
            report.add(Severity::Error, "shader.missing", kShader,
                       "no fs.glsl: the presentation draws no effect" + entryHint(report, kShader));
            return;
        }
        if (const std::size_t nul = text->find('\0'); nul != std::string::npos) {
            const auto line = 1 + std::count(text->begin(), text->begin() + static_cast<std::ptrdiff_t>(nul), '\n');
            report.add(Severity::Error, "shader.nul", std::string(kShader) + ":" + std::to_string(line),
                       "a NUL byte: the compiler is handed the text up to it and sees nothing after it");
        }
        exports = scanExports(*text);
        if (!report.shader.contextAvailable) return;
        std::vector<std::string> names;
        for (const ExportedUniform& e : exports)
            if (std::find(names.begin(), names.end(), e.name) == names.end()) names.push_back(e.name);
        build = buildShader(*text, names, report);
    });

    ExportFacts facts;
    guarded(report, kShader, [&] {
        facts = checkExports(exports, build ? &*build : nullptr, archive, report);
        facts.shaderPresent = report.shader.present;
    });
    guarded(report, "tracks", [&] { checkTracks(facts, archive, report); });
    guarded(report, "fsshader.ini",
            [&] { checkParameters(facts, archive, report); });
    finishExports(facts, report);
    guarded(report, "soundtrack.mp3", [&] { checkSoundtrack(archive, report); });
    guarded(report, "zyr.png", [&] { checkLogo(archive, report); });
    return report;
}
