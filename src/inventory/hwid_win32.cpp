#include "inventory/hwid.h"
#include "inventory/hwid_windows.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <intrin.h>

#include <cstring>
#include <vector>

namespace marvik {

namespace {

std::uint32_t systemVolumeSerial()
{
    DWORD serial = 0;  // a failed call leaves 0
    GetVolumeInformationA("C:\\", nullptr, 0, &serial, nullptr, nullptr, nullptr, 0);
    return serial;
}

void firstAdapterAddress(std::uint8_t mac[6])
{
    std::memset(mac, 0, 6);
    ULONG size = 0;
    GetAdaptersInfo(nullptr, &size);
    if (size == 0) return;
    std::vector<unsigned char> buffer(size);
    auto* adapters = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
    if (GetAdaptersInfo(adapters, &size) != ERROR_SUCCESS) return;
    std::memcpy(mac, adapters->Address, 6);
}

}  // namespace

std::string generateHWID()
{
    HWIDReadings readings{};
    readings.firstSerial = systemVolumeSerial();
    firstAdapterAddress(readings.mac);
    int regs[4];
    __cpuid(regs, 0);
    std::memcpy(readings.cpuidLeaf0, regs, sizeof regs);
    __cpuid(regs, 1);
    std::memcpy(readings.cpuidLeaf1, regs, sizeof regs);
    readings.secondSerial = systemVolumeSerial();
    return composeHWID(readings);
}

}  // namespace marvik
