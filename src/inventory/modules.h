// The modules loaded in the game process, each with its file identity.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "inventory/loader_list.h"
#include "inventory/module_info.h"

namespace marvik {

// The game's modules in the order the system lists them, the executable
// first, each already run through the module check. Empty when the process
// cannot be opened or its modules cannot be listed.
// A module's file is hashed when its module first appears. With
// ModuleFiles::STAMPED every file is also looked at again (by name, its
// size and write time, no open, no read): one that is gone (renamed or
// deleted after load, as a cheat does with its DLL) gets crc32 0 and no
// md5, a changed one is hashed again. The module reports' scans (session start, every minute)
// look; the heartbeat's, every 5 s, use what the last look found: even a
// look by name costs a call into the system per file, and a game has 125.
enum class ModuleFiles { CACHED, STAMPED };
std::vector<ModuleInfo> scanProcessModules(std::uint32_t pid, ModuleFiles files = ModuleFiles::CACHED);

// The modules of the game's loader lists as scanProcessModules last walked
// them (walked now when fresh or never walked), with the file mapped at each
// and the game's pointer width (4 or 8) in width. Windows builds only.
std::vector<ListedModule> listedModules(std::uint32_t pid, bool fresh, int& width);

// How scanProcessModules' last walks of the game's loader lists ended (its
// own list, and a 32-bit game's 64-bit one). Windows builds only.
std::vector<LoaderListEnd> loaderListEnds(std::uint32_t pid);

}  // namespace marvik
