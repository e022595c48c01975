#include <windows.h>
#include <psapi.h>

#include <atomic>
#include <vector>

#include "app/globals.h"
#include "app/test_hold.h"
#include "checks/checks.h"
#include "inventory/modules.h"
#include "monitor/workers_win32.h"
#include "net/chunks.h"
#include "net/packets.h"
#include "report/log.h"
#include "report/tray.h"

namespace marvik {

namespace {

constexpr std::uint32_t HEARTBEAT_PERIOD_MS = 5000;
constexpr std::uint32_t HEARTBEAT_UNVERIFIED_MS = 500;
constexpr std::uint32_t PROCESS_SCAN_PERIOD_MS = 30000;
constexpr DWORD MAX_PROCESS_IDS = 2048;

// Tick of the last running-process check; kept across sessions. Atomic
// because a heartbeat that outlived its session may still be ending while
// the next session's one starts.
std::atomic<std::uint32_t> lastProcessScan{0};

std::uint32_t countProcesses() {
    std::vector<DWORD> ids(MAX_PROCESS_IDS);
    DWORD bytes = 0;
    if (!K32EnumProcesses(ids.data(), static_cast<DWORD>(ids.size() * sizeof(DWORD)), &bytes)) return 0;
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

// One cycle; false when the game is gone or the session over and the
// thread must end.
bool heartbeatCycle(SessionLink& link) {
    const std::uint32_t pid = link.gamePid;
    if (!gameStillRuns(pid)) return false;

    HeartbeatPayload beat{};
    beat.tickCount = GetTickCount();
    beat.processCount = countProcesses();
    const bool debugger = checkDebugger(pid);
    const std::vector<ModuleInfo> modules = scanProcessModules(pid);
    const bool injected = checkModuleInjection(modules);
    bool tampered = integrityAlert(checkIntegrity());
    const std::uint32_t selfCrc = selfIntegrityValue();
    testHold("heartbeat");
    // The checks take time; what they found about a session that has ended
    // meanwhile is not this session's to report.
    if (sessionStopped(link)) return false;
    if (selfIntegrityChanged(g_initialSelfCRC, selfCrc)) {
        logToFile("ALERT", "AC binary has been modified!");
        tampered = true;
    }
    beat.uptimeSeconds = (GetTickCount() - g_sessionStartTick) / 1000u;
    beat.debuggerFlag = debugger ? 1 : 0;
    beat.moduleAlertFlag = injected ? 1 : 0;
    beat.integrityAlertFlag = tampered ? 1 : 0;
    beat.selfCrc = selfCrc;
    link.client.sendPacket(PKT_HEARTBEAT, &beat, sizeof beat);

    if (debugger) {
        logToFile("ALERT", "Debugger detected!");
        showTrayBalloon("Debugger detected!", TrayBalloonLevel::Warning);
    }
    if (injected) {
        logToFile("ALERT", "New module injection detected!");
        sendModules(link.client, modules);
    }
    if (tampered) logToFile("ALERT", "Tampering detected!");
    for (const ModuleInfo& m : modules) {
        if (m.suspicious && !m.detection.empty())
            logToFile("MD5", "Cheat DLL detected: %s [%s] md5=%s", m.name.c_str(), m.detection.c_str(),
                      m.md5.c_str());
    }
    if (GetTickCount() - lastProcessScan.load() > PROCESS_SCAN_PERIOD_MS) {
        lastProcessScan.store(GetTickCount());
        for (const ProcessMD5Hit& hit : scanRunningProcessesMD5())
            logToFile("MD5", "Cheat process detected: %s [%s] PID=%lu md5=%s", hit.name.c_str(),
                      hit.detection.c_str(), static_cast<unsigned long>(hit.pid), hit.md5.c_str());
    }
    return true;
}

}  // namespace

void heartbeatThread(SessionLink& link) {
    bool first = true;
    if (!g_running.load()) return;
    for (;;) {
        if (!workerMayGoOn(link)) return;
        if (!g_verified.load()) {
            if (!sessionSleep(link, HEARTBEAT_UNVERIFIED_MS)) return;
            continue;
        }
        if (!first && !sessionSleep(link, HEARTBEAT_PERIOD_MS)) return;
        if (!heartbeatCycle(link)) return;
        first = false;
    }
}

}  // namespace marvik
