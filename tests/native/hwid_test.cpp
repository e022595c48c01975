#include "inventory/hwid.h"

#include <gtest/gtest.h>

#include <string>

namespace marvik {
namespace {

// The vendor is EBX, ECX, EDX of leaf 0; the signature EAX of leaf 1; the first serial ends the fingerprint,
// the second is the visible part; the checksum is zlib's CRC-32 of the fingerprint. Every register CPUID
// fills is set, so that taking another register or another order changes the result.
TEST(HWID, ReadingsInTheirPlaces) {
    HWIDReadings r{{0x00000016, 0x756E6547, 0x6C65746E, 0x49656E69},  // max leaf, "Genu", "ntel", "ineI"
                   {0x000906EA, 0x00100800, 0x7FFAFBBF, 0xBFEBFBFF},
                   {0x00, 0x11, 0x22, 0x33, 0x44, 0x55},
                   0x1234ABCD,
                   0xFFFFFFFF};
    EXPECT_EQ(hwidFingerprint(r), "756E65476C65746E49656E69000906EA0011223344551234ABCD");
    EXPECT_EQ(composeHWID(r), "MARVIK-FFFFFFFF-8D9E785A");
}

}  // namespace
}  // namespace marvik
