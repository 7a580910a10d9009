// Export scan: finds the uniforms a fragment shader asks the system to drive.
//
// An export is an annotation right before a uniform declaration:
//     #pragma EXPORT(rocket=cam:pos)
//     uniform vec3 camPos;
// matched exactly as the ECMAScript pattern
//     #pragma\s+EXPORT\(([a-zA-Z0-9 _]+)=([a-zA-Z0-9 _:]+)\)[\s]+uniform ([a-zA-Z][a-zA-Z0-9]*)\s+([a-zA-Z][a-zA-Z0-9]*);
// searched leftmost-first in a rewrite loop: each match is listed, then replaced
// by its plain declaration, and the search starts again from the beginning.
//
// Use:
//     for (const ExportedUniform& e : scanExports(source)) { ... }
//
// Ownership: pure; the result owns its strings, the caller's text is untouched.
// Failure: never fails. Any bytes, any length: the matcher is iterative and runs
// in time linear in the text per pass, so no input can exhaust the stack.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class UniformType : std::int32_t { Other = -1, Float = 0, Vec2 = 1, Vec3 = 2, Vec4 = 3 };

// Components of a type: its value plus one (0 for Other).
constexpr std::uint32_t componentCount(UniformType type) {
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(type) + 1);
}

enum class ExportKind { Rocket, Imgui, Internal, Other };

struct ExportedUniform {
    std::string name;      // GLSL name of the uniform
    std::string kind;      // text before "=", as written
    std::string target;    // text after "=", as written
    std::string typeName;  // declared type word
    UniformType type = UniformType::Other;
};

UniformType classifyType(std::string_view typeName);
ExportKind classifyKind(std::string_view kind);

std::vector<ExportedUniform> scanExports(std::string_view text);
