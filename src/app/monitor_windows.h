// The monitor thread: start-up (sockets, configuration, autostart), then one
// game session after another until the program stops.
#pragma once

#include <windows.h>

namespace marvik {

DWORD WINAPI acMainThread(LPVOID);

// Start-up steps of the monitor: socket library, configuration, autostart
// value, the "Server:" line. False when the monitor must end (code 1).
bool monitorStartup();

// "Marvik AntiCheat stopped.", once: by the monitor as it ends, or by the
// shutdown when the monitor is held up in a call into the game.
void logStoppedLine();

}  // namespace marvik
