// The native build's game behind inventory/game_process.h, so session rules run natively in seconds.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "inventory/game_process.h"

namespace marvik {

struct ScriptedGame {
    std::uint32_t pid = 0;  // 0: no game runs
    std::string imagePath;
    std::vector<ModuleInfo> modules;  // what every module scan returns
    bool debugger = false;
    bool debuggerHangs = false;  // the debugger check blocks while this is set, as a call into a frozen game
    std::uint32_t selfCrc = 0;   // the client's own file's checksum
};

// Runs edit under the script's lock; the session's threads read it meanwhile.
void editScriptedGame(const std::function<void(ScriptedGame&)>& edit);

}  // namespace marvik
