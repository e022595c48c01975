// JSON Lines output of the reference server: one object per line, built
// field by field. Texts from the wire are untrusted bytes: every byte is
// written as the code point of the same value (0x00-0xFF), control and
// non-ASCII bytes as \u00XX escapes, so a line is always ASCII, valid JSON
// and lossless (a reader gets the bytes back by taking code points as bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace marvik {

struct JsonObject {
    std::string text = "{";
    bool empty = true;
};

// Appends s as a JSON string literal, quotes included.
void jsonAppendString(std::string& out, const char* bytes, std::size_t n);
std::string jsonString(const std::string& bytes);

// A fixed-size text field of a packet: up to its first NUL, or all of it
// when the sender left no terminator.
std::string fieldText(const char* field, std::size_t fieldSize);

void jsonAddRaw(JsonObject& o, const char* key, const std::string& jsonValue);
void jsonAddString(JsonObject& o, const char* key, const std::string& bytes);
void jsonAddUint(JsonObject& o, const char* key, std::uint64_t value);
void jsonAddBool(JsonObject& o, const char* key, bool value);
// "0x" and lowercase hex, as hex is how ids and checksums are read.
void jsonAddHex(JsonObject& o, const char* key, std::uint32_t value);
std::string jsonFinish(const JsonObject& o);

std::string hex32(std::uint32_t value);
std::string hexBytes(const std::uint8_t* bytes, std::size_t n);
std::string base64(const std::uint8_t* bytes, std::size_t n);

}  // namespace marvik
