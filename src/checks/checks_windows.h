// The Windows build's checks as the calls of inventory/game_process.h put
// them together, and as the Windows tests call them one by one.
#pragma once

#include <cstdint>
#include <vector>

#include "checks/checks.h"
#include "checks/game_threads.h"
#include "checks/memory_scan.h"
#include "inventory/game_process_windows.h"

namespace marvik {

// The client's own debugger signals (the debugger check's first half).
bool clientBeingDebugged();
// Debug registers DR0-DR3 set on any of the client's own threads.
bool checkHardwareBreakpoints();
// An INT3 on its entry, or a jump from it into memory no module owns.
bool functionHooked(const void* function);

// The game's threads, read with the access each caller needs (contexts only
// when asked); empty when the game cannot be opened.
enum class ThreadRead { START_AND_IP, DEBUG_REGISTERS };
std::vector<GameThread> readGameThreads(std::uint32_t pid, ThreadRead what);
// Any game thread with a hardware breakpoint armed.
bool gameHasHardwareBreakpoints(std::uint32_t pid);

// The patches in the code of the game's watched modules.
std::vector<MemoryScanHit> scanCodePatches(ProcessHandle process, std::uint32_t pid);

// The processes holding handles to the game that can write its memory or
// run code in it, as running-process hits; the client, the game and the
// system's own processes apart.
std::vector<ProcessMD5Hit> scanGameHandles(std::uint32_t gamePid);

// The hidden-module methods over the game's memory, whose regions the memory
// check has just walked; process is open for reading.
std::vector<MemoryScanHit> scanHiddenModules(std::uint32_t pid, ProcessHandle process,
                                             const std::vector<MemoryRegion>& regions);

}  // namespace marvik
