// What the player sees of the client: its log lines and its tray icon.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "report/log.h"
#include "report/tray.h"
#include "support/files.h"

#if !defined(_WIN32)
#include "report/tray_posix.h"
#endif

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

// A line not ended after 2 s (a stalled disk) neither holds up the exit nor loses its stream.
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

// The balloon flag does not outlive its call, or every later status would show the balloon again.
TEST(TrayOperations, BalloonFillsItsFieldsAndLeavesNoInfoFlag) {
    const unsigned flags = trayFields().flags;
    showTrayBalloon("Debugger detected!", TrayBalloonLevel::Warning);
    EXPECT_EQ(std::string(trayFields().info) + " " + trayFields().infoTitle, "Debugger detected! Marvik AC");
    EXPECT_EQ(trayFields().infoLevel, 2u);
    EXPECT_EQ(trayFields().flags, flags);
}

#if !defined(_WIN32)
// Each status's icon goes with it in the same shell call; an error balloon's stays until the next status.
TEST(TrayIcon, ShownWithTheStatusAndByAnError) {
    takeTrayShellCalls();
    for (const char* status : {"Starting...", "Waiting for game...", "Connecting...", "Verified - Active",
                               "Active (no verify)", TRAY_STATUS_REJECTED, "Session ended"})
        setTrayStatus(status);
    showTrayBalloon("Debugger detected!", TrayBalloonLevel::Warning);
    showTrayBalloon("Kicked by server!", TrayBalloonLevel::Error);
    setTrayStatus("Session ended");
    std::vector<TrayIconState> shown;
    for (const TrayShellCallRecord& call : takeTrayShellCalls()) shown.push_back(call.record.icon);
    constexpr TrayIconState W = TrayIconState::Waiting, A = TrayIconState::Active, P = TrayIconState::Problem;
    EXPECT_EQ(shown, (std::vector<TrayIconState>{W, W, W, A, A, P, W, W, P, W}));
    EXPECT_STREQ(trayFields().tip, "Marvik AC v3.2 - Session ended");
}
#endif

}  // namespace
}  // namespace marvik
