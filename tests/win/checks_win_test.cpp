// The checks against a real stand-in game process under Windows (Wine).
#include <windows.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>

#include "checks/checks.h"
#include "inventory/guid.h"
#include "inventory/modules.h"
#include "support/files.h"
#include "support/standin_game.h"

namespace marvik {
namespace {

using Game = test::StandinGame;
using test::fixture;

const ModuleInfo* findModule(const std::vector<ModuleInfo>& list, const std::string& name) {
    for (const ModuleInfo& m : list)
        if (_stricmp(m.name.c_str(), name.c_str()) == 0) return &m;
    return nullptr;
}

// A clean game's modules, then the test signature loaded by the game and a
// plain DLL injected from the temporary folder by a remote thread.
TEST(ChecksWin32, ModulesOfACleanGameThenFlaggedAndInjectedOnes) {
    Game game;
    ASSERT_NE(game.pid(), 0u);
    std::vector<ModuleInfo> clean = scanProcessModules(game.pid());
    ASSERT_GT(clean.size(), 2u);
    EXPECT_EQ(clean[0].name, "iw3mp.exe");
    EXPECT_EQ(_stricmp(clean[0].path.c_str(), game.exe.c_str()), 0) << clean[0].path;
    EXPECT_EQ(clean[0].md5.size(), 32u);
    EXPECT_NE(clean[0].size, 0u);
    for (const ModuleInfo& m : clean) EXPECT_FALSE(m.suspicious) << m.path;
    replaceBaselineModules(clean);
    EXPECT_FALSE(checkModuleInjection(scanProcessModules(game.pid())));

    const std::string cheat = game.folder + "\\marvik_test_aimbot.dll";
    CopyFileA(fixture("marvik_test_aimbot.dll").c_str(), cheat.c_str(), FALSE);
    game.command("load " + cheat);
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string dll = std::string(temp) + "marvik_plain_" + std::to_string(GetTickCount()) + ".dll";
    ASSERT_TRUE(CopyFileA(fixture("marvik_plain.dll").c_str(), dll.c_str(), FALSE));
    // A real injection: LoadLibraryA run by a thread created in the game.
    HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, game.pid());
    ASSERT_NE(process, nullptr);
    void* remote = VirtualAllocEx(process, nullptr, dll.size() + 1, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    WriteProcessMemory(process, remote, dll.c_str(), dll.size() + 1, nullptr);
    auto loadLibrary = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "LoadLibraryA")));
    HANDLE thread = CreateRemoteThread(process, nullptr, 0, loadLibrary, remote, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
    CloseHandle(process);

    std::vector<ModuleInfo> now = scanProcessModules(game.pid());
    EXPECT_TRUE(checkModuleInjection(now));
    const ModuleInfo* flagged = findModule(now, "marvik_test_aimbot.dll");
    ASSERT_NE(flagged, nullptr);
    EXPECT_TRUE(flagged->suspicious);
    EXPECT_EQ(flagged->detection, "Marvik test signature (harmless)");
    const ModuleInfo* injected = findModule(now, dll.substr(dll.find_last_of('\\') + 1));
    ASSERT_NE(injected, nullptr);
    EXPECT_TRUE(injected->suspicious);  // loaded from the temporary folder
    EXPECT_EQ(injected->detection, "");
    replaceBaselineModules({});
}

TEST(ChecksWin32, ProcessThatCannotBeOpenedGivesNothing) {
    std::uint32_t gone;
    {
        Game game;
        gone = game.pid();
    }
    EXPECT_TRUE(scanProcessModules(gone).empty());
    EXPECT_TRUE(scanProcessMemory(gone).empty());
    EXPECT_FALSE(checkDebugger(gone));
    EXPECT_EQ(getPlayerGUID(gone), "");
}

TEST(ChecksWin32, PlayerGUIDFromTheGamesFolder) {
    Game game;
    test::writeFile(game.folder + "\\players\\guid.dat", "0123456789abcdef\r\nsecond line\r\n");
    test::writeFile(game.folder + "\\main\\guid.dat", "main-guid\r\n");
    EXPECT_EQ(getPlayerGUID(game.pid()), "0123456789abcdef");
}

