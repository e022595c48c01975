// handle_holder <exe name> write|query: opens the first process of that name
// and holds the handle until the process ends, as an external cheat that
// reads and writes a game's memory from outside does (write: memory read,
// write and operation rights), or as a harmless tool that only asks about it
// (query: limited query rights). Prints "held pid=<its own id>" once the
// handle is open; exit code 2 when the process cannot be found or opened.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>

namespace {

DWORD processId(const char* name) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    DWORD found = 0;
    for (BOOL more = Process32First(snapshot, &entry); more && found == 0; more = Process32Next(snapshot, &entry))
        if (_stricmp(entry.szExeFile, name) == 0) found = entry.th32ProcessID;
    CloseHandle(snapshot);
    return found;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || (std::strcmp(argv[2], "write") != 0 && std::strcmp(argv[2], "query") != 0)) {
        std::fprintf(stderr, "usage: handle_holder <exe name> write|query\n");
        return 1;
    }
    const DWORD pid = processId(argv[1]);
    const DWORD rights = std::strcmp(argv[2], "write") == 0
                             ? PROCESS_VM_READ | PROCESS_VM_WRITE | PROCESS_VM_OPERATION | PROCESS_QUERY_INFORMATION
                             : PROCESS_QUERY_LIMITED_INFORMATION;
    HANDLE process = pid == 0 ? nullptr : OpenProcess(rights | SYNCHRONIZE, FALSE, pid);
    if (process == nullptr) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 2;
    }
    std::printf("held pid=%lu\n", static_cast<unsigned long>(GetCurrentProcessId()));
    std::fflush(stdout);
    WaitForSingleObject(process, INFINITE);
    CloseHandle(process);
    return 0;
}
