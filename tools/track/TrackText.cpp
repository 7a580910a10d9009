#include "TrackText.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

namespace zyr {

namespace {

constexpr std::uint32_t kQuietNan = 0x7fc00000;
constexpr std::uint32_t kNegativeQuietNan = 0xffc00000;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimLeft(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    return s;
}

std::string_view trimRight(std::string_view s) {
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> fields(std::string_view s) {
    std::vector<std::string_view> out;
    for (;;) {
        s = trimLeft(s);
        if (s.empty()) return out;
        std::size_t n = 0;
        while (n < s.size() && !isBlank(s[n])) ++n;
        out.push_back(s.substr(0, n));
        s.remove_prefix(n);
    }
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Printable so an author can read it back; the text shows whatever a token held.
std::string shown(std::string_view token) {
    std::string out;
    for (char c : token) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            out += hex;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

enum class RowResult { Ok, NotInteger, OutOfRange };

RowResult parseRow(std::string_view token, std::int32_t& row) {
    std::string_view digits = token;
    bool negative = false;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    if (digits.empty()) return RowResult::NotInteger;
    for (char c : digits)
        if (!isDigit(c)) return RowResult::NotInteger;
    // Leading zeros could make a short value look long; they carry nothing.
    while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
    if (digits.size() > 10) return RowResult::OutOfRange;
    std::int64_t magnitude = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
        return RowResult::OutOfRange;
    row = static_cast<std::int32_t>(value);
    return RowResult::Ok;
}

}  // namespace

std::string formatValue(float value) {
    if (std::isnan(value)) {
        char text[20];
        std::snprintf(text, sizeof text, "nan:0x%08x", static_cast<unsigned>(std::bit_cast<std::uint32_t>(value)));
        return text;
    }
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

std::optional<float> parseValue(std::string_view token, std::string& why) {
    if (token == "inf" || token == "+inf") return std::bit_cast<float>(0x7f800000u);
    if (token == "-inf") return std::bit_cast<float>(0xff800000u);
    if (token == "nan") return std::bit_cast<float>(kQuietNan);
    if (token == "-nan") return std::bit_cast<float>(kNegativeQuietNan);
    if (token.starts_with("nan:")) {
        const std::string_view hex = token.substr(4);
        if (hex.size() != 10 || !hex.starts_with("0x")) {
            why = "a NaN's bits are written nan:0x followed by 8 hex digits";
            return std::nullopt;
        }
        std::uint32_t bits = 0;
        for (char c : hex.substr(2)) {
            const int d = hexDigit(c);
            if (d < 0) {
                why = "a NaN's bits are written nan:0x followed by 8 hex digits";
                return std::nullopt;
            }
            bits = bits << 4 | static_cast<std::uint32_t>(d);
        }
        const float value = std::bit_cast<float>(bits);
        if (!std::isnan(value)) {
            why = "0x" + std::string(hex.substr(2)) + " is no NaN bit pattern (that is " + formatValue(value) + ")";
            return std::nullopt;
        }
        return value;
    }

    // from_chars would take "inf", "nan(...)" and a sign after a '+' in its own
    // ways; it only ever sees the unsigned digits of a plain decimal.
    std::string_view number = token;
    const bool negative = !number.empty() && number.front() == '-';
    if (!number.empty() && (number.front() == '-' || number.front() == '+')) number.remove_prefix(1);
    if (number.empty() || !(isDigit(number.front()) || number.front() == '.')) {
        why = "not a number";
        return std::nullopt;
    }
    float value = 0.0f;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        why = "out of the float32 range (it would read as 0 or infinity)";
        return std::nullopt;
    }
    if (result.ec != std::errc() || result.ptr != number.data() + number.size()) {
        why = "not a number";
        return std::nullopt;
    }
    // Negating flips only the sign bit, so "-0" stays negative zero.
    if (negative) value = -value;
    return value;
}

std::string quoteTrackName(std::string_view name) {
    std::string out = "\"";
    for (char c : name) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (b < 0x20 || b == 0x7F) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            out += hex;
        } else {
            // Bytes from 0x80 up stay raw, so UTF-8 names read as written.
            out.push_back(c);
        }
    }
    out.push_back('"');
    return out;
}

std::string formatTracks(const std::vector<Track>& tracks) {
    std::string out;
    for (const Track& track : tracks) {
        if (!out.empty()) out.push_back('\n');
        out += "track " + quoteTrackName(track.name) + "\n";
        for (const TrackKey& key : track.keys) {
            const auto name = interpolationName(key.type);
            out += std::to_string(key.row) + " " + formatValue(key.value) + " " +
                   (name ? std::string(*name) : std::to_string(key.type)) + "\n";
        }
    }
    return out;
}

std::optional<std::string> rewriteTracks(std::string_view text, const std::vector<Track>& tracks,
                                         const std::string& file, std::string& why) {
    TrackSetParser parser;
    parser.parse(text, file);
    if (!parser.errors().empty()) {
        why = parser.errors().front();
        return std::nullopt;
    }
    // Byte ranges of the blocks, in the order the parser met their headers.
    struct Block {
        std::size_t begin;
        std::size_t end;
    };
    std::vector<Block> blocks;
    std::size_t offset = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    while (offset < text.size()) {
        const std::size_t newline = text.find('\n', offset);
        const std::size_t next = newline == std::string_view::npos ? text.size() : newline + 1;
        std::string_view line = trimLeft(text.substr(offset, next - offset));
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
        if (!line.empty() && line.front() != '#') {
            if (line.starts_with("track") && (line.size() == 5 || isBlank(line[5]) || line[5] == '"'))
                blocks.push_back({offset, next});
            else if (!blocks.empty())
                blocks.back().end = next;
        }
        offset = next;
    }
    const std::vector<Track>& parsed = parser.tracks();
    if (blocks.size() != parsed.size()) {
        why = file + ": its track headers could not be told apart";
        return std::nullopt;
    }
    std::string out;
    std::size_t copied = 0;
    std::vector<bool> placed(tracks.size(), false);
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        for (std::size_t t = 0; t < tracks.size(); ++t) {
            if (placed[t] || tracks[t].name != parsed[b].name) continue;
            out.append(text.substr(copied, blocks[b].begin - copied));
            out += formatTracks({tracks[t]});
            copied = blocks[b].end;
            placed[t] = true;
            break;
        }
    }
    out.append(text.substr(copied));
    for (std::size_t t = 0; t < tracks.size(); ++t) {
        if (placed[t]) continue;
        if (!out.empty() && out.back() != '\n') out.push_back('\n');
        if (!out.empty()) out.push_back('\n');
        out += formatTracks({tracks[t]});
    }
    return out;
}

void TrackSetParser::error(const std::string& file, std::size_t line, const std::string& reason) {
    errors_.push_back(file + ":" + std::to_string(line) + ": " + reason);
}

void TrackSetParser::parse(std::string_view text, const std::string& file) {
    // A new file never continues the last track of the previous one.
    current_.reset();
    inBadTrack_ = false;
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        line = trimLeft(line);
        if (line.empty() || line.front() == '#') continue;
        if (line.starts_with("track") && (line.size() == 5 || isBlank(line[5]) || line[5] == '"'))
            header(line.substr(5), file, lineNumber);
        else
            key(line, file, lineNumber);
    }
}

