// Handles on the game: another process holding the game open with rights to
// read or write its memory, start threads in it or change its protections
// (how an external cheat works, from outside the game). The decisions are
// portable; game_handles_win32.cpp reads the system's handle table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "checks/checks.h"

namespace marvik {

// One entry of the system's handle table.
struct SystemHandle {
    std::uint32_t owner = 0;   // process id of the holder
    std::uint64_t value = 0;   // the handle, in the holder's table
    std::uint32_t access = 0;  // granted rights
    std::uint16_t type = 0;    // object type index
    std::uint64_t object = 0;  // kernel object address; 0 where the system hides it
};

// The rights that give a holder the game's memory or code: read, write,
// change protections, create threads, duplicate the game's own handles.
std::uint32_t riskyGameRights(std::uint32_t access);
// "handle to game: " and the rights, e.g. "handle to game: read/write memory,
// create threads"; empty when access holds none of them.
std::string gameHandleLabel(std::uint32_t access);

// The handles worth a closer look: of the type of `own` (the client's own
// handle to the game, found in the same table), with risky rights, held by
// a process not in `excluded`. Where the table gives object addresses, only
// those naming the game's own object are kept and `confirmed` is set;
// otherwise every process handle is kept, for the caller to learn which
// process each one names. Sorted by holder.
std::vector<SystemHandle> handlesToCheck(const std::vector<SystemHandle>& table, const SystemHandle& own,
                                         const std::vector<std::uint32_t>& excluded, bool& confirmed);

// The system's own processes that hold handles to every process: their
// names, and only where they belong (the system folder, explorer.exe in the
// Windows folder too). A copy of one elsewhere is anybody's program.
bool wellKnownSystemProcess(const std::string& path, const std::string& systemFolder,
                            const std::string& windowsFolder);

}  // namespace marvik
