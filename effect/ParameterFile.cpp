#include "ParameterFile.h"

#include <toml++/toml.h>

#include <array>
#include <cstddef>

ParameterFileError::ParameterFileError(std::uint32_t line, std::uint32_t column, const std::string& description)
    : std::runtime_error(std::to_string(line) + ":" + std::to_string(column) + ": " + description),
      line_(line),
      column_(column),
      description_(description) {}

namespace {

// The parser descends recursively into nested arrays, inline tables and the
// tables that dotted keys and table headers open, and frees the result the same
// way; a few hundred arrays, or some ten thousand key parts, exhaust the stack
// before its own limits apply. A parameter file needs two levels.
constexpr std::uint32_t kMaxNesting = 64;

// toml++ 3.3.0 classifies some non-ASCII characters (U+00A1 to U+0499 among
// them, e.g. the bytes D1 BF) as white space or not through a branch marked
// unreachable: undefined behaviour wherever it asks, which is at every
// character outside strings and comments and at the first one after a
// line-ending backslash in a multi-line basic string. TOML allows no non-ASCII
// character in the first place, and in the second only as text that could as
// well follow a line break; both are refused here.
//
// Rejects documents nested deeper than kMaxNesting, or with non-ASCII characters
// where the parser would misjudge them, without parsing them. Counts the levels
// a valid document would build: table header parts, key parts, and arrays and
// inline tables, skipping strings and comments. A document this scan misreads is
// not valid TOML; at worst it is refused here instead of by the parser.
class GuardScan {
public:
    explicit GuardScan(std::string_view text) : text_(text) {}

    void run() {
        // A byte order mark is not content; the parser skips it too.
        if (startsWith("\xEF\xBB\xBF")) at_ = 3;
        while (at_ < text_.size()) {
            const char c = text_[at_];
            if (!isAscii(c)) refuseNonAscii("outside a string or comment");
            if (c == '\n') {
                advance();
                if (depth_ == 0) startKey();
            } else if (c == ' ' || c == '\t' || c == '\r') {
                advance();
            } else if (c == '#') {
                while (at_ < text_.size() && text_[at_] != '\n') advance();
            } else if (readingKey_) {
                key(c);
            } else {
                value(c);
            }
        }
    }

private:
    enum class Container : char { Array, InlineTable };
    struct Open {
        Container container;
        std::uint32_t level;  // level of the array or table itself
    };

    void advance() {
        const unsigned char c = static_cast<unsigned char>(text_[at_++]);
        if (c == '\n') {
            ++line_;
            column_ = 1;
        } else if ((c & 0xC0) != 0x80) {  // columns count characters, not UTF-8 bytes
            ++column_;
        }
    }

    [[noreturn]] void refuse() const {
        throw ParameterFileError(line_, column_,
                                 "values nested deeper than " + std::to_string(kMaxNesting) + " levels");
    }

    static bool isAscii(char c) { return (static_cast<unsigned char>(c) & 0x80) == 0; }

    [[noreturn]] void refuseNonAscii(const char* where) const {
        throw ParameterFileError(line_, column_, std::string("a non-ASCII character ") + where);
    }

    std::uint32_t baseLevel() const { return depth_ == 0 ? headerLevel_ : open_[depth_ - 1].level; }

    void startKey() {
        readingKey_ = true;
        keyStarted_ = false;
        keyParts_ = 1;
    }

    void key(char c) {
        if (c == '[' && depth_ == 0 && !keyStarted_) {
            header();
            return;
        }
        keyStarted_ = true;
        if (c == '"' || c == '\'') {
            skipString(c);
            return;
        }
        if (c == '.' || c == '=') {
            if (c == '.') ++keyParts_;
            if (baseLevel() + keyParts_ > kMaxNesting) refuse();
        }
        if (c == '=') {
            valueLevel_ = baseLevel() + keyParts_;
            readingKey_ = false;
        } else if (c == '}' && depth_ > 0 && open_[depth_ - 1].container == Container::InlineTable) {
            close();
            return;
        }
        advance();
    }

    void value(char c) {
        if (c == '"' || c == '\'') {
            skipString(c);
            return;
        }
        if (c == '[' || c == '{') {
            // Whatever the array or table holds sits one level further down.
            if (valueLevel_ >= kMaxNesting || depth_ == open_.size()) refuse();
            const Container container = c == '[' ? Container::Array : Container::InlineTable;
            open_[depth_++] = Open{container, valueLevel_};
            advance();
            if (container == Container::Array) {
                valueLevel_ = open_[depth_ - 1].level + 1;
            } else {
                startKey();
            }
            return;
        }
        if (depth_ > 0) {
            const Container inside = open_[depth_ - 1].container;
            if ((c == ']' && inside == Container::Array) || (c == '}' && inside == Container::InlineTable)) {
                close();
                return;
            }
            if (c == ',' && inside == Container::InlineTable) {
                advance();
                startKey();
                return;
            }
        }
        if (c == ',' || c == ']' || c == '}') {
            advance();
            return;
        }
        bareValue();
    }

