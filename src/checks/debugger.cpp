#include "checks/checks.h"

#include "base/little_endian.h"

namespace marvik {

namespace {
constexpr std::uint32_t HEAP_DEBUG_GLOBAL_FLAGS = 0x70;  // tail check, free check, parameter checking
constexpr std::uint64_t PEB_BEING_DEBUGGED = 2;
}  // namespace

bool pebShowsDebugger(const ReadMemory& read, std::uint64_t peb, int width) {
    if (peb == 0) return false;
    std::uint8_t being = 0;
    if (read(peb + PEB_BEING_DEBUGGED, &being, 1) && being != 0) return true;
    // NtGlobalFlag, whose place differs by width.
    std::uint8_t global[4] = {};
    const std::uint64_t globalOffset = width == 8 ? 0xBC : 0x68;
    return read(peb + globalOffset, global, sizeof global) &&
           (loadLe32(global) & HEAP_DEBUG_GLOBAL_FLAGS) == HEAP_DEBUG_GLOBAL_FLAGS;
}

}  // namespace marvik
