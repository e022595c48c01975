#include <windows.h>

#include "app/globals.h"
#include "report/log.h"
#include "report/tray.h"
#include "session/discovery.h"
#include "session/session.h"

namespace marvik {

namespace {

constexpr DWORD GAME_POLL_MS = 2000;
constexpr DWORD GAME_SETTLE_MS = 3000;

// Polls for the game until it runs or the program stops; 0 when stopped.
std::uint32_t waitForGame() {
    for (;;) {
        if (!g_running.load()) return 0;
        std::uint32_t pid = findGameProcess();
        if (pid != 0) return pid;
        Sleep(GAME_POLL_MS);
    }
}

}  // namespace

int runSession(const std::string& hwid) {
    (void)hwid;  // for the handshake
    g_verified.exchange(false);
    g_sessionActive.exchange(true);
    g_sessionStartTick = GetTickCount();
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
    return SESSION_ENDED;
}

}  // namespace marvik
