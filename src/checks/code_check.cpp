#include "checks/code_check.h"

#include <cstring>

#include "base/little_endian.h"

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

ImageCode expectedImageCode(const std::vector<std::uint8_t>& file, std::uint64_t actualBase, bool withReadOnlyData) {
    ImageCode out;
    const std::size_t n = file.size();
    if (n < 0x40 || file[0] != 'M' || file[1] != 'Z') return out;
    const std::uint32_t pe = loadLe32(&file[0x3C]);
    if (pe > n - 24 || std::memcmp(&file[pe], "PE\0\0", 4) != 0) return out;
    const std::uint16_t sections = loadLe16(&file[pe + 6]);
    const std::uint16_t optSize = loadLe16(&file[pe + 20]);
    const std::size_t opt = pe + 24;
    if (opt + optSize > n || optSize < 0x70) return out;
    out.pe64 = loadLe16(&file[opt]) == 0x20B;
    out.timeDateStamp = loadLe32(&file[pe + 8]);
    out.entryPoint = loadLe32(&file[opt + 16]);
    out.sizeOfImage = loadLe32(&file[opt + 56]);
    const std::uint64_t fileBase = out.pe64 ? loadLe64(&file[opt + 24]) : loadLe32(&file[opt + 28]);
    const std::size_t dirs = opt + (out.pe64 ? 112 : 96);
    if (dirs + 6 * 8 > opt + optSize) return out;
    const std::uint32_t relocRva = loadLe32(&file[dirs + 5 * 8]);
    const std::uint32_t relocSize = loadLe32(&file[dirs + 5 * 8 + 4]);
    if (dirs + 13 * 8 <= opt + optSize) {
        out.iatRva = loadLe32(&file[dirs + 12 * 8]);
        out.iatSize = loadLe32(&file[dirs + 12 * 8 + 4]);
    }
    const std::size_t table = opt + optSize;
    if (table + static_cast<std::size_t>(sections) * 40 > n) return out;

    // RVA to file offset, through the section table.
    auto fileOffset = [&](std::uint32_t rva, std::uint32_t length) -> std::size_t {
        for (std::uint16_t i = 0; i < sections; ++i) {
            const std::uint8_t* s = &file[table + i * 40];
            const std::uint32_t va = loadLe32(s + 12), raw = loadLe32(s + 16), ptr = loadLe32(s + 20);
            if (rva >= va && rva - va + static_cast<std::uint64_t>(length) <= raw &&
                ptr + static_cast<std::uint64_t>(raw) <= n)
                return ptr + (rva - va);
        }
        return 0;
    };

    constexpr std::uint32_t CODE = 0x20, EXECUTE = 0x20000000;  // IMAGE_SCN_CNT_CODE, IMAGE_SCN_MEM_EXECUTE
    constexpr std::uint32_t INITIALIZED = 0x40, READ = 0x40000000, WRITE = 0x80000000, DISCARDABLE = 0x02000000;
    std::size_t codeBytes = 0;
    for (std::uint16_t i = 0; i < sections; ++i) {
        const std::uint8_t* s = &file[table + i * 40];
        const std::uint32_t flags = loadLe32(s + 36);
        const bool readOnlyData = (flags & (CODE | EXECUTE)) == 0 && (flags & (INITIALIZED | READ)) == (INITIALIZED | READ) &&
                                  (flags & (WRITE | DISCARDABLE)) == 0;
        if ((flags & (CODE | EXECUTE)) == 0 && !(withReadOnlyData && readOnlyData)) continue;
        if (readOnlyData && std::memcmp(s, ".rsrc", 6) == 0) continue;  // resources: large, and no code reads them as tables
        // Sections may overlap in the file: thousands of them over one
        // large span would be copied thousands of times. No module a
        // compiler makes comes near either bound.
        if (out.sections.size() == MAX_CODE_SECTIONS) return ImageCode{};
        const std::uint32_t va = loadLe32(s + 12), raw = loadLe32(s + 16), ptr = loadLe32(s + 20);
        std::uint32_t size = loadLe32(s + 8);  // VirtualSize: what is loaded
        if (size == 0 || size > raw) size = raw;
        if (size == 0) continue;
        if (ptr + static_cast<std::uint64_t>(size) > n) return ImageCode{};
        codeBytes += size;
        if (codeBytes > MAX_CODE_BYTES) return ImageCode{};
        CodeSection section;
        section.rva = va;
        section.readOnlyData = readOnlyData;
        section.bytes.assign(file.begin() + ptr, file.begin() + ptr + size);
        out.sections.push_back(std::move(section));
    }
    if (out.sections.empty()) return out;

    const std::uint64_t delta = actualBase - fileBase;
    if (delta != 0 && relocRva != 0 && relocSize != 0) {
        const std::size_t start = fileOffset(relocRva, relocSize);
        if (start == 0) {
            out.sections.clear();
            return out;
        }
        std::size_t at = start;
        while (at + 8 <= start + relocSize) {
            const std::uint32_t page = loadLe32(&file[at]);
            const std::uint32_t blockSize = loadLe32(&file[at + 4]);
            if (blockSize < 8 || at + blockSize > start + relocSize) break;
            for (std::size_t e = at + 8; e + 2 <= at + blockSize; e += 2) {
                const std::uint16_t entry = loadLe16(&file[e]);
                const unsigned type = entry >> 12;
                const std::uint64_t rva = static_cast<std::uint64_t>(page) + (entry & 0xFFF);
                const unsigned width = type == 10 ? 8 : type == 3 ? 4 : 0;  // DIR64, HIGHLOW
                if (width == 0) continue;
                for (CodeSection& section : out.sections) {
                    if (rva < section.rva || rva + width > section.rva + section.bytes.size()) continue;
                    std::uint8_t* p = &section.bytes[rva - section.rva];
                    if (width == 8)
                        storeLe64(p, loadLe64(p) + delta);
                    else
                        storeLe32(p, loadLe32(p) + static_cast<std::uint32_t>(delta));
                    break;
                }
            }
            at += blockSize;
        }
    }
    return out;
}

CodeSection expectedCodeSection(const std::vector<std::uint8_t>& file, std::uint64_t actualBase) {
    // The section named .text, as the client's own toolchain names its code.
    const std::size_t n = file.size();
    ImageCode image = expectedImageCode(file, actualBase);
    if (image.sections.empty()) return CodeSection{};
    const std::uint32_t pe = loadLe32(&file[0x3C]);
    const std::uint16_t sections = loadLe16(&file[pe + 6]);
    const std::size_t table = pe + 24 + loadLe16(&file[pe + 20]);
    for (std::uint16_t i = 0; i < sections && table + (i + 1) * 40u <= n; ++i) {
        const std::uint8_t* s = &file[table + i * 40];
        if (std::memcmp(s, ".text", 5) != 0) continue;
        for (CodeSection& section : image.sections)
            if (section.rva == loadLe32(s + 12)) return std::move(section);
    }
    return CodeSection{};
}

}  // namespace marvik
