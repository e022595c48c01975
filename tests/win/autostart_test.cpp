#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "app/exe_path.h"
#include "config/autostart.h"

namespace marvik {
namespace {

// Runs against the real HKCU of the test's own Wine prefix.
class Autostart : public testing::Test {
protected:
    void SetUp() override { deleteValue(); }
    void TearDown() override {
        deleteValue();
        ensureRunKey();
    }
    static void deleteValue() {
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, AUTOSTART_RUN_KEY, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            RegDeleteValueA(key, AUTOSTART_VALUE_NAME);
            RegCloseKey(key);
        }
    }
    static void ensureRunKey() {
        HKEY key;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, AUTOSTART_RUN_KEY, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                            nullptr) == ERROR_SUCCESS)
            RegCloseKey(key);
    }
    static bool runKeyExists() {
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, AUTOSTART_RUN_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        RegCloseKey(key);
        return true;
    }
};

// The executable's path, unquoted, as a string whose size counts its NUL,
// over whatever an older copy wrote there.
TEST_F(Autostart, WritesExecutablePathAsStringOverAnOldValue) {
    ensureRunKey();
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, AUTOSTART_RUN_KEY, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    const char old[] = "C:\\old\\place\\marvik_ac.exe";
    RegSetValueExA(key, AUTOSTART_VALUE_NAME, 0, REG_SZ, reinterpret_cast<const BYTE*>(old), sizeof old);
    RegCloseKey(key);
    writeAutostartValue();
    char data[600] = {};
    DWORD type = 0;
    DWORD size = sizeof data;
    ASSERT_EQ(RegGetValueA(HKEY_CURRENT_USER, AUTOSTART_RUN_KEY, AUTOSTART_VALUE_NAME, RRF_RT_ANY, &type, data,
                           &size),
              ERROR_SUCCESS);
    const std::string exe = executablePath();
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(std::string(data), exe);
    EXPECT_EQ(size, exe.size() + 1);
    EXPECT_EQ(exe.find('"'), std::string::npos);
}

TEST_F(Autostart, MissingRunKeyIsNotCreated) {
    // The key holds only what these tests put there, in the private prefix.
    ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, AUTOSTART_RUN_KEY), ERROR_SUCCESS);
    writeAutostartValue();
    EXPECT_FALSE(runKeyExists());
}

}  // namespace
}  // namespace marvik
