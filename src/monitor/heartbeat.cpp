#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "base/test_hold.h"
#include "checks/checks.h"
#include "checks/memory_scan.h"
#include "inventory/game_process.h"
#include "monitor/workers.h"
#include "net/chunks.h"
#include "net/packets.h"
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

// The checks of a cycle that read the game (its threads' registers, its
// loader list) run on a thread of their own, because the game decides how
// long they take: a frozen or hostile game can hold such a call for as long
// as it likes. The heartbeat asks for a run, waits for it until a short
// deadline, and leaves on time with what is known: the results of this run,
// or of a late earlier one not sent yet, or none. Every heartbeat leaves
// at the deadline, early results or not, so that one held back never makes
// the next one come early. The first waits longer, as nothing before it
// keeps time: it carries the first findings whenever the game answers.
constexpr std::uint32_t GAME_CHECKS_DEADLINE_MS = 250;
constexpr std::uint32_t FIRST_CHECKS_DEADLINE_MS = 3000;
// A check still busy after this long has held back two heartbeats; a memory
// pass takes about a second even over 20,000 regions. Either is reported
// to the server when it is met and once a minute while it lasts.
constexpr std::uint32_t CHECK_STALL_MS = 10000;
constexpr std::uint32_t MEMORY_PASS_STALL_MS = 60000;
constexpr std::uint32_t STALL_REPEAT_MS = 60000;

struct GameResults {
    bool debugger = false;
    std::vector<ModuleInfo> modules;
    bool moduleAlert = false;
};

struct GameChecks {
    std::uint32_t pid = 0;
    std::shared_ptr<ModuleBaseline> baseline;
    std::mutex mutex;
    std::condition_variable changed;
    std::uint64_t asked = 0;     // runs asked for
    std::uint64_t finished = 0;  // the last run finished
    std::uint64_t taken = 0;     // the last run whose results a heartbeat carried
    const char* step = nullptr;  // the check running now; null between runs
    std::uint32_t stepSince = 0;
    bool quit = false;
    GameResults results;  // of run finished
};

// One run of the game checks; the lock is held only between calls.
void runGameChecksOnce(GameChecks& checks, std::unique_lock<std::mutex>& lock) {
    const std::uint64_t run = checks.asked;
    GameResults r;
    checks.step = "debugger";
    checks.stepSince = passStartTick();
    lock.unlock();
    r.debugger = checkDebugger(checks.pid);
    lock.lock();
    checks.step = "module scan";
    checks.stepSince = passStartTick();
    lock.unlock();
    r.modules = scanProcessModules(checks.pid);
    r.moduleAlert = checkModuleInjection(*checks.baseline, r.modules);
    lock.lock();
    checks.results = std::move(r);
    checks.finished = run;
    checks.step = nullptr;
    checks.changed.notify_all();
}

void gameChecksThread(const std::shared_ptr<GameChecks>& checks) {
    std::unique_lock<std::mutex> lock(checks->mutex);
    for (;;) {
        checks->changed.wait(lock, [&] { return checks->quit || checks->asked > checks->finished; });
        if (checks->quit) return;
        runGameChecksOnce(*checks, lock);
    }
}

// The thread holds the record, never the session: one stuck in a call
// into the game ends whenever that call returns, touching nothing else. It
// counts as a live worker so that the process end does not run static
// destructors under it.
bool startGameChecks(const std::shared_ptr<GameChecks>& checks) {
    std::shared_ptr<GameChecks> held = checks;
    return startCountedThread([held]() mutable {
        gameChecksThread(held);
        held.reset();
    });
}

void stopGameChecks(GameChecks& checks) {
    {
        std::lock_guard<std::mutex> lock(checks.mutex);
        checks.quit = true;
    }
    checks.changed.notify_all();
}

// This cycle's game results: asks for a run unless one is still going,
// waits for it until the deadline, and takes the newest results no
// heartbeat has carried yet (none when there are none). Without a thread of
// their own the checks run here.
GameResults takeGameResults(GameChecks& checks, bool ownThread, std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(checks.mutex);
    if (checks.step == nullptr && checks.asked == checks.finished) {
        ++checks.asked;
        if (ownThread) checks.changed.notify_all();
        else runGameChecksOnce(checks, lock);
    }
    const std::uint64_t want = checks.asked;
    checks.changed.wait_until(lock, deadline, [&] { return checks.finished == want; });
    if (checks.finished == checks.taken) return GameResults{};
    checks.taken = checks.finished;
    return checks.results;
}

// What one cycle's checks found, as the heartbeat carries it.
struct CycleFindings {
    HeartbeatPayload beat{};
    std::vector<ModuleInfo> modules;
    bool selfModified = false;
};

