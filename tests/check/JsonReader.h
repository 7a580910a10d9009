// A strict JSON reader for the checker's tests: RFC 8259 syntax, strings that
// must be well-formed UTF-8, escapes decoded. Throws std::runtime_error on
// anything that is not valid JSON, which is what the tests rely on.
//
//     JsonValue doc = parseJson(text);
//     double errors = doc.at("errors").number;
#pragma once

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    double number = 0.0;
    std::string string;
    std::vector<JsonValue> array;
    std::map<std::string, JsonValue> object;

    const JsonValue& at(const std::string& key) const {
        const auto found = object.find(key);
        if (kind != Kind::Object || found == object.end()) throw std::runtime_error("no key " + key);
        return found->second;
    }
    bool has(const std::string& key) const { return kind == Kind::Object && object.contains(key); }
};

JsonValue parseJson(std::string_view text);
