#include "ui/main_window_win32.h"

#include "app/globals.h"
#include "report/tray_win32.h"

namespace marvik {

LRESULT CALLBACK mainWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_DESTROY:
        g_running.exchange(false);
        g_sessionActive.exchange(false);
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
