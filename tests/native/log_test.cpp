#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "report/log.h"
#include "support/files.h"

namespace marvik {
namespace {

MARVIK_PRINTF(3, 4) std::string formatLine(LogClock now, const char* tag, const char* format, ...) {
    const std::string path = test::besideExe("line_test.txt");
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return "no file";
    std::va_list args;
    va_start(args, format);
    writeLogLine(f, now, tag, format, args);
    va_end(args);
    std::fclose(f);
    const std::string text = test::readFile(path);
    test::removePath(path);
    return text;
}

TEST(LogLine, PrefixIsZeroPaddedTimeAndTag) {
    EXPECT_EQ(formatLine({4, 5, 9}, "GAME", "Found %s (PID: %lu)", "iw3mp.exe", 1234UL),
              "[04:05:09] [GAME] Found iw3mp.exe (PID: 1234)\n");
}

// A line not ended after 2 s (a stalled disk) does not hold up the exit,
// and its stream is not closed under its writer.
TEST(LogFile, ShutdownWaitsUpTo2sForTheLineBeingWritten) {
    const std::string path = test::freshLog();
    logToFile("AC", "first");
    std::FILE* const stream = g_logFile;
    std::promise<void> held, release;
    std::thread writer([&] {
        std::lock_guard<std::timed_mutex> hold(g_logCS);
        held.set_value();
        release.get_future().wait();
    });
    held.get_future().wait();
    const auto start = std::chrono::steady_clock::now();
    logShutdown();
    const auto took = std::chrono::steady_clock::now() - start;
    release.set_value();
    writer.join();
    EXPECT_GE(took, std::chrono::milliseconds(1900));
    EXPECT_LT(took, std::chrono::milliseconds(3000));
    EXPECT_EQ(g_logFile, stream);
    EXPECT_EQ(test::logMessages(path), std::vector<std::string>{"[AC] first"});
    test::freshLog();
}

}  // namespace
}  // namespace marvik
