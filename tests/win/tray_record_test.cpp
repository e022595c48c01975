#include <gtest/gtest.h>

#include "report/tray.h"
#include "report/tray_windows.h"

namespace marvik {
namespace {

// No tray here: the shell calls fail quietly, the record is what counts. A
// version-4 icon shows no tooltip without NIF_SHOWTIP; the balloon's
// timeout shares its field with the version, so a balloon sets none. (That
// each state shows its own icon: session_test under Wine.)
TEST(TrayRecord, Version4RecordWithTheStandardIconKeptAcrossABalloon) {
    initTrayRecord(nullptr, nullptr);
    EXPECT_EQ(g_nid.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP));
    EXPECT_NE(g_nid.hIcon, nullptr);
    showTrayBalloon("Game detected! Connecting...", TrayBalloonLevel::Info);
    EXPECT_EQ(g_nid.uVersion, static_cast<UINT>(NOTIFYICON_VERSION_4));
}

}  // namespace
}  // namespace marvik
