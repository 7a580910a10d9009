// ParameterFile: the parameter file ("fsshader.ini", TOML) read into the four
// values of each table, with no GL involved; EffectShader::applyParameters
// hands them to the imgui exports they name.
//
// Use:
//     for (const ParameterTable& t : readParameterFile(text)) {
//         ... t.name (a top-level key), t.values (v0..v3) ...
//     }
//
// Every top-level key yields one table in key order. Missing components,
// strings, booleans, other non-numbers, and numbers no float holds (floats
// beyond its range, integers beyond +-2^24) read as 0.0; a key whose value is
// not a table reads as four zeros.
//
// Ownership: pure; the result owns its names, the caller's text is untouched.
//
// Failure: throws ParameterFileError, carrying the line and column, for text
// that is not valid TOML, that nests deeper than 64 levels, or that has a
// non-ASCII character where TOML allows none (outside strings and comments,
// or right after a line-ending backslash in a multi-line string); these last
// two are refused before the parser sees them. Nothing else is thrown but
// std::bad_alloc.
#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

using ValueSlot = std::array<float, 4>;

// A parameter file that is not valid TOML, or that this reader refuses.
class ParameterFileError : public std::runtime_error {
public:
    ParameterFileError(std::uint32_t line, std::uint32_t column, const std::string& description);
    std::uint32_t line() const { return line_; }
    std::uint32_t column() const { return column_; }
    const std::string& description() const { return description_; }

private:
    std::uint32_t line_;
    std::uint32_t column_;
    std::string description_;
};

struct ParameterTable {
    std::string name;
    ValueSlot values{};
};

std::vector<ParameterTable> readParameterFile(std::string_view text);
