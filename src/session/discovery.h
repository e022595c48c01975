// Finding the game: its process by executable name.
#pragma once

#include <cstdint>

namespace marvik {

constexpr const char* GAME_EXE_NAME = "iw3mp.exe";

// Whether an executable file name is the game's, without regard to ASCII case.
bool isGameExeName(const char* exeName);

// Process id of the first process in the system's list whose executable is
// the game; 0 when there is none or the list cannot be taken.
std::uint32_t findGameProcess();

}  // namespace marvik
