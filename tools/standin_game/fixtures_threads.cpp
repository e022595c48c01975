// Thread and process fixtures: what a remote thread, a hardware breakpoint, a loader that stops the game and an
// external cheat's handle leave, harmlessly.
#include "standin.h"

#include <tlhelp32.h>

extern "C" LONG NTAPI NtSuspendProcess(HANDLE process);  // ntdll's, which no header declares

namespace marvik {

namespace {

int g_watched = 0;

DWORD WINAPI idle(LPVOID) {
    for (;;) Sleep(1000);
}

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

// Every thread suspended, this one too, as a loader that stops the game does: only the end of the process ends it.
bool suspendAll() { return NtSuspendProcess(GetCurrentProcess()) >= 0; }

// The first process named exe opened and held for good: memory read, write and operation rights, or query only.
bool holdProcess(const std::string& exe, bool write) {
    const DWORD rights = write ? PROCESS_VM_READ | PROCESS_VM_WRITE | PROCESS_VM_OPERATION | PROCESS_QUERY_INFORMATION
                               : PROCESS_QUERY_LIMITED_INFORMATION;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0), held = nullptr;
    PROCESSENTRY32 p;
    p.dwSize = sizeof p;
    for (BOOL more = Process32First(snapshot, &p); more && held == nullptr; more = Process32Next(snapshot, &p))
        if (_stricmp(p.szExeFile, exe.c_str()) == 0) held = OpenProcess(rights | SYNCHRONIZE, FALSE, p.th32ProcessID);
    CloseHandle(snapshot);
    return held != nullptr;
}

}  // namespace marvik
