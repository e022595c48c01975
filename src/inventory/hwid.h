// The hardware id: names the player's machine to the server whatever name
// or GUID the player uses.
#pragma once

#include <cstdint>
#include <string>

namespace marvik {

// What the machine gives; sources that failed are passed as zero.
struct HWIDSources {
    std::uint32_t cpuidVendor[3];  // leaf 0: EBX, ECX, EDX in that order
    std::uint32_t cpuidSignature;  // leaf 1: EAX
    std::uint8_t mac[6];           // first adapter's address
    std::uint32_t volumeSerial;    // of "C:\", as read for the fingerprint
};

// cpu vendor + cpu signature + mac + volume, uppercase hex: 52 characters.
std::string hwidFingerprint(const HWIDSources& sources);

// "MARVIK-<serial>-<CRC-32 of the fingerprint>", always 24 characters.
// visibleSerial is the serial read a second time when the id is built.
std::string composeHWID(const HWIDSources& sources, std::uint32_t visibleSerial);

// Reads the four sources of this machine; never fails.
std::string generateHWID();

}  // namespace marvik
