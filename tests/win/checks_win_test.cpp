// The client's own integrity indicators on this process's real threads and
// code, which no game fixture reaches, and the system's own verdict on a
// self-made signature.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "checks/checks.h"
#include "checks/checks_windows.h"
#include "checks/trust.h"
#include "support/files.h"

namespace marvik {
namespace {

DWORD WINAPI idleThread(LPVOID) {
    for (;;) Sleep(10);
}

// A debug register set on another of the client's threads. (That none set
// is none found: the next test's first check.)
TEST(OwnIntegrity, HardwareBreakpointOnAnotherThread) {
    static int watched = 0;
    const auto at = reinterpret_cast<std::uintptr_t>(&watched);
    HANDLE thread = CreateThread(nullptr, 0, idleThread, nullptr, 0, nullptr);
    SuspendThread(thread);
    CONTEXT c{};
    c.ContextFlags = CONTEXT_DEBUG_REGISTERS;
    c.Dr0 = at;
    c.Dr7 = 1 | (3u << 16) | (3u << 18);  // L0, on writes of 4 bytes
    const bool kept = SetThreadContext(thread, &c) && GetThreadContext(thread, &c) && c.Dr0 == at;
    ResumeThread(thread);
    const bool found = checkIntegrity().hardwareBreakpoints;
    TerminateThread(thread, 0);
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
    if (!kept) GTEST_SKIP() << "this system does not keep debug registers";
    EXPECT_TRUE(found);
}

void writeCode(void* at, const void* bytes, std::size_t n) {
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(at, n, PAGE_EXECUTE_READWRITE, &old));
    std::memcpy(at, bytes, n);
    VirtualProtect(at, n, old, &old);
    FlushInstructionCache(GetCurrentProcess(), at, n);
}

__attribute__((noinline, used)) int neverCalledHere(int x) { return x * 5 + (x >> 2); }

// A forwarding entry as system DLLs have many, jmp [pointer] (x86 names the
// pointer's address, x64 its distance from the next instruction). The
// pointer is followed by set bits, which a read wider than a pointer would take in.
unsigned char g_forwarder[16] = {0xFF, 0x25};
const void* g_forward[2] = {nullptr, reinterpret_cast<const void*>(~std::uintptr_t{0})};

// NOPs in the client's code and a watched export detoured into private
// memory, seen until written back; a forwarding entry is hooked only when
// its pointer leads into such memory.
TEST(OwnIntegrity, PatchedCodeAndDetouredExportsSeenTillRestored) {
    EXPECT_EQ(integrityFlagsByte(checkIntegrity()), 0);
    auto* own = reinterpret_cast<unsigned char*>(&neverCalledHere);
    auto* api = reinterpret_cast<unsigned char*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsDebuggerPresent"));
    // The detour still answers, as the client calls the function itself.
    void* stub = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
    std::memcpy(stub, "\x31\xC0\xC3", 3);  // xor eax, eax; ret
#ifdef _WIN64
    unsigned char jump[12] = {0x48, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xE0};  // mov rax, stub; jmp rax
    const auto target = reinterpret_cast<std::uint64_t>(stub);
    std::memcpy(jump + 2, &target, 8);
    const auto field = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(g_forward) -
                                                  (reinterpret_cast<std::uintptr_t>(g_forwarder) + 6));
#else
    unsigned char jump[5] = {0xE9};  // jmp rel32
    const auto rel = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(stub) -
                                                (reinterpret_cast<std::uintptr_t>(api) + 5));
    std::memcpy(jump + 1, &rel, 4);
    const auto field = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(g_forward));
#endif
    const unsigned char nops[3] = {0x90, 0x90, 0x90};
    unsigned char savedOwn[3], savedApi[sizeof jump];
    std::memcpy(savedOwn, own, sizeof savedOwn);
    std::memcpy(savedApi, api, sizeof savedApi);
    writeCode(own, nops, sizeof nops);
    writeCode(api, jump, sizeof jump);
    const IntegrityIndicators patched = checkIntegrity();
    writeCode(own, savedOwn, sizeof savedOwn);
    writeCode(api, savedApi, sizeof savedApi);
    EXPECT_TRUE(patched.codeModified);
    EXPECT_TRUE(patched.apiHooked);
    EXPECT_EQ(integrityFlagsByte(checkIntegrity()), 0);

    std::memcpy(g_forwarder + 2, &field, 4);
    g_forward[0] = api;
    EXPECT_FALSE(functionHooked(g_forwarder));
    g_forward[0] = stub;
    EXPECT_TRUE(functionHooked(g_forwarder));
    VirtualFree(stub, 0, MEM_RELEASE);
}

// Signed under a root nothing trusts and left out of the signature, as
// anyone can sign (tools/fixtures/make_signed_dll.py). (Signed under a
// trusted root: realistic_test's overlay.)
TEST(ModuleTrustWin, SignedUnderAnUnknownRootNotTrusted) {
    EXPECT_FALSE(moduleTrust(test::besideExe("..\\fixtures\\marvik_signed_unknown_root.dll")).trusted);
}

}  // namespace
}  // namespace marvik