TEST(ChecksWin32, DebuggerAttachedToTheGame) {
    Game game;
    EXPECT_FALSE(checkDebugger(game.pid()));
    ASSERT_TRUE(DebugActiveProcess(game.pid()));
    DebugSetProcessKillOnExit(FALSE);
    EXPECT_TRUE(checkDebugger(game.pid()));
    DebugActiveProcessStop(game.pid());
}

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
    SuspendThread(thread);
    CONTEXT c{};
    c.ContextFlags = CONTEXT_DEBUG_REGISTERS;
    GetThreadContext(thread, &c);
    c.Dr0 = reinterpret_cast<DWORD64>(&watched);
    c.Dr7 = 1 | (3u << 16) | (3u << 18);  // local enable, write, 4 bytes
    const bool set = SetThreadContext(thread, &c);
    CONTEXT back{};
    back.ContextFlags = CONTEXT_DEBUG_REGISTERS;
    GetThreadContext(thread, &back);
    ResumeThread(thread);
    if (!set || back.Dr0 == 0) {
        SetEvent(stop);
        WaitForSingleObject(thread, 5000);
        GTEST_SKIP() << "this system does not keep debug registers";
    }
    EXPECT_TRUE(checkHardwareBreakpoints());
    EXPECT_TRUE(checkIntegrity().hardwareBreakpoints);
    SuspendThread(thread);
    c.Dr0 = 0;
    c.Dr7 = 0;
    SetThreadContext(thread, &c);
    ResumeThread(thread);
    EXPECT_FALSE(checkHardwareBreakpoints());
    SetEvent(stop);
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
    CloseHandle(stop);
}

// Writes bytes over code and puts them back, with the pages' protection (a
// page left writable and executable is what the memory check reports).
// Volatile, so the compiler cannot drop the restoring writes as stores to
// unchanging code.
struct Patch {
    volatile unsigned char* at;
    unsigned char saved[16];
    DWORD protection;
    Patch(void* where, const unsigned char* bytes, std::size_t n) : at(static_cast<unsigned char*>(where)) {
        VirtualProtect(where, 16, PAGE_EXECUTE_READWRITE, &protection);
        for (int i = 0; i < 16; ++i) saved[i] = at[i];
        for (std::size_t i = 0; i < n; ++i) at[i] = bytes[i];
        FlushInstructionCache(GetCurrentProcess(), where, 16);
    }
    // Puts the protection back too: a writable code page left behind is
    // what the memory check of this process would then report.
    ~Patch() {
        void* where = const_cast<unsigned char*>(at);
        for (int i = 0; i < 16; ++i) at[i] = saved[i];
        FlushInstructionCache(GetCurrentProcess(), where, 16);
        VirtualProtect(where, 16, protection, &protection);
    }
};

__attribute__((noinline)) int spareFunction(int x) { return x * 7 + 3; }

TEST(ChecksWin32, CleanClientThenPatchedCodeAndHookedApi) {
    IntegrityIndicators clean = checkIntegrity();
    EXPECT_EQ(integrityFlagsByte(clean), 0);
    for (const char* f : {"IsDebuggerPresent", "OpenProcess", "ReadProcessMemory"})
        EXPECT_FALSE(functionHooked(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), f)))) << f;

    {
        const unsigned char int3[] = {0xCC};
        Patch p(reinterpret_cast<void*>(&spareFunction), int3, 1);
        EXPECT_TRUE(checkIntegrity().codeModified);
    }
    EXPECT_FALSE(checkIntegrity().codeModified);

    // A detour: the entry jumps into memory no module owns.
    auto* stub = static_cast<unsigned char*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT, PAGE_EXECUTE_READWRITE));
    const unsigned char returnZero[] = {0x31, 0xC0, 0xC3};
    std::memcpy(stub, returnZero, sizeof returnZero);
    void* isDebuggerPresent = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsDebuggerPresent"));
#ifdef _WIN64
    unsigned char jump[12] = {0x48, 0xB8};  // mov rax, stub; jmp rax
    const auto target = reinterpret_cast<std::uint64_t>(stub);
    std::memcpy(jump + 2, &target, 8);
    jump[10] = 0xFF;
    jump[11] = 0xE0;
