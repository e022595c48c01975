#include "app/monitor_win32.h"

#include <winsock2.h>

#include "app/globals.h"
#include "config/autostart.h"
#include "config/config.h"
#include "report/log.h"
#include "report/tray.h"

namespace marvik {

bool monitorStartup() {
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        logToFile("ERROR", "Failed to initialize Winsock.");
        showTrayBalloon("Winsock init failed!", TrayBalloonLevel::Error);
        return false;
    }
    if (!loadConfiguration()) {
        WSACleanup();
        return false;
    }
    if (g_autoStart) writeAutostartValue();
    logToFile("INFO", "Server: %s:%d, Player: %s", g_serverIP.c_str(),
              static_cast<int>(g_serverPort), g_playerName.c_str());
    return true;
}

DWORD WINAPI acMainThread(LPVOID) {
    if (!monitorStartup()) return 1;
    // Until game sessions run here, the monitor stays ready until stopped.
    while (g_running.load()) Sleep(250);
    WSACleanup();
    logToFile("AC", "Marvik AntiCheat stopped.");
    return 0;
}

}  // namespace marvik
