#include "CompileLog.h"

#include <cctype>
#include <climits>
#include <optional>

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads decimal digits at text[at]; advances at. Values beyond INT_MAX saturate,
// so a hostile log or directive cannot overflow the count.
std::optional<int> readNumber(std::string_view text, std::size_t& at) {
    if (at >= text.size() || !isDigit(text[at])) return std::nullopt;
    long long value = 0;
    while (at < text.size() && isDigit(text[at])) {
        value = value * 10 + (text[at] - '0');
        if (value > INT_MAX) value = INT_MAX;
        ++at;
    }
    return static_cast<int>(value);
}

void skipBlanks(std::string_view text, std::size_t& at) {
    while (at < text.size() && isBlank(text[at])) ++at;
}

bool consume(std::string_view text, std::size_t& at, std::string_view word) {
    if (text.substr(at).starts_with(word)) {
        at += word.size();
        return true;
    }
    return false;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (isBlank(text.front()) || text.front() == '\r')) text.remove_prefix(1);
    while (!text.empty() && (isBlank(text.back()) || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// "error", "warning" or "" for a severity word such as "error", "preprocessor
// error", "ERROR", "warning C7050".
std::string severityOf(std::string_view word) {
    const std::string w = lower(trim(word));
    if (w.starts_with("error") || w.find(" error") != std::string::npos || w == "fatal error") return "error";
    if (w.starts_with("warning") || w.find(" warning") != std::string::npos) return "warning";
    return "";
}

// "S:L(C): severity: message" or "S:L: severity: message".
bool parseMesa(std::string_view line, LogEntry& entry) {
    std::size_t at = 0;
    const auto string = readNumber(line, at);
    if (!string || !consume(line, at, ":")) return false;
    const auto number = readNumber(line, at);
    if (!number) return false;
    int column = 0;
    if (consume(line, at, "(")) {
        const auto c = readNumber(line, at);
        if (!c || !consume(line, at, ")")) return false;
        column = *c;
    }
    if (!consume(line, at, ":")) return false;
    const std::string_view rest = line.substr(at);
    const std::size_t colon = rest.find(':');
    if (colon == std::string_view::npos) return false;
    const std::string severity = severityOf(rest.substr(0, colon));
    if (severity.empty()) return false;
    entry.sourceString = *string;
    entry.line = *number;
    entry.column = column;
    entry.severity = severity;
    entry.message = std::string(trim(rest.substr(colon + 1)));
    return true;
}

// "S(L) : severity CODE: message".
bool parseNvidia(std::string_view line, LogEntry& entry) {
    std::size_t at = 0;
    const auto string = readNumber(line, at);
    if (!string || !consume(line, at, "(")) return false;
    const auto number = readNumber(line, at);
    if (!number || !consume(line, at, ")")) return false;
    skipBlanks(line, at);
    if (!consume(line, at, ":")) return false;
    const std::string_view rest = line.substr(at);
    const std::size_t colon = rest.find(':');
    if (colon == std::string_view::npos) return false;
    const std::string severity = severityOf(rest.substr(0, colon));
    if (severity.empty()) return false;
    entry.sourceString = *string;
    entry.line = *number;
    entry.severity = severity;
    entry.message = std::string(trim(rest.substr(colon + 1)));
    return true;
}

// "ERROR: S:L: message", or "error: message" without a location.
bool parseLeadingSeverity(std::string_view line, LogEntry& entry) {
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    const std::string word = lower(line.substr(0, colon));
    std::string severity;
    if (word == "error" || word == "fatal error") severity = "error";
    else if (word == "warning") severity = "warning";
    else return false;
    entry.severity = severity;
    std::string_view rest = trim(line.substr(colon + 1));
    std::size_t at = 0;
    if (const auto string = readNumber(rest, at); string && consume(rest, at, ":")) {
        if (const auto number = readNumber(rest, at); number && consume(rest, at, ":")) {
            entry.sourceString = *string;
            entry.line = *number;
            rest = trim(rest.substr(at));
        }
    }
    entry.message = std::string(rest);
    return true;
}

}  // namespace

SourceLines::SourceLines(std::string_view source) {
    // A compiler takes CR LF, LF and a lone CR each as one line break.
    std::size_t start = 0;
    std::size_t at = 0;
    while (at < source.size()) {
        const char c = source[at];
        if (c == '\n' || c == '\r') {
            lines_.push_back(source.substr(start, at - start));
            at += (c == '\r' && at + 1 < source.size() && source[at + 1] == '\n') ? 2 : 1;
            start = at;
        } else {
            ++at;
        }
    }
    if (start < source.size()) lines_.push_back(source.substr(start));

    // "#line N [S]": the line after the directive is line N (of string S).
    int string = 0;
    int next = 1;
    numbering_.reserve(lines_.size());
    for (const std::string_view text : lines_) {
        numbering_.push_back(Numbering{string, next});
        ++next;
        std::size_t p = 0;
        skipBlanks(text, p);
        if (!consume(text, p, "#")) continue;
        skipBlanks(text, p);
        if (!consume(text, p, "line") || p >= text.size() || !isBlank(text[p])) continue;
        skipBlanks(text, p);
        const auto number = readNumber(text, p);
        if (!number) continue;
        next = *number;
        skipBlanks(text, p);
        if (const auto s = readNumber(text, p)) string = *s;
    }
}

std::string_view SourceLines::line(int n) const {
    if (n < 1 || n > count()) return {};
    return lines_[static_cast<std::size_t>(n - 1)];
}

int SourceLines::fileLine(int sourceString, int line) const {
    int anyString = 0;
    for (std::size_t i = 0; i < numbering_.size(); ++i) {
        if (numbering_[i].line != line) continue;
        if (sourceString < 0 || numbering_[i].sourceString == sourceString) return static_cast<int>(i + 1);
        if (anyString == 0) anyString = static_cast<int>(i + 1);
    }
    // Some compilers renumber lines after "#line N S" but keep printing string 0.
    return anyString;
}

std::vector<LogEntry> parseInfoLog(std::string_view log, const SourceLines& source) {
    std::vector<LogEntry> entries;
    std::size_t start = 0;
    while (start <= log.size()) {
        std::size_t end = log.find('\n', start);
        if (end == std::string_view::npos) end = log.size();
        const std::string_view raw = trim(log.substr(start, end - start));
        start = end + 1;
        // Logs are NUL-terminated text; anything after a NUL is not part of it.
        if (raw.empty() || raw.front() == '\0') continue;

        LogEntry entry;
        entry.text = std::string(raw);
        if (!parseMesa(raw, entry) && !parseNvidia(raw, entry) && !parseLeadingSeverity(raw, entry)) {
            entry.message = entry.text;
        }
        if (entry.line > 0) {
            entry.fileLine = source.fileLine(entry.sourceString, entry.line);
            const std::string_view quote = source.line(entry.fileLine);
            entry.source = std::string(quote.substr(0, kMaxQuote));
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}
