#include "CheckSteps.h"

#include "ParameterFile.h"
#include "ResourceArchive.h"

#include <toml++/toml.h>

#include <algorithm>
#include <array>
#include <sstream>

namespace {

constexpr const char* kEntry = "fsshader.ini";
const std::array<std::string, 4> kComponents{"v0", "v1", "v2", "v3"};

std::string typeName(toml::node_type type) {
    switch (type) {
    case toml::node_type::table: return "table";
    case toml::node_type::array: return "array";
    case toml::node_type::string: return "string";
    case toml::node_type::integer: return "integer";
    case toml::node_type::floating_point: return "floating-point number";
    case toml::node_type::boolean: return "boolean";
    case toml::node_type::date: return "date";
    case toml::node_type::time: return "time";
    case toml::node_type::date_time: return "date-time";
    case toml::node_type::none: break;
    }
    return "value";
}

std::string at(const toml::source_region& source) {
    if (source.begin.line == 0) return kEntry;
    return std::string(kEntry) + ":" + std::to_string(source.begin.line) + ":" + std::to_string(source.begin.column);
}

// The value as TOML writes it, cut short: enough to recognise it.
std::string shown(const toml::node& node) {
    std::ostringstream out;
    node.visit([&](const auto& value) { out << value; });
    std::string text = out.str();
    constexpr std::size_t kLongest = 40;
    if (text.size() > kLongest) text = text.substr(0, kLongest) + "...";
    return text;
}

// Why toml++'s conversion to float gives up on this node (the player then
// stores its default, 0.0).
std::string whyZero(const toml::node& node) {
    switch (node.type()) {
    case toml::node_type::integer:
        return "an integer beyond +-16777216 (2^24) does not convert to float";
    case toml::node_type::floating_point:
        return "it is beyond the float range (+-3.4028235e38)";
    default:
        return "a " + typeName(node.type()) + " is not a number";
    }
}

void checkSection(const std::string& key, const toml::node& node, CheckReport& report) {
    const toml::table* table = node.as_table();
    if (!table) {
        report.add(Severity::Error, "parameters.not-table", at(node.source()),
                   "[" + key + "] is " + (node.is_array() ? "an " : "a ") + typeName(node.type()) +
                       ", not a table of v0 to v3: all four components become 0.0");
        return;
    }
    for (auto&& [name, value] : *table) {
        const std::string component(name.str());
        if (std::find(kComponents.begin(), kComponents.end(), component) != kComponents.end()) {
            if (!value.value<float>()) {
                report.add(Severity::Error, "parameters.value", at(value.source()),
                           key + "." + component + " = " + shown(value) + " becomes 0.0: " + whyZero(value));
            }
        } else {
            report.add(Severity::Error, "parameters.component", at(name.source()),
                       key + "." + component + " is not a component (v0, v1, v2, v3): ignored" +
                           suggestion(component, std::vector<std::string>(kComponents.begin(), kComponents.end())));
        }
    }
}

}  // namespace

void checkParameters(const ExportFacts& facts, ResourceArchive& archive, CheckReport& report) {
    // Imgui exports the parameter file has to feed.
    const std::vector<std::string> wanted(facts.imguiActive.begin(), facts.imguiActive.end());
    const std::optional<std::string> text = readEntryText(archive, kEntry);
    ParameterReport& parameters = report.parameters;
    parameters.present = text.has_value();
    if (!text) {
        if (!wanted.empty()) {
            std::string names;
            for (const std::string& name : wanted) names += (names.empty() ? "" : ", ") + name;
            report.add(Severity::Warning, "parameters.missing", kEntry,
                       "no fsshader.ini: the imgui exports " + names + " stay 0.0" + entryHint(report, kEntry));
        }
        return;
    }
    // First exactly what the player does with the text (its reader needs no
    // context): its verdict on syntax and nesting is the one that counts, and
    // once it accepts the document the parse below cannot exhaust the stack.
    try {
        readParameterFile(*text);
    } catch (const ParameterFileError& error) {
        report.add(Severity::Error, "parameters.syntax",
                   std::string(kEntry) + ":" + std::to_string(error.line()) + ":" + std::to_string(error.column()),
                   error.description() + ": the player stops at start");
        return;
    }
    toml::table document;
    try {
        document = toml::parse(*text);
    } catch (const toml::parse_error& error) {
        report.add(Severity::Error, "parameters.syntax", at(error.source()),
                   std::string(error.description()) + ": the player stops at start");
        return;
    }
    parameters.checked = true;

    // In file order, which is how the author reads it.
    std::vector<std::pair<std::string, const toml::node*>> sections;
    for (auto&& [key, node] : document) sections.emplace_back(std::string(key.str()), &node);
    std::stable_sort(sections.begin(), sections.end(), [](const auto& a, const auto& b) {
        const toml::source_position& pa = a.second->source().begin;
        const toml::source_position& pb = b.second->source().begin;
        return pa.line != pb.line ? pa.line < pb.line : pa.column < pb.column;
    });

    // Only an imgui export's name can select a section, so only those are offered.
    std::vector<std::string> imguiNames(facts.imguiActive.begin(), facts.imguiActive.end());
    imguiNames.insert(imguiNames.end(), facts.imguiInactive.begin(), facts.imguiInactive.end());
    std::set<std::string> named;  // imgui exports a misspelt section already points at

    for (const auto& [key, node] : sections) {
        const bool selects = facts.imguiActive.contains(key);
        parameters.sections.push_back(ParameterSection{key, selects});
        // Without a shader there is nothing to hold the keys against.
        if (!facts.shaderPresent) continue;
        if (selects) {
            checkSection(key, *node, report);
            continue;
        }
        const std::string where = at(node->source());
        if (facts.imguiInactive.contains(key)) {
            report.add(Severity::Warning, "parameters.inactive-export", where,
                       "[" + key + "] is for an imgui export the compiler removed: nothing reads it");
        } else if (const auto kind = facts.kindOf.find(key); kind != facts.kindOf.end()) {
            report.add(Severity::Error, "parameters.not-imgui", where,
                       "[" + key + "] names an export of kind \"" + kind->second +
                           "\", not imgui: the section is ignored");
        } else {
            const std::optional<std::string> near = closestName(key, imguiNames);
            if (near && facts.imguiActive.contains(*near)) named.insert(*near);
            report.add(Severity::Error, "parameters.unknown-key", where,
                       "[" + key + "] selects no imgui export: the section is ignored" +
                           (near ? " (did you mean \"" + *near + "\"?)" : std::string()));
        }
    }

    for (const std::string& name : facts.imguiActive) {
        const bool covered = std::any_of(parameters.sections.begin(), parameters.sections.end(),
                                         [&](const ParameterSection& s) { return s.key == name; });
        if (covered || named.contains(name)) continue;
        report.add(Severity::Warning, "parameters.no-section", "export " + name,
                   "no [" + name + "] in fsshader.ini: the uniform stays 0.0");
    }
}
