// The checks against real processes under Windows (Wine): other programs,
// and this process's own threads and code.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/exe_path.h"
#include "checks/checks.h"
#include "inventory/hash.h"
#include "checks/checks_windows.h"
#include "support/files.h"
#include "support/standin_game.h"

namespace marvik {
namespace {

using Game = test::StandinGame;

DWORD WINAPI idleThread(LPVOID stop) {
    while (WaitForSingleObject(static_cast<HANDLE>(stop), 10) == WAIT_TIMEOUT) {
    }
    return 0;
}

TEST(ChecksWin32, HardwareBreakpointOnAnotherThread) {
    EXPECT_FALSE(checkHardwareBreakpoints());
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, idleThread, stop, 0, nullptr);
    static int watched = 0;
    // Whether the system kept the registers set.
    auto setRegisters = [thread](std::uintptr_t dr0, std::uintptr_t dr7) {
        SuspendThread(thread);
        CONTEXT c{};
        c.ContextFlags = CONTEXT_DEBUG_REGISTERS;
        c.Dr0 = dr0;
        c.Dr7 = dr7;
        const bool kept = SetThreadContext(thread, &c) && GetThreadContext(thread, &c) && c.Dr0 == dr0;
        ResumeThread(thread);
        return kept;
    };
    const bool kept = setRegisters(reinterpret_cast<std::uintptr_t>(&watched), 1 | (3u << 16) | (3u << 18));
    const bool found = checkHardwareBreakpoints(), indicated = checkIntegrity().hardwareBreakpoints;
    setRegisters(0, 0);
    const bool foundAfter = checkHardwareBreakpoints();
    SetEvent(stop);
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
    CloseHandle(stop);
    if (!kept) GTEST_SKIP() << "this system does not keep debug registers";
    EXPECT_TRUE(found);
    EXPECT_TRUE(indicated);
    EXPECT_FALSE(foundAfter);
}

void writeCode(void* at, const void* bytes, std::size_t n) {
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(at, n, PAGE_EXECUTE_READWRITE, &old));
    std::memcpy(at, bytes, n);
    VirtualProtect(at, n, old, &old);
    FlushInstructionCache(GetCurrentProcess(), at, n);
}

// The memory check's findings on this process whose description starts so.
std::vector<MemoryScanHit> ownHits(const char* start) {
    std::vector<MemoryScanHit> found;
    for (const MemoryScanHit& h : scanProcessMemory(GetCurrentProcessId()))
        if (h.description.rfind(start, 0) == 0) found.push_back(h);
    return found;
}

__attribute__((noinline, used)) int neverCalledHere(int x) { return x * 5 + (x >> 2); }

// NOPs in this executable's code and a detour from a kernel32 export into
// private memory, seen by the client's own integrity indicators and by the
// memory check's comparison of code with its files. This process scans
// itself because the system answers the working-set query (which pages are
// no longer shared) only for the asking process under Wine. (What the
// reports say, at both widths: tampered_game_test.)
TEST(ChecksWin32, PatchedOwnCodeAndDetouredExportThenRestored) {
    EXPECT_EQ(integrityFlagsByte(checkIntegrity()), 0);
    ASSERT_TRUE(ownHits("Code patch ").empty());
    auto* own = reinterpret_cast<unsigned char*>(&neverCalledHere);
    auto* api = reinterpret_cast<unsigned char*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsDebuggerPresent"));
    auto* stub = static_cast<unsigned char*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READ));
    const unsigned char returnZero[] = {0x31, 0xC0, 0xC3};  // xor eax, eax; ret
    writeCode(stub, returnZero, sizeof returnZero);
#ifdef _WIN64
    unsigned char jump[12] = {0x48, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xE0};  // mov rax, stub; jmp rax
    const auto target = reinterpret_cast<std::uint64_t>(stub);
    std::memcpy(jump + 2, &target, 8);
#else
    unsigned char jump[5] = {0xE9};  // jmp rel32
    const auto rel = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(stub) -
                                                (reinterpret_cast<std::uintptr_t>(api) + 5));
    std::memcpy(jump + 1, &rel, 4);
