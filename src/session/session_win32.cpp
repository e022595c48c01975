#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "app/globals.h"
#include "checks/checks.h"
#include "inventory/guid.h"
#include "inventory/hash.h"
#include "inventory/modules.h"
#include "monitor/workers_win32.h"
#include "net/chunks.h"
#include "net/server_listener.h"
#include "report/log.h"
#include "report/tray.h"
#include "session/discovery.h"
#include "session/handshake.h"
#include "session/player_config.h"
#include "session/session.h"
#include "session/session_link.h"

namespace marvik {

namespace {

constexpr DWORD GAME_POLL_MS = 2000;
constexpr DWORD GAME_SETTLE_MS = 3000;
constexpr DWORD GAME_WATCH_MS = 3000;

// Polls for the game until it runs or the program stops; 0 when stopped.
std::uint32_t waitForGame() {
    for (;;) {
        if (!g_running.load()) return 0;
        std::uint32_t pid = findGameProcess();
        if (pid != 0) return pid;
        Sleep(GAME_POLL_MS);
    }
}

std::uint32_t gameExecutableCRC(std::uint32_t pid) {
    HANDLE game = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (game == nullptr) return 0;
    char path[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    BOOL named = QueryFullProcessImageNameA(game, 0, path, &size);
    CloseHandle(game);
    return named ? fileCRC32(path) : 0;
}

// Game watch: returns when the session is over, whoever ended it.
void watchGame(std::uint32_t pid) {
    for (;;) {
        if (!g_running.load()) return;
        if (!g_sessionActive.load()) return;
        HANDLE game = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
        if (game == nullptr) {
            logToFile("GAME", "Game process ended.");
            g_sessionActive.exchange(false);
            return;
        }
        DWORD code = 0;
        if (!GetExitCodeProcess(game, &code)) code = 0;
        CloseHandle(game);
        if (code != STILL_ACTIVE) {
            logToFile("GAME", "Game has exited.");
            g_sessionActive.exchange(false);
            return;
        }
        Sleep(GAME_WATCH_MS);
    }
}

struct WorkerStart {
    void (*body)(SessionLink&);
    std::shared_ptr<SessionLink> link;
};

DWORD WINAPI workerMain(LPVOID param) {
    std::unique_ptr<WorkerStart> start(static_cast<WorkerStart*>(param));
    start->body(*start->link);
    start.reset();  // the session's link goes before the thread counts as ended
    g_liveWorkers.fetch_sub(1);
    return 0;
}

// body on a new thread that shares the session's link; null when the
// thread cannot be created.
HANDLE startWorker(void (*body)(SessionLink&), const std::shared_ptr<SessionLink>& link) {
    auto* start = new WorkerStart{body, link};
    g_liveWorkers.fetch_add(1);
    HANDLE thread = CreateThread(nullptr, 0, workerMain, start, 0, nullptr);
    if (thread == nullptr) {
        g_liveWorkers.fetch_sub(1);
        delete start;
    }
    return thread;
}

struct Worker {
    void (*body)(SessionLink&);
    DWORD waitMs;
    HANDLE handle;
};

// Reports, workers, game watch and teardown. The teardown is bounded: a
// worker that has not ended within its wait keeps the session's link (and
// with it the stopped client) to itself and ends at its next step without
// acting, whatever session runs by then.
void runWorkers(const std::shared_ptr<SessionLink>& link) {
    sendModules(link->client, g_baselineModules);
    sendModuleLog(link->client, g_baselineModules);
    Worker workers[] = {
        {heartbeatThread, 5000, nullptr},
        {moduleScanThread, 5000, nullptr},
        {memoryScanThread, 3000, nullptr},
        {serverListenThread, 2000, nullptr},
    };
    for (Worker& w : workers) w.handle = startWorker(w.body, link);
    logToFile("AC", "AntiCheat is running.");

    watchGame(link->gamePid);

    logToFile("AC", "Session ending...");
    setTrayStatus("Session ended");
    g_sessionActive.exchange(false);
    // Cuts every worker's pause short and ends the listener's receive.
    stopSession(*link);
    for (Worker& w : workers) {
        if (w.handle == nullptr) continue;
        WaitForSingleObject(w.handle, w.waitMs);
        CloseHandle(w.handle);
    }
    g_gamePID.store(0);
}

}  // namespace

int runSession(const std::string& hwid) {
    g_verified.exchange(false);
    g_sessionActive.exchange(true);
    g_sessionStartTick = GetTickCount();
    logToFile("WAIT", "Waiting for %s...", GAME_EXE_NAME);
    setTrayStatus("Waiting for game...");

    std::uint32_t pid = waitForGame();
    if (pid == 0) {
        g_gamePID.store(0);
        logToFile("ERROR", "Could not find game process.");
        return SESSION_STOPPED;
    }
    logToFile("GAME", "Found %s (PID: %lu)", GAME_EXE_NAME, static_cast<unsigned long>(pid));
    // Let the game finish loading before its modules and files are read.
    Sleep(GAME_SETTLE_MS);
    g_gamePID.store(pid);
    showTrayBalloon("Game detected! Connecting...", TrayBalloonLevel::Info);
    setTrayStatus("Connecting...");

    replaceBaselineModules(scanProcessModules(pid));
    logToFile("SCAN", "Baseline: %d modules loaded", static_cast<int>(g_baselineModules.size()));
    g_initialSelfCRC = selfIntegrityValue();
    HandshakeFacts facts;
    facts.hwid = hwid;
    facts.gameCrc = gameExecutableCRC(pid);
    logToFile("CRC", "Self CRC: 0x%08X, Game CRC: 0x%08X", g_initialSelfCRC, facts.gameCrc);
    facts.guid = getPlayerGUID(pid);
    if (!facts.guid.empty()) logToFile("GUID", "Player GUID: %s", facts.guid.c_str());

    auto link = std::make_shared<SessionLink>();
    link->gamePid = pid;
    if (!link->client.open(g_serverIP, g_serverPort, g_encryption)) {
        logToFile("ERROR", "Failed to create UDP socket.");
        showTrayBalloon("Network error!", TrayBalloonLevel::Error);
        return SESSION_NO_SOCKET;
    }
    switch (handshake(link->client, facts)) {
    case HANDSHAKE_NO_CHALLENGE:
        return SESSION_NO_CHALLENGE;
    case HANDSHAKE_REJECTED:
        return SESSION_REJECTED;
    case HANDSHAKE_STOPPED:
        return SESSION_STOPPED;
    case HANDSHAKE_VERIFIED:
    case HANDSHAKE_UNVERIFIED:
        break;
    }
    reportIdentity(link->client, facts);
    uploadPlayerConfig(link->client, g_baselineModules);
    runWorkers(link);
    return SESSION_ENDED;
}

}  // namespace marvik
