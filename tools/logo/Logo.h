// The launcher's logo, rendered from code: "ZYR" in a blocky italic face with a
// warm gradient, an extruded edge and a glow over a dark starfield, and the
// line "TESSARAN 2023" beneath, both from the small bitmap font in Logo.cpp.
//
// Use:
//     std::vector<std::uint8_t> rgba = zyr::renderLogo();     // 280 x 128 x 4
//     std::string png = zyr::encodePng(rgba, zyr::kLogoWidth, zyr::kLogoHeight);
//     zyr-logo OUT.png                                         // runLogoTool
//
// The picture is a pure function of this code: the same build gives the same
// pixels and the same PNG bytes every time.
//
// Ownership: plain values; runLogoTool writes only OUT.png (through a
// temporary beside it, renamed into place).
//
// Failure: encodePng returns an empty string if the encoder fails;
// runLogoTool reports write errors and returns 1, usage errors 2.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace zyr {

inline constexpr int kLogoWidth = 280;
inline constexpr int kLogoHeight = 128;

// Rows top to bottom, 4 bytes (R, G, B, A) per pixel; fully opaque.
std::vector<std::uint8_t> renderLogo();

std::string encodePng(const std::vector<std::uint8_t>& rgba, int width, int height);

int runLogoTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace zyr
