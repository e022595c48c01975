#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <future>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "report/log.h"
#include "support/files.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace marvik {
namespace {

std::string formatLine(LogClock now, const char* tag, const char* format, ...) {
    std::string path = test::besideExe("line_test.txt");
    std::FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (f == nullptr) return {};
    std::va_list args;
    va_start(args, format);
    writeLogLine(f, now, tag, format, args);
    va_end(args);
    std::fclose(f);
    std::string text = test::readFile(path);
    test::removePath(path);
    return text;
}

TEST(LogLine, PrefixIsZeroPaddedTimeAndTagAndTheMessageHasNoLengthLimit) {
    EXPECT_EQ(formatLine({0, 0, 5}, "AC", "Session ending..."), "[00:00:05] [AC] Session ending...\n");
    EXPECT_EQ(formatLine({14, 5, 9}, "HWID", "Hardware ID: %s", "MARVIK-1"),
              "[14:05:09] [HWID] Hardware ID: MARVIK-1\n");
    EXPECT_EQ(formatLine({23, 59, 59}, "GAME", "Found %s (PID: %lu)", "iw3mp.exe", 1234UL),
              "[23:59:59] [GAME] Found iw3mp.exe (PID: 1234)\n");
    EXPECT_EQ(formatLine({9, 0, 0}, "CRC", "Self CRC: 0x%08X", 0xABCu), "[09:00:00] [CRC] Self CRC: 0x00000ABC\n");
    const std::string big(100000, 'm');
    EXPECT_EQ(formatLine({1, 2, 3}, "INFO", "%s|", big.c_str()), "[01:02:03] [INFO] " + big + "|\n");
}

// The real log beside the executable. Each test starts without a file and
// with the stream closed, as at process start.
class LogFile : public testing::Test {
protected:
    void SetUp() override { path = test::freshLog(); }
    void TearDown() override { test::freshLog(); }
    std::string path;
};

const std::regex kLinePattern(R"(\[([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]\] \[[A-Z]+\] .*)");

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line);
    }
    return out;
}

// Created by the first line, and each line on disk when its call returns
// (the shutdown test below sees an existing file appended to).
TEST_F(LogFile, CreatedByTheFirstLineAndEachLineOnDiskAtOnce) {
    EXPECT_FALSE(test::fileExists(path));
    logToFile("AC", "AntiCheat is running.");
    std::vector<std::string> got = lines(test::readFile(path));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(std::regex_match(got[0], kLinePattern)) << got[0];
    EXPECT_EQ(got[0].substr(10), " [AC] AntiCheat is running.");
    logToFile("INFO", "Server: %s:%d, Player: %s", "1.2.3.4", 28960, "P");
    got = lines(test::readFile(path));
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1].substr(10), " [INFO] Server: 1.2.3.4:28960, Player: P");
}

TEST_F(LogFile, ConcurrentThreadsWriteWholeLines) {
    constexpr int kPerThread = 300;
    std::string payloadA(500, 'a');
    std::string payloadB(700, 'b');
    auto writer = [](const char* tag, const std::string& payload) {
        for (int i = 0; i < kPerThread; ++i) logToFile(tag, "%d %s", i, payload.c_str());
    };
    std::thread a(writer, "MEMSCAN", std::cref(payloadA));
    std::thread b(writer, "SCAN", std::cref(payloadB));
    a.join();
    b.join();
    std::vector<std::string> got = lines(test::readFile(path));
    ASSERT_EQ(got.size(), 2u * kPerThread);
    int nextA = 0;
    int nextB = 0;
    for (const std::string& line : got) {
        ASSERT_TRUE(std::regex_match(line, kLinePattern)) << line.substr(0, 60);
        if (line.find("[MEMSCAN] ") != std::string::npos) {
            EXPECT_EQ(line.substr(11), "[MEMSCAN] " + std::to_string(nextA++) + " " + payloadA);
        } else {
            EXPECT_EQ(line.substr(11), "[SCAN] " + std::to_string(nextB++) + " " + payloadB);
        }
    }
    EXPECT_EQ(nextA, kPerThread);
    EXPECT_EQ(nextB, kPerThread);
}

TEST_F(LogFile, UnopenableFileDropsLinesUntilTheObstacleGoes) {
    // A folder where the log should be: the open fails.
    std::filesystem::create_directory(path);
    logToFile("AC", "lost line");
    EXPECT_TRUE(std::filesystem::is_directory(path));
    std::filesystem::remove(path);
    logToFile("AC", "kept line");
    std::string text = test::readFile(path);
    EXPECT_EQ(text.find("lost line"), std::string::npos);
    EXPECT_NE(text.find("[AC] kept line"), std::string::npos);
}

