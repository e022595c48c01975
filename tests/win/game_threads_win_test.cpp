// Game threads and handles on the game, against real processes: a 32-bit
// stand-in game (read the WOW64 way from the x86-64 build) and this process.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "checks/checks.h"
#include "checks/game_handles.h"
#include "checks/checks_windows.h"
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

// handle_holder.exe holding the game with the rights given, until it is ended.
struct Holder {
    PROCESS_INFORMATION pi{};
    Holder(std::uint32_t pid, const char* rights) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE read = nullptr, write = nullptr;
        CreatePipe(&read, &write, &inherit, 0);
        std::string line = "\"" + test::testFolder() + "\\..\\tools\\handle_holder\\handle_holder.exe\" " +
                           std::to_string(pid) + " " + rights;
        STARTUPINFOA si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = write;
        CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
        CloseHandle(write);
        char held[4];
        DWORD got = 0;
        ReadFile(read, held, sizeof held, &got, nullptr);  // "held", or the pipe closed when it failed
        CloseHandle(read);
    }
    ~Holder() {
        TerminateProcess(pi.hProcess, 0);
        WaitForSingleObject(pi.hProcess, 5000);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
};

// A thread started in private code, then DR0 armed on a game thread, then
// programs holding the game: only a handle with risky rights is a hit, and
// only on the process it names.
TEST(GameThreadsWin32, PrivateThreadDr0AndHandlesOnAThirtyTwoBitGame) {
    Game game("", "iw3mp.exe", test::standinExe(true));
    const std::vector<GameThread> read = readGameThreads(game.pid(), ThreadRead::START_AND_IP);
    ASSERT_FALSE(read.empty());
    EXPECT_NE(read[0].ip, 0u);
    EXPECT_EQ(threadHits(game.pid()), std::vector<std::string>());
    EXPECT_FALSE(checkDebugger(game.pid()));
    EXPECT_TRUE(scanGameHandles(game.pid()).empty());

    game.command("thread-private");
    const std::vector<std::string> threads = threadHits(game.pid());
    ASSERT_EQ(threads.size(), 1u);
    EXPECT_NE(threads[0].find(" start"), std::string::npos) << threads[0];
    game.command("dr0");
    EXPECT_TRUE(gameHasHardwareBreakpoints(game.pid()));
    EXPECT_TRUE(checkDebugger(game.pid()));

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
    Game other("", "other.exe");
    EXPECT_TRUE(scanGameHandles(other.pid()).empty());
}

DWORD WINAPI enterCode(LPVOID code) {
    reinterpret_cast<void (*)()>(code)();
    return 0;
}

// A thread started in the test's own code that then spins in private memory
// (jmp to itself): found by its instruction pointer alone.
TEST(GameThreadsWin32, ThreadRunningInPrivateCodeFoundByItsInstructionPointer) {
    auto* code = static_cast<unsigned char*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT, PAGE_READWRITE));
    code[0] = 0xEB;
    code[1] = 0xFE;
    DWORD old = 0;
    VirtualProtect(code, 4096, PAGE_EXECUTE_READ, &old);
    DWORD tid = 0;
    HANDLE thread = CreateThread(nullptr, 0, enterCode, code, 0, &tid);
    Sleep(50);
    const std::vector<std::string> hits = threadHits(GetCurrentProcessId());
    TerminateThread(thread, 0);
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
    VirtualFree(code, 0, MEM_RELEASE);
    EXPECT_EQ(hits, std::vector<std::string>{"Thread in unowned code tid=" + std::to_string(tid) + " ip"});
}

}  // namespace
}  // namespace marvik
