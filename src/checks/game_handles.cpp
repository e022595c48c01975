#include "checks/game_handles.h"

#include <algorithm>

#include "checks/text_match.h"
#include "checks/trust.h"

namespace marvik {

namespace {

constexpr std::uint32_t PROCESS_CREATE_THREAD_RIGHT = 0x0002;
constexpr std::uint32_t PROCESS_VM_OPERATION_RIGHT = 0x0008;
constexpr std::uint32_t PROCESS_VM_READ_RIGHT = 0x0010;
constexpr std::uint32_t PROCESS_VM_WRITE_RIGHT = 0x0020;
constexpr std::uint32_t PROCESS_DUP_HANDLE_RIGHT = 0x0040;

const char* const SYSTEM_PROCESSES[] = {
    "csrss.exe",   "lsass.exe",   "services.exe", "svchost.exe", "wininit.exe",  "winlogon.exe", "smss.exe",
    "dwm.exe",     "audiodg.exe", "conhost.exe",  "taskmgr.exe", "werfault.exe", "explorer.exe", "sihost.exe",
    // Wine's own services and its launcher (which keeps the handle to what it
    // started), in its system folder.
    "winedevice.exe", "plugplay.exe", "rpcss.exe", "start.exe",
};

}  // namespace

std::uint32_t riskyGameRights(std::uint32_t access) {
    return access & (PROCESS_CREATE_THREAD_RIGHT | PROCESS_VM_OPERATION_RIGHT | PROCESS_VM_READ_RIGHT |
                     PROCESS_VM_WRITE_RIGHT | PROCESS_DUP_HANDLE_RIGHT);
}

std::string gameHandleLabel(std::uint32_t access) {
    const std::uint32_t r = riskyGameRights(access);
    if (r == 0) return std::string();
    std::string label;
    auto add = [&label](const char* what) { label += (label.empty() ? "" : ", ") + std::string(what); };
    const bool read = (r & PROCESS_VM_READ_RIGHT) != 0, write = (r & PROCESS_VM_WRITE_RIGHT) != 0;
    if (read && write) add("read/write memory");
    else if (read) add("read memory");
    else if (write) add("write memory");
    if (r & PROCESS_CREATE_THREAD_RIGHT) add("create threads");
    if (r & PROCESS_VM_OPERATION_RIGHT) add("change protections");
    if (r & PROCESS_DUP_HANDLE_RIGHT) add("duplicate handles");
    return "handle to game: " + label;
}

std::vector<SystemHandle> handlesToCheck(const std::vector<SystemHandle>& table, const SystemHandle& own,
                                         const std::vector<std::uint32_t>& excluded, bool& confirmed) {
    confirmed = own.object != 0;
    std::vector<SystemHandle> kept;
    for (const SystemHandle& h : table) {
        if (h.type != own.type || riskyGameRights(h.access) == 0) continue;
        if (std::find(excluded.begin(), excluded.end(), h.owner) != excluded.end()) continue;
        if (confirmed && h.object != own.object) continue;
        kept.push_back(h);
    }
    // Grouped by holder, so each holder is opened once.
    std::stable_sort(kept.begin(), kept.end(),
                     [](const SystemHandle& a, const SystemHandle& b) { return a.owner < b.owner; });
    return kept;
}

bool wellKnownSystemProcess(const std::string& path, const std::string& systemFolder,
                            const std::string& windowsFolder) {
    const std::string name = fileNameOf(path);
    if (!directlyInFolder(path, systemFolder) &&
        !(directlyInFolder(path, windowsFolder) && equalsIgnoreCase(name, "explorer.exe")))
        return false;
    for (const char* known : SYSTEM_PROCESSES)
        if (equalsIgnoreCase(name, known)) return true;
    return false;
}

}  // namespace marvik
