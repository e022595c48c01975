// The game's threads as the checks see them: where each started and where
// it runs, and its debug registers. The decisions are portable so they can
// be tested on recorded values; game_threads_win32.cpp reads the threads.
#pragma once

#include <cstdint>
#include <vector>

#include "checks/checks.h"
#include "checks/memory_scan.h"

namespace marvik {

// DR0-DR3 and DR7 as a thread's context holds them.
struct DebugRegisters {
    std::uint64_t address[4] = {};
    std::uint64_t control = 0;  // DR7
};

// A hardware breakpoint armed: DR7 enables register i (its local or global
// bit, 2i and 2i+1) and that register holds an address. An enable bit over
// an empty register, or an address nobody enabled, breaks on nothing.
bool hardwareBreakpointArmed(const DebugRegisters& registers);
// The debug registers of a thread's context record (CONTEXT or WOW64_CONTEXT).
template <class Context>
DebugRegisters debugRegistersOf(const Context& c) {
    return DebugRegisters{{c.Dr0, c.Dr1, c.Dr2, c.Dr3}, c.Dr7};
}

struct GameThread {
    std::uint32_t tid = 0;
    std::uint64_t start = 0;  // its start address (0: unknown)
    std::uint64_t ip = 0;     // its instruction pointer when read (0: unknown)
    DebugRegisters debug;
};

// The region of the sorted walk holding address; nullptr when none does.
const MemoryRegion* regionHolding(const std::vector<MemoryRegion>& regions, std::uint64_t address);

// Whether address lies in committed executable memory that no module owns:
// neither a loaded image nor a view of one of the system's own files.
bool inUnownedCode(const std::vector<MemoryRegion>& regions, std::uint64_t address);

// One hit per thread whose start address or instruction pointer lies in
// unowned code: "Thread in unowned code tid=N start" (or "ip", "start+ip"),
// the range from that address to the end of its region.
std::vector<MemoryScanHit> classifyThreads(const std::vector<MemoryRegion>& regions,
                                           const std::vector<GameThread>& threads);

}  // namespace marvik
