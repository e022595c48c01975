// libFuzzer target: every memory-check decision on a map and bytes a hostile game arranges.
#include "checks/code_patch.h"
#include "checks/game_threads.h"
#include "checks/hidden_modules.h"
#include "checks/import_hooks.h"
#include "checks/memory_scan.h"
#include "fuzz_memory.h"

using namespace marvik;

namespace {

constexpr std::uint64_t RANGE = 0x100000;

// Regions in ascending order, as the walk of the address space gives them.
std::vector<MemoryRegion> regionsFrom(fuzz::Input& in) {
    std::vector<MemoryRegion> regions;
    std::uint64_t address = 0;
    const std::size_t count = in.take(1) % 48;
    static const std::uint32_t TYPES[] = {MEM_IMAGE_TYPE, MEM_MAPPED_TYPE, MEM_PRIVATE_TYPE, 0};
    for (std::size_t i = 0; i < count; ++i) {
        MemoryRegion r;
        r.base = address + (in.take(1) & 3) * 0x1000;
        r.size = (1 + in.take(1) % 16) * 0x1000;
        r.allocationBase = (in.take(1) & 1) && !regions.empty() ? regions.back().allocationBase : r.base;
        r.state = (in.take(1) & 1) ? MEM_COMMIT_STATE : 0x2000;
        r.protect = static_cast<std::uint32_t>(in.take(2));
        r.type = TYPES[in.take(1) & 3];
        const std::uint8_t flags = static_cast<std::uint8_t>(in.take(1));
        r.peHeader = flags & 1;
        r.systemFile = flags & 2;
        regions.push_back(r);
        address = r.base + r.size;
    }
    return regions;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in{data, size};
    const int width = (in.take(1) & 1) ? 8 : 4;
    const std::vector<MemoryRegion> regions = regionsFrom(in);
    std::vector<ListedModule> listed;
    for (std::size_t i = in.take(1) % 4; i > 0; --i)
        listed.push_back({(in.take(3) % RANGE) & ~0xFFFull, static_cast<std::uint32_t>(in.take(3)), "m.dll",
                          "C:\\Windows\\m.dll", (in.take(1) & 1) ? "C:\\t\\other.dll" : "", (in.take(1) & 1) != 0});
    std::vector<GameThread> threads;
    for (std::size_t i = in.take(1) % 4; i > 0; --i) threads.push_back({1, in.take(3) % RANGE, in.take(3) % RANGE, {}});
    const std::uint64_t patchAt = in.take(3) % RANGE;
    fuzz::Memory memory;
    fuzz::fill(memory, in, RANGE);
    const ReadMemory read = memory.reader();

    classifyRegions(regions);
    unlistedExecutableImages(regions, listed);
    pathMismatchHits(listed);
    findForeignCode(regions, listed, read, width);
    classifyThreads(regions, threads);
    if (!listed.empty() && listed[0].size != 0) {
        const GameView game{listed, "", width == 8 ? CodeWidth::X64 : CodeWidth::X86, read, {}, {}};
        MemoryScanHit hit;
        patchFinding(game, 0, PatchRun{listed[0].base + patchAt % listed[0].size, 5}, hit);
        dataPatchFinding(game, 0, PatchRun{listed[0].base + patchAt % listed[0].size, 2}, hit);
        findImportHooks(game);
    }
    return 0;
}
