#include <windows.h>

#include <algorithm>

#include "checks/checks_windows.h"
#include "checks/hidden_modules.h"

namespace marvik {

std::vector<MemoryScanHit> scanHiddenModules(std::uint32_t pid, ProcessHandle opened,
                                             const std::vector<MemoryRegion>& regions) {
    HANDLE process = reinterpret_cast<HANDLE>(opened);
    const ReadMemory read = processReader(process);
    int width = 0;
    std::vector<ListedModule> listed = listedModules(pid, false, width);
    if (listed.empty()) return {};
    std::vector<MemoryScanHit> hits = pathMismatchHits(listed);
    // A list met looped or overlong is walked once more before it counts:
    // the loader relinks entries while the game loads and frees DLLs.
    std::vector<LoaderListEnd> ends = loaderListEnds(pid);
    if (std::any_of(ends.begin(), ends.end(), loaderListTampered)) {
        listed = listedModules(pid, true, width);
        for (const LoaderListEnd& end : loaderListEnds(pid))
            if (loaderListTampered(end)) hits.push_back(tamperedLoaderListHit(end));
    }

    if (!unlistedExecutableImages(regions, listed).empty()) {
        // A DLL the loader was mapping or unmapping while the regions were
        // walked is mapped but not listed for that moment: list the modules
        // again, then ask whether the image is still there.
        listed = listedModules(pid, true, width);
        for (std::uint64_t base : unlistedExecutableImages(regions, listed)) {
            MEMORY_BASIC_INFORMATION info;
            if (VirtualQueryEx(process, reinterpret_cast<void*>(static_cast<std::uintptr_t>(base)), &info,
                               sizeof info) == 0 ||
                info.Type != MEM_IMAGE || reinterpret_cast<std::uint64_t>(info.AllocationBase) != base)
                continue;
            if (!loadedToRun(read, base, listed)) continue;
            std::uint64_t size = 0;
            for (const MemoryRegion& r : regions)
                if (r.allocationBase == base) size += r.size;
            hits.push_back(unlinkedModuleHit(base, size, mappedFileName(opened, base)));
        }
    }
    for (MemoryScanHit& hit : findForeignCode(regions, listed, read, width)) hits.push_back(hit);
    return hits;
}

}  // namespace marvik
