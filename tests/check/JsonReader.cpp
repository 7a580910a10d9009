#include "JsonReader.h"

#include <cstdlib>

namespace {

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    JsonValue document() {
        JsonValue value = read(0);
        skipSpace();
        if (at_ != text_.size()) fail("text after the value");
        return value;
    }

private:
    [[noreturn]] void fail(const std::string& why) const {
        throw std::runtime_error("invalid JSON at byte " + std::to_string(at_) + ": " + why);
    }

    void skipSpace() {
        while (at_ < text_.size() && std::string_view(" \t\n\r").find(text_[at_]) != std::string_view::npos) ++at_;
    }

    char peek() {
        if (at_ >= text_.size()) fail("unexpected end");
        return text_[at_];
    }

    void expect(std::string_view word) {
        if (text_.substr(at_, word.size()) != word) fail("expected " + std::string(word));
        at_ += word.size();
    }

    JsonValue read(int depth) {
        if (depth > 200) fail("nested too deeply");
        skipSpace();
        JsonValue value;
        const char c = peek();
        if (c == '{') {
            value.kind = JsonValue::Kind::Object;
            ++at_;
            skipSpace();
            if (peek() == '}') {
                ++at_;
                return value;
            }
            for (;;) {
                skipSpace();
                if (peek() != '"') fail("expected a key");
                std::string key = string();
                skipSpace();
                expect(":");
                if (value.object.contains(key)) fail("duplicate key " + key);
                value.object.emplace(std::move(key), read(depth + 1));
                skipSpace();
                if (peek() == ',') {
                    ++at_;
                    continue;
                }
                expect("}");
                return value;
            }
        }
        if (c == '[') {
            value.kind = JsonValue::Kind::Array;
            ++at_;
            skipSpace();
            if (peek() == ']') {
                ++at_;
                return value;
            }
            for (;;) {
                value.array.push_back(read(depth + 1));
                skipSpace();
                if (peek() == ',') {
                    ++at_;
                    continue;
                }
                expect("]");
                return value;
            }
        }
        if (c == '"') {
            value.kind = JsonValue::Kind::String;
            value.string = string();
            return value;
        }
        if (c == 't') {
            expect("true");
            value.kind = JsonValue::Kind::Bool;
            value.boolean = true;
            return value;
        }
        if (c == 'f') {
            expect("false");
            value.kind = JsonValue::Kind::Bool;
            return value;
        }
        if (c == 'n') {
            expect("null");
            return value;
        }
        value.kind = JsonValue::Kind::Number;
        value.number = number();
        return value;
    }

    double number() {
        const std::size_t start = at_;
        const auto digits = [&] {
            const std::size_t from = at_;
            while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
            if (at_ == from) fail("expected digits");
        };
        if (peek() == '-') ++at_;
        if (peek() == '0') ++at_;
        else digits();
        if (at_ < text_.size() && text_[at_] == '.') {
            ++at_;
            digits();
        }
        if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
            ++at_;
            if (peek() == '+' || peek() == '-') ++at_;
            digits();
        }
        return std::strtod(std::string(text_.substr(start, at_ - start)).c_str(), nullptr);
    }

    unsigned hex4() {
        unsigned value = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = peek();
            ++at_;
            value <<= 4;
            if (c >= '0' && c <= '9') value |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f') value |= static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') value |= static_cast<unsigned>(c - 'A' + 10);
            else fail("bad \\u escape");
        }
        return value;
    }

    static void appendUtf8(std::string& out, unsigned code) {
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (code >> 18)));
            out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }

    std::string string() {
        expect("\"");
        std::string out;
        for (;;) {
            const auto c = static_cast<unsigned char>(peek());
            if (c == '"') {
                ++at_;
                return out;
            }
            if (c < 0x20) fail("raw control character in a string");
            if (c == '\\') {
                ++at_;
                const char e = peek();
                ++at_;
                switch (e) {
                case '"': out.push_back('"'); break;
                case '\\': out.push_back('\\'); break;
                case '/': out.push_back('/'); break;
                case 'b': out.push_back('\b'); break;
                case 'f': out.push_back('\f'); break;
                case 'n': out.push_back('\n'); break;
                case 'r': out.push_back('\r'); break;
                case 't': out.push_back('\t'); break;
                case 'u': {
                    unsigned code = hex4();
                    if (code >= 0xD800 && code <= 0xDBFF) {
                        expect("\\u");
                        const unsigned low = hex4();
                        if (low < 0xDC00 || low > 0xDFFF) fail("unpaired surrogate");
                        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                    } else if (code >= 0xDC00 && code <= 0xDFFF) {
                        fail("unpaired surrogate");
                    }
                    appendUtf8(out, code);
                    break;
                }
                default: fail("bad escape");
                }
                continue;
            }
            if (c < 0x80) {
                out.push_back(static_cast<char>(c));
                ++at_;
                continue;
            }
            // Raw non-ASCII: must be well-formed UTF-8.
            const std::size_t length = c >= 0xC2 && c <= 0xDF   ? 2
                                       : c >= 0xE0 && c <= 0xEF ? 3
                                       : c >= 0xF0 && c <= 0xF4 ? 4
                                                                : 0;
            if (length == 0 || at_ + length > text_.size()) fail("malformed UTF-8");
            const auto second = static_cast<unsigned char>(text_[at_ + 1]);
            if ((c == 0xE0 && second < 0xA0) || (c == 0xED && second > 0x9F) || (c == 0xF0 && second < 0x90) ||
                (c == 0xF4 && second > 0x8F))
                fail("malformed UTF-8");
            for (std::size_t i = 1; i < length; ++i)
                if ((static_cast<unsigned char>(text_[at_ + i]) & 0xC0) != 0x80) fail("malformed UTF-8");
            out.append(text_.substr(at_, length));
            at_ += length;
        }
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

}  // namespace

JsonValue parseJson(std::string_view text) { return Reader(text).document(); }
