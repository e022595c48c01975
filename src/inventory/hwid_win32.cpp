#include "inventory/hwid.h"

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
    HWIDSources sources{};
    sources.volumeSerial = systemVolumeSerial();
    firstAdapterAddress(sources.mac);
    int regs[4];
    __cpuid(regs, 0);
    sources.cpuidVendor[0] = static_cast<std::uint32_t>(regs[1]);  // EBX
    sources.cpuidVendor[1] = static_cast<std::uint32_t>(regs[2]);  // ECX
    sources.cpuidVendor[2] = static_cast<std::uint32_t>(regs[3]);  // EDX
    __cpuid(regs, 1);
    sources.cpuidSignature = static_cast<std::uint32_t>(regs[0]);
    return composeHWID(sources, systemVolumeSerial());
}

}  // namespace marvik
