// The modules loaded in the game process, each with its file identity.
#pragma once

#include <cstdint>
#include <vector>

#include "inventory/module_info.h"

namespace marvik {

// The game's modules in the order the system lists them, the executable
// first, each already run through the module check. Empty when the process
// cannot be opened or its modules cannot be listed.
std::vector<ModuleInfo> scanProcessModules(std::uint32_t pid);

}  // namespace marvik
