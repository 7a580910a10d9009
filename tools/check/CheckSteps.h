// CheckSteps: the individual checks behind checkArchive, one per kind of
// content. Internal to zyr_check_core; checkArchive calls them in this order:
// shader, exports, tracks, parameters, soundtrack, logo.
//
// Each step reads what it needs through the borrowed archive, fills its part
// of the report and adds its findings. Steps throw only std::bad_alloc;
// checkArchive turns that into a finding for the entry concerned.
#pragma once

#include "CheckReport.h"
#include "ExportScan.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

class ResourceArchive;

// ---- shader -----------------------------------------------------------------

struct UniformInfo {
    bool active = false;
    std::uint32_t glType = 0;
    std::int32_t location = -1;
};

struct ShaderBuild {
    bool linked = false;
    // Every scanned name that the linked program keeps, with its GL type.
    std::map<std::string, UniformInfo> uniforms;
};

// Compiles and links `text` as the player does (one NUL-terminated string,
// separable fragment program) in the current context, fills report.shader and
// adds compile/link findings. Asks the program about each of `names`.
ShaderBuild buildShader(const std::string& text, const std::vector<std::string>& names, CheckReport& report);

// ---- exports ------------------------------------------------------------------

struct RocketBinding {
    std::string target;
    std::uint32_t count = 0;
    std::string uniform;
};

// What the player makes of the exports. When no program could be built, every
// export counts as active: the author's intent is the best guide left.
struct ExportFacts {
    bool shaderPresent = false;  // without fs.glsl nothing reads tracks or parameters
    bool programKnown = false;   // a linked program was built, so activity is known
    std::vector<RocketBinding> bindings;         // what the player binds, in bind order
    std::set<std::string> imguiActive;           // the player's imgui table
    std::set<std::string> imguiInactive;         // imgui exports the compiler removed
    std::map<std::string, std::string> kindOf;   // every export name -> its (first) kind text
};

// Mirrors the player's recording of exports: fills report.exports (drivenBy for
// imgui exports is settled by finishExports) and adds export findings.
ExportFacts checkExports(const std::vector<ExportedUniform>& exports, const ShaderBuild* build,
                         ResourceArchive& archive, CheckReport& report);

// Track names and entries of a rocket export's components.
std::vector<TrackReference> trackReferences(const std::string& target, std::uint32_t count);

// Fills in what drives each imgui export once the parameter file is known.
void finishExports(const ExportFacts& facts, CheckReport& report);

// ---- tracks -------------------------------------------------------------------

void checkTracks(const ExportFacts& facts, ResourceArchive& archive, CheckReport& report);

// Reads one track entry as the loader would and reports on its layout.
TrackFileReport analyzeTrack(ResourceArchive& archive, const std::string& entry, CheckReport& report);

// ---- parameter file ------------------------------------------------------------

// Reads the file with the player's own parameter reader; needs no GL context.
void checkParameters(const ExportFacts& facts, ResourceArchive& archive, CheckReport& report);

// ---- soundtrack and logo ---------------------------------------------------------

void checkSoundtrack(ResourceArchive& archive, CheckReport& report);
void checkLogo(ResourceArchive& archive, CheckReport& report);

// ---- shared helpers --------------------------------------------------------------

// Edit distance with adjacent transpositions counted as one edit.
std::size_t editDistance(std::string_view a, std::string_view b);
// The candidate nearest to name when it is close enough to be a slip; ties go
// to the earlier candidate.
std::optional<std::string> closestName(std::string_view name, const std::vector<std::string>& candidates);
// " (did you mean \"x\"?)" or "".
std::string suggestion(std::string_view name, const std::vector<std::string>& candidates);
// " (the archive has \"FS.GLSL\"; names match exactly)" when an entry differs only
// by letter case or folder; else "".
std::string entryHint(const CheckReport& report, std::string_view name);
// Text of an archive entry, or nullopt when the player could not open it.
std::optional<std::string> readEntryText(ResourceArchive& archive, const std::string& name);
std::optional<std::vector<std::uint8_t>> readEntryBytes(ResourceArchive& archive, const std::string& name);
