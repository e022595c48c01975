#include <gtest/gtest.h>

#include "report/tray.h"
#include "report/tray_windows.h"

namespace marvik {
namespace {

// Without NIF_SHOWTIP a version-4 icon shows no tooltip.
constexpr UINT kFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP;

// No tray here: the shell calls fail quietly, the record is what counts.
TEST(TrayRecord, AVersion4RecordWithTheBalloonFlagOnlyDuringTheBalloonCall) {
    initTrayRecord(nullptr, nullptr);
    EXPECT_EQ(g_nid.uFlags, kFlags);
    EXPECT_EQ(g_nid.uVersion, static_cast<UINT>(NOTIFYICON_VERSION_4));
    EXPECT_NE(g_nid.hIcon, nullptr);  // standard icon when none is given
    EXPECT_STREQ(g_nid.szTip, "Marvik AC v3.2 - Starting...");
    EXPECT_EQ(g_nid.szInfo[0], '\0');

    showTrayBalloon("Game detected! Connecting...", TrayBalloonLevel::Info);
    EXPECT_EQ(g_nid.uFlags, kFlags);
    EXPECT_STREQ(g_nid.szInfo, "Game detected! Connecting...");
    EXPECT_STREQ(g_nid.szInfoTitle, "Marvik AC");
    EXPECT_EQ(g_nid.dwInfoFlags, static_cast<DWORD>(NIIF_INFO));
    EXPECT_EQ(g_nid.uVersion, static_cast<UINT>(NOTIFYICON_VERSION_4));  // no timeout set

    setTrayStatus("Connecting...");
    EXPECT_EQ(g_nid.uFlags, kFlags);  // a status call shows no balloon
    EXPECT_STREQ(g_nid.szTip, "Marvik AC v3.2 - Connecting...");
}

}  // namespace
}  // namespace marvik
