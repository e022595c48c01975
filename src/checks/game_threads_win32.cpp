#include <windows.h>
#include <tlhelp32.h>

#include "checks/checks_windows.h"
#include "checks/nt_query_windows.h"

namespace marvik {

namespace {

constexpr ULONG THREAD_INFO_WIN32_START = 9;  // ThreadQuerySetWin32StartAddress
// Bounds one read of a hostile process that makes threads without end.
constexpr int GAME_THREADS_MAX = 4096;

std::uint64_t startAddress(HANDLE thread) {
    using Query = LONG(WINAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
    static const Query query = ntdllFunction<Query>("NtQueryInformationThread");
    ULONG_PTR start = 0;
    if (query == nullptr || query(thread, THREAD_INFO_WIN32_START, &start, sizeof start, nullptr) < 0) return 0;
    return start;
}

// The thread's context, not suspended: the system stops the thread for the
// moment it takes its registers (Windows by a kernel APC run on the thread,
// Wine by a signal through its server), so the debug registers are exact and
// the instruction pointer is where the thread was at that moment; suspending
// it ourselves would only stall the game for longer.
bool readContext(HANDLE thread, bool wow64Game, ThreadRead what, GameThread& t) {
#ifdef _WIN64
    if (wow64Game) {
        // A 32-bit game's own registers, not those of its 64-bit layer.
        WOW64_CONTEXT c = {};
        c.ContextFlags = what == ThreadRead::START_AND_IP ? WOW64_CONTEXT_CONTROL : WOW64_CONTEXT_DEBUG_REGISTERS;
        if (!Wow64GetThreadContext(thread, &c)) return false;
        t.ip = c.Eip;
        t.debug = debugRegistersOf(c);
        return true;
    }
#else
    (void)wow64Game;
#endif
    CONTEXT c = {};
    c.ContextFlags = what == ThreadRead::START_AND_IP ? CONTEXT_CONTROL : CONTEXT_DEBUG_REGISTERS;
    if (!GetThreadContext(thread, &c)) return false;
#ifdef _WIN64
    t.ip = c.Rip;
#else
    t.ip = c.Eip;
#endif
    t.debug = debugRegistersOf(c);
    return true;
}

}  // namespace

std::vector<GameThread> readGameThreads(std::uint32_t pid, ThreadRead what) {
    std::vector<GameThread> threads;
    HANDLE game = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (game == nullptr) return threads;
    const Wow64View view = wow64View(game);
    CloseHandle(game);
    // A 32-bit client cannot read a 64-bit game's registers; the game is
    // 32-bit, so that pairing is only ever a test's.
    if (view.width > static_cast<int>(sizeof(void*))) return threads;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return threads;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    int seen = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more && seen < GAME_THREADS_MAX;
         more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != pid) continue;
        ++seen;
        HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION | THREAD_GET_CONTEXT, FALSE, entry.th32ThreadID);
        if (thread == nullptr) continue;
        GameThread t;
        t.tid = entry.th32ThreadID;
        if (what == ThreadRead::START_AND_IP) t.start = startAddress(thread);
        const bool read = readContext(thread, view.wow64 && sizeof(void*) == 8, what, t);
        CloseHandle(thread);
        if (read || t.start != 0) threads.push_back(t);
    }
    CloseHandle(snapshot);
    return threads;
}

bool gameHasHardwareBreakpoints(std::uint32_t pid) {
    for (const GameThread& t : readGameThreads(pid, ThreadRead::DEBUG_REGISTERS))
        if (hardwareBreakpointArmed(t.debug)) return true;
    return false;
}

}  // namespace marvik
