#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstring>
#include <vector>

#include "app/exe_path.h"
#include "checks/text_match.h"
#include "inventory/game_process.h"
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
    char path[MARVIK_MAX_PATH] = {};
    DWORD size = MARVIK_MAX_PATH;
    BOOL named = QueryFullProcessImageNameA(process, 0, path, &size);
    CloseHandle(process);
    return named ? std::string(path, size) : std::string();
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
    char nt[1024];
    DWORD n = K32GetMappedFileNameA(reinterpret_cast<HANDLE>(process),
                                    reinterpret_cast<void*>(static_cast<std::uintptr_t>(address)), nt, sizeof nt);
    if (n == 0 || n >= sizeof nt) return std::string();
    const std::string name(nt, n);
    // Wine names the file "\??\C:\...", Windows "\Device\HarddiskVolume1\...".
    if (name.compare(0, 4, "\\??\\") == 0) return name.substr(4);
    char drive[] = "A:";
    char device[MAX_PATH];
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        drive[0] = letter;
        if (QueryDosDeviceA(drive, device, MAX_PATH) == 0) continue;
        if (startsWithFolder(name, device)) return std::string(drive) + name.substr(std::strlen(device));
    }
    return std::string();
}

bool inWindowsFolder(const std::string& path) {
    char windows[MAX_PATH] = {};
    UINT n = GetWindowsDirectoryA(windows, MAX_PATH);
    return n != 0 && n < MAX_PATH && startsWithFolder(path, std::string(windows, n));
}

std::uint32_t countProcesses() {
    std::vector<DWORD> ids(2048);
    DWORD bytes = 0;
    if (!K32EnumProcesses(ids.data(), static_cast<DWORD>(ids.size() * sizeof(DWORD)), &bytes)) return 0;
    return bytes / sizeof(DWORD);
}

}  // namespace marvik
