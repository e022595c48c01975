#include <ctime>
#include <mutex>
#include <new>

#include "report/log_backend.h"

namespace marvik {

namespace {
// Built and destroyed explicitly, like the critical section it stands for.
alignas(std::mutex) unsigned char g_logLockStorage[sizeof(std::mutex)];
std::mutex* g_logLock = nullptr;
}  // namespace

void logLockCreate() { g_logLock = new (g_logLockStorage) std::mutex; }
void logLockDelete() {
    g_logLock->~mutex();
    g_logLock = nullptr;
}
void logLockEnter() { g_logLock->lock(); }
void logLockLeave() { g_logLock->unlock(); }

LogClock logLocalTime() {
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    return LogClock{local.tm_hour, local.tm_min, local.tm_sec};
}

}  // namespace marvik
