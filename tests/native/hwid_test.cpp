#include "inventory/hwid.h"

#include <gtest/gtest.h>

namespace marvik {
namespace {

HWIDSources workedExample()
{
    HWIDSources s{};
    s.cpuidVendor[0] = 0x756E6547;
    s.cpuidVendor[1] = 0x6C65746E;
    s.cpuidVendor[2] = 0x49656E69;
    s.cpuidSignature = 0x000906EA;
    const std::uint8_t mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    for (int i = 0; i < 6; ++i) s.mac[i] = mac[i];
    s.volumeSerial = 0x1234ABCD;
    return s;
}

TEST(HWID, WorkedExample)
{
    const HWIDSources s = workedExample();
    EXPECT_EQ(hwidFingerprint(s), "756E65476C65746E49656E69000906EA0011223344551234ABCD");
    EXPECT_EQ(composeHWID(s, s.volumeSerial), "MARVIK-1234ABCD-8D9E785A");
}

TEST(HWID, FailedSourcesKeepTheFullForm)
{
    HWIDSources s = workedExample();
    for (auto& b : s.mac) b = 0;
    s.volumeSerial = 0;
    const std::string fingerprint = hwidFingerprint(s);
    ASSERT_EQ(fingerprint.size(), 52u);
    EXPECT_EQ(fingerprint.substr(32, 12), "000000000000");
    const std::string id = composeHWID(s, 0);
    EXPECT_EQ(id.size(), 24u);
    EXPECT_EQ(id.rfind("MARVIK-00000000-", 0), 0u);
    // The checksum covers the fingerprint, so it differs from the example's.
    EXPECT_NE(id.substr(16), "8D9E785A");
}

TEST(HWID, VisiblePartIsTheSecondReading)
{
    const HWIDSources s = workedExample();
    const std::string id = composeHWID(s, 0xFFFFFFFF);
    EXPECT_EQ(id, "MARVIK-FFFFFFFF-8D9E785A");
}

}  // namespace
}  // namespace marvik
