#include "report/log.h"

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "app/exe_path.h"
#include "report/log_backend.h"

namespace marvik {

std::FILE* g_logFile = nullptr;

namespace {

enum LogState : int { LOG_NOT_READY, LOG_READY, LOG_CLOSED };

std::atomic<int> g_logState{LOG_NOT_READY};
// Callers between their state test and their release of the lock. Shutdown
// waits for them, so the lock is never deleted under a writer.
std::atomic<int> g_logWriters{0};

constexpr int SHUTDOWN_DRAIN_MS = 2000;

}  // namespace

void writeLogLine(std::FILE* f, const LogClock& now, const char* tag, const char* format,
                  std::va_list args) {
    std::fprintf(f, "[%02d:%02d:%02d] [%s] ", now.hour, now.minute, now.second, tag);
    std::vfprintf(f, format, args);
    std::fputc('\n', f);
    std::fflush(f);
}

void logInit() {
    logLockCreate();
    g_logState.store(LOG_READY);
}

void logToFile(const char* tag, const char* format, ...) {
    // Late calls after shutdown leave here without touching the counter, so
    // shutdown's drain is not held up by them.
    if (g_logState.load() != LOG_READY) return;
    // Announce, then test again: paired with logShutdown's store-then-count,
    // either this call sees the log closed or shutdown sees this call.
    g_logWriters.fetch_add(1);
    if (g_logState.load() != LOG_READY) {
        g_logWriters.fetch_sub(1);
        return;
    }
    logLockEnter();
    if (g_logFile == nullptr) {
        std::string path = pathBesideExecutable("marvik_ac.log");
        if (!path.empty()) g_logFile = std::fopen(path.c_str(), "a");
    }
    if (g_logFile != nullptr) {
        LogClock now = logLocalTime();  // inside the lock: times never go backwards
        std::va_list args;
        va_start(args, format);
        writeLogLine(g_logFile, now, tag, format, args);
        va_end(args);
    }
    logLockLeave();
    g_logWriters.fetch_sub(1);
}

void logShutdown() {
    if (g_logState.exchange(LOG_CLOSED) != LOG_READY) return;
    for (int waited = 0; g_logWriters.load() != 0 && waited < SHUTDOWN_DRAIN_MS; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // A writer stuck for that long keeps its lock: leaking it at process end
    // is harmless, deleting it under the writer is not.
    if (g_logWriters.load() != 0) return;
    logLockEnter();
    if (g_logFile != nullptr) {
        std::fclose(g_logFile);
        g_logFile = nullptr;
    }
    logLockLeave();
    logLockDelete();
}

}  // namespace marvik
