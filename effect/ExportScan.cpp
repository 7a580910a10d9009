#include "ExportScan.h"

#include <array>
#include <cstddef>
#include <optional>

// The export pattern is deterministic: every group is followed by a character
// its class cannot hold ('=' after the kind, ')' after the target, white space
// after the type word, ';' after the name), and each run of white space is
// followed by a character that is not white space. From a given "#pragma" there
// is therefore at most one way to match, found by reading maximal runs left to
// right without any backtracking. No part of the annotation (after its first
// character) can hold '#', so the attempts at successive "#pragma" never read
// the same characters twice and the forward search is linear.
//
// The rewrite loop (list the leftmost match, replace it by its plain
// declaration, search again from the start) is followed without rebuilding
// the text. A replacement at position s leaves everything in front of s as it
// was, and that text held no match. A new match starting before s has to run
// into the inserted "uniform T N;". Inside a kind or target it would meet the
// ';' where it needs '=' or ')'; inside the type or name word it would meet a
// space where it needs white space followed by a name, or ';'. So it can only
// be an annotation followed by white space that ends exactly at s, whose
// declaration becomes the inserted one. Such a prefix is unique (it is read
// backwards by the same maximal runs) and its rewrite inserts the same
// declaration again, one step further left. When no prefix is left, the next
// match is the leftmost one after the replaced stretch, in text that no
// rewrite has touched. A backward read never has to cross an earlier inserted
// declaration, whose trailing ';' fits no part of a prefix, so it stops there.
// Each character is read a bounded number of times in all.

namespace {

enum CharClass : unsigned char {
    Space = 1,   // the six white-space characters
    Kind = 2,    // [a-zA-Z0-9 _]
    Target = 4,  // [a-zA-Z0-9 _:]
    Alpha = 8,   // [a-zA-Z]
    Alnum = 16,  // [a-zA-Z0-9]
};

constexpr std::array<unsigned char, 256> makeClasses() {
    std::array<unsigned char, 256> classes{};
    for (unsigned char c : {' ', '\t', '\n', '\v', '\f', '\r'}) classes[c] |= Space;
    for (int c = 0; c < 256; ++c) {
        const bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool digit = c >= '0' && c <= '9';
        if (alpha) classes[c] |= Alpha;
        if (alpha || digit) classes[c] |= Alnum | Kind | Target;
    }
    classes[static_cast<unsigned char>(' ')] |= Kind | Target;
    classes[static_cast<unsigned char>('_')] |= Kind | Target;
    classes[static_cast<unsigned char>(':')] |= Target;
    return classes;
}

constexpr std::array<unsigned char, 256> classes = makeClasses();

constexpr std::string_view pragmaWord = "#pragma";
constexpr std::string_view exportOpen = "EXPORT(";
constexpr std::string_view uniformWord = "uniform ";

bool isA(char c, CharClass cls) { return (classes[static_cast<unsigned char>(c)] & cls) != 0; }

std::size_t skipForward(std::string_view text, std::size_t i, CharClass cls) {
    while (i < text.size() && isA(text[i], cls)) ++i;
    return i;
}

// Moves left from i while the character before it belongs to cls, not below floor.
std::size_t skipBackward(std::string_view text, std::size_t i, std::size_t floor, CharClass cls) {
    while (i > floor && isA(text[i - 1], cls)) --i;
    return i;
}

bool hasAt(std::string_view text, std::size_t i, std::string_view word) {
    return text.size() - i >= word.size() && text.compare(i, word.size(), word) == 0;
}

struct Match {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::string_view kind;
    std::string_view target;
    std::string_view typeName;
    std::string_view name;
};

// The match that starts at begin, where text holds "#pragma".
std::optional<Match> matchAt(std::string_view text, std::size_t begin) {
    Match m;
    m.begin = begin;
    std::size_t i = begin + pragmaWord.size();
    std::size_t j = skipForward(text, i, Space);
    if (j == i || !hasAt(text, j, exportOpen)) return std::nullopt;

    i = j + exportOpen.size();
    j = skipForward(text, i, Kind);
    if (j == i || j == text.size() || text[j] != '=') return std::nullopt;
    m.kind = text.substr(i, j - i);

    i = j + 1;
    j = skipForward(text, i, Target);
    if (j == i || j == text.size() || text[j] != ')') return std::nullopt;
    m.target = text.substr(i, j - i);

    i = j + 1;
    j = skipForward(text, i, Space);
    if (j == i || !hasAt(text, j, uniformWord)) return std::nullopt;

    i = j + uniformWord.size();
    if (i == text.size() || !isA(text[i], Alpha)) return std::nullopt;
    j = skipForward(text, i + 1, Alnum);
    m.typeName = text.substr(i, j - i);

    i = skipForward(text, j, Space);
    if (i == j || i == text.size() || !isA(text[i], Alpha)) return std::nullopt;
    j = skipForward(text, i + 1, Alnum);
    if (j == text.size() || text[j] != ';') return std::nullopt;
    m.name = text.substr(i, j - i);
    m.end = j + 1;
    return m;
}

// The annotation plus trailing white space that ends exactly at end and starts
// at or after floor; only its kind, target and start are of use.
std::optional<Match> prefixEndingAt(std::string_view text, std::size_t end, std::size_t floor) {
    Match m;
    m.end = end;
    std::size_t j = skipBackward(text, end, floor, Space);
    if (j == end || j == floor || text[j - 1] != ')') return std::nullopt;

    std::size_t stop = j - 1;
    j = skipBackward(text, stop, floor, Target);
    if (j == stop || j == floor || text[j - 1] != '=') return std::nullopt;
    m.target = text.substr(j, stop - j);

    stop = j - 1;
    j = skipBackward(text, stop, floor, Kind);
    if (j == stop || j - floor < exportOpen.size() || !hasAt(text, j - exportOpen.size(), exportOpen)) {
        return std::nullopt;
    }
    m.kind = text.substr(j, stop - j);

    stop = j - exportOpen.size();
    j = skipBackward(text, stop, floor, Space);
    if (j == stop || j - floor < pragmaWord.size() || !hasAt(text, j - pragmaWord.size(), pragmaWord)) {
        return std::nullopt;
    }
    m.begin = j - pragmaWord.size();
    return m;
}

void addRecord(std::vector<ExportedUniform>& found, std::string_view name, std::string_view kind,
               std::string_view target, std::string_view typeName) {
    ExportedUniform& record = found.emplace_back();
    record.name = name;
    record.kind = kind;
    record.target = target;
    record.typeName = typeName;
    record.type = classifyType(typeName);
}

}  // namespace