void TrackSetParser::header(std::string_view rest, const std::string& file, std::size_t line) {
    current_.reset();
    inBadTrack_ = true;
    rest = trimLeft(rest);
    if (rest.empty() || rest.front() != '"') {
        error(file, line, "expected the track name in double quotes: track \"NAME\"");
        return;
    }
    std::string name;
    std::size_t i = 1;
    bool closed = false;
    while (i < rest.size()) {
        const char c = rest[i];
        const auto b = static_cast<unsigned char>(c);
        if (c == '"') {
            closed = true;
            ++i;
            break;
        }
        if (c == '\\') {
            if (i + 1 < rest.size() && (rest[i + 1] == '"' || rest[i + 1] == '\\')) {
                name.push_back(rest[i + 1]);
                i += 2;
                continue;
            }
            if (i + 3 < rest.size() && rest[i + 1] == 'x' && hexDigit(rest[i + 2]) >= 0 &&
                hexDigit(rest[i + 3]) >= 0) {
                name.push_back(static_cast<char>(hexDigit(rest[i + 2]) * 16 + hexDigit(rest[i + 3])));
                i += 4;
                continue;
            }
            error(file, line, "unknown escape in the track name (use \\\", \\\\ or \\xHH)");
            return;
        }
        if (b < 0x20 || b == 0x7F) {
            error(file, line, "a control byte in the track name; write it as \\xHH");
            return;
        }
        name.push_back(c);
        ++i;
    }
    if (!closed) {
        error(file, line, "the track name has no closing double quote");
        return;
    }
    const std::string_view after = trimLeft(rest.substr(i));
    if (!after.empty() && after.front() != '#') {
        error(file, line, "unexpected text after the track name: " + shown(trimRight(after)));
        return;
    }
    if (auto problem = trackNameProblem(name)) {
        error(file, line, "track " + quoteTrackName(name) + ": " + *problem);
        return;
    }
    if (auto first = seen_.find(name); first != seen_.end()) {
        error(file, line, "duplicate track " + quoteTrackName(name) + " (first at " + first->second.file + ":" +
                              std::to_string(first->second.line) + ")");
        return;
    }
    seen_.emplace(name, Place{file, line});
    tracks_.push_back(Track{std::move(name), {}});
    current_ = tracks_.size() - 1;
    inBadTrack_ = false;
}

void TrackSetParser::key(std::string_view text, const std::string& file, std::size_t line) {
    if (const std::size_t hash = text.find('#'); hash != std::string_view::npos) text = text.substr(0, hash);
    const std::vector<std::string_view> parts = fields(text);
    if (parts.size() != 3) {
        error(file, line, "expected a key \"ROW VALUE INTERPOLATION\" or a header track \"NAME\", found " +
                              std::to_string(parts.size()) + (parts.size() == 1 ? " field" : " fields"));
        return;
    }
    bool ok = true;
    std::int32_t row = 0;
    switch (parseRow(parts[0], row)) {
    case RowResult::Ok:
        break;
    case RowResult::NotInteger:
        error(file, line, "row '" + shown(parts[0]) + "' is not an integer");
        ok = false;
        break;
    case RowResult::OutOfRange:
        error(file, line, "row " + shown(parts[0]) + " is out of the int32 range");
        ok = false;
        break;
    }
    std::string why;
    const std::optional<float> value = parseValue(parts[1], why);
    if (!value) {
        error(file, line, "value '" + shown(parts[1]) + "': " + why);
        ok = false;
    }
    const std::optional<std::int8_t> type = interpolationFromName(parts[2]);
    if (!type) {
        error(file, line, "unknown interpolation '" + shown(parts[2]) + "' (step, linear, smooth or ramp)");
        ok = false;
    }
    if (!current_) {
        if (!inBadTrack_) error(file, line, "a key before any track header");
        return;
    }
    if (!ok) return;
    Track& track = tracks_[*current_];
    if (!track.keys.empty() && row <= track.keys.back().row) {
        error(file, line, "row " + std::to_string(row) + " does not follow row " +
                              std::to_string(track.keys.back().row) + "; rows must be strictly ascending");
        return;
    }
    track.keys.push_back(TrackKey{row, *value, *type});
}

}  // namespace zyr
