// The tray icon record and the operations of the UI thread on it.
#pragma once

#include <windows.h>
#include <shellapi.h>

namespace marvik {

// WM_USER + 1: the icon's callback message to the main window.
constexpr UINT WM_TRAYICON = WM_USER + 1;

extern NOTIFYICONDATAA g_nid;

// Fills g_nid for the main window and icon (null icon: the standard one),
// tooltip "Marvik AC v3.2 - Starting...".
void initTrayRecord(HWND mainWindow, HICON icon);
// Adds the icon, then sets behaviour version 4.
void addTrayIcon();
void removeTrayIcon();

}  // namespace marvik
