// The session's four worker threads. Each reads g_clientPtr once when it
// starts and ends when the session ends; their pauses wait on the session's
// stop signal.
#pragma once

#include <windows.h>

namespace marvik {

DWORD WINAPI heartbeatThread(LPVOID);
DWORD WINAPI moduleScanThread(LPVOID);
DWORD WINAPI memoryScanThread(LPVOID);
DWORD WINAPI serverListenThread(LPVOID);

}  // namespace marvik
