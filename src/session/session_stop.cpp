#include "session/session_stop.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace marvik {

namespace {
std::mutex g_stopMutex;
std::condition_variable g_stopChanged;
bool g_stopped = false;
}  // namespace

void sessionStopReset() {
    std::lock_guard<std::mutex> lock(g_stopMutex);
    g_stopped = false;
}

void sessionStopSignal() {
    {
        std::lock_guard<std::mutex> lock(g_stopMutex);
        g_stopped = true;
    }
    g_stopChanged.notify_all();
}

bool sessionStopped() {
    std::lock_guard<std::mutex> lock(g_stopMutex);
    return g_stopped;
}

bool sessionSleep(std::uint32_t ms) {
    std::unique_lock<std::mutex> lock(g_stopMutex);
    return !g_stopChanged.wait_for(lock, std::chrono::milliseconds(ms), [] { return g_stopped; });
}

}  // namespace marvik
