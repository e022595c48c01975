// The monitor thread: start-up (sockets, configuration, autostart), then one
// game session after another until the program stops.
#pragma once

#include <windows.h>

namespace marvik {

DWORD WINAPI acMainThread(LPVOID);

// Start-up steps of the monitor: socket library, configuration, autostart
// value, the "Server:" line. False when the monitor must end (code 1).
bool monitorStartup();

}  // namespace marvik
