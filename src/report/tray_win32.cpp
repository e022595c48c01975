#include "report/tray_windows.h"

#include <cstring>

namespace marvik {

NOTIFYICONDATAA g_nid;

static_assert(sizeof(NOTIFYICONDATAA) == offsetof(NOTIFYICONDATAA, hBalloonIcon) + sizeof(HICON),
              "the tray record must be the full current structure");
static_assert(TRAY_FLAGS == (NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP) && TRAY_FLAG_INFO == NIF_INFO,
              "tray flags are the shell's");
static_assert(static_cast<DWORD>(TrayCall::Add) == NIM_ADD && static_cast<DWORD>(TrayCall::Modify) == NIM_MODIFY &&
                  static_cast<DWORD>(TrayCall::Delete) == NIM_DELETE &&
                  static_cast<DWORD>(TrayCall::SetVersion) == NIM_SETVERSION,
              "tray calls are the shell's");

void initTrayRecord(HWND mainWindow, HICON icon) {
    std::memset(&g_nid, 0, sizeof g_nid);
    g_nid.cbSize = sizeof g_nid;
    g_nid.hWnd = mainWindow;
    g_nid.uID = 1;
    g_nid.uFlags = TRAY_FLAGS;
    g_nid.uCallbackMessage = WM_TRAYICON;
    g_nid.hIcon = icon != nullptr ? icon : LoadIcon(nullptr, IDI_APPLICATION);
    formatTrayTip(g_nid.szTip, "Starting...");
    g_nid.uVersion = NOTIFYICON_VERSION_4;
}

TrayFields trayFields() { return {g_nid.uFlags, g_nid.szTip, g_nid.szInfo, g_nid.szInfoTitle, g_nid.dwInfoFlags}; }

void trayShellCall(TrayCall call) { Shell_NotifyIconA(static_cast<DWORD>(call), &g_nid); }

}  // namespace marvik
