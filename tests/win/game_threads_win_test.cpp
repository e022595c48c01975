// Game threads and handles on the game, against real stand-in games of both
// widths (a 32-bit one is read the WOW64 way from the x86-64 build).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "checks/checks.h"
#include "checks/game_handles.h"
#include "checks/game_threads.h"
#include "support/standin_game.h"

namespace marvik {
namespace {

using Game = test::StandinGame;

std::vector<std::string> threadHits(std::uint32_t pid) {
    std::vector<std::string> found;
    for (const MemoryScanHit& h : scanProcessMemory(pid))
        if (h.description.rfind("Thread in unowned code", 0) == 0) found.push_back(h.description);
    return found;
}

TEST(GameThreadsWin32, ThreadInPrivateCodeAndDr0OnGamesOfBothWidths) {
    for (bool thirtyTwo : {false, true}) {
        SCOPED_TRACE(thirtyTwo ? "32-bit game" : "native game");
        Game game("", "iw3mp.exe", test::standinExe(thirtyTwo));
        ASSERT_NE(game.pid(), 0u);
        const std::vector<GameThread> threads = readGameThreads(game.pid(), ThreadRead::START_AND_IP);
        ASSERT_FALSE(threads.empty());
        EXPECT_NE(threads[0].start, 0u);
        EXPECT_NE(threads[0].ip, 0u);
        EXPECT_EQ(threadHits(game.pid()), std::vector<std::string>());
        EXPECT_FALSE(checkDebugger(game.pid()));

        game.command("thread-private");
        const std::vector<std::string> hits = threadHits(game.pid());
        ASSERT_EQ(hits.size(), 1u);
        EXPECT_NE(hits[0].find(" start"), std::string::npos) << hits[0];
        EXPECT_FALSE(checkDebugger(game.pid()));

        game.command("dr0");
        EXPECT_TRUE(gameHasHardwareBreakpoints(game.pid()));
        EXPECT_TRUE(checkDebugger(game.pid()));
    }
}

volatile LONG g_spin = 1;

DWORD WINAPI enterCode(LPVOID code) {
    reinterpret_cast<void (*)()>(code)();
    return 0;
}

// A thread started in the test's own code that then runs in private memory:
// found by its instruction pointer alone.
TEST(GameThreadsWin32, ThreadRunningInPrivateCodeFoundByItsInstructionPointer) {
    auto* code = static_cast<unsigned char*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT, PAGE_READWRITE));
    const auto flag = reinterpret_cast<std::uintptr_t>(&g_spin);
    // mov (r/e)ax, &g_spin; loop: pause; cmp dword [(r/e)ax], 0; jne loop; ret
#ifdef _WIN64
    unsigned char spin[] = {0x48, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0xF3, 0x90, 0x83, 0x38, 0x00, 0x75, 0xF9, 0xC3};
    std::memcpy(spin + 2, &flag, 8);
#else
    unsigned char spin[] = {0xB8, 0, 0, 0, 0, 0xF3, 0x90, 0x83, 0x38, 0x00, 0x75, 0xF9, 0xC3};
    std::memcpy(spin + 1, &flag, 4);
#endif
    std::memcpy(code, spin, sizeof spin);
    DWORD old = 0;
    VirtualProtect(code, 4096, PAGE_EXECUTE_READ, &old);
    DWORD tid = 0;
    HANDLE thread = CreateThread(nullptr, 0, enterCode, code, 0, &tid);
    Sleep(50);
    const std::vector<std::string> hits = threadHits(GetCurrentProcessId());
    g_spin = 0;
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
    VirtualFree(code, 0, MEM_RELEASE);
    EXPECT_EQ(hits, std::vector<std::string>{"Thread in unowned code tid=" + std::to_string(tid) + " ip"});
}

// handle_holder.exe holding the game with the rights given, until the game ends.
struct Holder {
    PROCESS_INFORMATION pi{};
    Holder(std::uint32_t pid, const char* rights) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE read = nullptr, write = nullptr;
        CreatePipe(&read, &write, &inherit, 0);
        SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
        std::string line = "\"" + test::testFolder() + "\\..\\tools\\handle_holder\\handle_holder.exe\" " +
                           std::to_string(pid) + " " + rights;
        STARTUPINFOA si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = write;
        CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
        CloseHandle(write);
        // "held ...", or the pipe closed when it failed; waited for 20 s at most.
        DWORD waiting = 0;
        for (int i = 0; i < 400 && PeekNamedPipe(read, nullptr, 0, nullptr, &waiting, nullptr) && waiting == 0; ++i)
            Sleep(50);
        CloseHandle(read);
    }
    ~Holder() {
        if (pi.hProcess == nullptr) return;
        TerminateProcess(pi.hProcess, 0);
        WaitForSingleObject(pi.hProcess, 5000);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
};

TEST(GameHandlesWin32, WriteHandleOnTheGameIsAHitQueryHandleIsNot) {
    for (bool thirtyTwo : {false, true}) {
        SCOPED_TRACE(thirtyTwo ? "32-bit game" : "native game");
        Game game("", "iw3mp.exe", test::standinExe(thirtyTwo));
        ASSERT_NE(game.pid(), 0u);
        EXPECT_TRUE(scanGameHandles(game.pid()).empty());
        {
            Holder query(game.pid(), "query");
            ASSERT_NE(query.pi.dwProcessId, 0u);
            EXPECT_TRUE(scanGameHandles(game.pid()).empty());
        }
        Holder writer(game.pid(), "write");
        const std::vector<ProcessMD5Hit> hits = scanGameHandles(game.pid());
        ASSERT_EQ(hits.size(), 1u);
        EXPECT_EQ(hits[0].pid, writer.pi.dwProcessId);
        EXPECT_EQ(hits[0].name, "handle_holder.exe");
        EXPECT_EQ(hits[0].detection, "handle to game: read/write memory, change protections");
        EXPECT_EQ(hits[0].md5.size(), 32u);
        // Another process's handles are not the game's.
        Game other("", "other.exe", test::standinExe(thirtyTwo));
        EXPECT_TRUE(scanGameHandles(other.pid()).empty());
    }
}

}  // namespace
}  // namespace marvik
