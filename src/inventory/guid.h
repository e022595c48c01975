// The player GUID the game keeps in guid.dat inside its folder.
#pragma once

#include <cstdint>
#include <string>

namespace marvik {

// The first line of <game folder>\players\guid.dat, else of
// <game folder>\main\guid.dat: at most 63 characters, without line end;
// empty when neither file opens or the game's path cannot be read. A
// candidate path that does not fit in MARVIK_MAX_PATH is not tried.
std::string getPlayerGUID(std::uint32_t pid);

// The same from the game's image path.
std::string guidFromImagePath(const std::string& imagePath);

}  // namespace marvik
