#include "ui/main_window_windows.h"

#include "base/process_flags.h"
#include "report/tray_windows.h"
#include "session/session_link.h"
#include "ui/menu_status.h"

namespace marvik {

static void showTrayMenu(HWND hwnd) {
    HMENU menu = CreatePopupMenu();
    char status[MENU_STATUS_SIZE];
    formatMenuStatus(status, g_verified.load(), g_gamePID.load(), g_rejected.load());
    AppendMenuA(menu, MF_STRING | MF_GRAYED, IDM_STATUS, status);
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, IDM_STOP, "Stop AntiCheat");
    POINT cursor;
    GetCursorPos(&cursor);
    // Without the foreground switch the menu would not close on a click elsewhere.
    SetForegroundWindow(hwnd);
    TrackPopupMenu(menu, TPM_RIGHTALIGN | TPM_BOTTOMALIGN, cursor.x, cursor.y, 0, hwnd, nullptr);
    PostMessageA(hwnd, WM_NULL, 0, 0);
    DestroyMenu(menu);
}

LRESULT CALLBACK mainWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_TRAYICON:
        // Version 4: the event is the low word of lParam.
        if (LOWORD(lParam) == WM_CONTEXTMENU || LOWORD(lParam) == WM_RBUTTONUP) showTrayMenu(hwnd);
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDM_STOP) {
            requestProgramStop();
            removeTrayIcon();
            PostQuitMessage(0);
        }
        return 0;
    case WM_DESTROY:
        removeTrayIcon();
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
}

HWND createMainWindow(HINSTANCE instance) {
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = mainWndProc;
    wc.hInstance = instance;
    wc.lpszClassName = MAIN_WND_CLASS;
    RegisterClassExA(&wc);
    return CreateWindowExA(0, MAIN_WND_CLASS, WINDOW_TITLE, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           instance, nullptr);
}

}  // namespace marvik
