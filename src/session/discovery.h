// The game's executable name (findGameProcess in inventory/game_process.h
// looks for it).
#pragma once

namespace marvik {

constexpr const char* GAME_EXE_NAME = "iw3mp.exe";

// Whether an executable file name is the game's, without regard to ASCII case.
bool isGameExeName(const char* exeName);

}  // namespace marvik
