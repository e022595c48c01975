// The hidden, message-only main window: it owns the tray icon's callbacks.
#pragma once

#include <windows.h>

namespace marvik {

constexpr const char* MAIN_WND_CLASS = "Marvik_AC_WndClass";
constexpr const char* WINDOW_TITLE = "Marvik AC";

LRESULT CALLBACK mainWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Registers the class and creates the message-only window.
HWND createMainWindow(HINSTANCE instance);

}  // namespace marvik
