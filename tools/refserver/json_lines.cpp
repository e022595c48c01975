#include "json_lines.h"

#include <cstdio>

namespace marvik {

std::string jsonString(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out = "\"";
    for (unsigned char c : bytes) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            out += "\\u00";
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out + '"';
}

std::string fieldText(const char* field, std::size_t fieldSize) {
    std::size_t n = 0;
    while (n < fieldSize && field[n] != '\0') ++n;
    return std::string(field, n);
}

void jsonAddRaw(JsonObject& o, const char* key, const std::string& jsonValue) {
    if (!o.empty) o.text += ',';
    o.empty = false;
    o.text += jsonString(key);
    o.text += ':';
    o.text += jsonValue;
}

void jsonAddString(JsonObject& o, const char* key, const std::string& bytes) {
    jsonAddRaw(o, key, jsonString(bytes));
}

void jsonAddUint(JsonObject& o, const char* key, std::uint64_t value) {
    jsonAddRaw(o, key, std::to_string(value));
}

void jsonAddBool(JsonObject& o, const char* key, bool value) {
    jsonAddRaw(o, key, value ? "true" : "false");
}

void jsonAddHex(JsonObject& o, const char* key, std::uint32_t value) {
    jsonAddRaw(o, key, jsonString(hex32(value)));
}

std::string jsonFinish(const JsonObject& o) { return o.text + "}"; }

std::string hex32(std::uint32_t value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08x", static_cast<unsigned>(value));
    return buf;
}

std::string base64(const std::uint8_t* bytes, std::size_t n) {
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < n; i += 3) {
        std::uint32_t v = static_cast<std::uint32_t>(bytes[i]) << 16;
        if (i + 1 < n) v |= static_cast<std::uint32_t>(bytes[i + 1]) << 8;
        if (i + 2 < n) v |= bytes[i + 2];
        // Of each 3 bytes, n - i of them present give n - i + 1 characters.
        for (std::size_t k = 0; k < 4; ++k)
            out += k <= n - i ? alphabet[(v >> (18 - 6 * k)) & 63] : '=';
    }
    return out;
}

}  // namespace marvik
