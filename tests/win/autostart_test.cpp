#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "base/exe_path.h"
#include "config/autostart_windows.h"

namespace marvik {
namespace {

// Against the real HKCU of the test's own Wine prefix, left as it was: the
// Run key, without the value.
TEST(Autostart, PathWrittenOverAnOldValueAndAMissingRunKeyNotCreated) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, AUTOSTART_RUN_KEY, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const char old[] = "C:\\old\\place\\marvik_ac.exe";
    RegSetValueExA(key, AUTOSTART_VALUE_NAME, 0, REG_SZ, reinterpret_cast<const BYTE*>(old), sizeof old);
    RegCloseKey(key);
    writeAutostartValue();
    char data[600] = {};
    DWORD type = 0, size = sizeof data;
    EXPECT_EQ(RegGetValueA(HKEY_CURRENT_USER, AUTOSTART_RUN_KEY, AUTOSTART_VALUE_NAME, RRF_RT_ANY, &type, data, &size),
              ERROR_SUCCESS);
    // The path in quotes, as a string whose size counts its NUL.
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(std::string(data), "\"" + executablePath() + "\"");
    EXPECT_EQ(size, executablePath().size() + 3);

    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, AUTOSTART_RUN_KEY), ERROR_SUCCESS);
    writeAutostartValue();
    const LONG reopened = RegOpenKeyExA(HKEY_CURRENT_USER, AUTOSTART_RUN_KEY, 0, KEY_READ, &key);
    if (reopened == ERROR_SUCCESS) RegCloseKey(key);
    EXPECT_NE(reopened, ERROR_SUCCESS) << "a missing Run key was created";
    RegCreateKeyExA(HKEY_CURRENT_USER, AUTOSTART_RUN_KEY, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    RegDeleteValueA(key, AUTOSTART_VALUE_NAME);
    RegCloseKey(key);
}

}  // namespace
}  // namespace marvik
