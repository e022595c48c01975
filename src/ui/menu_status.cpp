#include "ui/menu_status.h"

#include <cstdio>

namespace marvik {

void formatMenuStatus(char (&line)[MENU_STATUS_SIZE], bool verified, std::uint32_t gamePID, bool rejected) {
    if (rejected)
        std::snprintf(line, sizeof line, "Status: Rejected by server - check encryption and server address");
    else if (verified)
        std::snprintf(line, sizeof line, "Status: Verified (PID: %lu)", static_cast<unsigned long>(gamePID));
    else if (gamePID != 0)
        std::snprintf(line, sizeof line, "Status: Connecting...");
    else
        std::snprintf(line, sizeof line, "Status: Waiting for game");
}

}  // namespace marvik
