#include "ParameterWrite.h"

#include "ParameterFile.h"
#include "TrackText.h"

#include <cstring>
#include <vector>

namespace zyr::studio {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
    return s;
}

std::string_view unquote(std::string_view s) {
    s = trim(s);
    if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front()) return s.substr(1, s.size() - 2);
    return s;
}

// The name of a [table] header line, or nullopt for any other line.
std::optional<std::string_view> header(std::string_view line) {
    line = trim(line);
    if (line.size() < 2 || line.front() != '[' || line[1] == '[') return std::nullopt;
    const std::size_t close = line.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return unquote(line.substr(1, close - 1));
}

// Where a value's text ends on its line: before a comment outside quotes.
std::size_t valueEnd(std::string_view line, std::size_t from) {
    char quote = 0;
    for (std::size_t i = from; i < line.size(); ++i) {
        const char c = line[i];
        if (quote) {
            if (c == '\\' && quote == '"') ++i;
            else if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '#') {
            return i;
        }
    }
    return line.size();
}

}  // namespace

std::optional<std::string> writeParameterTable(std::string_view text, const std::string& table,
                                               std::span<const float> values, std::string& why) {
    try {
        readParameterFile(text);
    } catch (const ParameterFileError& e) {
        why = "fsshader.ini:" + std::to_string(e.line()) + ":" + std::to_string(e.column()) + ": " + e.description();
        return std::nullopt;
    }
    // Lines with their breaks, so that untouched ones go back byte for byte.
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        const std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
        lines.emplace_back(text.substr(at, next - at));
        at = next;
    }
    const std::string newline = text.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
    std::vector<bool> written(values.size(), false);
    std::optional<std::size_t> last;  // the table's last non-blank line
    bool inTable = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string& line = lines[i];
        // A byte order mark opening the file is no part of its first line's text.
        const std::string_view bare = i == 0 && line.starts_with(kByteOrderMark) ? std::string_view(line).substr(3) : line;
        if (const auto name = header(bare)) {
            inTable = *name == table;
            if (inTable) last = i;
            continue;
        }
        if (!inTable) continue;
        const std::string_view content = trim(line);
        if (content.empty() || content.front() == '#') continue;
        last = i;
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string_view key = unquote(std::string_view(line).substr(0, equals));
        if (key.size() != 2 || key[0] != 'v' || key[1] < '0' || key[1] >= static_cast<char>('0' + values.size())) continue;
        const auto component = static_cast<std::size_t>(key[1] - '0');
        std::size_t start = equals + 1;
        while (start < line.size() && (line[start] == ' ' || line[start] == '\t')) ++start;
        const std::string_view value = std::string_view(line).substr(start);
        if (value.starts_with("[") || value.starts_with("{") || value.starts_with("\"\"\"") || value.starts_with("'''")) {
            why = "fsshader.ini: [" + table + "] " + std::string(key) + " is not a plain number; not written";
            return std::nullopt;
        }
        std::size_t end = valueEnd(line, start);
        // Keep the spaces before a comment, and the line's own break.
        std::size_t kept = end;
        while (kept > start && (line[kept - 1] == ' ' || line[kept - 1] == '\t')) --kept;
        if (end == line.size()) {
            kept = line.size();
            while (kept > start && (line[kept - 1] == '\n' || line[kept - 1] == '\r' || line[kept - 1] == ' ' || line[kept - 1] == '\t')) --kept;
        }
        line = line.substr(0, start) + formatValue(values[component]) + line.substr(kept);
        written[component] = true;
    }
    std::string added;
    for (std::size_t c = 0; c < values.size(); ++c)
        if (!written[c]) added += "v" + std::to_string(c) + " = " + formatValue(values[c]) + newline;
    if (!added.empty()) {
        if (last) {
            std::string& line = lines[*last];
            if (!line.ends_with('\n')) line += newline;
            line += added;
        } else {
            std::string tail;
            if (!lines.empty() && !lines.back().ends_with('\n')) tail += newline;
            if (!lines.empty()) tail += newline;
            lines.push_back(tail + "[" + table + "]" + newline + added);
        }
    }
    std::string out;
    for (const std::string& line : lines) out += line;

    // Whatever the file's shape, it must read back as exactly these values.
    try {
        for (const ParameterTable& read : readParameterFile(out)) {
            if (read.name != table) continue;
            for (std::size_t c = 0; c < values.size(); ++c)
                if (std::memcmp(&read.values[c], &values[c], sizeof(float)) != 0) throw ParameterFileError(0, 0, "");
            return out;
        }
    } catch (const ParameterFileError&) {
    }
    why = "fsshader.ini: [" + table + "] cannot be written in place (set some other way in the file); not written";
    return std::nullopt;
}

}  // namespace zyr::studio
