// acctl: does to a running client what a player does with its tray icon.
//   acctl menu   right-click the icon, print the menu's items, close it
//   acctl stop   right-click the icon and pick "Stop AntiCheat"
//   acctl alive  exit code 0 while the client's main window exists
//   acctl dialog <caption>   print the texts of a message box with that caption
//   acctl stats  print the client's thread and handle counts
//   acctl dismiss <caption>  press its OK button
// The menu's items are read by menu_probe.dll, loaded into the client for
// the moment (a process cannot read another's menus).
// The right click is the icon's real callback (version 4 context-menu event)
// sent to the client's message-only window; the menu is the client's own.
#include <windows.h>
#include <tlhelp32.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "checks/nt_query_windows.h"

namespace {

constexpr UINT WM_TRAYICON = WM_USER + 1;

HWND findClient() { return FindWindowExA(HWND_MESSAGE, nullptr, "Marvik_AC_WndClass", nullptr); }

HWND waitForMenuWindow(DWORD clientThread, int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 50) {
        HWND menu = nullptr;
        while ((menu = FindWindowExA(nullptr, menu, "#32768", nullptr)) != nullptr) {
            if (GetWindowThreadProcessId(menu, nullptr) == clientThread && IsWindowVisible(menu)) return menu;
        }
        Sleep(50);
    }
    return nullptr;
}

HWND openMenu(HWND client) {
    DWORD thread = GetWindowThreadProcessId(client, nullptr);
    POINT at = {640, 400};
    SetCursorPos(at.x, at.y);
    PostMessageA(client, WM_TRAYICON, MAKEWPARAM(at.x, at.y), MAKELPARAM(WM_CONTEXTMENU, 1));
    return waitForMenuWindow(thread, 5000);
}

void key(HWND menuWindow, WPARAM vk) {
    PostMessageA(menuWindow, WM_KEYDOWN, vk, 0);
    PostMessageA(menuWindow, WM_KEYUP, vk, 0xC0000000);
    Sleep(100);
}

std::string besideSelf(const char* name) {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string path = self;
    return path.substr(0, path.find_last_of('\\') + 1) + name;
}

// Loads menu_probe.dll into the client, which writes the open menu's items
// to menu_probe.txt; prints them.
int printMenu(HWND client) {
    const std::string dll = besideSelf("menu_probe.dll");
    const std::string report = besideSelf("menu_probe.txt");
    DeleteFileA(report.c_str());
    DWORD pid = 0;
    GetWindowThreadProcessId(client, &pid);
    HANDLE process = OpenProcess(PROCESS_CREATE_THREAD | PROCESS_VM_OPERATION | PROCESS_VM_WRITE |
                                     PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (process == nullptr) {
        std::printf("error: cannot open the client process\n");
        return 4;
    }
    void* remote = VirtualAllocEx(process, nullptr, dll.size() + 1, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    bool injected = false;
    if (remote != nullptr && WriteProcessMemory(process, remote, dll.c_str(), dll.size() + 1, nullptr)) {
        auto loadLibrary = reinterpret_cast<LPTHREAD_START_ROUTINE>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "LoadLibraryA")));
        HANDLE thread = CreateRemoteThread(process, nullptr, 0, loadLibrary, remote, 0, nullptr);
        if (thread != nullptr) {
            WaitForSingleObject(thread, 5000);
            CloseHandle(thread);
            injected = true;
        }
    }
    if (remote != nullptr) VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    if (!injected) {
        std::printf("error: cannot load menu_probe.dll into the client\n");
        return 4;
    }
    for (int waited = 0; waited < 5000; waited += 50) {
        if (std::FILE* f = std::fopen(report.c_str(), "rb")) {
            char buf[4096];
            size_t n = std::fread(buf, 1, sizeof buf, f);
            std::fclose(f);
            std::fwrite(buf, 1, n, stdout);
            return std::strncmp(buf, "error", 5) == 0 ? 4 : 0;
        }
        Sleep(50);
    }
    std::printf("error: the menu probe wrote nothing\n");
    return 4;
}

HWND findDialog(const char* caption) {
    for (int waited = 0; waited < 5000; waited += 50) {
        HWND dialog = FindWindowA("#32770", caption);
        if (dialog != nullptr) return dialog;
        Sleep(50);
    }
    return nullptr;
}

BOOL CALLBACK collectChild(HWND child, LPARAM lines) {
    char cls[64] = {}, text[512] = {};
    GetClassNameA(child, cls, sizeof cls);
    GetWindowTextA(child, text, sizeof text);
    if (IsWindowVisible(child) && text[0] != '\0') {
        char line[700];
        std::snprintf(line, sizeof line, "%s id=%d: %s\n", cls, GetDlgCtrlID(child), text);
        *reinterpret_cast<std::string*>(lines) += line;
    }
    return TRUE;
}

// Wine answers GetProcessHandleCount with 0 for any process; the system's
// handle table has the real entries there as on Windows.
bool countHandles(DWORD pid, unsigned long& count) {
    const std::vector<marvik::SystemHandle> table = marvik::readHandleTable();
    count = 0;
    for (const marvik::SystemHandle& h : table)
        if (h.owner == pid) ++count;
    return !table.empty();
}

int printStats(HWND client) {
    DWORD pid = 0;
    GetWindowThreadProcessId(client, &pid);
    unsigned long handles = 0;
    if (!countHandles(pid, handles)) {
        std::printf("error: cannot read the client's counts\n");
        return 4;
    }
    int threads = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == pid) ++threads;
    CloseHandle(snapshot);
    std::printf("threads=%d handles=%lu\n", threads, handles);
    return 0;
}

int dialogCommand(const std::string& command, const char* caption) {
    HWND dialog = findDialog(caption);
    if (dialog == nullptr) {
        std::printf("error: no dialog \"%s\"\n", caption);
        return 2;
    }
    if (command == "dismiss") {
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return 0;
    }
    // The box can be found before its text and buttons are shown.
    std::string lines;
    for (int waited = 0; waited < 5000; waited += 100) {
        lines.clear();
        EnumChildWindows(dialog, collectChild, reinterpret_cast<LPARAM>(&lines));
        if (lines.find("Static") != std::string::npos && lines.find("Button") != std::string::npos) break;
        Sleep(100);
    }
    char title[256] = {};
    GetWindowTextA(dialog, title, sizeof title);
    std::printf("caption: %s\n%s", title, lines.c_str());
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string command = argc > 1 ? argv[1] : "";
    if ((command == "dialog" || command == "dismiss") && argc > 2) return dialogCommand(command, argv[2]);
    HWND client = findClient();
    if (command == "alive") return client != nullptr ? 0 : 1;
    if (command != "menu" && command != "stop" && command != "stats") {
        std::fprintf(stderr, "usage: acctl menu|stop|alive|stats|dialog <caption>|dismiss <caption>\n");
        return 64;
    }
    if (client == nullptr) {
        std::printf("error: no client window\n");
        return 2;
    }
    if (command == "stats") return printStats(client);
    HWND menuWindow = openMenu(client);
    if (menuWindow == nullptr) {
        std::printf("error: no menu appeared\n");
        return 3;
    }
    int rc = printMenu(client);
    if (command == "menu") {
        key(menuWindow, VK_ESCAPE);
    } else {
        // Up from no selection highlights the last item: "Stop AntiCheat".
        key(menuWindow, VK_UP);
        key(menuWindow, VK_RETURN);
    }
    std::fflush(stdout);
    return rc;
}
