#include <windows.h>

#include "checks/checks_windows.h"
#include "checks/memory_scan.h"
#include "checks/pe_image.h"

namespace marvik {

namespace {
// Far above any real process's region count; bounds the walk of a hostile one.
constexpr int MEMORY_MAX_REGIONS = 200000;
}

std::vector<MemoryScanHit> scanProcessMemory(std::uint32_t pid) {
    const ProcessHandle opened = openProcessForReading(pid);
    if (opened == 0) return {};
    HANDLE process = reinterpret_cast<HANDLE>(opened);
    const ReadMemory read = processReader(process);
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const auto top = reinterpret_cast<std::uint64_t>(system.lpMaximumApplicationAddress);
    std::vector<MemoryRegion> regions;
    std::uint64_t address = 0;
    for (int i = 0; i < MEMORY_MAX_REGIONS && address < top; ++i) {
        MEMORY_BASIC_INFORMATION info;
        if (VirtualQueryEx(process, reinterpret_cast<void*>(address), &info, sizeof info) == 0) break;
        MemoryRegion r;
        r.base = reinterpret_cast<std::uint64_t>(info.BaseAddress);
        r.size = info.RegionSize;
        r.allocationBase = reinterpret_cast<std::uint64_t>(info.AllocationBase);
        r.state = info.State;
        r.protect = info.Protect;
        r.type = info.Type;
        // Only the first region of a non-image allocation can start a PE image.
        if (info.State == MEM_COMMIT && info.Type != MEM_IMAGE && r.base == r.allocationBase &&
            (info.Protect & (PAGE_GUARD | PAGE_NOACCESS)) == 0) {
            std::uint8_t head[0x400];
            const std::size_t want = info.RegionSize < sizeof head ? info.RegionSize : sizeof head;
            if (read(r.base, head, want)) r.peHeader = looksLikePEHeader(head, want);
        }
        // Whose file a view shows is asked only of the views that would
        // otherwise count: executable ones, or ones holding a PE header.
        if (info.State == MEM_COMMIT && info.Type == MEM_MAPPED && (r.peHeader || isExecutableProtection(info.Protect)))
            r.systemFile = inWindowsFolder(mappedFileName(opened, r.base));
        regions.push_back(r);
        const std::uint64_t next = r.base + r.size;
        if (next <= address) break;  // no progress: stop rather than loop
        address = next;
    }
    std::vector<MemoryScanHit> hits = classifyRegions(regions);
    for (MemoryScanHit& hit : scanHiddenModules(pid, opened, regions)) hits.push_back(hit);
    for (MemoryScanHit& patch : scanCodePatches(opened, pid)) hits.push_back(std::move(patch));
    closeProcess(opened);
    for (MemoryScanHit& hit : classifyThreads(regions, readGameThreads(pid, ThreadRead::START_AND_IP)))
        hits.push_back(std::move(hit));
    return hits;
}

}  // namespace marvik
