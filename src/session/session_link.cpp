#include "session/session_link.h"

#include <chrono>
#include <system_error>
#include <thread>
#include <utility>

#include "base/clock.h"
#include "base/process_flags.h"
#include "inventory/game_process.h"
#include "report/log.h"

namespace marvik {

namespace {
std::mutex g_runningMutex;
std::shared_ptr<SessionLink> g_runningSession;
std::condition_variable g_stopRequested;  // with g_runningMutex
}  // namespace

void stopSession(SessionLink& link) {
    {
        std::lock_guard<std::mutex> lock(link.mutex);
        link.stopped = true;
    }
    link.changed.notify_all();
    link.client.stop();
}

bool sessionStopped(SessionLink& link) {
    std::lock_guard<std::mutex> lock(link.mutex);
    return link.stopped;
}

bool sessionSleep(SessionLink& link, std::uint32_t ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::unique_lock<std::mutex> lock(link.mutex);
    return !link.changed.wait_until(lock, deadline, [&] { return link.stopped || !g_running.load(); });
}

bool programSleep(std::uint32_t ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::unique_lock<std::mutex> lock(g_runningMutex);
    return !g_stopRequested.wait_until(lock, deadline, [] { return !g_running.load(); });
}

void setRunningSession(const std::shared_ptr<SessionLink>& link) {
    std::lock_guard<std::mutex> lock(g_runningMutex);
    g_runningSession = link;
}

void requestProgramStop() {
    // g_running first: a session that registers after this sees it in its
    // first pause.
    g_running.exchange(false);
    std::lock_guard<std::mutex> lock(g_runningMutex);
    g_stopRequested.notify_all();
    if (g_runningSession != nullptr) stopSession(*g_runningSession);
}

bool startCountedThread(std::function<void()> body) {
    g_liveWorkers.fetch_add(1);
    try {
        std::thread([body = std::move(body)]() mutable {
            body();
            body = nullptr;  // what it holds goes before the thread counts as ended
            g_liveWorkers.fetch_sub(1);
        }).detach();
        return true;
    } catch (const std::system_error&) {
        g_liveWorkers.fetch_sub(1);
        return false;
    }
}

void workerEnded(SessionLink& link, int slot) {
    {
        std::lock_guard<std::mutex> lock(link.mutex);
        link.workerDone[slot] = true;
    }
    link.changed.notify_all();
}

bool waitForWorker(SessionLink& link, int slot, std::uint32_t ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::unique_lock<std::mutex> lock(link.mutex);
    return link.changed.wait_until(lock, deadline, [&] { return link.workerDone[slot]; });
}

std::uint32_t passStartTick() {
    const std::uint32_t now = tickCount();
    return now != 0 ? now : 1;
}

bool sessionGoesOn(SessionLink& link) { return g_running.load() && !sessionStopped(link); }

bool waitUntilVerified(SessionLink& link, std::uint32_t pollMs) {
    while (!g_verified.load()) {
        if (!sessionSleep(link, pollMs)) return false;
    }
    return true;
}

bool gameStillRuns(SessionLink& link, const char* goneLine) {
    switch (gameStatus(link.facts.gamePid)) {
    case GameStatus::RUNNING:
        return true;
    case GameStatus::GONE:
        logToFile("GAME", "%s", goneLine);
        break;
    case GameStatus::EXITED:
        logToFile("GAME", "Game has exited.");
        break;
    }
    stopSession(link);
    return false;
}

}  // namespace marvik
