// What one session shares with its worker threads: the facts it learnt
// before connecting, the client they send through and the session's own
// stop signal. Each worker holds the record of the session that started it,
// so a worker that outlives its session keeps a valid (stopped) client and
// sees its own session's facts and stop, never those of the session after.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "checks/checks.h"
#include "config/config.h"
#include "net/udp_client.h"

namespace marvik {

// Heartbeat, module scan, memory scan, listener.
constexpr int SESSION_WORKERS = 4;

// What the session knows before it connects; fixed once the link exists.
struct SessionFacts {
    Config config;
    std::string hwid;
    std::string guid;             // empty when the game has none
    std::uint32_t gamePid = 0;
    std::uint32_t gameCrc = 0;    // 0 when the game's executable could not be read
    std::uint32_t selfCrc = 0;    // the client's own executable as the session began
    std::uint32_t startTick = 0;  // when the session began waiting for the game
};

struct SessionLink {
    explicit SessionLink(SessionFacts sessionFacts = {}) : facts(std::move(sessionFacts)) {}
    const SessionFacts facts;
    UDPClient client;
    std::mutex mutex;
    std::condition_variable changed;
    // The session's one stop signal (stopSession): the teardown, a kick,
    // the game found gone and the program's stop all end the session here.
    bool stopped = false;
    bool workerDone[SESSION_WORKERS] = {};
    // The tick at which the memory scan's running pass began (never 0);
    // 0 between passes. The heartbeat watches it for a pass that hangs.
    std::atomic<std::uint32_t> memoryPassSince{0};
    // Shared with the heartbeat's game checks, which may still be reading a
    // frozen game after the session has ended.
    const std::shared_ptr<ModuleBaseline> moduleBaseline = std::make_shared<ModuleBaseline>();
};

// A tick that marks a start: never 0, which stands for "not started".
std::uint32_t passStartTick();

// Ends the session for its workers: every pause returns at once, now and
// later, and the client fails every send and receive from here on (a
// receive waiting on another thread returns at once).
void stopSession(SessionLink& link);

bool sessionStopped(SessionLink& link);

// Sleeps ms milliseconds against a deadline; false, early, once the session
// is stopped or the program is stopping.
bool sessionSleep(SessionLink& link, std::uint32_t ms);

// Sleeps ms milliseconds; false, early, once the program is stopping. For
// the pauses outside a session's workers (the wait for the game, between
// sessions), so that a stop never waits out a pause.
bool programSleep(std::uint32_t ms);

// The session runSession is running now (null when none), so that a stop of
// the program reaches its pauses at once.
void setRunningSession(const std::shared_ptr<SessionLink>& link);

// The program is stopping: clears g_running and stops the running session,
// whose pauses and receive end at once.
void requestProgramStop();

// Runs body on a detached thread that counts as a live worker until body
// has returned (body drops what it holds before that); false when no
// thread could be started.
bool startCountedThread(std::function<void()> body);

// A worker's last word: its slot has ended.
void workerEnded(SessionLink& link, int slot);
// Waits at most ms for the worker of slot to end; false when it has not.
bool waitForWorker(SessionLink& link, int slot, std::uint32_t ms);

// The test before each step of a session: the program runs and the
// session does.
bool sessionGoesOn(SessionLink& link);

// Waits, polling every pollMs, until the verdict step is over; false when
// the session stops first.
bool waitUntilVerified(SessionLink& link, std::uint32_t pollMs);

// Whether the session's game still runs. When it does not, logs (tag GAME)
// goneLine if the process cannot be opened, else "Game has exited.", and
// stops the session.
bool gameStillRuns(SessionLink& link, const char* goneLine);

}  // namespace marvik
