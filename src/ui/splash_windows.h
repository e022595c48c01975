// The start-up card: 350 x 280, centred, rounded, gone after about 3 s.
#pragma once

#include <windows.h>

namespace marvik {

constexpr const char* SPLASH_WND_CLASS = "Marvik_AC_Splash";
constexpr int SPLASH_WIDTH = 350;
constexpr int SPLASH_HEIGHT = 280;
constexpr UINT_PTR IDT_SPLASH = 1;
constexpr UINT SPLASH_SHOW_MS = 3000;

extern HWND g_hSplashWnd;

LRESULT CALLBACK splashWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Registers the class, creates the card, fades it in and starts its timer.
void showSplash(HINSTANCE instance);

}  // namespace marvik
