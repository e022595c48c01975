// Modules and files for the tests that put chunked reports together, and the server's events' fields.
#pragma once

#include <string>
#include <vector>

#include "inventory/module_info.h"
#include "support/wire.h"

namespace marvik::test {

// A module loaded from path.
inline ModuleInfo module(const std::string& path) {
    ModuleInfo m;
    m.path = path;
    m.name = path.substr(path.find_last_of("\\/") + 1);
    return m;
}

// n modules "mod<i>.dll", every fourth suspicious; salt changes the CRCs.
inline std::vector<ModuleInfo> sampleModules(std::size_t n, std::uint32_t salt = 0) {
    std::vector<ModuleInfo> v(n);
    for (std::uint32_t i = 0; i < n; ++i) {
        v[i].name = "mod" + std::to_string(i) + ".dll", v[i].path = "C:\\Games\\CoD4\\" + v[i].name;
        v[i].crc32 = 0x1000u + i + (salt << 16), v[i].size = 4096u * (i + 1), v[i].suspicious = i % 4 == 3;
    }
    return v;
}

// Not text (byte 10 is 0xFF): it must survive byte for byte.
inline Bytes fileBytes(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i == 10 ? 0xFF : 'a' + i % 26);
    return b;
}

// A top-level field of a JSON line as written (a string without its quotes); empty when missing.
inline std::string field(const std::string& json, const std::string& key) {
    std::size_t at = json.find("\"" + key + "\":");
    if (at == std::string::npos) return "";
    at += key.size() + 3;
    bool quoted = json[at] == '"';
    std::size_t end = quoted ? json.find('"', at + 1) : json.find_first_of(",}", at);
    return json.substr(at + quoted, end - at - quoted);
}

}  // namespace marvik::test
