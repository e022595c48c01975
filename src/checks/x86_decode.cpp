#include "checks/x86_decode.h"

#include "app/little_endian.h"

namespace marvik {

Prologue decodePrologue(const std::uint8_t* b, std::size_t n, std::uint64_t address, CodeWidth width) {
    Prologue p;
    if (n < 16) return p;
    if (b[0] == 0xCC) {
        p.breakpoint = true;
        return p;
    }
    const bool x64 = width == CodeWidth::X64;
    auto signed32 = [b](int at) { return static_cast<std::int64_t>(static_cast<std::int32_t>(loadLe32(b + at))); };
    if (b[0] == 0xE9 || b[0] == 0xE8) {  // jmp rel32, call rel32
        p.jumps = true;
        p.call = b[0] == 0xE8;
        p.length = 5;
        p.target = address + 5 + signed32(1);
    } else if (b[0] == 0xEB) {  // jmp rel8
        p.jumps = true;
        p.length = 2;
        p.target = address + 2 + static_cast<std::int64_t>(static_cast<std::int8_t>(b[1]));
    } else if (b[0] == 0xFF && b[1] == 0x25) {
        p.jumps = true;
        p.indirect = true;
        p.length = 6;
        if (x64)  // jmp [rip+disp32]
            p.target = address + 6 + signed32(2);
        else  // jmp [abs32]: how 32-bit system DLLs forward many exports
            p.target = loadLe32(b + 2);
    } else if (x64 && b[0] == 0x48 && b[1] == 0xB8 && b[10] == 0xFF && b[11] == 0xE0) {  // mov rax, imm64; jmp rax
        p.jumps = true;
        p.length = 12;
        p.target = loadLe64(b + 2);
    } else if (x64 && b[0] == 0x49 && b[1] == 0xBB && b[10] == 0x41 && b[11] == 0xFF && b[12] == 0xE3) {  // r11
        p.jumps = true;
        p.length = 13;
        p.target = loadLe64(b + 2);
    } else if (b[0] == 0xB8 && b[5] == 0xFF && b[6] == 0xE0) {  // mov eax, imm32; jmp eax (rax, zero-extended)
        p.jumps = true;
        p.length = 7;
        p.target = loadLe32(b + 1);
    } else if (b[0] == 0x68 && b[5] == 0xC3) {  // push imm32; ret
        p.jumps = true;
        p.length = 6;
        // x64 pushes the immediate sign-extended to 8 bytes.
        p.target = x64 ? static_cast<std::uint64_t>(signed32(1)) : loadLe32(b + 1);
    }
    if (!x64) p.target &= 0xFFFFFFFFu;
    return p;
}

}  // namespace marvik
