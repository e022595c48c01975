#include <windows.h>
#include <psapi.h>

#include "app/globals.h"
#include "checks/checks.h"
#include "inventory/modules.h"
#include "monitor/workers_win32.h"
#include "net/chunks.h"
#include "net/packets.h"
#include "net/udp_client.h"
#include "report/log.h"
#include "report/tray.h"
#include "session/session_stop.h"

namespace marvik {

namespace {

constexpr std::uint32_t HEARTBEAT_PERIOD_MS = 5000;
constexpr std::uint32_t HEARTBEAT_UNVERIFIED_MS = 500;
constexpr std::uint32_t PROCESS_SCAN_PERIOD_MS = 30000;
constexpr DWORD MAX_PROCESS_IDS = 2048;

// Tick of the last running-process check; kept across sessions.
std::uint32_t lastProcessScan = 0;

std::uint32_t countProcesses() {
    static DWORD ids[MAX_PROCESS_IDS];  // heartbeat thread only
    DWORD bytes = 0;
    if (!K32EnumProcesses(ids, sizeof ids, &bytes)) return 0;
    return bytes / sizeof(DWORD);
}

// False, after its log line and with the session marked over, when the
// game is gone.
bool gameStillRuns(std::uint32_t pid) {
    HANDLE game = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (game == nullptr) {
        logToFile("GAME", "Game process terminated.");
        g_sessionActive.store(false);
        return false;
    }
    DWORD code = 0;
    GetExitCodeProcess(game, &code);
    CloseHandle(game);
    if (code != STILL_ACTIVE) {
        logToFile("GAME", "Game has exited.");
        g_sessionActive.store(false);
        return false;
    }
    return true;
}

// One cycle; false when the game is gone and the thread must end.
bool heartbeatCycle(UDPClient& client) {
    const std::uint32_t pid = g_gamePID.load();
    if (!gameStillRuns(pid)) return false;

    HeartbeatPayload beat{};
    beat.tickCount = GetTickCount();
    beat.processCount = countProcesses();
    const bool debugger = checkDebugger(pid);
    const std::vector<ModuleInfo> modules = scanProcessModules(pid);
    const bool injected = checkModuleInjection(modules);
    bool tampered = integrityAlert(checkIntegrity());
    const std::uint32_t selfCrc = selfIntegrityValue();
    if (selfCrc != g_initialSelfCRC) {
        logToFile("ALERT", "AC binary has been modified!");
        tampered = true;
    }
    beat.uptimeSeconds = (GetTickCount() - g_sessionStartTick) / 1000u;
    beat.debuggerFlag = debugger ? 1 : 0;
    beat.moduleAlertFlag = injected ? 1 : 0;
    beat.integrityAlertFlag = tampered ? 1 : 0;
    beat.selfCrc = selfCrc;
    client.sendPacket(PKT_HEARTBEAT, &beat, sizeof beat);

    if (debugger) {
        logToFile("ALERT", "Debugger detected!");
        showTrayBalloon("Debugger detected!", TrayBalloonLevel::Warning);
    }
    if (injected) {
        logToFile("ALERT", "New module injection detected!");
        sendModules(client, modules);
    }
    if (tampered) logToFile("ALERT", "Tampering detected!");
    for (const ModuleInfo& m : modules) {
        if (m.suspicious && !m.detection.empty())
            logToFile("MD5", "Cheat DLL detected: %s [%s] md5=%s", m.name.c_str(), m.detection.c_str(),
                      m.md5.c_str());
    }
    if (GetTickCount() - lastProcessScan > PROCESS_SCAN_PERIOD_MS) {
        lastProcessScan = GetTickCount();
        for (const ProcessMD5Hit& hit : scanRunningProcessesMD5())
            logToFile("MD5", "Cheat process detected: %s [%s] PID=%lu md5=%s", hit.name.c_str(),
                      hit.detection.c_str(), static_cast<unsigned long>(hit.pid), hit.md5.c_str());
    }
    return true;
}

}  // namespace

DWORD WINAPI heartbeatThread(LPVOID) {
    UDPClient* client = g_clientPtr.load();
    if (client == nullptr) return 0;
    bool first = true;
    if (!g_running.load()) return 0;
    for (;;) {
        if (g_gamePID.load() == 0) return 0;
        if (!g_verified.load()) {
            if (!sessionSleep(HEARTBEAT_UNVERIFIED_MS)) return 0;
            if (!g_running.load()) return 0;
            continue;
        }
        if (!first && !sessionSleep(HEARTBEAT_PERIOD_MS)) return 0;
        if (!heartbeatCycle(*client)) return 0;
        first = false;
        if (!g_running.load()) return 0;
    }
}

}  // namespace marvik
