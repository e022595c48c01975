// The pure parts of the anti-tamper check: reading a function's first
// bytes for a hook, and comparing a code section with its file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace marvik {

// What a function's first bytes do.
struct Prologue {
    bool breakpoint = false;  // INT3 written over the entry
    bool jumps = false;       // the entry transfers control at once
    std::uint64_t target = 0; // where to, when known from the bytes alone
    bool indirect = false;    // target is the address of a pointer to read
};
// bytes: at least 16 bytes read at address.
Prologue decodePrologue(const std::uint8_t* bytes, std::size_t length, std::uint64_t address);

// The code section of a PE image as it must look loaded at actualBase: the
// raw section bytes from the file with its base relocations applied. Empty
// when the file is not a PE image this can read.
struct CodeSection {
    std::uint32_t rva = 0;
    std::vector<std::uint8_t> bytes;
};
CodeSection expectedCodeSection(const std::vector<std::uint8_t>& file, std::uint64_t actualBase);

}  // namespace marvik