CycleFindings runChecks(const SessionFacts& facts, GameChecks& checks, bool ownThread,
                        std::chrono::steady_clock::time_point deadline) {
    CycleFindings f;
    f.beat.tickCount = tickCount();
    f.beat.processCount = countProcesses();
    GameResults game = takeGameResults(checks, ownThread, deadline);
    f.beat.debuggerFlag = game.debugger ? 1 : 0;
    f.modules = std::move(game.modules);
    f.beat.moduleAlertFlag = game.moduleAlert ? 1 : 0;
    bool tampered = integrityAlert(checkIntegrity());
    const std::uint32_t selfCrc = selfIntegrityValue();
    f.selfModified = selfIntegrityChanged(facts.selfCrc, selfCrc);
    f.beat.integrityAlertFlag = (tampered || f.selfModified) ? 1 : 0;
    f.beat.selfCrc = selfCrc;
    f.beat.uptimeSeconds = (tickCount() - facts.startTick) / 1000u;
    return f;
}

// A check that hangs is made known to the server as a memory report
// ("Check stalled: <check> for <n> s"), since a hang is what a hostile game
// would use to blind the client: when first met, then once a minute.
struct StallWatch {
    std::uint32_t reported = 0;  // tick of the last report of the current stall; 0: none
};
void watchStall(SessionLink& link, StallWatch& watch, const char* check, std::uint32_t since,
                std::uint32_t threshold) {
    const std::uint32_t now = tickCount();
    if (since == 0 || now - since < threshold) {
        watch.reported = 0;
        return;
    }
    if (watch.reported != 0 && now - watch.reported < STALL_REPEAT_MS) return;
    watch.reported = passStartTick();
    const MemoryScanHit hit = checkStalledHit(check, now - since);
    logToFile("ALERT", "%s", hit.description.c_str());
    sendMemoryReport(link.client, hit);
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

struct HeartbeatState {
    std::shared_ptr<GameChecks> checks;
    bool ownThread = false;
    StallWatch gameStall, memoryStall;
};

// One cycle, whose heartbeat leaves deadlineMs after its start or as soon
// as the checks are done, whichever is later (at most the deadline), at
// the tick put in sent; false when the game is gone or the session over and
// the thread must end.
bool heartbeatCycle(SessionLink& link, HeartbeatState& state, std::uint32_t deadlineMs, std::uint32_t& sent) {
    const std::uint32_t start = tickCount();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
    if (!gameStillRuns(link, "Game process terminated.")) return false;
    const CycleFindings findings = runChecks(link.facts, *state.checks, state.ownThread, deadline);
    const std::uint32_t spent = tickCount() - start;
    if (spent < GAME_CHECKS_DEADLINE_MS && !sessionSleep(link, GAME_CHECKS_DEADLINE_MS - spent)) return false;
    testHold("heartbeat");
    // The checks take time; what they found about a session that has ended
    // meanwhile is not this session's to report.
    if (sessionStopped(link)) return false;
    if (findings.selfModified) logToFile("ALERT", "AC binary has been modified!");
    sent = tickCount();
    link.client.sendPacket(PKT_HEARTBEAT, &findings.beat, sizeof findings.beat);
    react(link, findings);
    const char* step = nullptr;
    std::uint32_t since = 0;
    {
        std::lock_guard<std::mutex> lock(state.checks->mutex);
        step = state.checks->step;
        since = step != nullptr ? state.checks->stepSince : 0;
    }
    watchStall(link, state.gameStall, step, since, CHECK_STALL_MS);
    watchStall(link, state.memoryStall, "memory scan", link.memoryPassSince.load(), MEMORY_PASS_STALL_MS);
    runProcessCheckWhenDue();
    return true;
}

}  // namespace

// Heartbeats leave HEARTBEAT_PERIOD_MS apart: each cycle starts the
// checks' deadline before its heartbeat is due, and a cycle's wait for the
// game is bounded, so the period holds whatever the game does.
void heartbeatThread(SessionLink& link) {
    HeartbeatState state;
    state.checks = std::make_shared<GameChecks>();
    state.checks->pid = link.facts.gamePid;
    state.checks->baseline = link.moduleBaseline;
    state.ownThread = startGameChecks(state.checks);
    bool first = true;
    std::uint32_t lastSent = 0;
    for (;;) {
        if (!sessionGoesOn(link) || !waitUntilVerified(link, HEARTBEAT_UNVERIFIED_MS)) break;
        if (!first) {
            const std::uint32_t elapsed = tickCount() - lastSent;
            const std::uint32_t due = HEARTBEAT_PERIOD_MS - GAME_CHECKS_DEADLINE_MS;
            if (elapsed < due && !sessionSleep(link, due - elapsed)) break;
        }
        if (!heartbeatCycle(link, state, first ? FIRST_CHECKS_DEADLINE_MS : GAME_CHECKS_DEADLINE_MS, lastSent)) break;
        first = false;
    }
    stopGameChecks(*state.checks);
}

}  // namespace marvik
