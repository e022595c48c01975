#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "report/log.h"
#include "support/files.h"

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

TEST(LogLine, PrefixIsZeroPaddedTimeAndTag) {
    EXPECT_EQ(formatLine({0, 0, 5}, "AC", "Session ending..."), "[00:00:05] [AC] Session ending...\n");
    EXPECT_EQ(formatLine({14, 5, 9}, "HWID", "Hardware ID: %s", "MARVIK-1"),
              "[14:05:09] [HWID] Hardware ID: MARVIK-1\n");
    EXPECT_EQ(formatLine({23, 59, 59}, "GAME", "Found %s (PID: %lu)", "iw3mp.exe", 1234UL),
              "[23:59:59] [GAME] Found iw3mp.exe (PID: 1234)\n");
    EXPECT_EQ(formatLine({9, 0, 0}, "CRC", "Self CRC: 0x%08X", 0xABCu), "[09:00:00] [CRC] Self CRC: 0x00000ABC\n");
}

TEST(LogLine, MessageHasNoLengthLimit) {
    std::string big(100000, 'm');
    std::string line = formatLine({1, 2, 3}, "INFO", "%s|", big.c_str());
    EXPECT_EQ(line, "[01:02:03] [INFO] " + big + "|\n");
}

// The real log beside the executable. Each test starts without a file and
// with the stream closed, as at process start.
class LogFile : public testing::Test {
protected:
    void SetUp() override { reopen(); }
    void TearDown() override {
        reopen();
        test::removePath(path);
    }
    void reopen() {
        logShutdown();
        test::removePath(path);
        logInit();
    }
    std::string path = test::besideExe("marvik_ac.log");
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

TEST_F(LogFile, CreatedOnlyWhenALineIsWritten) {
    EXPECT_FALSE(test::fileExists(path));
    logToFile("AC", "AntiCheat is running.");
    ASSERT_TRUE(test::fileExists(path));
    std::vector<std::string> got = lines(test::readFile(path));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(std::regex_match(got[0], kLinePattern)) << got[0];
    EXPECT_EQ(got[0].substr(10), " [AC] AntiCheat is running.");
}

TEST_F(LogFile, AppendsToExistingFile) {
    test::writeFile(path, "earlier line\n");
    logToFile("INFO", "Server: %s:%d, Player: %s", "1.2.3.4", 28960, "P");
    std::string text = test::readFile(path);
    EXPECT_EQ(text.rfind("earlier line\n", 0), 0u) << text;
    EXPECT_NE(text.find("[INFO] Server: 1.2.3.4:28960, Player: P"), std::string::npos);
}

TEST_F(LogFile, EachLineIsOnDiskWhenTheCallReturns) {
    logToFile("WAIT", "Waiting for %s...", "iw3mp.exe");
    EXPECT_NE(test::readFile(path).find("[WAIT] Waiting for iw3mp.exe..."), std::string::npos);
    logToFile("GAME", "Game has exited.");
    EXPECT_NE(test::readFile(path).find("[GAME] Game has exited."), std::string::npos);
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

TEST_F(LogFile, LinesAfterShutdownAreDropped) {
    logToFile("AC", "before");
    logShutdown();
    EXPECT_EQ(g_logFile, nullptr);
    logToFile("AC", "after");  // must neither crash nor write
    std::string text = test::readFile(path);
    EXPECT_NE(text.find("before"), std::string::npos);
    EXPECT_EQ(text.find("after"), std::string::npos);
    logInit();
}

TEST_F(LogFile, ShutdownWhileThreadsLogLosesNoStartedLine) {
    std::atomic<bool> go{true};
    std::atomic<int> calls{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            while (go.load()) {
                logToFile("HB", "tick");
                calls.fetch_add(1);
            }
        });
    }
    while (calls.load() < 200) std::this_thread::yield();
    logShutdown();  // the writers keep calling into a closed log
    EXPECT_EQ(g_logFile, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    go.store(false);
    for (std::thread& t : threads) t.join();
    std::vector<std::string> got = lines(test::readFile(path));
    ASSERT_FALSE(got.empty());
    for (const std::string& line : got) EXPECT_TRUE(std::regex_match(line, kLinePattern)) << line;
    logInit();
}

}  // namespace
}  // namespace marvik
