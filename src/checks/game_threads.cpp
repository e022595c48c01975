#include "checks/game_threads.h"

#include <algorithm>
#include <string>

namespace marvik {

bool hardwareBreakpointArmed(const DebugRegisters& r) {
    for (int i = 0; i < 4; ++i)
        if (((r.control >> (2 * i)) & 3u) != 0 && r.address[i] != 0) return true;
    return false;
}

const MemoryRegion* regionHolding(const std::vector<MemoryRegion>& regions, std::uint64_t address) {
    auto after = std::upper_bound(regions.begin(), regions.end(), address,
                                  [](std::uint64_t a, const MemoryRegion& r) { return a < r.base; });
    if (after == regions.begin()) return nullptr;
    const MemoryRegion& r = *(after - 1);
    return address - r.base < r.size ? &r : nullptr;
}

bool inUnownedCode(const std::vector<MemoryRegion>& regions, std::uint64_t address) {
    if (address == 0) return false;
    const MemoryRegion* r = regionHolding(regions, address);
    if (r == nullptr || r->state != MEM_COMMIT_STATE || (r->protect & PAGE_GUARD_FLAG) != 0) return false;
    if (!isExecutableProtection(r->protect)) return false;
    return r->type != MEM_IMAGE_TYPE && !r->systemFile;
}

std::vector<MemoryScanHit> classifyThreads(const std::vector<MemoryRegion>& regions,
                                           const std::vector<GameThread>& threads) {
    std::vector<MemoryScanHit> hits;
    for (const GameThread& t : threads) {
        const bool start = inUnownedCode(regions, t.start);
        const bool ip = inUnownedCode(regions, t.ip);
        if (!start && !ip) continue;
        const std::uint64_t at = start ? t.start : t.ip;
        const MemoryRegion* r = regionHolding(regions, at);
        MemoryScanHit hit;
        hit.address = static_cast<std::uint32_t>(at);
        const std::uint64_t rest = r->base + r->size - at;
        hit.size = rest > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(rest);
        hit.description = std::string(LABEL_THREAD_IN_UNOWNED_CODE) + " tid=" + std::to_string(t.tid) +
                          (start && ip ? " start+ip" : start ? " start" : " ip");
        hits.push_back(hit);
    }
    return hits;
}

}  // namespace marvik
