#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <vector>

#include "base/exe_path.h"
#include "base/utf8_windows.h"
#include "checks/text_match.h"
#include "inventory/game_process.h"
#include "session/discovery.h"

namespace marvik {

std::uint32_t findGameProcess() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    std::uint32_t pid = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (isGameExeName(utf8FromWide(entry.szExeFile).c_str())) {
            pid = entry.th32ProcessID;  // the first match ends the walk, even with id 0
            break;
        }
    }
    CloseHandle(snapshot);
    return pid;
}

GameStatus gameStatus(std::uint32_t pid) {
    HANDLE game = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (game == nullptr) return GameStatus::GONE;
    DWORD code = 0;
    if (!GetExitCodeProcess(game, &code)) code = 0;
    CloseHandle(game);
    return code == STILL_ACTIVE ? GameStatus::RUNNING : GameStatus::EXITED;
}

std::string processImagePath(std::uint32_t pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr) return std::string();
    wchar_t path[MARVIK_MAX_PATH] = {};
    DWORD size = MARVIK_MAX_PATH;
    BOOL named = QueryFullProcessImageNameW(process, 0, path, &size);
    CloseHandle(process);
    return named ? utf8FromWide(path, size) : std::string();
}

ProcessHandle openProcessForReading(std::uint32_t pid) {
    return reinterpret_cast<ProcessHandle>(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
}

void closeProcess(ProcessHandle process) {
    if (process != 0) CloseHandle(reinterpret_cast<HANDLE>(process));
}

namespace {

bool startsWithFolder(const std::string& path, const std::string& folder) {
    return !folder.empty() && path.size() > folder.size() && (path[folder.size()] == '\\') &&
           equalsIgnoreCase(path.substr(0, folder.size()), folder);
}

}  // namespace

std::string mappedFileName(ProcessHandle process, std::uint64_t address) {
    wchar_t nt[1024];
    DWORD n = K32GetMappedFileNameW(reinterpret_cast<HANDLE>(process),
                                    reinterpret_cast<void*>(static_cast<std::uintptr_t>(address)), nt, 1024);
    if (n == 0 || n >= 1024) return std::string();
    const std::string name = utf8FromWide(nt, n);
    // Wine names the file "\??\C:\...", Windows "\Device\HarddiskVolume1\...".
    if (name.compare(0, 4, "\\??\\") == 0) return name.substr(4);
    wchar_t drive[] = L"A:";
    wchar_t device[MAX_PATH];
    for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
        drive[0] = letter;
        if (QueryDosDeviceW(drive, device, MAX_PATH) == 0) continue;
        const std::string deviceName = utf8FromWide(device);
        if (startsWithFolder(name, deviceName))
            return utf8FromWide(drive) + name.substr(deviceName.size());
    }
    return std::string();
}

bool inWindowsFolder(const std::string& path) {
    wchar_t windows[MAX_PATH] = {};
    UINT n = GetWindowsDirectoryW(windows, MAX_PATH);
    return n != 0 && n < MAX_PATH && startsWithFolder(path, utf8FromWide(windows, n));
}

std::uint32_t countProcesses() {
    std::vector<DWORD> ids(2048);
    DWORD bytes = 0;
    if (!K32EnumProcesses(ids.data(), static_cast<DWORD>(ids.size() * sizeof(DWORD)), &bytes)) return 0;
    return bytes / sizeof(DWORD);
}

}  // namespace marvik
