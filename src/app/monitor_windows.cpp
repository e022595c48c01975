#include "app/monitor_windows.h"

#include <winsock2.h>

#include <atomic>
#include <string>

#include "app/globals.h"
#include "app/test_hold.h"
#include "config/autostart.h"
#include "config/config.h"
#include "inventory/hwid.h"
#include "report/log.h"
#include "report/tray.h"
#include "app/monitor.h"
#include "session/session.h"
#include "session/session_link.h"

namespace marvik {

namespace {
constexpr DWORD BETWEEN_SESSIONS_MS = 5000;
}

void logStoppedLine() {
    static std::atomic<bool> written{false};
    if (!written.exchange(true)) logToFile("AC", "Marvik AntiCheat stopped.");
}

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
    logToFile("INFO", "Server: %s:%d, Player: %s", g_serverIP.c_str(), static_cast<int>(g_serverPort),
              g_playerName.c_str());
    return true;
}

DWORD WINAPI acMainThread(LPVOID) {
    if (!monitorStartup()) return 1;
    const std::string hwid = generateHWID();
    logToFile("HWID", "Hardware ID: %s", hwid.c_str());

    while (g_running.load()) {
        int result = runSession(hwid);
        if (!g_autoStart) break;
        if (!g_running.load()) break;
        if (result == SESSION_REJECTED) {
            logToFile("AC", "Rejected by server. Not retrying.");
            showTrayBalloon("Rejected by server.", TrayBalloonLevel::Error);
            break;
        }
        logToFile("AC", "Game session ended. Waiting for next launch...");
        showTrayBalloon("Game ended. Waiting for next launch...", TrayBalloonLevel::Info);
        setTrayStatus("Waiting for game...");
        if (!programSleep(BETWEEN_SESSIONS_MS)) break;
    }
    testHold("monitor");
    WSACleanup();
    logStoppedLine();
    return 0;
}

}  // namespace marvik
