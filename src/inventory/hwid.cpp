#include "inventory/hwid.h"

#include <cstdio>

#include "inventory/hash.h"

namespace marvik {

std::string hwidFingerprint(const HWIDReadings& r)
{
    enum { EAX, EBX, ECX, EDX };
    char text[64];
    std::snprintf(text, sizeof(text), "%08X%08X%08X%08X%02X%02X%02X%02X%02X%02X%08X",
                  r.cpuidLeaf0[EBX], r.cpuidLeaf0[ECX], r.cpuidLeaf0[EDX], r.cpuidLeaf1[EAX],
                  r.mac[0], r.mac[1], r.mac[2], r.mac[3], r.mac[4], r.mac[5], r.firstSerial);
    return text;
}

std::string composeHWID(const HWIDReadings& readings)
{
    const std::string fingerprint = hwidFingerprint(readings);
    const std::uint32_t checksum = crc32Compute(fingerprint.data(), fingerprint.size());
    char id[64];
    std::snprintf(id, sizeof(id), "MARVIK-%08X-%08X", readings.secondSerial, checksum);
    return id;
}

}  // namespace marvik
