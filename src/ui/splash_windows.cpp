#include "ui/splash_windows.h"

#include "base/version.h"

#include "ui/main_window_windows.h"

namespace marvik {

extern HICON g_hIcon;
HWND g_hSplashWnd = nullptr;

namespace {

constexpr int ICON_SIZE = 96;
constexpr int ICON_TOP = 30;
constexpr DWORD FADE_MS = 300;

HFONT createSplashFont(int height, int weight) {
    return CreateFontA(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS, "Segoe UI");
}

void drawLine(HDC dc, const char* text, int top, int bottom, int width) {
    RECT r = {0, top, width, bottom};
    DrawTextA(dc, text, -1, &r, DT_CENTER | DT_TOP | DT_SINGLELINE);
}

void paintSplash(HWND hwnd) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT client;
    GetClientRect(hwnd, &client);
    int width = client.right;

    HBRUSH background = CreateSolidBrush(RGB(25, 25, 35));
    FillRect(dc, &client, background);
    DeleteObject(background);

    if (g_hIcon != nullptr)
        DrawIconEx(dc, (width - ICON_SIZE) / 2, ICON_TOP, g_hIcon, ICON_SIZE, ICON_SIZE, 0, nullptr, DI_NORMAL);

    SetBkMode(dc, TRANSPARENT);
    HFONT title = createSplashFont(28, FW_BOLD);
    HFONT body = createSplashFont(16, FW_NORMAL);

    HGDIOBJ previous = SelectObject(dc, title);
    SetTextColor(dc, RGB(220, 220, 240));
    drawLine(dc, "Marvik AntiCheat", 140, 180, width);

    SelectObject(dc, body);
    SetTextColor(dc, RGB(150, 150, 180));
    drawLine(dc, "v" MARVIK_VERSION_TEXT " - Protect your game. Play fair.", 180, 210, width);
    SetTextColor(dc, RGB(100, 200, 100));
    drawLine(dc, "Starting...", 230, 260, width);

    SelectObject(dc, previous);
    DeleteObject(title);
    DeleteObject(body);
    EndPaint(hwnd, &ps);
}

}  // namespace

LRESULT CALLBACK splashWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_PAINT:
        paintSplash(hwnd);
        return 0;
    case WM_TIMER:
        if (wParam == IDT_SPLASH) {
            KillTimer(hwnd, IDT_SPLASH);
            AnimateWindow(hwnd, FADE_MS, AW_HIDE | AW_BLEND);
            DestroyWindow(hwnd);
            g_hSplashWnd = nullptr;
        }
        return 0;
    case WM_DESTROY:
        g_hSplashWnd = nullptr;
        return 0;
    default:
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
}

void showSplash(HINSTANCE instance) {
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = splashWndProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.lpszClassName = SPLASH_WND_CLASS;
    RegisterClassExA(&wc);

    int x = (GetSystemMetrics(SM_CXSCREEN) - SPLASH_WIDTH) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - SPLASH_HEIGHT) / 2;
    g_hSplashWnd = CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, SPLASH_WND_CLASS, WINDOW_TITLE, WS_POPUP,
                                   x, y, SPLASH_WIDTH, SPLASH_HEIGHT, nullptr, nullptr, instance, nullptr);
    if (g_hSplashWnd == nullptr) return;

    // The window owns the region from here on.
    HRGN region = CreateRoundRectRgn(0, 0, SPLASH_WIDTH, SPLASH_HEIGHT, 16, 16);
    SetWindowRgn(g_hSplashWnd, region, TRUE);

    AnimateWindow(g_hSplashWnd, FADE_MS, AW_BLEND);
    ShowWindow(g_hSplashWnd, SW_SHOW);
    UpdateWindow(g_hSplashWnd);
    SetTimer(g_hSplashWnd, IDT_SPLASH, SPLASH_SHOW_MS, nullptr);
}

}  // namespace marvik
