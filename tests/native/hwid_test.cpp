#include "inventory/hwid.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "inventory/hash.h"

namespace marvik {
namespace {

// The worked example's machine, with every register CPUID fills set, so
// that taking another register or another order changes the result.
HWIDReadings workedExample()
{
    HWIDReadings r{};
    const std::uint32_t leaf0[4] = {0x00000016, 0x756E6547, 0x6C65746E, 0x49656E69};  // max leaf, "Genu", "ntel", "ineI"
    const std::uint32_t leaf1[4] = {0x000906EA, 0x00100800, 0x7FFAFBBF, 0xBFEBFBFF};
    const std::uint8_t mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    for (int i = 0; i < 4; ++i) {
        r.cpuidLeaf0[i] = leaf0[i];
        r.cpuidLeaf1[i] = leaf1[i];
    }
    for (int i = 0; i < 6; ++i) r.mac[i] = mac[i];
    r.firstSerial = 0x1234ABCD;
    r.secondSerial = 0x1234ABCD;
    return r;
}

std::string checksumOf(const std::string& fingerprint)
{
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08X", crc32Compute(fingerprint.data(), fingerprint.size()));
    return hex;
}

// The vendor is EBX, ECX, EDX of leaf 0; the signature EAX of leaf 1; the
// first serial ends the fingerprint and the second is the visible part.
TEST(HWID, ReadingsInTheirPlaces)
{
    struct Case {
        const char* what;
        HWIDReadings readings;
        std::string fingerprint, id;
    };
    HWIDReadings secondDiffers = workedExample();
    secondDiffers.secondSerial = 0xFFFFFFFF;
    HWIDReadings firstFailed = workedExample();
    firstFailed.firstSerial = 0;
    HWIDReadings nothingReadable = workedExample();
    for (auto& b : nothingReadable.mac) b = 0;
    nothingReadable.firstSerial = nothingReadable.secondSerial = 0;
    const std::string example = "756E65476C65746E49656E69000906EA0011223344551234ABCD";
    const std::string noFirstSerial = "756E65476C65746E49656E69000906EA00112233445500000000";
    const std::string nothing = "756E65476C65746E49656E69000906EA00000000000000000000";
    const Case cases[] = {
        {"worked example", workedExample(), example, "MARVIK-1234ABCD-8D9E785A"},
        {"second reading differs", secondDiffers, example, "MARVIK-FFFFFFFF-8D9E785A"},
        {"first reading failed", firstFailed, noFirstSerial, "MARVIK-1234ABCD-" + checksumOf(noFirstSerial)},
        {"no adapter, no volume", nothingReadable, nothing, "MARVIK-00000000-" + checksumOf(nothing)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(hwidFingerprint(c.readings), c.fingerprint) << c.what;
        EXPECT_EQ(composeHWID(c.readings), c.id) << c.what;
    }
}

}  // namespace
}  // namespace marvik
