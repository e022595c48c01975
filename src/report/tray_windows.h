// The tray icon record of the Windows build.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "report/tray.h"

namespace marvik {

// WM_USER + 1: the icon's callback message to the main window.
constexpr UINT WM_TRAYICON = WM_USER + 1;

extern NOTIFYICONDATAA g_nid;

// Fills g_nid for the main window and icon (null icon: the standard one),
// tooltip "Marvik AC v<version> - Starting...". Called before any other thread
// uses the tray.
void initTrayRecord(HWND mainWindow, HICON icon);

}  // namespace marvik
