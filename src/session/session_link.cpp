#include "session/session_link.h"

#include <chrono>

#include "app/globals.h"

namespace marvik {

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
    return !link.changed.wait_until(lock, deadline, [&] { return link.stopped; });
}

bool workerMayGoOn(SessionLink& link) { return g_running.load() && !sessionStopped(link); }

}  // namespace marvik
