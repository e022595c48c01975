#include "inventory/hwid.h"

#include <cstdio>

#include "inventory/hash.h"

namespace marvik {

std::string hwidFingerprint(const HWIDSources& s)
{
    char text[64];
    std::snprintf(text, sizeof(text), "%08X%08X%08X%08X%02X%02X%02X%02X%02X%02X%08X",
                  s.cpuidVendor[0], s.cpuidVendor[1], s.cpuidVendor[2], s.cpuidSignature,
                  s.mac[0], s.mac[1], s.mac[2], s.mac[3], s.mac[4], s.mac[5], s.volumeSerial);
    return text;
}

std::string composeHWID(const HWIDSources& sources, std::uint32_t visibleSerial)
{
    const std::string fingerprint = hwidFingerprint(sources);
    const std::uint32_t checksum = crc32Compute(fingerprint.data(), fingerprint.size());
    char id[64];
    std::snprintf(id, sizeof(id), "MARVIK-%08X-%08X", visibleSerial, checksum);
    return id;
}

}  // namespace marvik
