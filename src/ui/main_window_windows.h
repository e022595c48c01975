// The hidden, message-only main window: it receives the tray icon's
// callbacks and the menu's one command.
#pragma once

#include <windows.h>

namespace marvik {

constexpr const char* MAIN_WND_CLASS = "Marvik_AC_WndClass";
constexpr const char* WINDOW_TITLE = "Marvik AC";
constexpr UINT IDM_STATUS = 2001;
constexpr UINT IDM_STOP = 2002;

LRESULT CALLBACK mainWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Registers the class and creates the message-only window.
HWND createMainWindow(HINSTANCE instance);

}  // namespace marvik
