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

MARVIK_PRINTF(2, 3) void writeLine(std::FILE* f, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    writeLogLine(f, LogClock{4, 5, 9}, "GAME", format, args);
    va_end(args);
}

TEST(LogLine, PrefixIsZeroPaddedTimeAndTag) {
    const std::string path = test::besideExe("line_test.txt");
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    writeLine(f, "Found %s (PID: %lu)", "iw3mp.exe", 1234UL);
    std::fclose(f);
    EXPECT_EQ(test::readFile(path), "[04:05:09] [GAME] Found iw3mp.exe (PID: 1234)\n");
    test::removePath(path);
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
