// Patched code found through the working-set query: the system answers it
// for the asking process itself (Wine only for that one), so this process
// patches its own code and scans itself, as the client scans a game on
// Windows. The stand-in game fixtures, seen through Wine's fallback, are
// the system test's.
#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "checks/checks.h"

namespace marvik {
namespace {

__attribute__((noinline, used)) int neverCalledHere(int x) { return x * 5 + (x >> 2); }

void writeCode(void* at, const void* bytes, std::size_t n) {
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(at, n, PAGE_EXECUTE_READWRITE, &old));
    std::memcpy(at, bytes, n);
    VirtualProtect(at, n, old, &old);
    FlushInstructionCache(GetCurrentProcess(), at, n);
}

std::vector<MemoryScanHit> codePatches() {
    std::vector<MemoryScanHit> patches;
    for (const MemoryScanHit& h : scanProcessMemory(GetCurrentProcessId()))
        if (h.description.rfind("Code patch ", 0) == 0) patches.push_back(h);
    return patches;
}

TEST(CodePatchWin32, OwnWrittenPagesComparedAndRestoredOnesSilent) {
    ASSERT_TRUE(codePatches().empty());
    auto* nop = reinterpret_cast<unsigned char*>(&neverCalledHere);
    auto* tape = reinterpret_cast<unsigned char*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTapeParameters"));
    ASSERT_NE(tape, nullptr);
    auto* block = static_cast<unsigned char*>(VirtualAlloc(nullptr, 0x1000, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(block, nullptr);
    block[0] = 0xC3;
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(block, 0x1000, PAGE_EXECUTE_READ, &old));
    unsigned char savedNop[3], savedTape[12];
    std::memcpy(savedNop, nop, sizeof savedNop);
    std::memcpy(savedTape, tape, sizeof savedTape);

    const unsigned char nops[3] = {0x90, 0x90, 0x90};
    unsigned char detour[12] = {0x48, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xE0};  // mov rax, imm64; jmp rax
    std::size_t detourLength = 12;
    const std::uintptr_t to = reinterpret_cast<std::uintptr_t>(block);
    if (sizeof(void*) == 8) {
        std::memcpy(detour + 2, &to, 8);
    } else {
        detour[0] = 0x68;  // push imm32; ret
        std::memcpy(detour + 1, &to, 4);
        detour[5] = 0xC3;
        detourLength = 6;
    }
    writeCode(nop, nops, sizeof nops);
    writeCode(tape, detour, detourLength);
    const std::vector<MemoryScanHit> hits = codePatches();
    writeCode(nop, savedNop, sizeof savedNop);
    writeCode(tape, savedTape, sizeof savedTape);
    VirtualFree(block, 0, MEM_RELEASE);

    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[0].address, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(nop)));
    EXPECT_EQ(hits[0].size, 3u);
    EXPECT_NE(hits[0].description.find(" (3 bytes)"), std::string::npos) << hits[0].description;
    EXPECT_EQ(hits[1].address, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(tape)));
    EXPECT_EQ(hits[1].size, detourLength);
    std::string detoured = hits[1].description;
    for (char& c : detoured) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_NE(detoured.find("kernel32.dll+0x"), std::string::npos) << hits[1].description;
    EXPECT_NE(hits[1].description.find("-> private 0x"), std::string::npos) << hits[1].description;
    // Written back as the file has them, the pages stay private copies and
    // are compared again, equal now.
    EXPECT_TRUE(codePatches().empty());
}

}  // namespace
}  // namespace marvik
