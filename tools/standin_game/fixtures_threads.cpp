#include "fixtures_threads.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cstring>

namespace marvik {

namespace {

void startPrivateThread() {
    auto* code = static_cast<unsigned char*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (code == nullptr) return;
    const auto sleep = reinterpret_cast<std::uintptr_t>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "Sleep")));
#ifdef _WIN64
    // sub rsp,28h; loop: mov ecx,100; mov rax,Sleep; call rax; jmp loop
    unsigned char loop[] = {0x48, 0x83, 0xEC, 0x28, 0xB9, 100, 0, 0, 0, 0x48, 0xB8, 0, 0, 0, 0,
                            0,    0,    0,    0,    0xFF, 0xD0, 0xEB, 0xED};
    std::memcpy(loop + 11, &sleep, 8);
#else
    // loop: push 100; mov eax,Sleep; call eax; jmp loop (Sleep pops its argument)
    unsigned char loop[] = {0x6A, 100, 0xB8, 0, 0, 0, 0, 0xFF, 0xD0, 0xEB, 0xF5};
    std::memcpy(loop + 3, &sleep, 4);
#endif
    std::memcpy(code, loop, sizeof loop);
    DWORD old = 0;
    VirtualProtect(code, 4096, PAGE_EXECUTE_READ, &old);
    FlushInstructionCache(GetCurrentProcess(), code, sizeof loop);
    HANDLE thread = CreateThread(nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(code), nullptr, 0, nullptr);
    if (thread != nullptr) CloseHandle(thread);
}

DWORD WINAPI idle(LPVOID) {
    for (;;) Sleep(1000);
}

int g_watched = 0;

void armDr0() {
    HANDLE thread = CreateThread(nullptr, 0, idle, nullptr, 0, nullptr);
    if (thread == nullptr) return;
    SuspendThread(thread);
    CONTEXT c = {};
    c.ContextFlags = CONTEXT_DEBUG_REGISTERS;
    GetThreadContext(thread, &c);
    c.Dr0 = reinterpret_cast<std::uintptr_t>(&g_watched);
    c.Dr7 = 1;  // local enable of DR0, break on execution: a data address never runs
    SetThreadContext(thread, &c);
    ResumeThread(thread);
    CloseHandle(thread);
}

// Every other thread of the process suspended, then this one: the game
// stands still without being stopped from outside, as a cheat's loader (or
// a debugger) can leave it. Only the end of the process ends it.
DWORD WINAPI suspendEveryThread(LPVOID) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 1;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != GetCurrentProcessId() || entry.th32ThreadID == GetCurrentThreadId()) continue;
        if (HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID)) {
            SuspendThread(thread);
            CloseHandle(thread);
        }
    }
    CloseHandle(snapshot);
    SuspendThread(GetCurrentThread());
    return 0;
}

}  // namespace

bool runThreadFixture(const std::string& command) {
    if (command == "thread-private") startPrivateThread();
    else if (command == "dr0") armDr0();
    else if (command == "suspend-all") {
        if (HANDLE thread = CreateThread(nullptr, 0, suspendEveryThread, nullptr, 0, nullptr)) CloseHandle(thread);
    } else return false;
    return true;
}

}  // namespace marvik
