#include "report/tray_win32.h"

#include <cstring>

#include "report/tray.h"

namespace marvik {

NOTIFYICONDATAA g_nid;

static_assert(sizeof(NOTIFYICONDATAA) ==
                  offsetof(NOTIFYICONDATAA, hBalloonIcon) + sizeof(HICON),
              "the tray record must be the full current structure");

namespace {
// Holds one operation's field writes and its shell call together against
// another thread's. Statically initialised, so it needs no lifetime.
SRWLOCK g_trayLock = SRWLOCK_INIT;

struct TrayLockGuard {
    TrayLockGuard() { AcquireSRWLockExclusive(&g_trayLock); }
    ~TrayLockGuard() { ReleaseSRWLockExclusive(&g_trayLock); }
    TrayLockGuard(const TrayLockGuard&) = delete;
    TrayLockGuard& operator=(const TrayLockGuard&) = delete;
};
}  // namespace

void initTrayRecord(HWND mainWindow, HICON icon) {
    TrayLockGuard guard;
    std::memset(&g_nid, 0, sizeof g_nid);
    g_nid.cbSize = sizeof g_nid;
    g_nid.hWnd = mainWindow;
    g_nid.uID = 1;
    // An icon of behaviour version 4 shows no tooltip without NIF_SHOWTIP.
    g_nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP;
    g_nid.uCallbackMessage = WM_TRAYICON;
    g_nid.hIcon = icon != nullptr ? icon : LoadIcon(nullptr, IDI_APPLICATION);
    formatTrayTip(g_nid.szTip, "Starting...");
    g_nid.uVersion = NOTIFYICON_VERSION_4;
}

void addTrayIcon() {
    TrayLockGuard guard;
    Shell_NotifyIconA(NIM_ADD, &g_nid);
    Shell_NotifyIconA(NIM_SETVERSION, &g_nid);
}

void removeTrayIcon() {
    TrayLockGuard guard;
    Shell_NotifyIconA(NIM_DELETE, &g_nid);
}

void setTrayStatus(const char* status) {
    TrayLockGuard guard;
    formatTrayTip(g_nid.szTip, status);
    Shell_NotifyIconA(NIM_MODIFY, &g_nid);
}

void showTrayBalloon(const char* text, TrayBalloonLevel level) {
    TrayLockGuard guard;
    g_nid.uFlags |= NIF_INFO;
    fillBalloonTitle(g_nid.szInfoTitle);
    fillBalloonText(g_nid.szInfo, text);
    g_nid.dwInfoFlags = static_cast<DWORD>(level);
    Shell_NotifyIconA(NIM_MODIFY, &g_nid);
    // Without this a later tooltip update would show the balloon again.
    g_nid.uFlags &= ~static_cast<UINT>(NIF_INFO);
}

}  // namespace marvik
