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

// Returns bytes as a JSON string literal, quotes included.
std::string jsonString(const std::string& bytes);

// Returns a fixed-size text field of a packet: up to its first NUL, or all
// of it when the sender left no terminator.
std::string fieldText(const char* field, std::size_t fieldSize);

// Adds a field whose value is already JSON text to o; returns nothing.
void jsonAddRaw(JsonObject& o, const char* key, const std::string& jsonValue);
// Adds a field of wire bytes, written as a JSON string, to o; returns nothing.
void jsonAddString(JsonObject& o, const char* key, const std::string& bytes);
// Adds a field holding a whole number to o; returns nothing.
void jsonAddUint(JsonObject& o, const char* key, std::uint64_t value);
// Adds a field holding true or false to o; returns nothing.
void jsonAddBool(JsonObject& o, const char* key, bool value);
// Adds a field holding value as hex32 writes it to o, as hex is how ids and
// checksums are read; returns nothing.
void jsonAddHex(JsonObject& o, const char* key, std::uint32_t value);

// Returns the object's text, closed.
std::string jsonFinish(const JsonObject& o);

// Returns value as "0x" and eight lowercase hex digits.
std::string hex32(std::uint32_t value);

// Returns the standard Base64 (RFC 4648) of the bytes, padded with '='.
std::string base64(const std::uint8_t* bytes, std::size_t n);

}  // namespace marvik
