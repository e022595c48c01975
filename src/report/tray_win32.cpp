#include "report/tray_windows.h"

#include <cstdint>
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

namespace {

// The icon of each TrayIconState; made with the record, before any other
// thread runs, and kept for the life of the process.
HICON g_stateIcons[TRAY_ICON_STATES] = {};

// base with paintIconBadge's badge of color, in 32-bit pixels with their
// own alpha (GDI's shapes would leave it 0, which is transparent). Null when
// it cannot be made.
HICON badgedIcon(HICON base, COLORREF color) {
    ICONINFO info = {};
    if (!GetIconInfo(base, &info)) return nullptr;
    BITMAP bm = {};
    GetObject(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof bm, &bm);
    if (info.hbmColor != nullptr) DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    const int size = bm.bmWidth;
    if (size <= 0) return nullptr;

    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = size;
    bi.bmiHeader.biHeight = -size;  // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    void* colorBits = nullptr;
    void* maskBits = nullptr;
    HBITMAP colorBitmap = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &colorBits, nullptr, 0);
    HBITMAP maskImage = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &maskBits, nullptr, 0);
    HBITMAP mask = CreateBitmap(size, size, 1, 1, nullptr);
    HICON badged = nullptr;
    if (colorBitmap != nullptr && maskImage != nullptr && mask != nullptr) {
        HGDIOBJ old = SelectObject(dc, colorBitmap);
        DrawIconEx(dc, 0, 0, base, size, size, 0, nullptr, DI_NORMAL);
        SelectObject(dc, maskImage);
        DrawIconEx(dc, 0, 0, base, size, size, 0, nullptr, DI_MASK);
        SelectObject(dc, mask);
        PatBlt(dc, 0, 0, size, size, BLACKNESS);  // all opaque: the alpha decides
        SelectObject(dc, old);
        GdiFlush();
        auto* px = static_cast<std::uint32_t*>(colorBits);
        const auto* maskPx = static_cast<const std::uint32_t*>(maskBits);
        bool anyAlpha = false;
        for (int i = 0; i < size * size; ++i) anyAlpha = anyAlpha || (px[i] >> 24) != 0;
        // An icon without alpha is shaped by its mask: black is opaque.
        if (!anyAlpha)
            for (int i = 0; i < size * size; ++i)
                px[i] = (px[i] & 0xFFFFFFu) | ((maskPx[i] & 0xFFFFFFu) == 0 ? 0xFF000000u : 0u);
        paintIconBadge(px, size, (GetRValue(color) << 16) | (GetGValue(color) << 8) | GetBValue(color));
        ICONINFO made = {TRUE, 0, 0, mask, colorBitmap};
        badged = CreateIconIndirect(&made);
    }
    if (colorBitmap != nullptr) DeleteObject(colorBitmap);
    if (maskImage != nullptr) DeleteObject(maskImage);
    if (mask != nullptr) DeleteObject(mask);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return badged;
}

}  // namespace

void initTrayRecord(HWND mainWindow, HICON icon) {
    if (icon == nullptr) icon = LoadIcon(nullptr, IDI_APPLICATION);
    g_stateIcons[static_cast<int>(TrayIconState::Waiting)] = icon;
    // Green for a running session, red for a problem; a badge that cannot
    // be made leaves the plain icon.
    const COLORREF badges[] = {0, RGB(0x2E, 0xB8, 0x4B), RGB(0xE0, 0x30, 0x30)};
    for (int state = 1; state < TRAY_ICON_STATES; ++state) {
        HICON badged = badgedIcon(icon, badges[state]);
        g_stateIcons[state] = badged != nullptr ? badged : icon;
    }
    std::memset(&g_nid, 0, sizeof g_nid);
    g_nid.cbSize = sizeof g_nid;
    g_nid.hWnd = mainWindow;
    g_nid.uID = 1;
    g_nid.uFlags = TRAY_FLAGS;
    g_nid.uCallbackMessage = WM_TRAYICON;
    g_nid.hIcon = icon;
    formatTrayTip(g_nid.szTip, "Starting...");
    g_nid.uVersion = NOTIFYICON_VERSION_4;
}

TrayFields trayFields() { return {g_nid.uFlags, g_nid.szTip, g_nid.szInfo, g_nid.szInfoTitle, g_nid.dwInfoFlags}; }

void trayShellCall(TrayCall call) { Shell_NotifyIconA(static_cast<DWORD>(call), &g_nid); }

void traySetIcon(TrayIconState state) { g_nid.hIcon = g_stateIcons[static_cast<int>(state)]; }

}  // namespace marvik
