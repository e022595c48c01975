#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "report/tray.h"
#include "report/tray_windows.h"

namespace marvik {
namespace {

// No tray here: the shell calls fail quietly, the record is what counts. A
// version-4 icon shows no tooltip without NIF_SHOWTIP; the balloon's
// timeout shares its field with the version, so a balloon sets none.
TEST(TrayRecord, Version4RecordWithTheStandardIconKeptAcrossABalloon) {
    initTrayRecord(nullptr, nullptr);
    EXPECT_EQ(g_nid.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP));
    EXPECT_NE(g_nid.hIcon, nullptr);
    showTrayBalloon("Game detected! Connecting...", TrayBalloonLevel::Info);
    EXPECT_EQ(g_nid.uVersion, static_cast<UINT>(NOTIFYICON_VERSION_4));
}

// The colour at (x, y) of an icon, as 0xRRGGBB.
unsigned pixelOf(HICON icon, int x, int y, int& size) {
    ICONINFO info = {};
    if (!GetIconInfo(icon, &info)) return 0;
    BITMAP bm = {};
    GetObject(info.hbmColor, sizeof bm, &bm);
    size = bm.bmWidth;
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = bm.bmWidth;
    bi.bmiHeader.biHeight = -bm.bmHeight;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    std::vector<std::uint32_t> px(static_cast<std::size_t>(bm.bmWidth) * bm.bmHeight);
    HDC dc = GetDC(nullptr);
    GetDIBits(dc, info.hbmColor, 0, bm.bmHeight, px.data(), &bi, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return px.empty() ? 0 : px[static_cast<std::size_t>(y) * bm.bmWidth + x] & 0xFFFFFFu;
}

// Waiting shows the plain icon; a running session a green badge, a
// rejection a red one, in the lower right corner.
TEST(TrayRecord, EachStateItsOwnIcon) {
    initTrayRecord(nullptr, nullptr);
    const HICON plain = g_nid.hIcon;
    setTrayStatus("Verified - Active");
    const HICON active = g_nid.hIcon;
    setTrayStatus(TRAY_STATUS_REJECTED);
    const HICON problem = g_nid.hIcon;
    setTrayStatus("Waiting for game...");
    EXPECT_EQ(g_nid.hIcon, plain);
    EXPECT_NE(active, plain);
    EXPECT_NE(problem, plain);
    EXPECT_NE(problem, active);
    int size = 0;
    pixelOf(active, 0, 0, size);
    ASSERT_GT(size, 8);
    const int badge = size - 1 - static_cast<int>(size * 0.22);
    EXPECT_EQ(pixelOf(active, badge, badge, size), 0x2EB84Bu);
    EXPECT_EQ(pixelOf(problem, badge, badge, size), 0xE03030u);
}

}  // namespace
}  // namespace marvik
