// The export scan's reference: the rewrite loop run with the standard
// library's ECMAScript engine on the pattern ExportScan.h documents. The unit
// test and the export fuzzer compare scanExports with it.
//
//     std::vector<ExportedUniform> expected = regexScan(text);
//
// libstdc++'s matcher recurses per character, so it only serves texts of a few
// kilobytes; long runs of white space exhaust the stack.
#pragma once

#include "ExportScan.h"

#include <cstddef>
#include <regex>
#include <string>
#include <utility>
#include <vector>

inline constexpr const char* exportPattern =
    R"(#pragma\s+EXPORT\(([a-zA-Z0-9 _]+)=([a-zA-Z0-9 _:]+)\)[\s]+uniform ([a-zA-Z][a-zA-Z0-9]*)\s+([a-zA-Z][a-zA-Z0-9]*);)";

inline std::vector<ExportedUniform> regexScan(std::string text) {
    static const std::regex pattern(exportPattern, std::regex::ECMAScript);
    std::vector<ExportedUniform> found;
    std::smatch m;
    while (std::regex_search(text, m, pattern)) {
        ExportedUniform e;
        e.name = m[4].str();
        e.kind = m[1].str();
        e.target = m[2].str();
        e.typeName = m[3].str();
        e.type = classifyType(e.typeName);
        const std::string plain = "uniform " + e.typeName + " " + e.name + ";";
        text.replace(static_cast<std::size_t>(m.position(0)), static_cast<std::size_t>(m.length(0)), plain);
        found.push_back(std::move(e));
    }
    return found;
}

inline bool sameExport(const ExportedUniform& a, const ExportedUniform& b) {
    return a.name == b.name && a.kind == b.kind && a.target == b.target && a.typeName == b.typeName &&
           a.type == b.type;
}