    // A number, boolean or date. The parser reads such a value ahead to its
    // end before it judges it, through quotes and brackets alike, so none of
    // those start a string or a container here.
    void bareValue() {
        while (at_ < text_.size()) {
            const char c = text_[at_];
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',' || c == ']' || c == '}' || c == '#') return;
            if (!isAscii(c)) refuseNonAscii("outside a string or comment");
            advance();
        }
    }

    void close() {
        advance();
        --depth_;
        readingKey_ = false;
        if (depth_ > 0 && open_[depth_ - 1].container == Container::Array) {
            valueLevel_ = open_[depth_ - 1].level + 1;
        }
    }

    // "[a.b]" or "[[a.b]]": the tables of the keys that follow sit below it.
    void header() {
        advance();
        std::uint32_t level = 1;
        if (at_ < text_.size() && text_[at_] == '[') {
            advance();
            ++level;  // an array of tables: the table is an element of the array
        }
        while (at_ < text_.size() && text_[at_] != ']' && text_[at_] != '\n') {
            const char c = text_[at_];
            if (c == '"' || c == '\'') {
                skipString(c);
                continue;
            }
            if (!isAscii(c)) refuseNonAscii("outside a string or comment");
            if (c == '.' && ++level > kMaxNesting) refuse();
            advance();
        }
        headerLevel_ = level;
        // The rest of the line holds the closing brackets and perhaps a comment.
        readingKey_ = false;
        valueLevel_ = level;
    }

    bool startsWith(std::string_view what) const { return text_.substr(at_).starts_with(what); }

    void skipString(char quote) {
        const bool basic = quote == '"';
        const std::string_view triple = basic ? std::string_view("\"\"\"") : std::string_view("'''");
        if (startsWith(triple)) {
            for (int i = 0; i < 3; ++i) advance();
            while (at_ < text_.size()) {
                if (basic && text_[at_] == '\\') {
                    advance();
                    lineEndingBackslash();
                } else if (startsWith(triple)) {
                    // Up to two quotes of the content may stand right before the closing three.
                    while (at_ < text_.size() && text_[at_] == quote) advance();
                    return;
                } else {
                    advance();
                }
            }
            return;
        }
        advance();
        while (at_ < text_.size() && text_[at_] != '\n') {
            const char c = text_[at_];
            advance();
            if (c == quote) return;
            if (basic && c == '\\' && at_ < text_.size() && text_[at_] != '\n') advance();
        }
    }

    // After the backslash of a multi-line basic string: an escape, or a
    // backslash that ends the line, after which the parser skips white space
    // and line breaks and looks at what follows.
    void lineEndingBackslash() {
        if (at_ >= text_.size()) return;
        const char c = text_[at_];
        if (!isAscii(c)) refuseNonAscii("after a backslash");
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') {
            advance();
            return;
        }
        while (at_ < text_.size() &&
               (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\r' || text_[at_] == '\n')) {
            advance();
        }
        if (at_ < text_.size() && !isAscii(text_[at_])) refuseNonAscii("right after a line-ending backslash");
    }

    std::string_view text_;
    std::size_t at_ = 0;
    std::uint32_t line_ = 1;
    std::uint32_t column_ = 1;

    std::array<Open, kMaxNesting> open_{};
    std::size_t depth_ = 0;
    std::uint32_t headerLevel_ = 0;
    std::uint32_t valueLevel_ = 0;
    bool readingKey_ = true;
    bool keyStarted_ = false;
    std::uint32_t keyParts_ = 1;
};

}  // namespace

std::vector<ParameterTable> readParameterFile(std::string_view text) {
    GuardScan(text).run();

    toml::table document;
    try {
        document = toml::parse(text);
    } catch (const toml::parse_error& error) {
        const toml::source_position& at = error.source().begin;
        throw ParameterFileError(at.line, at.column, std::string(error.description()));
    }

    static const std::array<toml::path, 4> components{toml::path("v0"), toml::path("v1"), toml::path("v2"),
                                                      toml::path("v3")};
    std::vector<ParameterTable> tables;
    tables.reserve(document.size());
    for (auto&& [key, node] : document) {
        ParameterTable& table = tables.emplace_back();
        table.name = std::string(key.str());
        for (std::size_t j = 0; j < components.size(); ++j) {
            table.values[j] = node.at_path(components[j]).value_or(0.0f);
        }
    }
    return tables;
}
