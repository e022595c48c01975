#include "inventory/hwid_windows.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>

namespace marvik {
namespace {

TEST(HWIDWin32, VisiblePartIsTheSystemVolumeSerialAndTheIdStable) {
    DWORD serial = 0;
    ASSERT_TRUE(GetVolumeInformationA("C:\\", nullptr, 0, &serial, nullptr, nullptr, nullptr, 0));
    char visible[9];
    std::snprintf(visible, sizeof visible, "%08lX", static_cast<unsigned long>(serial));
    const std::string id = generateHWID();
    EXPECT_EQ(id.substr(7, 8), visible) << id;
    EXPECT_EQ(generateHWID(), id);
}

}  // namespace
}  // namespace marvik
