#include "session/session.h"

#include <chrono>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "base/process_flags.h"
#include "checks/checks.h"
#include "inventory/game_process.h"
#include "inventory/guid.h"
#include "inventory/hash.h"
#include "monitor/workers.h"
#include "net/chunks.h"
#include "net/server_listener.h"
#include "report/log.h"
#include "report/tray.h"
#include "session/discovery.h"
#include "session/handshake.h"
#include "session/player_config.h"
#include "session/session_link.h"

namespace marvik {

namespace {

constexpr std::uint32_t GAME_POLL_MS = 2000;
constexpr std::uint32_t GAME_SETTLE_MS = 3000;
constexpr std::uint32_t GAME_WATCH_MS = 3000;

// When the program stops, the teardown waits this long for all the
// workers together, not each its own wait: a stop must be prompt, and a
// worker stuck in a call into the game is left behind for the process end.
constexpr std::uint32_t STOP_WAIT_MS = 500;

// Polls for the game until it runs or the program stops; 0 when stopped.
std::uint32_t waitForGame() {
    for (;;) {
        if (!g_running.load()) return 0;
        std::uint32_t pid = findGameProcess();
        if (pid != 0) return pid;
        if (!programSleep(GAME_POLL_MS)) return 0;
    }
}

std::uint32_t gameExecutableCRC(std::uint32_t pid) {
    const std::string path = processImagePath(pid);
    return path.empty() ? 0 : fileCRC32(path);
}

// Game watch: returns when the session is over, whoever ended it.
void watchGame(SessionLink& link) {
    while (sessionGoesOn(link) && gameStillRuns(link, "Game process ended.")) {
        if (!sessionSleep(link, GAME_WATCH_MS)) return;
    }
}

// The workers in start order, with how long the teardown waits for each.
struct Worker {
    void (*body)(SessionLink&);
    std::uint32_t waitMs;
};
const Worker WORKERS[SESSION_WORKERS] = {
    {heartbeatThread, 5000},
    {moduleScanThread, 5000},
    {memoryScanThread, 3000},
    {serverListenThread, 2000},
};

// Worker slot on a thread of its own that shares the session's link; false
// when the thread cannot be started (the session runs without it).
bool startWorker(int slot, const std::shared_ptr<SessionLink>& link) {
    std::shared_ptr<SessionLink> held = link;
    if (startCountedThread([slot, held]() mutable {
            WORKERS[slot].body(*held);
            workerEnded(*held, slot);
            held.reset();
        }))
        return true;
    workerEnded(*link, slot);
    return false;
}

// Reports, workers, game watch and teardown. The teardown is bounded: a
// worker that has not ended within its wait keeps the session's link (and
// with it the stopped client) to itself and ends at its next step without
// acting, whatever session runs by then.
void runWorkers(const std::shared_ptr<SessionLink>& link, const std::vector<ModuleInfo>& baseline) {
    sendModules(link->client, baseline);
    sendModuleLog(link->client, baseline);
    for (int slot = 0; slot < SESSION_WORKERS; ++slot) startWorker(slot, link);
    logToFile("AC", "AntiCheat is running.");

    watchGame(*link);

    logToFile("AC", "Session ending...");
    setTrayStatus("Session ended");
    // Cuts every worker's pause short and ends the listener's receive.
    stopSession(*link);
    const std::uint32_t stopDeadline = tickCount() + STOP_WAIT_MS;
    for (int slot = 0; slot < SESSION_WORKERS; ++slot) {
        std::uint32_t wait = WORKERS[slot].waitMs;
        if (!g_running.load()) {
            const std::uint32_t left = stopDeadline - tickCount();
            wait = left <= STOP_WAIT_MS ? left : 0;
        }
        waitForWorker(*link, slot, wait);
    }
    g_gamePID.store(0);
}

}  // namespace

SessionEnd runSession(const Config& config, const std::string& hwid) {
    g_verified.exchange(false);
    g_rejected.exchange(false);
    SessionFacts facts;
    facts.config = config;
    facts.hwid = hwid;
    facts.startTick = tickCount();
    logToFile("WAIT", "Waiting for %s...", GAME_EXE_NAME);
    setTrayStatus("Waiting for game...");

    const std::uint32_t pid = waitForGame();
    if (pid == 0) {
        g_gamePID.store(0);
        logToFile("ERROR", "Could not find game process.");
        return SessionEnd::STOPPED;
    }
    logToFile("GAME", "Found %s (PID: %lu)", GAME_EXE_NAME, static_cast<unsigned long>(pid));
    // Let the game finish loading before its modules and files are read.
    if (!programSleep(GAME_SETTLE_MS)) return SessionEnd::STOPPED;
    g_gamePID.store(pid);
    showTrayBalloon("Game detected! Connecting...", TrayBalloonLevel::Info);
    setTrayStatus("Connecting...");

    facts.gamePid = pid;
    const std::vector<ModuleInfo> baseline = scanProcessModules(pid, ModuleFiles::STAMPED);
    logToFile("SCAN", "Baseline: %d modules loaded", static_cast<int>(baseline.size()));
    facts.selfCrc = selfIntegrityValue();
    facts.gameCrc = gameExecutableCRC(pid);
    logToFile("CRC", "Self CRC: 0x%08X, Game CRC: 0x%08X", facts.selfCrc, facts.gameCrc);
    facts.guid = getPlayerGUID(pid);
    if (!facts.guid.empty()) logToFile("GUID", "Player GUID: %s", facts.guid.c_str());

    auto link = std::make_shared<SessionLink>(std::move(facts));
    replaceBaselineModules(*link->moduleBaseline, baseline);
    if (!link->client.open(config.serverIP, config.serverPort, config.encryption)) {
        logToFile("ERROR", "Failed to create UDP socket.");
        showTrayBalloon("Network error!", TrayBalloonLevel::Error);
        return SessionEnd::NO_SOCKET;
    }
    setRunningSession(link);
    const HandshakeResult verdict = handshake(*link);
    if (verdict != HandshakeResult::VERIFIED && verdict != HandshakeResult::UNVERIFIED) setRunningSession(nullptr);
    switch (verdict) {
    case HandshakeResult::NO_CHALLENGE:
        return SessionEnd::NO_CHALLENGE;
    case HandshakeResult::REJECTED:
        return SessionEnd::REJECTED;
    case HandshakeResult::STOPPED:
        return SessionEnd::STOPPED;
    case HandshakeResult::VERIFIED:
    case HandshakeResult::UNVERIFIED:
        break;
    }
    reportIdentity(link->client, link->facts);
    uploadPlayerConfig(link->client, baseline, config.playerName);
    runWorkers(link, baseline);
    setRunningSession(nullptr);
    return SessionEnd::ENDED;
}

}  // namespace marvik
