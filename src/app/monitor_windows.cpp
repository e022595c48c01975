#include "app/monitor_windows.h"

#include <winsock2.h>

#include <atomic>
#include <string>

#include "base/process_flags.h"
#include "base/test_hold.h"
#include "config/autostart_windows.h"
#include "config/config.h"
#include "inventory/hwid_windows.h"
#include "report/log.h"
#include "report/tray.h"
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

bool monitorStartup(Config& config) {
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        logToFile("ERROR", "Failed to initialize Winsock.");
        showTrayBalloon("Winsock init failed!", TrayBalloonLevel::Error);
        return false;
    }
    if (!loadConfiguration(config)) {
        WSACleanup();
        return false;
    }
    if (config.autoStart) writeAutostartValue();
    logToFile("INFO", "Server: %s:%d, Player: %s", config.serverIP.c_str(), static_cast<int>(config.serverPort),
              config.playerName.c_str());
    return true;
}

DWORD WINAPI acMainThread(LPVOID) {
    Config config;
    if (!monitorStartup(config)) return 1;
    const std::string hwid = generateHWID();
    logToFile("HWID", "Hardware ID: %s", hwid.c_str());

    while (g_running.load()) {
        const SessionEnd result = runSession(config, hwid);
        if (!config.autoStart) break;
        if (!g_running.load()) break;
        if (result == SessionEnd::REJECTED) {
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
