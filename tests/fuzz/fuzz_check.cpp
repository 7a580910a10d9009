// zyr-check over any archive, every step but the shader build: checkArchive
// itself needs an OpenGL context (its own hidden window or the caller's) for
// fs.glsl, and the player's parameter parser is reached through an
// EffectShader, which needs one too, so those two steps stand as they would
// without a context. The rest runs in checkArchive's order, then both report
// formats are written.
#include "CheckSteps.h"
#include "FuzzSupport.h"
#include "ReportFormat.h"
#include "ResourceArchive.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kMaxNames = 256;


}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path& path = scratchFile(data, size);
    CheckReport report;
    report.archive = "fuzz.dat";
    ResourceArchive archive(path);
    report.archiveOpen = archive.isOpen();
    if (!archive.isOpen()) return 0;
    report.entries = listEntries(path, kMaxNames);

    std::vector<ExportedUniform> exports;
    if (const std::optional<std::string> text = readEntryText(archive, "fs.glsl")) {
        report.shader.present = true;
        exports = scanExports(*text);
    }
    ExportFacts facts = checkExports(exports, nullptr, archive, report);
    facts.shaderPresent = report.shader.present;
    checkTracks(facts, archive, report);
    checkParameters(facts, archive, report);
    finishExports(facts, report);
    checkSoundtrack(archive, report);
    checkLogo(archive, report);

    fuzzCheck(!formatTable(report).empty(), "an empty table report");
    fuzzCheck(!formatJson(report).empty(), "an empty JSON report");
    fuzzCheck(archive.openCount() == 0, "the checker left entries open");
    return 0;
}