#endif
    const unsigned char nops[3] = {0x90, 0x90, 0x90};
    unsigned char savedOwn[3], savedApi[sizeof jump];
    std::memcpy(savedOwn, own, sizeof savedOwn);
    std::memcpy(savedApi, api, sizeof savedApi);
    writeCode(own, nops, sizeof nops);
    writeCode(api, jump, sizeof jump);
    const IntegrityIndicators patched = checkIntegrity();
    const bool hooked = functionHooked(api);
    const std::vector<MemoryScanHit> hits = ownHits("Code patch ");
    writeCode(own, savedOwn, sizeof savedOwn);
    writeCode(api, savedApi, sizeof savedApi);
    EXPECT_TRUE(patched.codeModified);
    EXPECT_TRUE(patched.apiHooked);
    EXPECT_TRUE(hooked);
    EXPECT_EQ(integrityFlagsByte(checkIntegrity()), 0);
    // Written back as the files have them, the pages stay private copies
    // and are compared again, equal now.
    EXPECT_TRUE(ownHits("Code patch ").empty());
    VirtualFree(stub, 0, MEM_RELEASE);

    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[0].address, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(own)));
    EXPECT_EQ(_strnicmp(hits[1].description.c_str(), "Code patch kernel32.dll+0x", 26), 0) << hits[1].description;
}

// A forwarding entry as 32-bit system DLLs have many, jmp [pointer] (x86
// names the pointer's address, x64 its distance from the next instruction),
// built in the test's own image. The pointer is followed by set bits, which
// a read wider than a pointer would take in.
unsigned char g_forwarder[16];
const void* g_forward[2] = {nullptr, reinterpret_cast<const void*>(~std::uintptr_t{0})};

TEST(ChecksWin32, EntryJumpingThroughAPointerIsHookedOnlyIntoForeignMemory) {
    const auto pointer = reinterpret_cast<std::uintptr_t>(&g_forward[0]);
#ifdef _WIN64
    const auto field = static_cast<std::uint32_t>(pointer - (reinterpret_cast<std::uintptr_t>(g_forwarder) + 6));
#else
    const auto field = static_cast<std::uint32_t>(pointer);
#endif
    g_forwarder[0] = 0xFF;
    g_forwarder[1] = 0x25;
    std::memcpy(g_forwarder + 2, &field, 4);
    g_forward[0] = reinterpret_cast<const void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsDebuggerPresent"));
    EXPECT_FALSE(functionHooked(g_forwarder));
    void* foreign = VirtualAlloc(nullptr, 4096, MEM_COMMIT, PAGE_EXECUTE_READWRITE);
    g_forward[0] = foreign;
    EXPECT_TRUE(functionHooked(g_forwarder));
    VirtualFree(foreign, 0, MEM_RELEASE);
}

DWORD WINAPI enterCode(LPVOID code) {
    reinterpret_cast<void (*)()>(code)();
    return 0;
}

// A thread started in the test's own code that then spins in private memory
// (jmp to itself): found by its instruction pointer alone, which only the
// system's thread context gives. (Found by its start address in a game of
// each width: tampered_game_test.)
TEST(ChecksWin32, ThreadRunningInPrivateCodeFoundByItsInstructionPointer) {
    auto* code = static_cast<unsigned char*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT, PAGE_READWRITE));
    code[0] = 0xEB;
    code[1] = 0xFE;
    DWORD old = 0;
    VirtualProtect(code, 4096, PAGE_EXECUTE_READ, &old);
    DWORD tid = 0;
    HANDLE thread = CreateThread(nullptr, 0, enterCode, code, 0, &tid);
    Sleep(50);
    const std::vector<MemoryScanHit> hits = ownHits("Thread in unowned code");
    TerminateThread(thread, 0);
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
    VirtualFree(code, 0, MEM_RELEASE);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].description, "Thread in unowned code tid=" + std::to_string(tid) + " ip");
}

// A tool known by its name, and a program known by its image's MD5 under an
// innocent name (the only way under Wine: workers_test).
TEST(ChecksWin32, SelfValueAndProcessesKnownByNameOrImage) {
    EXPECT_EQ(selfIntegrityValue(), fileCRC32(executablePath()));
    EXPECT_TRUE(scanRunningProcessesMD5().empty());
    Game tool("", "marvik_test_aimbot.exe");
    Game notes("", "notes.exe", test::fixture("marvik_test_tool.exe"), 1000);
    std::vector<std::string> found;
    for (const ProcessMD5Hit& h : scanRunningProcessesMD5())
        found.push_back((h.pid == tool.pid() ? "tool " : h.pid == notes.pid() ? "notes " : "? ") + h.detection);
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{"notes Marvik test program signature (harmless)",
                                               "tool Aimbot loader"}));
}

}  // namespace
}  // namespace marvik
