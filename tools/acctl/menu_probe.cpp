// menu_probe.dll: loaded into a running client by acctl, it reads the
// client's open popup menu from inside the process (menus cannot be read
// across processes) and writes its items to menu_probe.txt beside itself.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

constexpr UINT MN_GETHMENU_MSG = 0x01E1;

HWND ownMenuWindow() {
    HWND w = nullptr;
    while ((w = FindWindowExA(nullptr, w, "#32768", nullptr)) != nullptr) {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid == GetCurrentProcessId() && IsWindowVisible(w)) return w;
    }
    return nullptr;
}

std::string describeMenu() {
    HWND window = ownMenuWindow();
    if (window == nullptr) return "error: no open menu\n";
    DWORD_PTR result = 0;
    SendMessageTimeoutA(window, MN_GETHMENU_MSG, 0, 0, SMTO_ABORTIFHUNG, 2000, &result);
    HMENU menu = reinterpret_cast<HMENU>(result);
    int count = menu != nullptr ? GetMenuItemCount(menu) : -1;
    if (count < 0) return "error: cannot read the menu\n";
    std::string out;
    for (int i = 0; i < count; ++i) {
        char text[256] = {};
        MENUITEMINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = sizeof text - 1;
        GetMenuItemInfoA(menu, static_cast<UINT>(i), TRUE, &info);
        char line[400];
        if (info.fType & MFT_SEPARATOR)
            std::snprintf(line, sizeof line, "item %d: separator\n", i);
        else
            std::snprintf(line, sizeof line, "item %d: id=%u%s text=%s\n", i, info.wID,
                          (info.fState & MFS_GRAYED) ? " grayed" : "", text);
        out += line;
    }
    return out;
}

DWORD WINAPI probe(LPVOID param) {
    HMODULE self = static_cast<HMODULE>(param);
    char path[MAX_PATH] = {};
    GetModuleFileNameA(self, path, MAX_PATH);
    std::string target = path;
    target = target.substr(0, target.find_last_of('.')) + ".txt";
    std::string temporary = target + ".part";
    std::string text = describeMenu();
    if (std::FILE* f = std::fopen(temporary.c_str(), "wb")) {
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
        MoveFileExA(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    FreeLibraryAndExitThread(self, 0);
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        // The work runs on a thread of its own, outside the loader lock.
        HANDLE t = CreateThread(nullptr, 0, probe, instance, 0, nullptr);
        if (t != nullptr) CloseHandle(t);
    }
    return TRUE;
}
