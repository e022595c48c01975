// The modules loaded in the game process, each with its file identity.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "inventory/module_info.h"

namespace marvik {

// The game's modules in the order the system lists them, the executable
// first, each already run through the module check. Empty when the process
// cannot be opened or its modules cannot be listed.
std::vector<ModuleInfo> scanProcessModules(std::uint32_t pid);

// One module of the game's loader list and the file mapped there.
struct ListedModule {
    std::uint64_t base = 0;
    std::uint64_t size = 0;
    std::string name;
    std::string path;
};
// The game's loader list as a module scan of it now finds it, in list
// order, each module with its base and the file mapped there.
std::vector<ListedModule> listedModules(std::uint32_t pid);

}  // namespace marvik
