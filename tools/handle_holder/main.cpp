// handle_holder <pid> write|query: opens that process and holds the handle
// until the process ends, as an external cheat that reads and writes a
// game's memory from outside does (write: memory read, write and operation
// rights), or as a harmless tool that only asks about it (query: limited
// query rights). Prints "held" once the handle is open; exit code 2 when it
// cannot be opened.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 3 || (std::strcmp(argv[2], "write") != 0 && std::strcmp(argv[2], "query") != 0)) {
        std::fprintf(stderr, "usage: handle_holder <pid> write|query\n");
        return 1;
    }
    const DWORD pid = static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10));
    const DWORD rights = std::strcmp(argv[2], "write") == 0
                             ? PROCESS_VM_READ | PROCESS_VM_WRITE | PROCESS_VM_OPERATION | PROCESS_QUERY_INFORMATION
                             : PROCESS_QUERY_LIMITED_INFORMATION;
    HANDLE process = OpenProcess(rights | SYNCHRONIZE, FALSE, pid);
    if (process == nullptr) {
        std::fprintf(stderr, "cannot open process %lu\n", static_cast<unsigned long>(pid));
        return 2;
    }
    std::printf("held\n");
    std::fflush(stdout);
    WaitForSingleObject(process, INFINITE);
    CloseHandle(process);
    return 0;
}
