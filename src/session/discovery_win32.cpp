#include <windows.h>
#include <tlhelp32.h>

#include "session/discovery.h"

namespace marvik {

std::uint32_t findGameProcess() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    std::uint32_t pid = 0;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (isGameExeName(entry.szExeFile)) {
            pid = entry.th32ProcessID;  // the first match ends the walk, even with id 0
            break;
        }
    }
    CloseHandle(snapshot);
    return pid;
}

}  // namespace marvik
