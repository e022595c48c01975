// One field of a reference server event's JSON line, for the native tests.
#pragma once

#include <string>

namespace marvik::test {

// The text of a top-level field as written: a string without its quotes,
// or a number or boolean; empty when the field is missing.
inline std::string field(const std::string& json, const std::string& key) {
    std::size_t at = json.find("\"" + key + "\":");
    if (at == std::string::npos) return "";
    at += key.size() + 3;
    bool quoted = json[at] == '"';
    std::size_t end = quoted ? json.find('"', at + 1) : json.find_first_of(",}", at);
    return json.substr(at + quoted, end - at - quoted);
}

}  // namespace marvik::test
