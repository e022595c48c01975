#include <windows.h>

#include "checks/checks_windows.h"
#include "checks/nt_query_windows.h"

namespace marvik {

namespace {

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

}  // namespace

bool clientBeingDebugged() { return IsDebuggerPresent() || kernelSaysDebugged(GetCurrentProcess()); }

bool checkDebugger(std::uint32_t gamePid) {
    if (clientBeingDebugged()) return true;
    const ProcessHandle opened = openProcessForReading(gamePid);
    if (opened == 0) return false;
    HANDLE game = reinterpret_cast<HANDLE>(opened);
    // A 32-bit game's flags are in its own 32-bit block, not the system's.
    const Wow64View view = wow64View(game);
    const bool debugged = kernelSaysDebugged(game) || pebShowsDebugger(processReader(game), view.peb, view.width);
    closeProcess(opened);
    return debugged || gameHasHardwareBreakpoints(gamePid);
}

}  // namespace marvik
