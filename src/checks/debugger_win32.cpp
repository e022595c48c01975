#include <windows.h>

#include "checks/checks.h"
#include "checks/game_threads.h"
#include "checks/nt_query_windows.h"
#include "inventory/game_process.h"

namespace marvik {

LONG queryProcess(HANDLE process, ULONG infoClass, void* out, ULONG size) {
    using Query = LONG(WINAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
    static const Query query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
    if (query == nullptr) return -1;
    return query(process, infoClass, out, size, nullptr);
}

namespace {

constexpr ULONG HEAP_DEBUG_GLOBAL_FLAGS = 0x70;  // tail check, free check, parameter checking

// The kernel's own signals: a debug port, a debug object, debug inheritance
// turned off.
bool kernelSaysDebugged(HANDLE process) {
    BOOL remote = FALSE;
    if (CheckRemoteDebuggerPresent(process, &remote) && remote) return true;
    ULONG_PTR port = 0;
    if (queryProcess(process, PROCESS_INFO_DEBUG_PORT, &port, sizeof port) >= 0 && port != 0) return true;
    HANDLE object = nullptr;
    if (queryProcess(process, PROCESS_INFO_DEBUG_OBJECT, &object, sizeof object) >= 0 && object != nullptr) {
        CloseHandle(object);
        return true;
    }
    ULONG flags = 1;
    if (queryProcess(process, PROCESS_INFO_DEBUG_FLAGS, &flags, sizeof flags) >= 0 && flags == 0) return true;
    return false;
}

// The process environment block: BeingDebugged and the heap debug flags a
// debugger-started process gets. A 32-bit game has a PEB of its own layout.
bool pebSaysDebugged(HANDLE process) {
    ULONG_PTR peb32 = 0;
    if (queryProcess(process, PROCESS_INFO_WOW64, &peb32, sizeof peb32) >= 0 && peb32 != 0) {
        BYTE being = 0;
        ULONG global = 0;
        SIZE_T got = 0;
        if (ReadProcessMemory(process, reinterpret_cast<void*>(peb32 + 2), &being, 1, &got) && being) return true;
        if (ReadProcessMemory(process, reinterpret_cast<void*>(peb32 + 0x68), &global, 4, &got) &&
            (global & HEAP_DEBUG_GLOBAL_FLAGS) == HEAP_DEBUG_GLOBAL_FLAGS)
            return true;
        return false;
    }
    ProcessBasicInfo basic = {};
    if (queryProcess(process, PROCESS_INFO_BASIC, &basic, sizeof basic) < 0 || basic.pebBase == nullptr) return false;
    const auto peb = reinterpret_cast<ULONG_PTR>(basic.pebBase);
    BYTE being = 0;
    ULONG global = 0;
    SIZE_T got = 0;
    const ULONG_PTR globalOffset = sizeof(void*) == 8 ? 0xBC : 0x68;
    if (ReadProcessMemory(process, reinterpret_cast<void*>(peb + 2), &being, 1, &got) && being) return true;
    if (ReadProcessMemory(process, reinterpret_cast<void*>(peb + globalOffset), &global, 4, &got) &&
        (global & HEAP_DEBUG_GLOBAL_FLAGS) == HEAP_DEBUG_GLOBAL_FLAGS)
        return true;
    return false;
}

}  // namespace

bool clientBeingDebugged() { return IsDebuggerPresent() || kernelSaysDebugged(GetCurrentProcess()); }

bool checkDebugger(std::uint32_t gamePid) {
    if (clientBeingDebugged()) return true;
    const ProcessHandle opened = openProcessForReading(gamePid);
    if (opened == 0) return false;
    HANDLE game = reinterpret_cast<HANDLE>(opened);
    const bool debugged = kernelSaysDebugged(game) || pebSaysDebugged(game);
    closeProcess(opened);
    return debugged || gameHasHardwareBreakpoints(gamePid);
}

}  // namespace marvik