// Shutdown while a writer holds the log lock for holdMs (forever when
// negative), as one stuck in a write would, and other threads call in
// behind it; returns how long logShutdown took.
std::chrono::milliseconds shutdownBehindAHeldLock(int holdMs) {
    std::promise<void> held;
    std::promise<void> release;
    std::thread writer([&] {
        std::lock_guard<std::timed_mutex> hold(g_logCS);
        held.set_value();
        if (holdMs >= 0)
            release.get_future().wait_for(std::chrono::milliseconds(holdMs));
        else
            release.get_future().wait();
    });
    held.get_future().wait();
    std::atomic<bool> go{true};
    std::vector<std::thread> callers;
    for (int t = 0; t < 3; ++t)
        callers.emplace_back([&] {
            while (go.load()) logToFile("HB", "queued");
        });
    const auto start = std::chrono::steady_clock::now();
    logShutdown();
    const auto took = std::chrono::steady_clock::now() - start;
    release.set_value();
    writer.join();
    go.store(false);
    for (std::thread& t : callers) t.join();
    return std::chrono::duration_cast<std::chrono::milliseconds>(took);
}

// Shutdown waits for the line being written and then closes the stream; a
// line that has not ended after 2 s keeps the stream. Either way the
// callers queued behind that line, and any after shutdown, lose theirs.
TEST_F(LogFile, ShutdownWaitsUpTo2sForTheLineBeingWritten) {
    logToFile("AC", "first");
    std::chrono::milliseconds took = shutdownBehindAHeldLock(300);
    EXPECT_GE(took.count(), 200);  // the hold, less the callers' start
    EXPECT_LT(took.count(), 2000);
    EXPECT_EQ(g_logFile, nullptr);

    logInit();
    logToFile("AC", "second");
    std::FILE* const stream = g_logFile;
    took = shutdownBehindAHeldLock(-1);
    EXPECT_GE(took.count(), 2000);
    EXPECT_LT(took.count(), 3000);
    EXPECT_EQ(g_logFile, stream);  // not closed under its writer
    std::vector<std::string> got = lines(test::readFile(path));
    ASSERT_EQ(got.size(), 2u) << test::readFile(path).substr(0, 200);
    EXPECT_EQ(got[0].substr(10), " [AC] first");
    EXPECT_EQ(got[1].substr(10), " [AC] second");
}

#if !defined(_WIN32)
// The log file is a pipe that nobody reads yet, so a long line stops
// halfway with its writer inside the lock, as on a disk that stalls.
// Shutdown gives up on it after 2 s without closing the stream, and the
// line, once the pipe is read, arrives whole.
TEST_F(LogFile, ShutdownWhileThreadsLogLosesNoStartedLine) {
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    const std::string message(1 << 20, 'm');  // far more than a pipe holds
    std::thread writer([&] { logToFile("MEMSCAN", "%s", message.c_str()); });
    const int fd = open(path.c_str(), O_RDONLY);  // meets the writer's open
    std::string got(1, '\0');
    EXPECT_EQ(read(fd, &got[0], 1), 1);  // the line has started

    std::promise<std::chrono::steady_clock::duration> took;
    std::thread stopper([&] {
        const auto start = std::chrono::steady_clock::now();
        logShutdown();
        took.set_value(std::chrono::steady_clock::now() - start);
    });
    std::future<std::chrono::steady_clock::duration> shutDown = took.get_future();
    // A shutdown that waits on the stream itself would wait for the reader.
    if (shutDown.wait_for(std::chrono::seconds(4)) == std::future_status::ready) {
        const std::chrono::steady_clock::duration waited = shutDown.get();
        EXPECT_GE(waited, std::chrono::milliseconds(2000));
        EXPECT_LT(waited, std::chrono::milliseconds(3000));
        EXPECT_NE(g_logFile, nullptr);  // not closed under its writer
    } else {
        ADD_FAILURE() << "shutdown waited for the stuck line past its 2 s";
    }
    char buffer[65536];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) {
        got.append(buffer, static_cast<std::size_t>(n));
        if (got.size() >= 10 + 11 + message.size() + 1) break;  // the stream stays open
    }
    writer.join();
    stopper.join();
    close(fd);
    ASSERT_GT(got.size(), 10u);
    EXPECT_TRUE(std::regex_match(got.substr(0, 10), std::regex(R"(\[\d\d:\d\d:\d\d\])")));
    EXPECT_TRUE(got.substr(10) == " [MEMSCAN] " + message + "\n") << got.size() << " bytes";
}
#endif

}  // namespace
}  // namespace marvik
