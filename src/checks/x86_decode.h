// The one x86 decoder: what the first instructions at an address do, for
// hooks over a function's entry and the relay stubs hooking libraries put
// between a patched jump and where it finally leads. Both widths.
#pragma once

#include <cstddef>
#include <cstdint>

namespace marvik {

// The instruction set a function's bytes are read in. The two read FF 25
// differently (x86: jmp [abs32]; x64: jmp [rip+disp32]), and the
// REX-prefixed forms (48, 49) exist on x64 only: on x86 those bytes are
// other instructions.
enum class CodeWidth { X86, X64 };
// The width of this build's own code, which is what the client checks.
constexpr CodeWidth NATIVE_CODE_WIDTH = sizeof(void*) == 8 ? CodeWidth::X64 : CodeWidth::X86;

// What a function's first bytes do.
struct Prologue {
    bool breakpoint = false;  // INT3 written over the entry
    bool jumps = false;       // the entry transfers control at once
    std::uint64_t target = 0; // where to, when known from the bytes alone
    bool indirect = false;    // target is the address of a pointer (4 bytes on x86, 8 on x64) to read
    bool call = false;        // a call rather than a jump (E8 rel32)
    unsigned length = 0;      // bytes of the transfer's instruction(s), when it jumps
};
// bytes: at least 16 bytes read at address. On x86 every address is taken
// modulo 2^32, as the processor does.
Prologue decodePrologue(const std::uint8_t* bytes, std::size_t length, std::uint64_t address, CodeWidth width);

}  // namespace marvik