#else
    unsigned char jump[5] = {0xE9};  // jmp rel32 to stub
    const auto rel = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(stub) -
                                                (reinterpret_cast<std::uintptr_t>(isDebuggerPresent) + 5));
    std::memcpy(jump + 1, &rel, 4);
#endif
    {
        Patch p(isDebuggerPresent, jump, sizeof jump);
        EXPECT_TRUE(functionHooked(isDebuggerPresent));
        EXPECT_TRUE(checkIntegrity().apiHooked);
    }
    EXPECT_FALSE(checkIntegrity().apiHooked);
    VirtualFree(stub, 0, MEM_RELEASE);
}

// A forwarding entry as 32-bit system DLLs have many: jmp through a
// pointer. Built in the test's own image; x86 names the pointer's address,
// x64 its distance from the next instruction.
// The pointer is followed by set bits, which a read wider than a pointer
// would take in.
unsigned char g_forwarder[16];
struct {
    const void* to;
    std::uint32_t next;
} g_forward = {nullptr, 0xFFFFFFFFu};

TEST(ChecksWin32, EntryJumpingThroughAPointerIsHookedOnlyIntoForeignMemory) {
    const auto pointer = reinterpret_cast<std::uintptr_t>(&g_forward.to);
#ifdef _WIN64
    const auto field = static_cast<std::uint32_t>(pointer - (reinterpret_cast<std::uintptr_t>(g_forwarder) + 6));
#else
    const auto field = static_cast<std::uint32_t>(pointer);
#endif
    g_forwarder[0] = 0xFF;
    g_forwarder[1] = 0x25;
    std::memcpy(g_forwarder + 2, &field, 4);
    g_forward.to = reinterpret_cast<const void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsDebuggerPresent"));
    EXPECT_FALSE(functionHooked(g_forwarder));
    void* foreign = VirtualAlloc(nullptr, 4096, MEM_COMMIT, PAGE_EXECUTE_READWRITE);
    g_forward.to = foreign;
    EXPECT_TRUE(functionHooked(g_forwarder));
    VirtualFree(foreign, 0, MEM_RELEASE);
}

TEST(ChecksWin32, SelfValueAndTheProcessTable) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    EXPECT_NE(selfIntegrityValue(), 0u);
    EXPECT_EQ(selfIntegrityValue(), selfIntegrityValue());

    EXPECT_TRUE(scanRunningProcessesMD5().empty());
    Game tool("", "marvik_test_aimbot.exe");
    std::vector<ProcessMD5Hit> hits = scanRunningProcessesMD5();
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].pid, tool.pid());
    EXPECT_EQ(hits[0].name, "marvik_test_aimbot.exe");
    EXPECT_EQ(hits[0].detection, "Aimbot loader");
    EXPECT_EQ(hits[0].md5.size(), 32u);
    EXPECT_EQ(_stricmp(hits[0].path.c_str(), tool.exe.c_str()), 0) << hits[0].path;
}

// A program known by its content under an innocent name, found on the first
// scan (file read) and on the next one (digest remembered).
TEST(ChecksWin32, ProcessKnownByItsImageMD5) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string exe = std::string(temp) + "notes_" + std::to_string(GetTickCount()) + ".exe";
    ASSERT_TRUE(CopyFileA(fixture("marvik_test_tool.exe").c_str(), exe.c_str(), FALSE));
    std::string command = "\"" + exe + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    Sleep(1000);
    for (int scan = 0; scan < 2; ++scan) {
        std::vector<ProcessMD5Hit> hits = scanRunningProcessesMD5();
        ASSERT_EQ(hits.size(), 1u) << "scan " << scan;
        EXPECT_EQ(hits[0].pid, pi.dwProcessId);
        EXPECT_EQ(hits[0].md5, "2467ec4140466391f74ef8aacac47465");
        EXPECT_EQ(hits[0].detection, "Marvik test program signature (harmless)");
    }
    TerminateProcess(pi.hProcess, 0);
    WaitForSingleObject(pi.hProcess, 5000);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    EXPECT_TRUE(scanRunningProcessesMD5().empty());
    DeleteFileA(exe.c_str());
}

}  // namespace
}  // namespace marvik
