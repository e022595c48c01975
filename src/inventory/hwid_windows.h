// The hardware id of the machine the client runs on: the Windows readings
// composed by hwid.h.
#pragma once

#include <string>

namespace marvik {

// Reads this machine's sources; never fails.
std::string generateHWID();

}  // namespace marvik
