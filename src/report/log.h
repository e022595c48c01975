// The log file marvik_ac.log beside the executable: one line per event,
// "[hh:mm:ss] [TAG] message", written whole under one lock by any thread.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <mutex>

#if defined(__MINGW_PRINTF_FORMAT)
#define MARVIK_PRINTF(fmt, first) __attribute__((format(__MINGW_PRINTF_FORMAT, fmt, first)))
#elif defined(__GNUC__)
#define MARVIK_PRINTF(fmt, first) __attribute__((format(printf, fmt, first)))
#else
#define MARVIK_PRINTF(fmt, first)
#endif

namespace marvik {

// The log lock, held across the file's open, the line's writes and the
// flush. It is created before main and never destroyed, so a thread that
// still logs while the process ends never meets a destroyed lock.
extern std::timed_mutex& g_logCS;

// The open log stream, null until the first line and again after shutdown.
// Read and written only under g_logCS.
extern std::FILE* g_logFile;

// Starts taking lines; before it, and after logShutdown, lines are dropped.
void logInit();

// Stops taking lines, waits up to 2 s for the line being written, then
// closes the stream. A line still unfinished then keeps the stream open
// (the process end closes it) rather than have it closed under its writer.
void logShutdown();

// Appends one line; never fails towards the caller. A line that cannot be
// written (file not openable) is lost and the next call tries again.
void logToFile(const char* tag, const char* format, ...) MARVIK_PRINTF(2, 3);

struct LogClock {
    int hour;
    int minute;
    int second;
};

// Writes prefix, message and newline to f and flushes it. No buffer of its
// own, so a message of any length is written whole.
void writeLogLine(std::FILE* f, const LogClock& now, const char* tag, const char* format,
                  std::va_list args) MARVIK_PRINTF(4, 0);

}  // namespace marvik
