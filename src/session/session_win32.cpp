#include <windows.h>

#include <ctime>
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
#include "net/packets.h"
#include "net/udp_client.h"
#include "report/log.h"
#include "report/tray.h"
#include "session/challenge.h"
#include "session/discovery.h"
#include "session/player_config.h"
#include "session/session.h"
#include "session/session_stop.h"

namespace marvik {

namespace {

constexpr DWORD GAME_POLL_MS = 2000;
constexpr DWORD GAME_SETTLE_MS = 3000;
constexpr DWORD GAME_WATCH_MS = 3000;
constexpr DWORD HELLO_RETRY_PAUSE_MS = 5000;
constexpr std::int32_t HANDSHAKE_BUFFER_SIZE = 1024;
// A worker that outlived its bounded wait gets this long to notice the stop
// signal before the session gives up on it (and leaves it the client).
constexpr DWORD WORKER_FINAL_WAIT_MS = 60000;

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

// Pauses that end early when the program is told to stop.
bool pauseUnlessStopping(DWORD ms) {
    for (DWORD waited = 0; waited < ms; waited += 100) {
        if (!g_running.load()) return false;
        Sleep(100);
    }
    return g_running.load();
}

bool receiveChallenge(UDPClient& client, std::uint8_t (&buffer)[HANDSHAKE_BUFFER_SIZE],
                      std::uint8_t (&challenge)[AC_CHALLENGE_SIZE]) {
    ACPacketHeader header;
    std::int32_t length = client.receivePacket(header, buffer, HANDSHAKE_BUFFER_SIZE);
    if (length < 0 || header.type != PKT_CHALLENGE) return false;
    return challengeFromPayload(buffer, length, HANDSHAKE_BUFFER_SIZE, challenge);
}

void sendHello(UDPClient& client, const std::string& hwid, const std::string& guid) {
    HelloPayload hello{};
    copyText(hello.playerName, g_playerName);
    hello.serverPort = g_serverPort;
    hello.clientVersion = AC_CLIENT_VERSION;
    copyText(hello.hwid, hwid);
    copyText(hello.guid, guid);
    client.sendPacket(PKT_HELLO, &hello, sizeof hello);
}

void sendIdentity(UDPClient& client, const std::string& hwid, const std::string& guid) {
    IdentityPayload identity{};
    copyText(identity.hwid, hwid);
    copyText(identity.guid, guid);
    identity.timestamp = static_cast<std::uint32_t>(std::time(nullptr));
    client.sendPacket(PKT_IDENTITY, &identity, sizeof identity);
}

// Game found to verdict. SESSION_ENDED to go on to the reports, otherwise
// the result to return.
int handshake(UDPClient& client, const std::string& hwid, const std::string& guid, std::uint32_t gameCrc) {
    if (g_encryption) logToFile("CRYPTO", "RC4 encryption enabled");
    logToFile("NET", "Connecting to server AC...");
    sendHello(client, hwid, guid);

    std::uint8_t buffer[HANDSHAKE_BUFFER_SIZE] = {};
    std::uint8_t challenge[AC_CHALLENGE_SIZE] = {};
    if (!receiveChallenge(client, buffer, challenge)) {
        logToFile("WARN", "No challenge, retrying...");
        if (!pauseUnlessStopping(HELLO_RETRY_PAUSE_MS)) return SESSION_NO_GAME;
        sendHello(client, hwid, guid);
        if (!receiveChallenge(client, buffer, challenge)) {
            logToFile("ERROR", "Server not responding.");
            showTrayBalloon("Server not responding. Is marvik-ac.so loaded?", TrayBalloonLevel::Warning);
            return SESSION_NO_CHALLENGE;
        }
    }

    logToFile("NET", "Challenge received, computing response...");
    ChallengeResponsePayload response{};
    computeChallengeAnswer(challenge, response.answer);
    response.selfCrc = g_initialSelfCRC;
    response.gameCrc = gameCrc;
    response.integrityFlags = integrityFlagsByte(checkIntegrity());
    client.sendPacket(PKT_CHALLENGE_RESPONSE, &response, sizeof response);

    ACPacketHeader header;
    std::int32_t length = client.receivePacket(header, buffer, HANDSHAKE_BUFFER_SIZE);
    if (length >= 0 && header.type == PKT_VERIFY_OK) {
        g_verified.exchange(true);
        logToFile("AC", "Successfully verified with server!");
        showTrayBalloon("AntiCheat verified! Play fair.", TrayBalloonLevel::Info);
        setTrayStatus("Verified - Active");
    } else if (length >= 0 && header.type == PKT_KICK) {
        logToFile("AC", "Server rejected connection.");
        showTrayBalloon("Connection rejected by server!", TrayBalloonLevel::Error);
        return SESSION_REJECTED;
    } else {
        logToFile("WARN", "No verification response. Continuing...");
        g_verified.exchange(true);
        setTrayStatus("Active (no verify)");
    }
    if (!guid.empty()) sendIdentity(client, hwid, guid);
    return SESSION_ENDED;
}

// Game watch: returns when the session is over, whoever ended it.
void watchGame() {
    for (;;) {
        if (!g_running.load()) return;
        if (!g_sessionActive.load()) return;
        HANDLE game = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, g_gamePID.load());
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

struct Worker {
    LPTHREAD_START_ROUTINE entry;
    DWORD waitMs;
    HANDLE handle;
};

// Reports, workers, game watch and teardown. The client stays valid until
// every worker has ended; one that never ends keeps it for good.
void runWorkers(std::unique_ptr<UDPClient>& client) {
    sendModules(*client, g_baselineModules);
    sendModuleLog(*client, g_baselineModules);
    g_clientPtr.store(client.get());
    Worker workers[] = {
        {heartbeatThread, 5000, nullptr},
        {moduleScanThread, 5000, nullptr},
        {memoryScanThread, 3000, nullptr},
        {serverListenThread, 2000, nullptr},
    };
    for (Worker& w : workers) w.handle = CreateThread(nullptr, 0, w.entry, nullptr, 0, nullptr);
    logToFile("AC", "AntiCheat is running.");

    watchGame();

    logToFile("AC", "Session ending...");
    setTrayStatus("Session ended");
    g_sessionActive.exchange(false);
    sessionStopSignal();
    for (Worker& w : workers)
        if (w.handle != nullptr) WaitForSingleObject(w.handle, w.waitMs);
    // A listener blocked in its receive returns at once on a stopped client.
    client->stop();
    bool allEnded = true;
    for (Worker& w : workers) {
        if (w.handle == nullptr) continue;
        if (WaitForSingleObject(w.handle, WORKER_FINAL_WAIT_MS) != WAIT_OBJECT_0) allEnded = false;
        CloseHandle(w.handle);
    }
    g_clientPtr.store(nullptr);
    g_gamePID.store(0);
    if (!allEnded) client.release();  // still in use by a stuck worker
}

}  // namespace

int runSession(const std::string& hwid) {
    g_verified.exchange(false);
    g_sessionActive.exchange(true);
    g_sessionStartTick = GetTickCount();
    sessionStopReset();
    logToFile("WAIT", "Waiting for %s...", GAME_EXE_NAME);
    setTrayStatus("Waiting for game...");

    std::uint32_t pid = waitForGame();
    if (pid == 0) {
        g_gamePID.store(0);
        logToFile("ERROR", "Could not find game process.");
        return SESSION_NO_GAME;
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
    const std::uint32_t gameCrc = gameExecutableCRC(pid);
    logToFile("CRC", "Self CRC: 0x%08X, Game CRC: 0x%08X", g_initialSelfCRC, gameCrc);
    const std::string guid = getPlayerGUID(pid);
    if (!guid.empty()) logToFile("GUID", "Player GUID: %s", guid.c_str());

    auto client = std::make_unique<UDPClient>();
    if (!client->open(g_serverIP, g_serverPort, g_encryption)) {
        logToFile("ERROR", "Failed to create UDP socket.");
        showTrayBalloon("Network error!", TrayBalloonLevel::Error);
        return SESSION_NO_GAME;
    }
    int result = handshake(*client, hwid, guid, gameCrc);
    if (result != SESSION_ENDED) return result;

    uploadPlayerConfig(*client, g_baselineModules);
    runWorkers(client);
    return SESSION_ENDED;
}

}  // namespace marvik
