// The hardware id: names the player's machine to the server whatever name
// or GUID the player uses.
#pragma once

#include <cstdint>
#include <string>

namespace marvik {

// The machine's raw readings, as the platform returns them; a source that
// failed is passed as zero.
struct HWIDReadings {
    std::uint32_t cpuidLeaf0[4];  // CPUID leaf 0: EAX, EBX, ECX, EDX, in __cpuid's order
    std::uint32_t cpuidLeaf1[4];  // CPUID leaf 1, the same order
    std::uint8_t mac[6];          // the first adapter's address, bytes 0 to 5
    std::uint32_t firstSerial;    // volume serial of "C:\" read first: ends the fingerprint
    std::uint32_t secondSerial;   // read again when the id is built: its visible part
};

// cpu vendor (leaf 0: EBX, ECX, EDX, in that order, not the order that
// spells the vendor name) + cpu signature (leaf 1: EAX) + mac + first
// serial, uppercase hex: 52 characters.
std::string hwidFingerprint(const HWIDReadings& readings);

// "MARVIK-<second serial>-<CRC-32 of the fingerprint>", always 24 characters.
std::string composeHWID(const HWIDReadings& readings);

}  // namespace marvik
