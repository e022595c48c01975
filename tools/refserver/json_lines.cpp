#include "json_lines.h"

#include <cstdio>

namespace marvik {

void jsonAppendString(std::string& out, const char* bytes, std::size_t n) {
    static const char digits[] = "0123456789abcdef";
    out += '"';
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
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
    out += '"';
}

std::string jsonString(const std::string& bytes) {
    std::string out;
    jsonAppendString(out, bytes.data(), bytes.size());
    return out;
}

std::string fieldText(const char* field, std::size_t fieldSize) {
    std::size_t n = 0;
    while (n < fieldSize && field[n] != '\0') ++n;
    return std::string(field, n);
}

void jsonAddRaw(JsonObject& o, const char* key, const std::string& jsonValue) {
    if (!o.empty) o.text += ',';
    o.empty = false;
    jsonAppendString(o.text, key, std::char_traits<char>::length(key));
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

std::string hexBytes(const std::uint8_t* bytes, std::size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(n * 2);
    for (std::size_t i = 0; i < n; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

std::string base64(const std::uint8_t* bytes, std::size_t n) {
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((n + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < n; i += 3) {
        std::uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += alphabet[(v >> 6) & 63];
        out += alphabet[v & 63];
    }
    if (i + 1 == n) {
        std::uint32_t v = bytes[i] << 16;
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += "==";
    } else if (i + 2 == n) {
        std::uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8);
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += alphabet[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

}  // namespace marvik
