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
std::vector<ModuleInfo> scanProcessModules(std::uint32_t pid);

// The modules of the game's loader lists as scanProcessModules last walked
// them (walked now when fresh or never walked), with the file mapped at each
// and the game's pointer width (4 or 8) in width. Windows builds only.
std::vector<ListedModule> listedModules(std::uint32_t pid, bool fresh, int& width);

// How scanProcessModules' last walks of the game's loader lists ended (its
// own list, and a 32-bit game's 64-bit one). Windows builds only.
std::vector<LoaderListEnd> loaderListEnds(std::uint32_t pid);

}  // namespace marvik
