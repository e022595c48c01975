// Thread and process fixtures: what a remote thread, a hardware breakpoint, a loader that stops the game and an
// external cheat's handle leave, harmlessly.
#include "standin.h"

#include <tlhelp32.h>

namespace marvik {

namespace {

int g_watched = 0;

// Each thread (or process, by its exe name) of a Toolhelp snapshot until visit returns true.
template <typename Entry, typename Visit>
void forEach(DWORD what, BOOL(WINAPI* first)(HANDLE, Entry*), BOOL(WINAPI* next)(HANDLE, Entry*), Visit visit) {
    HANDLE snapshot = CreateToolhelp32Snapshot(what, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    Entry entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = first(snapshot, &entry); more && !visit(entry); more = next(snapshot, &entry)) {
    }
    CloseHandle(snapshot);
}

DWORD WINAPI suspendEveryThread(LPVOID) {  // the last by itself: only the end of the process ends it
    forEach<THREADENTRY32>(TH32CS_SNAPTHREAD, Thread32First, Thread32Next, [](const THREADENTRY32& t) {
        if (t.th32OwnerProcessID != GetCurrentProcessId() || t.th32ThreadID == GetCurrentThreadId()) return false;
        if (HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, t.th32ThreadID)) {
            SuspendThread(thread);
            CloseHandle(thread);
        }
        return false;
    });
    SuspendThread(GetCurrentThread());
    return 0;
}

DWORD WINAPI idle(LPVOID) {
    for (;;) Sleep(1000);
}

bool started(HANDLE thread) { return thread != nullptr && CloseHandle(thread); }

}  // namespace

// A thread started in private read-execute memory, as shellcode started by CreateRemoteThread is, only sleeping.
bool startPrivateThread() {
    const auto sleep = reinterpret_cast<std::uintptr_t>(exported<void*>(GetModuleHandleA("kernel32.dll"), "Sleep"));
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
    void* code = privateCode([&](std::uint8_t* at) { std::memcpy(at, loop, sizeof loop); });
    return code != nullptr &&
           started(CreateThread(nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(code), nullptr, 0, nullptr));
}

// DR0 armed by DR7 on a thread of the game's own, as an execution breakpoint at a data address: it never fires.
bool armDr0() {
    HANDLE thread = CreateThread(nullptr, 0, idle, nullptr, 0, nullptr);
    if (thread == nullptr) return false;
    SuspendThread(thread);
    CONTEXT c = {};
    c.ContextFlags = CONTEXT_DEBUG_REGISTERS;
    GetThreadContext(thread, &c);
    c.Dr0 = reinterpret_cast<std::uintptr_t>(&g_watched);
    c.Dr7 = 1;  // local enable of DR0, break on execution
    const bool armed = SetThreadContext(thread, &c) != 0;
    ResumeThread(thread);
    CloseHandle(thread);
    return armed;
}

bool suspendAll() { return started(CreateThread(nullptr, 0, suspendEveryThread, nullptr, 0, nullptr)); }

// The first process named exe opened and held for good: memory read, write and operation rights, or query only.
bool holdProcess(const std::string& exe, bool write) {
    const DWORD rights = write ? PROCESS_VM_READ | PROCESS_VM_WRITE | PROCESS_VM_OPERATION | PROCESS_QUERY_INFORMATION
                               : PROCESS_QUERY_LIMITED_INFORMATION;
    HANDLE held = nullptr;
    forEach<PROCESSENTRY32>(TH32CS_SNAPPROCESS, Process32First, Process32Next, [&](const PROCESSENTRY32& p) {
        if (_stricmp(p.szExeFile, exe.c_str()) == 0) held = OpenProcess(rights | SYNCHRONIZE, FALSE, p.th32ProcessID);
        return held != nullptr;
    });
    return held != nullptr;
}

}  // namespace marvik
