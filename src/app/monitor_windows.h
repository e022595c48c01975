// The monitor thread: start-up (sockets, configuration, autostart), then one
// game session after another until the program stops.
#pragma once

#include <windows.h>

#include "config/config.h"

namespace marvik {

DWORD WINAPI acMainThread(LPVOID);

// Start-up steps of the monitor: socket library, configuration (into
// config), autostart value, the "Server:" line. False when the monitor must
// end (code 1).
bool monitorStartup(Config& config);

// "Marvik AntiCheat stopped.", once: by the monitor as it ends, or by the
// shutdown when the monitor is held up in a call into the game.
void logStoppedLine();

}  // namespace marvik
