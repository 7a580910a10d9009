// JsonWriter: a small streaming JSON emitter for zyr-check's --json output.
//
// Use:
//     JsonWriter json;
//     json.beginObject();
//     json.key("errors").value(2);
//     json.key("findings").beginArray(); ... json.endArray();
//     json.endObject();
//     std::string text = json.str();
//
// Strings are written as valid JSON whatever bytes they hold: quotes,
// backslashes and control characters are escaped, and bytes that are not
// well-formed UTF-8 become U+FFFD, because archive content (shader lines,
// entry names) is arbitrary bytes. Non-finite numbers are written as null.
//
// Ownership: owns the text it builds. Failure: none; keeping begin/end and
// key/value pairs balanced is the caller's part.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class JsonWriter {
public:
    JsonWriter& beginObject();
    JsonWriter& endObject();
    JsonWriter& beginArray();
    JsonWriter& endArray();
    JsonWriter& key(std::string_view name);
    JsonWriter& value(std::string_view text);
    JsonWriter& value(const char* text) { return value(std::string_view(text)); }
    JsonWriter& value(bool flag);
    JsonWriter& value(std::int64_t number);
    JsonWriter& value(int number) { return value(static_cast<std::int64_t>(number)); }
    JsonWriter& value(std::uint64_t number);
    JsonWriter& value(double number);
    JsonWriter& null();

    const std::string& str() const { return out_; }

private:
    void separate();
    void open(char bracket);
    void close(char bracket);

    std::string out_;
    // Per open container: whether something was written in it yet.
    std::vector<bool> hasItems_;
    bool afterKey_ = false;
};

// s as a JSON string literal, quotes included.
std::string jsonString(std::string_view s);
