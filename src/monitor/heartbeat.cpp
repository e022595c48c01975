#include <atomic>
#include <vector>

#include "app/globals.h"
#include "app/test_hold.h"
#include "checks/checks.h"
#include "inventory/game_process.h"
#include "inventory/modules.h"
#include "monitor/workers.h"
#include "net/chunks.h"
#include "net/packets.h"
#include "net/platform_clock.h"
#include "report/log.h"
#include "report/tray.h"

namespace marvik {

namespace {

constexpr std::uint32_t HEARTBEAT_PERIOD_MS = 5000;
constexpr std::uint32_t HEARTBEAT_UNVERIFIED_MS = 500;
constexpr std::uint32_t PROCESS_SCAN_PERIOD_MS = 30000;

// Tick of the last running-process check; kept across sessions. Atomic
// because a heartbeat that outlived its session may still be ending while
// the next session's one starts.
std::atomic<std::uint32_t> lastProcessScan{0};

// False, after its log line and with the session marked over, when the
// game is gone.
bool gameStillRuns(std::uint32_t pid) {
    switch (gameStatus(pid)) {
    case GameStatus::RUNNING:
        return true;
    case GameStatus::GONE:
        logToFile("GAME", "Game process terminated.");
        break;
    case GameStatus::EXITED:
        logToFile("GAME", "Game has exited.");
        break;
    }
    g_sessionActive.store(false);
    return false;
}

// What one cycle's checks found, as the heartbeat carries it.
struct CycleFindings {
    HeartbeatPayload beat{};
    std::vector<ModuleInfo> modules;
    bool selfModified = false;
};

CycleFindings runChecks(std::uint32_t pid) {
    CycleFindings f;
    f.beat.tickCount = tickCount();
    f.beat.processCount = countProcesses();
    f.beat.debuggerFlag = checkDebugger(pid) ? 1 : 0;
    f.modules = scanProcessModules(pid);
    f.beat.moduleAlertFlag = checkModuleInjection(f.modules) ? 1 : 0;
    bool tampered = integrityAlert(checkIntegrity());
    const std::uint32_t selfCrc = selfIntegrityValue();
    f.selfModified = selfIntegrityChanged(g_initialSelfCRC, selfCrc);
    f.beat.integrityAlertFlag = (tampered || f.selfModified) ? 1 : 0;
    f.beat.selfCrc = selfCrc;
    f.beat.uptimeSeconds = (tickCount() - g_sessionStartTick) / 1000u;
    return f;
}

// The local reactions to a cycle's findings, after its heartbeat left.
void react(SessionLink& link, const CycleFindings& f) {
    if (f.beat.debuggerFlag) {
        logToFile("ALERT", "Debugger detected!");
        showTrayBalloon("Debugger detected!", TrayBalloonLevel::Warning);
    }
    if (f.beat.moduleAlertFlag) {
        logToFile("ALERT", "New module injection detected!");
        sendModules(link.client, f.modules);
    }
    if (f.beat.integrityAlertFlag) logToFile("ALERT", "Tampering detected!");
    for (const ModuleInfo& m : f.modules) {
        if (m.suspicious && !m.detection.empty())
            logToFile("MD5", "Cheat DLL detected: %s [%s] md5=%s", m.name.c_str(), m.detection.c_str(),
                      m.md5.c_str());
    }
}

void runProcessCheckWhenDue() {
    if (tickCount() - lastProcessScan.load() <= PROCESS_SCAN_PERIOD_MS) return;
    lastProcessScan.store(tickCount());
    for (const ProcessMD5Hit& hit : scanRunningProcessesMD5())
        logToFile("MD5", "Cheat process detected: %s [%s] PID=%lu md5=%s", hit.name.c_str(), hit.detection.c_str(),
                  static_cast<unsigned long>(hit.pid), hit.md5.c_str());
}

// One cycle; false when the game is gone or the session over and the
// thread must end.
bool heartbeatCycle(SessionLink& link) {
    if (!gameStillRuns(link.gamePid)) return false;
    const CycleFindings findings = runChecks(link.gamePid);
    testHold("heartbeat");
    // The checks take time; what they found about a session that has ended
    // meanwhile is not this session's to report.
    if (sessionStopped(link)) return false;
    if (findings.selfModified) logToFile("ALERT", "AC binary has been modified!");
    link.client.sendPacket(PKT_HEARTBEAT, &findings.beat, sizeof findings.beat);
    react(link, findings);
    runProcessCheckWhenDue();
    return true;
}

}  // namespace

void heartbeatThread(SessionLink& link) {
    bool first = true;
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
