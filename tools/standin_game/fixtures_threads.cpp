// Thread fixtures of the stand-in game: what a remote thread, a hardware
// breakpoint and a loader that stops the game leave, harmlessly.
#include "standin.h"

#include <tlhelp32.h>

#include <cstdint>
#include <cstring>

namespace marvik {

namespace {

DWORD WINAPI idle(LPVOID) {
    for (;;) Sleep(1000);
}

int g_watched = 0;

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

bool started(HANDLE thread) {
    return thread != nullptr && CloseHandle(thread);
}

}  // namespace

bool startPrivateThread() {
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
    void* code = privateCode(loop, sizeof loop);
    return code != nullptr &&
           started(CreateThread(nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(code), nullptr, 0, nullptr));
}

bool armDr0() {
    HANDLE thread = CreateThread(nullptr, 0, idle, nullptr, 0, nullptr);
    if (thread == nullptr) return false;
    SuspendThread(thread);
    CONTEXT c = {};
    c.ContextFlags = CONTEXT_DEBUG_REGISTERS;
    GetThreadContext(thread, &c);
    c.Dr0 = reinterpret_cast<std::uintptr_t>(&g_watched);
    c.Dr7 = 1;  // local enable of DR0, break on execution: a data address never runs
    const bool armed = SetThreadContext(thread, &c) != 0;
    ResumeThread(thread);
    CloseHandle(thread);
    return armed;
}

bool suspendAll() {
    return started(CreateThread(nullptr, 0, suspendEveryThread, nullptr, 0, nullptr));
}

}  // namespace marvik
