// The pure parts of the anti-tamper check: reading a function's first
// bytes for a hook, and comparing a code section with its file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

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

// The code section of a PE image as it must look loaded at actualBase: the
// raw section bytes from the file with its base relocations applied. Empty
// when the file is not a PE image this can read.
struct CodeSection {
    std::uint32_t rva = 0;
    std::vector<std::uint8_t> bytes;
    bool readOnlyData = false;  // initialized, readable, neither writable nor executable
};
CodeSection expectedCodeSection(const std::vector<std::uint8_t>& file, std::uint64_t actualBase);

// Every executable section of a PE image of either format (PE32 or PE32+,
// whatever this build's own width) as it must look loaded at actualBase,
// and what names the image: a loaded module whose header disagrees was not
// mapped from this file. Empty sections when the file cannot be read as a PE
// image or its relocations cannot be found.
// The file is whoever made the module's, so the work is bounded by it: at
// most MAX_CODE_SECTIONS executable sections holding MAX_CODE_BYTES in all
// (more gives empty sections), every offset checked against the file, and
// one pass over the relocation directory's bytes per section.
constexpr std::size_t MAX_CODE_SECTIONS = 96;
constexpr std::size_t MAX_CODE_BYTES = std::size_t(64) << 20;
struct ImageCode {
    bool pe64 = false;
    std::uint32_t timeDateStamp = 0;
    std::uint32_t sizeOfImage = 0;
    std::uint32_t entryPoint = 0;
    std::uint32_t iatRva = 0;  // the import address table, which the loader fills in
    std::uint32_t iatSize = 0;
    std::vector<CodeSection> sections;
};
// With withReadOnlyData, the read-only data sections too (where compilers
// put C++ and COM method tables), under the same bounds.
ImageCode expectedImageCode(const std::vector<std::uint8_t>& file, std::uint64_t actualBase,
                            bool withReadOnlyData = false);

}  // namespace marvik
