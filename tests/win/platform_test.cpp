// What the shell and the registry of a real Windows (Wine) take from the
// client: the Run value, the tray record, the volume the hardware id reads.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "base/exe_path.h"
#include "config/autostart_windows.h"
#include "inventory/hwid_windows.h"
#include "report/tray_windows.h"

namespace marvik {
namespace {

// Against the real HKCU of the test's own Wine prefix; the value goes again.
TEST(Autostart, PathWrittenInQuotes) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, AUTOSTART_RUN_KEY, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    writeAutostartValue();
    char data[600] = {};
    DWORD size = sizeof data;
    RegGetValueA(HKEY_CURRENT_USER, AUTOSTART_RUN_KEY, AUTOSTART_VALUE_NAME, RRF_RT_REG_SZ, nullptr, data, &size);
    RegDeleteValueA(key, AUTOSTART_VALUE_NAME);
    RegCloseKey(key);
    EXPECT_EQ(std::string(data), "\"" + executablePath() + "\"");
}

// No tray here: the shell calls fail quietly, the record is what counts. The
// balloon's timeout shares its field with the version, so a balloon sets none.
TEST(TrayRecord, Version4KeptAcrossABalloon) {
    initTrayRecord(nullptr, nullptr);
    showTrayBalloon("Game detected! Connecting...", TrayBalloonLevel::Info);
    EXPECT_EQ(g_nid.uVersion, static_cast<UINT>(NOTIFYICON_VERSION_4));
}

TEST(HWIDWin32, VisiblePartIsTheSystemVolumeSerial) {
    DWORD serial = 0;
    ASSERT_TRUE(GetVolumeInformationA("C:\\", nullptr, 0, &serial, nullptr, nullptr, nullptr, 0));
    char visible[9];
    std::snprintf(visible, sizeof visible, "%08lX", static_cast<unsigned long>(serial));
    EXPECT_EQ(generateHWID().substr(7, 8), visible);
}

}  // namespace
}  // namespace marvik