UniformType classifyType(std::string_view typeName) {
    if (typeName == "float") return UniformType::Float;
    if (typeName == "vec2") return UniformType::Vec2;
    if (typeName == "vec3") return UniformType::Vec3;
    if (typeName == "vec4") return UniformType::Vec4;
    return UniformType::Other;
}

ExportKind classifyKind(std::string_view kind) {
    if (kind == "rocket") return ExportKind::Rocket;
    if (kind == "imgui") return ExportKind::Imgui;
    if (kind == "internal") return ExportKind::Internal;
    return ExportKind::Other;
}

std::vector<ExportedUniform> scanExports(std::string_view text) {
    std::vector<ExportedUniform> found;
    // Text before floor has been settled: it ends with an inserted declaration
    // (or is empty), so no later match can start in it.
    std::size_t floor = 0;
    std::size_t from = 0;
    while (true) {
        const std::size_t at = text.find(pragmaWord, from);
        if (at == std::string_view::npos) break;
        const std::optional<Match> m = matchAt(text, at);
        if (!m) {
            from = at + 1;
            continue;
        }
        addRecord(found, m->name, m->kind, m->target, m->typeName);
        // Annotations waiting in front of the rewritten declaration take it
        // over one after another, the nearest first.
        std::size_t start = m->begin;
        while (const std::optional<Match> prefix = prefixEndingAt(text, start, floor)) {
            addRecord(found, m->name, prefix->kind, prefix->target, m->typeName);
            start = prefix->begin;
        }
        floor = m->end;
        from = m->end;
    }
    return found;
}
