// The log file marvik_ac.log beside the executable: one line per event,
// "[hh:mm:ss] [TAG] message", written whole under one lock by any thread.
#pragma once

#include <cstdarg>
#include <cstdio>

#if defined(__MINGW_PRINTF_FORMAT)
#define MARVIK_PRINTF(fmt, first) __attribute__((format(__MINGW_PRINTF_FORMAT, fmt, first)))
#elif defined(__GNUC__)
#define MARVIK_PRINTF(fmt, first) __attribute__((format(printf, fmt, first)))
#else
#define MARVIK_PRINTF(fmt, first)
#endif

namespace marvik {

// The open log stream, null until the first line and again after shutdown.
extern std::FILE* g_logFile;

// Creates the log lock. Call once, before any other thread exists.
void logInit();

// Closes the stream and deletes the lock. Lines logged afterwards are
// dropped; a line being written when this is called is finished first.
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
                  std::va_list args);

}  // namespace marvik
