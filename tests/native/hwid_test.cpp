#include "inventory/hwid.h"

#include <gtest/gtest.h>

#include <string>

namespace marvik {
namespace {

// The vendor is EBX, ECX, EDX of leaf 0; the signature EAX of leaf 1; the
// first serial ends the fingerprint and the second is the visible part. Every
// register CPUID fills is set, so that taking another register or another
// order changes the result; the checksums are zlib's CRC-32 of the fingerprint.
TEST(HWID, ReadingsInTheirPlaces)
{
    const HWIDReadings example{{0x00000016, 0x756E6547, 0x6C65746E, 0x49656E69},  // max leaf, "Genu", "ntel", "ineI"
                               {0x000906EA, 0x00100800, 0x7FFAFBBF, 0xBFEBFBFF},
                               {0x00, 0x11, 0x22, 0x33, 0x44, 0x55},
                               0x1234ABCD,
                               0x1234ABCD};
    const std::string cpu = "756E65476C65746E49656E69000906EA";
    HWIDReadings secondDiffers = example, firstFailed = example, nothingReadable = example;
    secondDiffers.secondSerial = 0xFFFFFFFF;
    firstFailed.firstSerial = 0;
    for (auto& b : nothingReadable.mac) b = 0;
    nothingReadable.firstSerial = nothingReadable.secondSerial = 0;
    const struct {
        const char* what;
        const HWIDReadings& readings;
        std::string fingerprint, id;
    } cases[] = {
        {"worked example", example, cpu + "0011223344551234ABCD", "MARVIK-1234ABCD-8D9E785A"},
        {"second reading differs", secondDiffers, cpu + "0011223344551234ABCD", "MARVIK-FFFFFFFF-8D9E785A"},
        {"first reading failed", firstFailed, cpu + "00112233445500000000", "MARVIK-1234ABCD-72335954"},
        {"no adapter, no volume", nothingReadable, cpu + "00000000000000000000", "MARVIK-00000000-EB2B3FE7"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hwidFingerprint(c.readings), c.fingerprint) << c.what;
        EXPECT_EQ(composeHWID(c.readings), c.id) << c.what;
    }
}

}  // namespace
}  // namespace marvik
