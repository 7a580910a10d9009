// ParameterWrite: one table's values written into the text of a parameter file
// (fsshader.ini, TOML) in place, for the studio's uniform inspector. Only the
// lines of that table's components change: every other line, comment and
// blank line stays as it was.
//
// Use:
//     std::string why;
//     std::optional<std::string> text = writeParameterTable(old, "tint", values, why);
//
// Components already in the table get their value replaced on their line (a
// comment after it kept); missing ones are added after the table's last line;
// a missing table is added at the end of the file.
//
// Ownership: pure; the caller's text is untouched.
//
// Failure: nullopt with the reason in why, and nothing to write, where the file
// does not read as TOML, a component's value spans lines, or the written text
// would not read back as exactly these values (the table set through dotted
// keys or inline elsewhere, say).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zyr::studio {

std::optional<std::string> writeParameterTable(std::string_view text, const std::string& table,
                                               std::span<const float> values, std::string& why);

}  // namespace zyr::studio
