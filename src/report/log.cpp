#include "report/log.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <string>

#include "base/exe_path.h"
#include "base/utf8.h"

namespace marvik {

// Allocated once and never deleted: a static lock would be destroyed at
// process end (the MinGW runtime's mutex has a destructor) while a thread
// that outlived shutdown may still call in.
std::timed_mutex& g_logCS = *new std::timed_mutex;
std::FILE* g_logFile = nullptr;

namespace {

// Whether lines are taken. Tested before the lock, so that calls after
// shutdown never queue behind a line that shutdown gave up on, and again
// under it, so that a call that waited for the lock across shutdown drops
// its line instead of opening the file again.
std::atomic<bool> g_logTaking{false};

constexpr std::chrono::seconds SHUTDOWN_WAIT{2};

LogClock localClock() {
    std::time_t now = std::time(nullptr);
    // localtime's result is shared; the log lock, held by every caller,
    // keeps it from being overwritten while it is read.
    const std::tm* local = std::localtime(&now);
    if (local == nullptr) return LogClock{0, 0, 0};
    return LogClock{local->tm_hour, local->tm_min, local->tm_sec};
}

}  // namespace

void writeLogLine(std::FILE* f, const LogClock& now, const char* tag, const char* format,
                  std::va_list args) {
    std::fprintf(f, "[%02d:%02d:%02d] [%s] ", now.hour, now.minute, now.second, tag);
    std::vfprintf(f, format, args);
    std::fputc('\n', f);
    std::fflush(f);
}

void logInit() { g_logTaking.store(true); }

void logToFile(const char* tag, const char* format, ...) {
    if (!g_logTaking.load()) return;
    std::lock_guard<std::timed_mutex> hold(g_logCS);
    if (!g_logTaking.load()) return;
    if (g_logFile == nullptr) {
        std::string path = pathBesideExecutable("marvik_ac.log");
        if (path.empty()) return;
        g_logFile = openFile(path, "a");  // text mode: CR LF on Windows
        if (g_logFile == nullptr) return;
    }
    LogClock now = localClock();  // inside the lock: times never go backwards
    std::va_list args;
    va_start(args, format);
    writeLogLine(g_logFile, now, tag, format, args);
    va_end(args);
}

void logShutdown() {
    g_logTaking.store(false);
    // A steady deadline: sleeping in steps would stretch with the system
    // timer's resolution.
    if (!g_logCS.try_lock_until(std::chrono::steady_clock::now() + SHUTDOWN_WAIT)) return;
    if (g_logFile != nullptr) {
        std::fclose(g_logFile);
        g_logFile = nullptr;
    }
    g_logCS.unlock();
}

}  // namespace marvik
