#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "report/log.h"
#include "support/files.h"

namespace marvik {
namespace {

using Lines = std::vector<std::string>;

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

// The real log beside the executable, closed and without a file at the
// start of each test, as at process start. (Each line on disk as its call
// returns, in this format: the system tests read the log of a running
// program.)
class LogFile : public testing::Test {
protected:
    void TearDown() override { test::freshLog(); }
    std::string path = test::freshLog();
};

// Shutdown while a writer holds the log lock for holdMs (forever when
// negative), as one stuck in a write would, with other threads calling in
// behind it for 100 ms first (a line of theirs shows the lock not taken);
// returns how long logShutdown took.
long long shutdownBehindAHeldLock(int holdMs) {
    std::promise<void> held, release;
    std::thread writer([&] {
        std::lock_guard<std::timed_mutex> hold(g_logCS);
        held.set_value();
        if (holdMs < 0) release.get_future().wait();
        else release.get_future().wait_for(std::chrono::milliseconds(holdMs));
    });
    held.get_future().wait();
    std::atomic<bool> go{true};
    std::vector<std::thread> callers;
    for (int t = 0; t < 3; ++t)
        callers.emplace_back([&] {
            while (go.load()) logToFile("HB", "queued");
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto start = std::chrono::steady_clock::now();
    logShutdown();
    const auto took = std::chrono::steady_clock::now() - start;
    release.set_value();
    writer.join();
    go.store(false);
    for (std::thread& t : callers) t.join();
    return std::chrono::duration_cast<std::chrono::milliseconds>(took).count();
}

// Shutdown waits for the line being written, then closes the stream; a line
// not ended after 2 s (a stalled disk) keeps the stream, not closed under
// its writer. Either way the callers queued behind
// that line, and any after shutdown, lose theirs.
TEST_F(LogFile, ShutdownWaitsUpTo2sForTheLineBeingWritten) {
    logToFile("AC", "first");
    long long took = shutdownBehindAHeldLock(400);
    EXPECT_GE(took, 200);  // the hold, less the callers' 100 ms
    EXPECT_LT(took, 2000);
    EXPECT_EQ(g_logFile, nullptr);

    logInit();
    logToFile("AC", "second");
    std::FILE* const stream = g_logFile;
    took = shutdownBehindAHeldLock(-1);
    EXPECT_GE(took, 2000);
    EXPECT_LT(took, 3000);
    EXPECT_EQ(g_logFile, stream);  // not closed under its writer
    EXPECT_EQ(test::logMessages(path), (Lines{"[AC] first", "[AC] second"}));
}

}  // namespace
}  // namespace marvik
