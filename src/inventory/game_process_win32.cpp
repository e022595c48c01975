#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <vector>

#include "base/exe_path.h"
#include "base/utf8_windows.h"
#include "checks/text_match.h"
#include "checks/nt_query_windows.h"
#include "inventory/game_process_windows.h"
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

LONG queryProcess(HANDLE process, ULONG infoClass, void* out, ULONG size) {
    using Query = LONG(WINAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
    static const Query query = ntdllFunction<Query>("NtQueryInformationProcess");
    if (query == nullptr) return -1;
    return query(process, infoClass, out, size, nullptr);
}

ReadMemory processReader(HANDLE process) {
    return [process](std::uint64_t address, void* out, std::size_t size) {
        SIZE_T got = 0;
        return static_cast<std::uintptr_t>(address) == address &&
               ReadProcessMemory(process, reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address)), out,
                                 size, &got) &&
               got == size;
    };
}

Wow64View wow64View(HANDLE process) {
    Wow64View view;
    ProcessBasicInfo basic = {};
    const std::uint64_t ownPeb = queryProcess(process, PROCESS_INFO_BASIC, &basic, sizeof basic) >= 0
                                     ? reinterpret_cast<std::uintptr_t>(basic.pebBase)
                                     : 0;
#ifdef _WIN64
    ULONG_PTR answer = 0;
    view.wow64 = queryProcess(process, PROCESS_INFO_WOW64, &answer, sizeof answer) >= 0 && answer != 0;
    view.width = view.wow64 ? 4 : 8;
    if (!view.wow64) {
        view.peb = ownPeb;
        return view;
    }
    // Windows answers with the 32-bit block's address; Wine only with a
    // yes, and there the block is found beside the 64-bit one.
    view.peb = wow64Peb(processReader(process), answer, ownPeb);
    view.nativePeb = ownPeb;
#else
    // From the 32-bit client the system gives the 32-bit block of a 32-bit
    // process; a 64-bit process's is beyond its reach (the game is 32-bit,
    // so that pairing is only ever a test's).
    BOOL selfWow64 = FALSE, wow64 = FALSE;
    const bool onWow64 = IsWow64Process(GetCurrentProcess(), &selfWow64) && selfWow64;
    view.wow64 = onWow64 && IsWow64Process(process, &wow64) && wow64;
    view.width = onWow64 && !view.wow64 ? 8 : 4;
    view.peb = view.width == 4 ? ownPeb : 0;
#endif
    return view;
}

std::string redirectSystemFolder(const std::string& path, const Wow64View& game) {
    if (!game.wow64) return path;
    wchar_t systemWide[MAX_PATH], wow64Wide[MAX_PATH];
    UINT s = GetSystemDirectoryW(systemWide, MAX_PATH);
    UINT w = GetSystemWow64DirectoryW(wow64Wide, MAX_PATH);
    if (s == 0 || s >= MAX_PATH || w == 0 || w >= MAX_PATH) return path;
    const std::string system = utf8FromWide(systemWide, s), wow64 = utf8FromWide(wow64Wide, w);
    if (!underFolder(path, system)) return path;
    std::string redirected = wow64 + path.substr(system.size());
    return GetFileAttributesW(wideFromUtf8(redirected).c_str()) != INVALID_FILE_ATTRIBUTES ? redirected : path;
}

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
        if (underFolder(name, deviceName))
            return utf8FromWide(drive) + name.substr(deviceName.size());
    }
    return std::string();
}

bool inWindowsFolder(const std::string& path) {
    wchar_t windows[MAX_PATH] = {};
    UINT n = GetWindowsDirectoryW(windows, MAX_PATH);
    return n != 0 && n < MAX_PATH && underFolder(path, utf8FromWide(windows, n));
}

std::uint32_t countProcesses() {
    std::vector<DWORD> ids(2048);
    DWORD bytes = 0;
    if (!K32EnumProcesses(ids.data(), static_cast<DWORD>(ids.size() * sizeof(DWORD)), &bytes)) return 0;
    return bytes / sizeof(DWORD);
}

}  // namespace marvik
